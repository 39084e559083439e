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
class PelzoService : public Service {
public:
    explicit PelzoService(std::string password = "574213");
    ~PelzoService() override;
    const char* name() const override { return "pelzo"; }
    bool start(EventLoop& loop, Fleet& fleet, std::string* error) override;

private:
    void tick();

    std::string password_;
    std::vector<std::unique_ptr<simpelzo::Terminal>> terminals_;
    int timerFd_ = -1;
};

} // namespace sim
