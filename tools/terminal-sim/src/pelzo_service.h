#pragma once

#include "service.h"

#include "pelzo_terminal.h"

#include <memory>
#include <string>
#include <vector>

namespace sim {

// The Pelzo service on UDP 21012: one simulated Pelzo terminal per fleet
// terminal, on its own address, with the fleet's DEV_ID as its device id.
// Its periodic sends (heartbeats, challenges, captured audio) run from one
// timer descriptor armed for the earliest one due.
//
// What the terminals hear goes to stdout, one line per event:
//   pelzo <address> logged in from <ip>:<port>
//   pelzo <address> refused a login from <ip>:<port>
//   pelzo <address> hearing audio from <ip>:<port>
//   pelzo <address> heard <P> packets, <F> frames (<S> s of audio)
// the last once no audio has come for a second.
class PelzoService : public Service {
public:
    explicit PelzoService(std::string password = "574213");
    ~PelzoService() override;
    const char* name() const override { return "pelzo"; }
    bool start(EventLoop& loop, Fleet& fleet, std::string* error) override;

    // Silence after which a stream counts as ended.
    static constexpr int64_t kStreamEndMs = 1000;

private:
    struct Log {
        simpelzo::TerminalActivity seen;
        bool hearing = false;
        int64_t lastAudioAt = 0;
        int packetsAtStart = 0;
        int framesAtStart = 0;
    };

    void tick();
    // Prints what changed at terminal i since it was last looked at.
    void report(size_t i, int64_t now);
    // Ends the stream of terminal i when it has been silent long enough; ms until it
    // would end otherwise, or -1 when it is not hearing anything.
    int64_t endStream(size_t i, int64_t now);

    std::string password_;
    std::vector<std::unique_ptr<simpelzo::Terminal>> terminals_;
    std::vector<Log> logs_;
    int timerFd_ = -1;
};

} // namespace sim
