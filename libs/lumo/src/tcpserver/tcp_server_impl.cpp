#include "tcpserver/tcp_server_impl.h"

#include "lumo/logger.h"

#include "compat/compat.h"
#include "tcpsocket/tcp_socket_impl.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumo {

TcpServerImpl::TcpServerImpl(EventLoopImpl* loop, int fd, std::string address, std::uint16_t port)
    : loop_(loop), fd_(fd), spareFd_(::open("/dev/null", O_RDONLY | O_CLOEXEC)), port_(port),
      address_(std::move(address)) {}

TcpServerImpl::~TcpServerImpl() {
    if (fd_ != -1)
        compat::closeSocket(fd_);
    if (spareFd_ != -1)
        ::close(spareFd_);
}

void TcpServerImpl::close() {
    assertOnThread(owner_);
    if (closed_)
        return;
    closed_ = true;
    listening_ = false;
    closed.emit();
}

void TcpServerImpl::closeFd() {
    if (fd_ != -1) {
        compat::closeSocket(fd_);
        fd_ = -1;
    }
    listening_ = false;
}

std::shared_ptr<TcpSocket> TcpServerImpl::nextPendingConnection() {
    assertOnThread(owner_);
    if (pending_.empty())
        return {};
    auto next = std::move(pending_.front());
    pending_.pop_front();
    return next;
}

void TcpServerImpl::shedOneConnection() {
    // Out of descriptors: the pending connection would keep the listener readable and
    // the loop spinning. Free the spare, take the connection, refuse it, re-arm.
    if (spareFd_ == -1)
        return;
    ::close(spareFd_);
    const int fd = ::accept(fd_, nullptr, nullptr);
    if (fd >= 0)
        ::close(fd);
    spareFd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    LUMO_LOG_ERROR("lumo::TcpServerImpl::onReadReady: out of descriptors, connection refused");
}

void TcpServerImpl::onReadReady() {
    static const char* const kFn = "lumo::TcpServerImpl::onReadReady";
    bool queued = false;
    for (int taken = 0; taken < kAcceptBudget && fd_ != -1 && !closed_; ++taken) {
        // Descriptor 0 is a valid descriptor; only -1 means failure.
        const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd == -1) {
            const int err = errno;
            if (err == EINTR || err == ECONNABORTED)
                continue;
            if (err == EMFILE || err == ENFILE)
                shedOneConnection();
            break;
        }
        std::shared_ptr<SecureLayer> layer = factory_ ? factory_->create() : nullptr;
        std::shared_ptr<TcpSocketImpl> socket(
            new TcpSocketImpl(fd, std::move(layer), true, TcpSocket::Connecting), DeleteLater());
        // Already non-blocking from accept4, so a layer that talks from its constructor
        // cannot block the loop; the check stays for platforms without it.
        if (!compat::setNonBlocking(fd)) {
            const std::string why = compat::errorText(compat::lastError());
            LUMO_LOG_ERROR("%s: fd=%d: failed to set nonblock %s", kFn, fd, why.c_str());
            continue; // dropped: its destructor closes the descriptor
        }
        loop_->attach(std::make_shared<Pollable<TcpSocketImpl>>(socket), socket->closed);
        pending_.push_back(socket);
        socket->setState(TcpSocket::Connected);
        queued = true;
    }
    if (queued)
        newConnection.emit();
}

} // namespace lumo
