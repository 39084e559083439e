#include "datagram_service.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

namespace {

int openUdp(const std::string& address, int port, std::string* error) {
    sockaddr_in a;
    const int fd = openSocket(SOCK_DGRAM, address, port, &a, error);
    if (fd < 0)
        return -1;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        *error = "bind " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

DatagramService::DatagramService(int port, std::vector<std::string> listen)
    : port_(port), listen_(std::move(listen)) {
    handle(0x00, answerScan);
}

bool DatagramService::answerScan(Terminal& t, const Datagram& request, Datagram* reply) {
    reply->pairs = t.keys;
    for (const std::string& key : request.values("config_key")) {
        bool present = false;
        for (const auto& kv : reply->pairs)
            present = present || kv.first == key;
        if (!present) {
            const std::string* value = t.get(key);
            reply->pairs.emplace_back(key, value ? *value : std::string());
        }
    }
    return true;
}

bool DatagramService::start(EventLoop& loop, Fleet& fleet, std::string* error) {
    fleet_ = &fleet;
    terminalFds_.clear();
    for (Terminal& t : fleet) {
        const int fd = openUdp(t.bind, port_, error);
        if (fd < 0)
            return false;
        terminalFds_.push_back(fd);
        Terminal* only = &t;
        loop.watch(fd, POLLIN, [this, fd, only](short) { receive(fd, only); });
    }
    for (const std::string& address : listen_) {
        const int fd = openUdp(address, port_, error);
        if (fd < 0)
            return false;
        loop.watch(fd, POLLIN, [this, fd](short) { receive(fd, nullptr); });
    }
    return true;
}

void DatagramService::receive(int fd, Terminal* only) {
    char buf[65536];
    for (;;) {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n =
            recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0)
            return;
        Datagram request;
        std::string why;
        if (!decode(buf, size_t(n), &request, &why)) {
            std::fprintf(stderr, "terminal-sim: dropped datagram: %s\n", why.c_str());
            continue;
        }
        if (only) {
            answer(*only, fd, request, from);
            continue;
        }
        for (size_t i = 0; i < fleet_->size(); ++i)
            answer((*fleet_)[i], terminalFds_[i], request, from);
    }
}

void DatagramService::answer(Terminal& t, int fd, const Datagram& request, const sockaddr_in& to) {
    auto it = handlers_.find(request.code);
    if (it == handlers_.end())
        return;
    Datagram reply;
    reply.code = uint8_t(request.code + 1);
    if (const std::string* hw = t.get("HW_ADDR"))
        reply.targetHwAddr = *hw;
    if (const std::string* id = t.get("DEV_ID"))
        reply.targetDevId = *id;
    if (!it->second(t, request, &reply))
        return;
    const std::string bytes = encode(reply);
    sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

} // namespace sim
