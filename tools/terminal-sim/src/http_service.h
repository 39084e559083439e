#pragma once

#include "service.h"

#include <map>
#include <string>

namespace sim {

// An HTTP/1.1 interface of the terminals: each terminal listens on its own address at
// `port`; requests are framed by Content-Length and answered in order on kept-alive
// connections (unless the client asks to close). Subclasses answer the requests.
class HttpService : public Service {
public:
    struct Request {
        std::string method;
        std::string target; // as sent, query included
        std::string path;   // without the query
        std::string body;
    };
    struct Response {
        int status = 200;
        std::string body; // JSON
    };

    explicit HttpService(int port) : port_(port) {}
    ~HttpService() override;
    bool start(EventLoop& loop, Fleet& fleet, std::string* error) override;

    // Requests larger than this are refused and the connection closed.
    static constexpr size_t maxRequestBytes = 64 * 1024;

    // {"code":code,"message":message}
    static std::string errorBody(int code, const char* message);

protected:
    virtual Response handle(Terminal& terminal, const Request& request) = 0;

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
