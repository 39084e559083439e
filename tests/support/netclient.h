// Clients for server tests in which one thread drives both sides: a raw TCP
// client read between passes of the server's loop, and commands (curl) run on
// another thread while the loop is pumped.
#pragma once

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <future>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace netclient {

// Connects from the address it connects to (a loopback address of the
// test's own), so the server sees that address as the peer.
class RawClient {
public:
    RawClient(const std::string& host, std::uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        ::inet_pton(AF_INET, host.c_str(), &addr.sin_addr);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        addr.sin_port = htons(port);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        ::fcntl(fd_, F_SETFL, O_NONBLOCK);
    }
    ~RawClient() { close(); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return connected_; }
    // Sends all of bytes (the socket buffer takes what a test sends).
    bool send(const std::string& bytes) {
        std::size_t at = 0;
        while (at < bytes.size()) {
            ssize_t n = ::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
            if (n < 0 && errno == EAGAIN) {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 100);
                continue;
            }
            if (n <= 0) {
                return false;
            }
            at += static_cast<std::size_t>(n);
        }
        return true;
    }
    // Reads what has arrived; true when something new came or the peer closed.
    bool poll() {
        char buf[65536];
        bool news = false;
        for (;;) {
            ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n > 0) {
                in.append(buf, static_cast<std::size_t>(n));
                news = true;
                continue;
            }
            if ((n == 0 || (errno != EAGAIN && errno != EINTR)) && !eof) {
                eof = true;
                news = true;
            }
            return news;
        }
    }
    void close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    int fd() const { return fd_; }

    std::string in;
    bool eof = false;

private:
    int fd_ = -1;
    bool connected_ = false;
};

// Runs command through the shell on another thread and returns its standard
// output; pump is called until the command has ended.
inline std::string runCommand(const std::string& command, const std::function<void()>& pump) {
    auto result = std::async(std::launch::async, [command] {
        std::string out;
        if (FILE* p = ::popen(command.c_str(), "r")) {
            char buf[4096];
            std::size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
                out.append(buf, n);
            }
            ::pclose(p);
        }
        return out;
    });
    while (result.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        pump();
    }
    return result.get();
}

// The body of a whole response as curl -i or a raw client received it.
inline std::string bodyOf(const std::string& response) {
    auto at = response.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : response.substr(at + 4);
}

} // namespace netclient
