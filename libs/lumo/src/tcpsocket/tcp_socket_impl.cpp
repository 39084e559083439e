#include "tcpsocket/tcp_socket_impl.h"

#include "lumo/logger.h"

#include "compat/compat.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace lumo {

int TransparentLayer::write(const char* data, int len) {
    output.emit(std::string(data, std::size_t(len)));
    return len;
}

int TransparentLayer::feed(const char* data, int len) {
    input.emit(std::string(data, std::size_t(len)));
    return len;
}

TcpSocketImpl::TcpSocketImpl(int fd, std::shared_ptr<SecureLayer> layer, bool serverSide, int state)
    : fd_(fd), layer_(std::move(layer)), serverSide_(serverSide), state_(state) {
    if (!layer_)
        layer_ = std::make_shared<TransparentLayer>();
    transparent_ = dynamic_cast<TransparentLayer*>(layer_.get()) != nullptr;
    layer_->input.connect(this, [this](const std::string& bytes) { data.emit(bytes); });
    layer_->output.connect(this,
                           [this](const std::string& bytes) { queue(bytes.data(), bytes.size()); });
    layer_->error.connect(this, [this](const std::string& text) {
        if (!text.empty())
            LUMO_LOG_WARN("%s", text.c_str());
        close();
    });
    layer_->ready.connect(this, [this] { onLayerReady(); });
    if (serverSide_)
        layer_->startServer();
}

TcpSocketImpl::~TcpSocketImpl() {
    if (fd_ != -1)
        compat::closeSocket(fd_);
}

int TcpSocketImpl::write(const char* bytes, int len) {
    assertOnThread(owner_);
    // Bytes written after close would be dropped silently; say so instead.
    if (closed_ || fd_ == -1 || len < 0)
        return -1;
    if (!layer_->isReady())
        preReady_.append(bytes, std::size_t(len));
    else if (transparent_)
        queue(bytes, std::size_t(len));
    else
        layer_->write(bytes, len);
    return len;
}

void TcpSocketImpl::close() {
    assertOnThread(owner_);
    if (closed_)
        return;
    closed_ = true;
    closed.emit();
}

void TcpSocketImpl::queue(const char* bytes, std::size_t len) {
    if (pendingOutput() == 0 && fd_ != -1 && state_ == Connected) {
        // Nothing queued: hand the bytes to the system straight from the caller's buffer.
        while (len > 0) {
            const ssize_t n = ::send(fd_, bytes, len, MSG_NOSIGNAL);
            if (n > 0) {
                bytes += n;
                len -= std::size_t(n);
                continue;
            }
            if (n < 0 && compat::isInterrupted(errno))
                continue;
            break;
        }
        if (len == 0)
            return;
    }
    out_.append(bytes, len);
    flush();
}

bool TcpSocketImpl::flush() {
    if (fd_ == -1)
        return false;
    while (outPos_ < out_.size()) {
        const ssize_t n = ::send(fd_, out_.data() + outPos_, out_.size() - outPos_, MSG_NOSIGNAL);
        if (n > 0) {
            outPos_ += std::size_t(n);
            continue;
        }
        if (n == 0)
            break;
        const int err = errno;
        if (compat::isInterrupted(err))
            continue;
        if (compat::isWouldBlock(err))
            break;
        LUMO_LOG_DEBUG("about to close tcp socket. send --> %d code=%d %s", int(n), err,
                       std::strerror(err));
        out_.clear();
        outPos_ = 0;
        close();
        return false;
    }
    if (outPos_ == out_.size()) {
        out_.clear();
        outPos_ = 0;
    } else if (outPos_ >= out_.size() / 2) {
        // Keep the buffer from growing with bytes already sent.
        out_.erase(0, outPos_);
        outPos_ = 0;
    }
    setEvents(pendingOutput() > 0 ? kReadable | kWritable : kReadable);
    return true;
}

void TcpSocketImpl::setEvents(int events) {
    if (events == events_)
        return;
    events_ = events;
    eventsChanged.emit();
}

void TcpSocketImpl::onReadReady() {
    thread_local char buf[64 * 1024];
    std::string in;
    ssize_t n = 0;
    int err = 0;
    while (in.size() < kReadBudget) {
        n = ::recv(fd_, buf, sizeof buf, 0);
        if (n > 0) {
            in.append(buf, std::size_t(n));
            // A short read drained the socket for now; more data or the peer's close
            // wakes the next poll, so the extra call that would only say so is saved.
            if (std::size_t(n) < sizeof buf)
                break;
            continue;
        }
        if (n < 0) {
            err = errno;
            if (compat::isInterrupted(err))
                continue;
        }
        break;
    }
    if (!in.empty()) {
        if (transparent_)
            data.emit(in);
        else
            layer_->feed(in.data(), int(in.size()));
    }
    if (n == 0) {
        LUMO_LOG_DEBUG("connect reset by peer");
        close();
    } else if (n < 0 && !compat::isWouldBlock(err)) {
        LUMO_LOG_DEBUG("about to close tcp socket. recv --> %d code=%d %s", int(n), err,
                       std::strerror(err));
        close();
    }
}

bool TcpSocketImpl::onWriteReady() {
    if (state_ == Connecting) {
        int err = 0;
        socklen_t len = sizeof err;
        if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
            err = errno;
        if (err != 0) {
            error.emit(compat::errorText(err));
            close();
            return false;
        }
        if (layer_->isReady()) {
            setState(Connected);
        } else if (!layer_->startClient()) {
            setState(Unconnected);
            return false;
        }
        setEvents(pendingOutput() > 0 ? kReadable | kWritable : kReadable);
        return true;
    }
    return pendingOutput() > 0 ? flush() : true;
}

void TcpSocketImpl::closeFd() {
    if (fd_ != -1) {
        compat::closeSocket(fd_);
        fd_ = -1;
    }
    setState(Unconnected);
}

void TcpSocketImpl::setState(int state) {
    if (state == state_)
        return;
    state_ = state;
    if (state == Connected) {
        net::localEndpoint(fd_, &local_);
        net::peerEndpoint(fd_, &peer_);
        connected.emit();
        // Output queued while connecting can go now.
        if (pendingOutput() > 0)
            flush();
    } else if (state == Unconnected) {
        disconnected.emit();
    }
}

void TcpSocketImpl::onLayerReady() {
    if (!serverSide_)
        setState(Connected);
    if (!preReady_.empty()) {
        std::string bytes;
        bytes.swap(preReady_);
        layer_->write(bytes.data(), int(bytes.size()));
    }
}

} // namespace lumo
