#pragma once

#include "event_loop.h"
#include "terminal.h"

#include <netinet/in.h>
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

// A non-blocking IPv4 socket of `type` (SOCK_DGRAM or SOCK_STREAM) with SO_REUSEADDR,
// not bound yet, and the address it is for in *a. -1 with the reason in *error.
int openSocket(int type, const std::string& address, int port, sockaddr_in* a, std::string* error);

} // namespace sim
