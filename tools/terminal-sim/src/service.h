#pragma once

#include "event_loop.h"
#include "terminal.h"

#include <string>

namespace sim {

// One terminal interface (datagrams, REST, speech, Pelzo...). Each service opens
// its own sockets for every terminal of the fleet and serves them from the loop.
class Service {
public:
    virtual ~Service() = default;
    virtual const char* name() const = 0;
    virtual bool start(EventLoop& loop, Fleet& fleet, std::string* error) = 0;
};

} // namespace sim
