#pragma once

#include "datagram.h"
#include "datagram_service.h"
#include "terminal.h"

#include <cstdint>
#include <functional>
#include <map>

namespace sim {

// The configuration requests of the datagram service. A terminal applies only the
// requests addressed to it (its HW_ADDR and DEV_ID in the header), keeps the new
// values for later scans and answers with the reply code, its DEV_ID, the keys it
// now holds and a "message". After answering a reboot it stays silent, scans
// included, for a while. A file-system check answers its FILESYSTEM_MESSAGE ("ok"
// when it has none).
class ConfigRequests {
public:
    // Milliseconds of a monotonic clock; tests drive their own.
    using Clock = std::function<int64_t()>;

    explicit ConfigRequests(int rebootSilenceMs = 5000);
    void setClock(Clock clock) { clock_ = std::move(clock); }

    // Registers every configuration code with the service and keeps rebooting
    // terminals out of scans.
    void install(DatagramService& service);

    // One request for one terminal; false when it stays silent.
    bool answer(Terminal& t, const Datagram& request, Datagram* reply);
    bool silent(const Terminal& t) const;

private:
    int silenceMs_;
    Clock clock_;
    std::map<const Terminal*, int64_t> silentUntil_;
};

} // namespace sim
