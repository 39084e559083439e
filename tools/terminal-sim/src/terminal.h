#pragma once

#include "datagram.h"

#include <string>
#include <vector>

namespace sim {

// One simulated terminal: the address it binds and the keys it reports, in the
// order it reports them. Services read and change this state.
struct Terminal {
    std::string bind;
    KeyValues keys;

    const std::string* get(const std::string& key) const;
    void set(const std::string& key, const std::string& value);
    void unset(const std::string& key);
};

using Fleet = std::vector<Terminal>;

// Keys a generated terminal reports unless told otherwise (templates, see expand).
const KeyValues& defaultTemplate();

// Fills a template for terminal `index` (0-based) at address `ip`:
// "{n}" the 1-based number, "{n:W}" zero-padded to W digits, "{ip}" the address,
// "{net}" its first three octets, "{a|b|c}" one alternative picked by index.
std::string expand(const std::string& text, int index, const std::string& ip);

// The IPv4 address `steps` addresses after `first`, skipping .0 and .255.
bool nextAddress(const std::string& first, int steps, std::string* out);

// N terminals on consecutive addresses from `first`: the default template with
// `overrides` applied (an empty value removes the key only when `remove` lists it).
bool generate(int count, const std::string& first, const KeyValues& overrides,
              const std::vector<std::string>& remove, Fleet* fleet, std::string* error);

// Reads a fleet file (format in README.md) and appends its terminals.
bool loadFleet(const std::string& text, Fleet* fleet, std::string* error);

} // namespace sim
