#include "udpsocket/udp_socket_impl.h"

#include "lumo/logger.h"

#include "compat/compat.h"
#include "net_util.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <sys/socket.h>

namespace lumo {

UdpSocketImpl::UdpSocketImpl(int fd, std::string address, std::uint16_t port)
    : fd_(fd), address_(std::move(address)), port_(port) {}

UdpSocketImpl::~UdpSocketImpl() {
    if (fd_ != -1)
        compat::closeSocket(fd_);
}

void UdpSocketImpl::close() {
    assertOnThread(owner_);
    if (closed_)
        return;
    closed_ = true;
    closed.emit();
}

void UdpSocketImpl::closeFd() {
    if (fd_ != -1) {
        compat::closeSocket(fd_);
        fd_ = -1;
    }
}

int UdpSocketImpl::sendTo(const sockaddr_in& to, const char* data, int len) {
    assertOnThread(owner_);
    if (fd_ == -1 || len < 0)
        return -1;
    const ssize_t n = ::sendto(fd_, data, std::size_t(len), MSG_NOSIGNAL,
                               reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return int(n);
}

int UdpSocketImpl::sendTo(std::uint32_t ip, std::uint16_t port, const char* data, int len) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(ip);
    to.sin_port = htons(port);
    return sendTo(to, data, len);
}

std::size_t UdpSocketImpl::sendToEach(const sockaddr_in* to, std::size_t count, const char* data,
                                      int len, int* results) {
    assertOnThread(owner_);
    auto fail = [&](std::size_t from, std::size_t end) {
        if (results)
            for (std::size_t i = from; i < end; ++i)
                results[i] = -1;
    };
    if (fd_ == -1 || len < 0) {
        fail(0, count);
        return 0;
    }
    // One buffer for every message: the datagram is the same for all.
    iovec iov{const_cast<char*>(data), std::size_t(len)};
    mmsghdr batch[kSendBatch];
    std::size_t sent = 0;
    std::size_t next = 0;
    while (next < count) {
        const std::size_t n = std::min(kSendBatch, count - next);
        for (std::size_t i = 0; i < n; ++i) {
            batch[i] = mmsghdr{};
            batch[i].msg_hdr.msg_name = const_cast<sockaddr_in*>(&to[next + i]);
            batch[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
            batch[i].msg_hdr.msg_iov = &iov;
            batch[i].msg_hdr.msg_iovlen = 1;
        }
        const int done = ::sendmmsg(fd_, batch, unsigned(n), MSG_NOSIGNAL);
        if (done <= 0) {
            if (done < 0 && compat::isInterrupted(errno))
                continue;
            // The call stops at the first destination it cannot send to, and reports it
            // only when nothing went before it: skip that one and go on with the rest.
            fail(next, next + 1);
            ++next;
            continue;
        }
        for (int i = 0; i < done; ++i) {
            if (results)
                results[next + std::size_t(i)] = int(batch[i].msg_len);
        }
        sent += std::size_t(done);
        next += std::size_t(done);
    }
    return sent;
}

void UdpSocketImpl::onReadReady() {
    // One byte more than the limit is not needed: MSG_TRUNC reports the full length.
    thread_local char buf[kMaxDatagram];
    for (int taken = 0; taken < kReceiveBudget && fd_ != -1 && !closed_; ++taken) {
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        const ssize_t n = ::recvfrom(fd_, buf, sizeof buf, MSG_TRUNC,
                                     reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n < 0) {
            if (compat::isInterrupted(errno))
                continue;
            break;
        }
        if (n > kMaxDatagram) {
            // Never hand out a cut datagram: a short read would pass for a whole one.
            LUMO_LOG_WARN("udp: dropped a datagram of %d bytes from %s:%u (limit %d)", int(n),
                          net::dotted(from.sin_addr).c_str(), unsigned(ntohs(from.sin_port)),
                          kMaxDatagram);
            continue;
        }
        datagram.emit(ntohl(from.sin_addr.s_addr), ntohs(from.sin_port),
                      std::string(buf, std::size_t(n)));
    }
}

} // namespace lumo
