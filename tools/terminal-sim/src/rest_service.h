#pragma once

#include "service.h"

#include <map>
#include <string>

namespace sim {

// The terminal's REST interface on TCP 8080: each terminal listens on its own address.
// GET "/rest/device_info" answers {"code":200,"message":...,"value":{...}} with the
// terminal's identity (device_id from DEV_ID, left out when the terminal has none) and
// eth_ip (its ADDRESS, else its bound address). Other paths answer 404, other methods 405.
// Connections stay open for further requests unless the client asks to close.
class RestService : public Service {
public:
    explicit RestService(int port = 8080) : port_(port) {}
    ~RestService() override;
    const char* name() const override { return "rest"; }
    bool start(EventLoop& loop, Fleet& fleet, std::string* error) override;

    // The body of GET "/rest/device_info" for one terminal.
    static std::string deviceInfoJson(const Terminal& t);

    // Requests larger than this are refused and the connection closed.
    static constexpr size_t maxRequestBytes = 64 * 1024;

private:
    struct Connection {
        Terminal* terminal = nullptr;
        std::string in;
        std::string out;
        bool closeAfterWrite = false;
        bool wantWrite = false;
    };

    void accept(int listenFd, Terminal* terminal);
    void watch(int fd, bool wantWrite);
    void onEvent(int fd, short revents);
    // Answers every complete request in the buffer; a refused one closes the connection.
    void serve(Connection& c);
    // Writes what it can; false when the connection has been closed.
    bool flush(int fd, Connection& c);
    void closeConnection(int fd);

    int port_;
    EventLoop* loop_ = nullptr;
    std::map<int, Connection> connections_;
    std::map<int, Terminal*> listeners_;
};

} // namespace sim
