#include "murlo_client.h"

#include "sim_md5.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

namespace simmurlo {

namespace {

bool toAddress(const std::string& ip, uint16_t port, sockaddr_in* a) {
    std::memset(a, 0, sizeof *a);
    a->sin_family = AF_INET;
    a->sin_port = htons(port);
    return inet_pton(AF_INET, ip.c_str(), &a->sin_addr) == 1;
}

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

Client::~Client() {
    close();
}

bool Client::connect(const std::string& server, uint16_t port, const std::string& bindAddress,
                     std::string* error) {
    close();
    sockaddr_in to;
    if (!toAddress(server, port, &to)) {
        *error = "not an IPv4 address: " + server;
        return false;
    }
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    if (!bindAddress.empty()) {
        sockaddr_in from;
        if (!toAddress(bindAddress, 0, &from) ||
            ::bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
            *error = "cannot bind " + bindAddress + ": " + std::strerror(errno);
            close();
            return false;
        }
    }
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        *error = "connect " + server + ":" + std::to_string(port) + ": " + std::strerror(errno);
        close();
        return false;
    }
    const int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    codec_ = Codec();
    held_.clear();
    peerClosed_ = false;
    return true;
}

void Client::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool Client::sendBytes(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error_ = std::string("send: ") + std::strerror(errno);
            return false;
        }
        done += size_t(n);
    }
    return true;
}

bool Client::readSome(int timeoutMs) {
    if (fd_ < 0 || peerClosed_)
        return false;
    pollfd p{fd_, POLLIN, 0};
    const int r = ::poll(&p, 1, timeoutMs);
    if (r <= 0) {
        error_ = r == 0 ? "time-out waiting for the server" : std::strerror(errno);
        return false;
    }
    char buf[256 * 1024];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) {
        peerClosed_ = true;
        error_ = "connection closed by the server";
        return false;
    }
    codec_.feed(buf, size_t(n));
    return true;
}

std::optional<Frame> Client::readFrame() {
    if (!held_.empty()) {
        Frame f = held_.front();
        held_.erase(held_.begin());
        return f;
    }
    const int64_t deadline = nowMs() + timeoutMs_;
    for (;;) {
        if (std::optional<Frame> f = codec_.next())
            return f;
        const int64_t left = deadline - nowMs();
        if (left <= 0 || !readSome(int(left)))
            return std::nullopt;
    }
}

std::optional<Frame> Client::waitFor(uint32_t command) {
    for (size_t i = 0; i < held_.size(); ++i)
        if (held_[i].command == command) {
            Frame f = held_[i];
            held_.erase(held_.begin() + long(i));
            return f;
        }
    const int64_t deadline = nowMs() + timeoutMs_;
    for (;;) {
        while (std::optional<Frame> f = codec_.next()) {
            if (f->command == command)
                return f;
            held_.push_back(*f);
        }
        const int64_t left = deadline - nowMs();
        if (left <= 0 || !readSome(int(left)))
            return std::nullopt;
    }
}

bool Client::waitClosed(int timeoutMs) {
    const int64_t deadline = nowMs() + timeoutMs;
    while (!peerClosed_) {
        const int64_t left = deadline - nowMs();
        if (left <= 0)
            return false;
        readSome(int(left));
        while (codec_.next()) {
        }
    }
    return true;
}

std::optional<Frame> Client::request(uint32_t command, const std::string& body, uint32_t reply) {
    const uint32_t seq = nextSequence();
    if (!sendBytes(codec_.encode(command, seq, body)))
        return std::nullopt;
    std::optional<Frame> f = waitFor(reply);
    if (f && f->sequence != seq) {
        error_ = "reply " + std::to_string(reply) + " carries sequence " +
                 std::to_string(f->sequence) + " for request " + std::to_string(seq);
        return std::nullopt;
    }
    return f;
}

bool Client::exchangeKey(size_t keyLength) {
    // The terminal's secret only has to be unpredictable enough for a simulator.
    std::random_device rd;
    Num secret{rd(), rd(), rd(), rd()};
    std::string mine = numToBytes(publicValue(secret));
    mine.resize(keyLength, '\x5a');
    const std::optional<Frame> f =
        request(cmd::keyExchange, keyExchangeBody(mine), cmd::keyExchange);
    if (!f)
        return false;
    const std::optional<std::string> theirs = parseKeyReply(f->body);
    if (!theirs) {
        error_ = "malformed key reply";
        return false;
    }
    if (theirs->size() == 16)
        codec_.setKey(numToBytes(modPow(numFromBytes(*theirs), secret)));
    else if (!theirs->empty()) {
        error_ = "key reply of " + std::to_string(theirs->size()) + " bytes";
        return false;
    }
    return true;
}

bool Client::login(const Identity& who) {
    const std::optional<Frame> f = request(cmd::login, loginBody(who), cmd::loginReply);
    const std::optional<uint8_t> result = f ? parseLoginReply(f->body) : std::nullopt;
    return result && *result == 1;
}

std::optional<ListReply> Client::list() {
    const std::optional<Frame> f = request(cmd::listApps, {}, cmd::listReply);
    if (!f)
        return std::nullopt;
    std::optional<ListReply> r = parseListReply(f->body);
    if (!r)
        error_ = "malformed list reply";
    return r;
}

Download Client::download(int64_t fileId, const std::string& expectedMd5, bool keepData) {
    Download d;
    const std::optional<Frame> f = request(cmd::download, fileIdBody(fileId), cmd::downloadReply);
    const std::optional<DownloadReply> reply = f ? parseDownloadReply(f->body) : std::nullopt;
    if (!reply) {
        d.error = f ? "malformed download reply" : error_;
        return d;
    }
    d.code = reply->code;
    d.message = reply->message;
    d.size = reply->size;
    if (d.code != 200)
        return d;
    if (keepData)
        d.data.reserve(d.size);
    while (d.received < d.size) {
        const std::optional<Frame> c = waitFor(cmd::chunk);
        if (!c) {
            d.error = "after " + std::to_string(d.received) + " of " + std::to_string(d.size) +
                      " bytes: " + error_;
            return d;
        }
        const std::optional<Chunk> chunk = parseChunk(c->body);
        if (!chunk) {
            d.error = "malformed chunk";
            return d;
        }
        d.chunks.emplace_back(chunk->offset, chunk->length);
        // The push is sequential: each chunk starts where the last one ended.
        if (c->sequence != 1 || chunk->fileId != fileId || chunk->offset != int64_t(d.received) ||
            chunk->length == 0 || d.received + chunk->length > d.size) {
            d.error = "chunk at offset " + std::to_string(chunk->offset) + " of " +
                      std::to_string(chunk->length) + " bytes (sequence " +
                      std::to_string(c->sequence) + ", file " + std::to_string(chunk->fileId) +
                      ") does not continue the " + std::to_string(d.received) + " bytes so far";
            return d;
        }
        d.received += chunk->length;
        if (keepData)
            d.data += chunk->data;
    }
    if (!keepData)
        return d;
    d.md5 = simpelzo::md5Hex(d.data);
    if (!expectedMd5.empty() && d.md5 != expectedMd5)
        d.error = "md5 " + d.md5 + " differs from the listed " + expectedMd5;
    return d;
}

bool Client::finish(int64_t fileId) {
    return request(cmd::finish, fileIdBody(fileId), cmd::finishReply).has_value();
}

bool Client::ping() {
    return request(cmd::ping, {}, cmd::pingReply).has_value();
}

} // namespace simmurlo
