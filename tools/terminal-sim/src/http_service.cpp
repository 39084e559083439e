#include "http_service.h"

#include "json_text.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

namespace {

int openListener(const std::string& address, int port, std::string* error) {
    sockaddr_in a;
    const int fd = openSocket(SOCK_STREAM, address, port, &a, error);
    if (fd < 0)
        return -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 64) != 0) {
        *error = "listen " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

const char* reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Payload Too Large";
    default:
        return "Error";
    }
}

std::string response(int status, const std::string& body, bool close) {
    std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status) + "\r\n";
    out += "Content-Type: application/json\r\n";
    out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    if (close)
        out += "Connection: close\r\n";
    out += "\r\n";
    out += body;
    return out;
}

// Header value by name (case-insensitive) within the request head, or empty.
std::string header(const std::string& head, const char* name) {
    const size_t len = std::strlen(name);
    size_t pos = head.find("\r\n");
    while (pos != std::string::npos && pos + 2 < head.size()) {
        const size_t start = pos + 2;
        const size_t end = head.find("\r\n", start);
        const std::string line = head.substr(start, end == std::string::npos ? end : end - start);
        if (line.size() > len && line[len] == ':' && strncasecmp(line.c_str(), name, len) == 0) {
            size_t v = len + 1;
            while (v < line.size() && (line[v] == ' ' || line[v] == '\t'))
                ++v;
            return line.substr(v);
        }
        pos = end;
    }
    return {};
}

} // namespace

std::string HttpService::errorBody(int code, const char* message) {
    return JsonObject().number("code", code).text("message", message).str();
}

HttpService::~HttpService() {
    for (auto& c : connections_)
        close(c.first);
    for (auto& l : listeners_)
        close(l.first);
}

bool HttpService::start(EventLoop& loop, Fleet& fleet, std::string* error) {
    loop_ = &loop;
    std::map<std::string, Terminal*> bound;
    for (Terminal& t : fleet) {
        // Terminals sharing an address (allowed for datagrams) share one listener:
        // the first of them answers.
        if (!bound.emplace(t.bind, &t).second)
            continue;
        const int fd = openListener(t.bind, port_, error);
        if (fd < 0)
            return false;
        listeners_[fd] = &t;
        Terminal* terminal = &t;
        loop.watch(fd, POLLIN, [this, fd, terminal](short) { accept(fd, terminal); });
    }
    return true;
}

void HttpService::accept(int listenFd, Terminal* terminal) {
    for (;;) {
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return; // EAGAIN, or a connection that went away before we took it
        Connection& c = connections_[fd];
        c = Connection{};
        c.terminal = terminal;
        watch(fd, false);
    }
}

void HttpService::watch(int fd, bool wantWrite) {
    loop_->watch(fd, wantWrite ? short(POLLIN | POLLOUT) : short(POLLIN),
                 [this, fd](short revents) { onEvent(fd, revents); });
}

void HttpService::onEvent(int fd, short revents) {
    auto it = connections_.find(fd);
    if (it == connections_.end())
        return;
    Connection& c = it->second;
    if ((revents & POLLOUT) && !flush(fd, c))
        return;
    if (!(revents & (POLLIN | POLLHUP | POLLERR)))
        return;
    char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        closeConnection(fd);
        return;
    }
    if (n > 0 && !c.closeAfterWrite)
        c.in.append(buf, size_t(n));
    serve(c);
    flush(fd, c);
}

void HttpService::serve(Connection& c) {
    // A refused request ends the connection once its answer is written.
    auto refuse = [&c](int status, const char* message) {
        c.out += response(status, errorBody(status, message), true);
        c.closeAfterWrite = true;
        c.in.clear();
    };
    while (!c.closeAfterWrite) {
        const size_t headEnd = c.in.find("\r\n\r\n");
        if (headEnd == std::string::npos) {
            if (c.in.size() > maxRequestBytes)
                refuse(413, "request too large");
            return;
        }
        const std::string head = c.in.substr(0, headEnd);
        const std::string lengthText = header(head, "Content-Length");
        char* end = nullptr;
        const unsigned long long length = std::strtoull(lengthText.c_str(), &end, 10);
        if (!lengthText.empty() && (end == lengthText.c_str() || *end != '\0'))
            return refuse(400, "bad Content-Length");
        if (headEnd > maxRequestBytes || length > maxRequestBytes)
            return refuse(413, "request too large");
        if (c.in.size() < headEnd + 4 + length)
            return; // the body is still on its way
        const std::string body = c.in.substr(headEnd + 4, size_t(length));
        c.in.erase(0, headEnd + 4 + size_t(length));

        const size_t lineEnd = std::min(head.find("\r\n"), head.size());
        const std::string line = head.substr(0, lineEnd);
        const size_t sp1 = line.find(' ');
        const size_t sp2 = sp1 == std::string::npos ? sp1 : line.find(' ', sp1 + 1);
        if (sp2 == std::string::npos)
            return refuse(400, "bad request line");
        const std::string method = line.substr(0, sp1);
        const std::string target = line.substr(sp1 + 1, sp2 - sp1 - 1);
        const std::string path = target.substr(0, target.find('?'));
        const std::string connection = header(head, "Connection");
        const bool close = line.compare(sp2 + 1, std::string::npos, "HTTP/1.0") == 0
                               ? strcasecmp(connection.c_str(), "keep-alive") != 0
                               : strcasecmp(connection.c_str(), "close") == 0;

        const Response answer = handle(*c.terminal, Request{method, target, path, body});
        c.out += response(answer.status, answer.body, close);
        c.closeAfterWrite = close;
    }
}

bool HttpService::flush(int fd, Connection& c) {
    while (!c.out.empty()) {
        const ssize_t n = send(fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                break;
            closeConnection(fd);
            return false;
        }
        c.out.erase(0, size_t(n));
    }
    if (c.out.empty() && c.closeAfterWrite) {
        closeConnection(fd);
        return false;
    }
    const bool wantWrite = !c.out.empty();
    if (wantWrite != c.wantWrite) {
        c.wantWrite = wantWrite;
        watch(fd, wantWrite);
    }
    return true;
}

void HttpService::closeConnection(int fd) {
    loop_->unwatch(fd);
    connections_.erase(fd);
    close(fd);
}

} // namespace sim
