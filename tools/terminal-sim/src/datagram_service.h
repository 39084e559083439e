#pragma once

#include "datagram.h"
#include "service.h"

#include <functional>
#include <map>
#include <netinet/in.h>
#include <vector>

namespace sim {

// The datagram service on UDP 7669: every terminal binds its own address, and
// listen addresses (a broadcast address, or 0.0.0.0 inside a private network)
// take broadcast requests for the whole fleet. Replies leave from the terminal's
// own address and port to the requester's address and port.
class DatagramService : public Service {
public:
    // Handles one request for one terminal; returns false to stay silent.
    using Handler = std::function<bool(Terminal&, const Datagram& request, Datagram* reply)>;

    explicit DatagramService(int port = 7669, std::vector<std::string> listen = {});
    const char* name() const override { return "datagram"; }
    bool start(EventLoop& loop, Fleet& fleet, std::string* error) override;

    // Request code -> handler; the reply code is set to the request code plus one.
    void handle(uint8_t code, Handler handler) { handlers_[code] = std::move(handler); }

    // The scan answer: every key the terminal has, then each asked config_key.
    static bool answerScan(Terminal& t, const Datagram& request, Datagram* reply);

private:
    void receive(int fd, Terminal* only);
    void answer(Terminal& t, int fd, const Datagram& request, const sockaddr_in& to);

    int port_;
    std::vector<std::string> listen_;
    Fleet* fleet_ = nullptr;
    std::vector<int> terminalFds_; // parallel to the fleet
    std::map<uint8_t, Handler> handlers_;
};

} // namespace sim
