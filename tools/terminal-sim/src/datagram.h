#pragma once

// The terminal side of the configuration datagram, written for the simulator on
// its own so that it checks the manager's encoder and parser rather than sharing them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sim {

using KeyValues = std::vector<std::pair<std::string, std::string>>;

struct Datagram {
    static constexpr size_t headerBytes = 76;

    uint8_t code = 0;
    uint8_t fixed3 = 1;
    uint16_t fixed4 = 1;
    std::string targetHwAddr; // at most 19 bytes on the wire
    std::string targetDevId;  // at most 15 bytes on the wire
    KeyValues pairs;          // in payload order

    // All values of a key, in payload order.
    std::vector<std::string> values(const std::string& key) const;
};

// Splits "k=v;k=v" into pairs: blanks (space, tab) around keys and values are
// dropped, "=" inside a value is kept, empty segments are skipped and a last
// segment without "=" or value yields nothing.
KeyValues parsePairs(const char* data, size_t size);

// Bytes of a datagram; pairs are written in the order given.
std::string encode(const Datagram& d);
// Reads a datagram; on failure returns false and says why.
bool decode(const char* data, size_t size, Datagram* out, std::string* error);

} // namespace sim
