// Terminal records shared by every context of the process.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace pelzo {

// What the SDK knows about one terminal. Records are created on first
// reference and live until the process ends, so contexts may keep plain
// pointers to them.
struct PelzoDev {
    uint32_t ip = 0; // host byte order
    std::string password;
    std::string deviceId;
    bool loggedIn = false;
    bool responding = false;
    int sampleRate = 48000;
    std::string lastMessage;
    int64_t lastSeen = 0;
    int64_t lastNotice = 0;
    int outputVolume = -1;
    int inputVolume = -1;
};

// The process-wide address -> record map. Loop-thread only, not locked.
class PelzoDevRegistry {
public:
    static PelzoDevRegistry& instance();

    PelzoDev* find(uint32_t ip);
    // Returns the record of ip, creating it with lastSeen = now.
    PelzoDev& obtain(uint32_t ip, int64_t now);

private:
    PelzoDevRegistry() = default;
    std::map<uint32_t, PelzoDev> records_;
};

} // namespace pelzo
