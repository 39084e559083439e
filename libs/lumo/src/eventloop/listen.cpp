// Creation of listening TCP servers and bound UDP sockets on the loop.
#include "lumo/eventloop.h"
#include "lumo/logger.h"

#include "compat/compat.h"
#include "net_util.h"
#include "tcpserver/tcp_server_impl.h"
#include "udpsocket/udp_socket_impl.h"

#include <sys/socket.h>

namespace lumo {

namespace {

// Records the failure text for the caller, closes the half-made descriptor.
void fail(std::string* error, const std::string& text, int fd) {
    if (error)
        *error = text;
    if (fd != -1)
        compat::closeSocket(fd);
}

enum class Step { Socket, Cloexec, ReuseAddr, Broadcast, Nonblock, Bind, Listen };

// Logs the failed step in its own format, hands the text to the caller, closes `fd`.
void report(const char* fn, Step step, int fd, std::string* error) {
    const std::string text = compat::errorText(compat::lastError());
    const char* t = text.c_str();
    switch (step) {
    case Step::Socket:
        LUMO_LOG_ERROR("%s: socket(): %s", fn, t);
        break;
    case Step::Cloexec:
        LUMO_LOG_ERROR("%s: ensure_cloexec(): %s", fn, t);
        break;
    case Step::ReuseAddr:
        LUMO_LOG_ERROR("%s: set_reuseaddr(): %s", fn, t);
        break;
    case Step::Broadcast:
        LUMO_LOG_ERROR("setsockopt: %s", t);
        break;
    case Step::Nonblock:
        LUMO_LOG_ERROR("%s: fd=%d: failed to set nonblock %s", fn, fd, t);
        break;
    case Step::Bind:
        LUMO_LOG_ERROR("%s: bind(): %s", fn, t);
        break;
    case Step::Listen:
        LUMO_LOG_ERROR("%s: listen(): %s", fn, t);
        break;
    }
    fail(error, text, fd);
}

bool bindTo(int fd, in_addr ip, std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr = ip;
    addr.sin_port = htons(port);
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
}

// The steps shared by TCP servers and UDP sockets, in their order: a non-blocking, bound
// descriptor (listening for TCP, broadcast-enabled for UDP), or -1 after the failure line.
int openBound(const char* fn, bool udp, const std::string& address, std::uint16_t port,
              std::string* error) {
    in_addr ip{};
    if (!net::parseAddress(address, &ip)) {
        const std::string text = "invalid address \"" + address + "\"";
        LUMO_LOG_ERROR("%s: %s: invalid address", fn, text.c_str());
        fail(error, text, -1);
        return -1;
    }
    const int fd = udp ? ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)
                       : ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (fd == -1) {
        report(fn, Step::Socket, fd, error);
        return -1;
    }
    const int on = 1;
    Step failed;
    if (!compat::ensureCloexec(fd))
        failed = Step::Cloexec;
    else if (!compat::setReuseAddr(fd))
        failed = Step::ReuseAddr;
    else if (udp && ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
        failed = Step::Broadcast;
    else if (!udp && !compat::setNonBlocking(fd))
        failed = Step::Nonblock;
    else if (!bindTo(fd, ip, port))
        failed = Step::Bind;
    // A blocking UDP socket would stall the loop in its receive loop.
    else if (udp && !compat::setNonBlocking(fd))
        failed = Step::Nonblock;
    // A failed listen would leave a bound socket that never accepts.
    else if (!udp && ::listen(fd, 10) != 0)
        failed = Step::Listen;
    else
        return fd;
    report(fn, failed, fd, error);
    return -1;
}

std::uint16_t boundPort(int fd, std::uint16_t asked) {
    net::Endpoint local;
    return asked == 0 && net::localEndpoint(fd, &local) ? local.port : asked;
}

} // namespace

std::shared_ptr<TcpServer> EventLoopImpl::tcpListen(const std::string& address, std::uint16_t port,
                                                    std::string* error) {
    assertInLoopThread();
    const int fd = openBound("lumo::EventLoopImpl::tcpListen", false, address, port, error);
    if (fd == -1)
        return {};
    std::shared_ptr<TcpServerImpl> server(new TcpServerImpl(this, fd, address, boundPort(fd, port)),
                                          DeleteLater());
    attach(std::make_shared<Pollable<TcpServerImpl>>(server), server->closed);
    return server;
}

std::shared_ptr<UdpSocket> EventLoopImpl::udpSetup(const std::string& address, std::uint16_t port,
                                                   std::string* error) {
    assertInLoopThread();
    const int fd = openBound("lumo::EventLoopImpl::udpSetup", true, address, port, error);
    if (fd == -1)
        return {};
    std::shared_ptr<UdpSocketImpl> socket(new UdpSocketImpl(fd, address, boundPort(fd, port)),
                                          DeleteLater());
    attach(std::make_shared<Pollable<UdpSocketImpl>>(socket), socket->closed);
    return socket;
}

std::shared_ptr<TcpServer> tcpListen(const std::string& address, std::uint16_t port,
                                     std::string* error) {
    return EventLoopImpl::current()->tcpListen(address, port, error);
}

std::shared_ptr<UdpSocket> udpSetup(const std::string& address, std::uint16_t port,
                                    std::string* error) {
    return EventLoopImpl::current()->udpSetup(address, port, error);
}

} // namespace lumo
