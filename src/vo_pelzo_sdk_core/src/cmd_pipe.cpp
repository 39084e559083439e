#include "vo_pelzo_sdk_core/cmd_pipe.h"

#include "socket_posix.h"

#include <lumo/eventloop.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <random>
#include <vector>

namespace internal {

namespace {

constexpr std::size_t kAddressBytes = sizeof(Runnable*);

std::atomic<CmdClient::WriteObserver> gWriteObserver{nullptr};

} // namespace

// --- commands ----------------------------------------------------------------

void Runnable::release() {
    if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete this;
}

RunnableFun::RunnableFun(std::function<void()> fn, bool waited)
    : Runnable(waited ? 2 : 1), fn_(std::move(fn)), waited_(waited),
      lock_(mutex_, std::defer_lock) {}

void RunnableFun::run() {
    fn_();
    markRan();
}

void RunnableFun::notify() {
    if (!waited_)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
    finished_.store(true, std::memory_order_release);
    cond_.notify_one();
}

void RunnableFun::prepareWait() {
    if (waited_)
        lock_.lock();
}

void RunnableFun::wait() {
    if (!waited_)
        return;
    // Most commands finish within microseconds: watching for that a little while spares
    // the caller a sleep and a wake-up. The lock goes first, or notify could not finish.
    lock_.unlock();
    const auto until = std::chrono::steady_clock::now() + kSpinBudget;
    for (int i = 1; !finished_.load(std::memory_order_acquire); ++i) {
        if (i % 64 == 0 && std::chrono::steady_clock::now() >= until) {
            lock_.lock();
            cond_.wait(lock_, [this] { return done_; });
            lock_.unlock();
            return;
        }
    }
}

void CommandLedger::issue(Runnable* command) {
    std::lock_guard<std::mutex> lock(mutex_);
    issued_.insert(command);
}

bool CommandLedger::redeem(Runnable* command) {
    std::lock_guard<std::mutex> lock(mutex_);
    return issued_.erase(command) == 1;
}

void CommandLedger::withdraw(Runnable* command) {
    std::lock_guard<std::mutex> lock(mutex_);
    issued_.erase(command);
}

void CommandLedger::cancelOutstanding() {
    std::unordered_set<Runnable*> left;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        left.swap(issued_);
    }
    for (Runnable* command : left) {
        command->notify();
        command->release();
    }
}

std::string makeSecret() {
    std::random_device source;
    std::string secret(kSecretBytes, '\0');
    for (char& c : secret)
        c = static_cast<char>(source() & 0xFF);
    return secret;
}

// --- worker side ---------------------------------------------------------------

// The loggers are never destroyed: a program may end while the worker still logs.
lumo::Logger& CmdServer::logger() {
    static lumo::Logger* instance = new lumo::Logger("cms", lumo::Logger::Info);
    return *instance;
}

CmdServer::CmdServer(std::string secret, std::shared_ptr<CommandLedger> ledger, Limits limits)
    : secret_(std::move(secret)), ledger_(std::move(ledger)), limits_(limits) {}

CmdServer::~CmdServer() {
    close();
}

bool CmdServer::start() {
    std::string error;
    server_ = lumo::tcpListen("127.0.0.1", 0, &error);
    if (!server_) {
        LUMO_LOG_TO(logger(), lumo::Logger::Error, "command server failed to start: %s",
                    error.c_str());
        return false;
    }
    port_ = server_->port();
    server_->newConnection.connect(this, [this] { onNewConnection(); });
    return true;
}

void CmdServer::close() {
    if (!closed_) {
        // What is left to report goes out now, however soon after the last line.
        reportedOnce_ = false;
        report(lumo::currentTimeMs());
    }
    closed_ = true;
    if (sweepTimer_) {
        sweepTimer_->stop();
        sweepTimer_.reset();
    }
    if (server_) {
        server_->close();
        server_.reset();
    }
    auto connections = std::move(connections_);
    connections_.clear();
    for (auto& entry : connections)
        entry.second.socket->close();
}

std::size_t CmdServer::unauthenticatedCount() const {
    std::size_t n = 0;
    for (const auto& entry : connections_)
        n += entry.second.authenticated ? 0 : 1;
    return n;
}

void CmdServer::onNewConnection() {
    while (server_ && server_->hasPendingConnections()) {
        std::shared_ptr<lumo::TcpSocket> socket = server_->nextPendingConnection();
        if (!socket)
            break;
        if (unauthenticatedCount() >= limits_.maxUnauthenticated) {
            turnAway(*socket, &Unreported::overLimit);
            continue;
        }
        // Commands are a few bytes each and a caller waits for every waited one.
        posix::setNoDelay(socket->fd());
        lumo::TcpSocket* key = socket.get();
        socket->data.connect(this, [this, key](const std::string& bytes) { onData(key, bytes); });
        socket->disconnected.connect(this, [this, key] { onDisconnected(key); });
        Connection& connection = connections_[key];
        connection.socket = std::move(socket);
        connection.acceptedAt = lumo::currentTimeMs();
        armSweep();
    }
}

void CmdServer::onDisconnected(lumo::TcpSocket* socket) {
    auto it = connections_.find(socket);
    if (it == connections_.end())
        return;
    const bool wasClient = it->second.authenticated;
    connections_.erase(it);
    if (wasClient)
        clientGone.emit();
}

void CmdServer::turnAway(lumo::TcpSocket& socket, int Unreported::*reason) {
    ++(unreported_.*reason);
    ++turnedAway_;
    unreported_.lastPeer = socket.peerAddress() + ":" + std::to_string(socket.peerPort());
    // Forgotten at once: a closing connection neither counts against the limit nor
    // runs anything it may still have sent.
    connections_.erase(&socket);
    socket.close();
    report(lumo::currentTimeMs());
    armSweep();
}

void CmdServer::report(int64_t now) {
    if (unreported_.total() == 0)
        return;
    // A clock stepped back does not hold the next line up.
    if (reportedOnce_ && now >= lastReport_ && now - lastReport_ < kReportIntervalMs)
        return;
    LUMO_LOG_TO(logger(), lumo::Logger::Warn,
                "turned away %d command connection(s), the last from %s: %d over the limit of "
                "%zu waiting for their secret, %d without their secret within %lld ms, %d with "
                "a wrong secret",
                unreported_.total(), unreported_.lastPeer.c_str(), unreported_.overLimit,
                limits_.maxUnauthenticated, unreported_.silent,
                static_cast<long long>(limits_.authTimeoutMs), unreported_.wrongSecret);
    unreported_ = Unreported();
    reportedOnce_ = true;
    lastReport_ = now;
}

void CmdServer::armSweep() {
    if (sweepTimer_ || closed_)
        return;
    const int interval = static_cast<int>(std::max<int64_t>(limits_.authTimeoutMs / 2, 1));
    lastSweep_ = lumo::currentTimeMs();
    sweepTimer_ = lumo::EventLoopImpl::current()->startTimer(interval);
    sweepTimer_->timeout.connect(this, [this] { sweep(); });
}

void CmdServer::sweep() {
    const int64_t now = lumo::currentTimeMs();
    const int64_t interval = sweepTimer_ ? sweepTimer_->interval() : 1;
    // A sweep far behind its schedule means the loop was held up (a slow command): a
    // secret may be waiting unread in a connection that looks overdue. The next sweep,
    // after the loop has read its sockets, judges them.
    const bool stalled = now - lastSweep_ > 2 * interval;
    lastSweep_ = now;
    if (!stalled) {
        std::vector<std::shared_ptr<lumo::TcpSocket>> overdue;
        for (const auto& entry : connections_) {
            const Connection& c = entry.second;
            if (!c.authenticated && now - c.acceptedAt >= limits_.authTimeoutMs)
                overdue.push_back(c.socket);
        }
        for (const auto& socket : overdue)
            turnAway(*socket, &Unreported::silent);
    }
    report(now);
    if (unauthenticatedCount() == 0 && unreported_.total() == 0 && sweepTimer_) {
        sweepTimer_->stop();
        sweepTimer_.reset();
    }
}

void CmdServer::onData(lumo::TcpSocket* socket, const std::string& bytes) {
    auto it = connections_.find(socket);
    if (it == connections_.end())
        return;
    Connection& connection = it->second;
    connection.buffer += bytes;
    if (!connection.authenticated) {
        // The whole secret is compared at once, so a stranger learns nothing from how
        // far its guess got.
        if (connection.buffer.size() < secret_.size())
            return;
        unsigned char diff = 0;
        for (std::size_t i = 0; i < secret_.size(); ++i)
            diff |= static_cast<unsigned char>(connection.buffer[i] ^ secret_[i]);
        if (diff != 0) {
            std::shared_ptr<lumo::TcpSocket> keep = connection.socket;
            turnAway(*keep, &Unreported::wrongSecret);
            return;
        }
        connection.authenticated = true;
        connection.buffer.erase(0, secret_.size());
    }
    if (!runCommands(connection)) {
        connection.buffer.clear();
        connection.socket->close();
    }
}

bool CmdServer::runCommands(Connection& connection) {
    // Keeps the socket alive even if a command closes the server and its connections.
    std::shared_ptr<lumo::TcpSocket> keep = connection.socket;
    std::string buffer = std::move(connection.buffer);
    connection.buffer.clear();
    std::size_t pos = 0;
    for (; buffer.size() - pos >= kAddressBytes; pos += kAddressBytes) {
        // A command closed the server (the stop command): whatever was written behind it
        // stays unredeemed, and pelzo_deinit fails those calls once the worker is gone.
        if (closed_)
            return true;
        Runnable* command = nullptr;
        std::memcpy(&command, buffer.data() + pos, kAddressBytes);
        if (!ledger_->redeem(command)) {
            LUMO_LOG_TO(logger(), lumo::Logger::Error,
                        "command connection sent an address that was never issued");
            return false;
        }
        try {
            command->run();
        } catch (const std::exception& e) {
            LUMO_LOG_TO(logger(), lumo::Logger::Error, "command failed: %s", e.what());
        }
        command->notify();
        command->release();
    }
    auto it = connections_.find(keep.get());
    if (it != connections_.end())
        it->second.buffer.assign(buffer, pos, std::string::npos);
    return true;
}

// --- calling side --------------------------------------------------------------

lumo::Logger& CmdClient::logger() {
    static lumo::Logger* instance = new lumo::Logger("cmc", lumo::Logger::Info);
    return *instance;
}

CmdClient::CmdClient(uint16_t port, std::string secret, std::shared_ptr<CommandLedger> ledger)
    : port_(port), secret_(std::move(secret)), ledger_(std::move(ledger)) {}

CmdClient::~CmdClient() {
    shutdown();
}

bool CmdClient::connect() {
    std::lock_guard<std::mutex> lock(writeMutex_);
    return connectLocked();
}

void CmdClient::shutdown() {
    std::lock_guard<std::mutex> lock(writeMutex_);
    shutDown_ = true;
    closeLocked();
}

void CmdClient::closeLocked() {
    if (fd_ != -1) {
        posix::closeSocket(fd_);
        fd_ = -1;
    }
}

bool CmdClient::connectLocked() {
    closeLocked();
    if (shutDown_)
        return false;
    std::string error;
    const int fd = posix::loopbackSocket(&error);
    if (fd == -1) {
        LUMO_LOG_TO(logger(), lumo::Logger::Error, "%s: socket(): %s", "CmdClient::connect",
                    error.c_str());
        return false;
    }
    if (!posix::connectLoopback(fd, port_, &error)) {
        LUMO_LOG_TO(logger(), lumo::Logger::Warn, "connect to command server failed: %s",
                    error.c_str());
        posix::closeSocket(fd);
        return false;
    }
    fd_ = fd;
    if (!writeAllLocked(secret_.data(), secret_.size())) {
        LUMO_LOG_TO(logger(), lumo::Logger::Warn, "connect to command server failed: %s",
                    "the connection closed");
        closeLocked();
        return false;
    }
    return true;
}

bool CmdClient::writeAllLocked(const char* data, std::size_t len) {
    return fd_ != -1 && posix::sendAll(fd_, data, len);
}

bool CmdClient::send(Runnable* command) {
    char bytes[kAddressBytes];
    std::memcpy(bytes, &command, kAddressBytes);
    if (writeAllLocked(bytes, kAddressBytes))
        return true;
    // The command is given up; the connection is made anew for the next one.
    if (!shutDown_)
        connectLocked();
    return false;
}

void CmdClient::setWriteObserver(WriteObserver observer) {
    gWriteObserver.store(observer);
}

bool CmdClient::call(std::function<void()> fn, bool waited) {
    auto* command = new RunnableFun(std::move(fn), waited);
    command->prepareWait();
    const WriteObserver observer = gWriteObserver.load();
    if (observer)
        observer(false);
    bool sent = false;
    {
        std::lock_guard<std::mutex> lock(writeMutex_);
        ledger_->issue(command);
        sent = send(command);
        if (!sent)
            ledger_->withdraw(command);
    }
    if (!sent) {
        LUMO_LOG_TO(logger(), lumo::Logger::Warn, "command not delivered to the worker");
        // Neither side has seen it run: both references go here.
        if (waited)
            command->release();
        command->release();
        return false;
    }
    if (observer)
        observer(true);
    if (!waited)
        return true;
    command->wait();
    const bool ran = command->ran();
    command->release();
    return ran;
}

} // namespace internal
