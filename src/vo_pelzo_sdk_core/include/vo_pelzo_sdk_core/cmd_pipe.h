// The command pipe: how calling threads hand work to the SDK's worker thread.
//
// A caller wraps a function in a command object and writes the object's address over a
// loopback TCP connection; the worker's CmdServer reads the address and runs the command
// on its loop. The connection opens with a per-process secret, and the server runs only
// addresses the client recorded in the shared CommandLedger, so bytes from any other
// local process are never taken for a command.
#pragma once

#include <lumo/eventloop.h>
#include <lumo/logger.h>
#include <lumo/net.h>
#include <lumo/object.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

namespace internal {

// A unit of work for the worker thread. Waited commands carry a mutex and a condition
// variable; the caller takes the lock before the command is sent (prepareWait) so the
// worker's notify cannot be missed.
//
// Ownership is shared between the caller and the worker side: each holds one reference
// (a posted command's caller gives its reference up at once). The last release deletes
// the object, so a waited command is deleted only after its caller has left wait().
class Runnable {
public:
    virtual ~Runnable() = default;
    // Calls the function; an empty function is an error (std::bad_function_call).
    virtual void run() = 0;
    // Marks the command finished and wakes its caller; nothing for posted commands.
    virtual void notify() = 0;
    // Takes the caller's lock; nothing for posted commands.
    virtual void prepareWait() = 0;
    // Waits until notified, then releases the lock; nothing for posted commands.
    virtual void wait() = 0;

    // True once run() returned. Read by the caller after wait().
    bool ran() const { return ran_.load(std::memory_order_acquire); }
    // Drops one reference; the last one deletes the command.
    void release();

protected:
    explicit Runnable(int references) : references_(references) {}
    void markRan() { ran_.store(true, std::memory_order_release); }

private:
    std::atomic<int> references_;
    std::atomic<bool> ran_{false};
};

class RunnableFun final : public Runnable {
public:
    // A posted command holds one reference (the worker's), a waited one two.
    RunnableFun(std::function<void()> fn, bool waited);

    void run() override;
    void notify() override;
    void prepareWait() override;
    void wait() override;

    bool waited() const { return waited_; }

private:
    // How long wait() watches for completion before it sleeps on the condition.
    static constexpr std::chrono::microseconds kSpinBudget{50};

    std::function<void()> fn_;
    const bool waited_;
    bool done_ = false;
    std::atomic<bool> finished_{false};
    std::mutex mutex_;
    std::condition_variable cond_;
    std::unique_lock<std::mutex> lock_;
};

// The addresses written to the pipe and not yet taken by the server. The server runs an
// address only when it redeems it here; commands left when the worker has stopped are
// cancelled from here, which wakes their callers. Thread-safe.
class CommandLedger {
public:
    void issue(Runnable* command);
    // True (and forgotten) when `command` was issued and not yet redeemed or withdrawn.
    bool redeem(Runnable* command);
    // Takes back an issued command that never reached the pipe.
    void withdraw(Runnable* command);
    // Wakes every waited caller of a command still outstanding (it did not run) and
    // releases the worker side's references. For use once no worker reads the pipe.
    void cancelOutstanding();

private:
    std::mutex mutex_;
    std::unordered_set<Runnable*> issued_;
};

// Size of the secret that opens a command connection.
constexpr std::size_t kSecretBytes = 32;
// A fresh random secret from the system's random source.
std::string makeSecret();

// Bounds on the command server's connections that have not sent the secret yet.
struct CommandPortLimits {
    // Connections waiting for their secret at once; more are closed on arrival.
    std::size_t maxUnauthenticated = 16;
    // A connection that has not sent the whole secret by then is closed.
    int64_t authTimeoutMs = 2000;
};

// The worker side: a TCP server on 127.0.0.1 (port chosen by the system) that runs the
// commands arriving on authenticated connections. Any local program can reach the port,
// so connections that have not sent the secret are few and short-lived: over the limit
// they are closed on arrival, and each is closed when its time is up. What was turned
// away is logged in one line at most once a second. Loop thread only; its times are
// lumo::currentTimeMs.
class CmdServer : public lumo::Object {
public:
    using Limits = CommandPortLimits;
    // Least time between two lines about turned-away connections.
    static constexpr int64_t kReportIntervalMs = 1000;

    CmdServer(std::string secret, std::shared_ptr<CommandLedger> ledger, Limits limits = {});
    ~CmdServer() override;

    // Listens; false with the error logged ("command server failed to start: %s").
    bool start();
    // Stops listening and drops every connection; commands not yet run never run.
    void close();
    uint16_t port() const { return port_; }

    // Connections held open, authenticated or not.
    std::size_t connectionCount() const { return connections_.size(); }
    std::size_t unauthenticatedCount() const;
    // Connections closed unheard since the start: over the limit, silent too long or
    // with a wrong secret.
    int turnedAway() const { return turnedAway_; }

    // Emitted when an authenticated connection closes (the client went away).
    lumo::Signal<> clientGone;

    static lumo::Logger& logger();

private:
    struct Connection {
        std::shared_ptr<lumo::TcpSocket> socket;
        std::string buffer;
        bool authenticated = false;
        int64_t acceptedAt = 0;
    };
    // Connections turned away and not yet logged, by reason.
    struct Unreported {
        int overLimit = 0;
        int silent = 0;
        int wrongSecret = 0;
        std::string lastPeer;
        int total() const { return overLimit + silent + wrongSecret; }
    };

    void onNewConnection();
    void onData(lumo::TcpSocket* socket, const std::string& bytes);
    void onDisconnected(lumo::TcpSocket* socket);
    // Runs the whole commands at the front of the buffer; false when the connection
    // carried an address the client never issued (it is then closed).
    bool runCommands(Connection& connection);
    // Closes a connection unheard and counts it under `reason`.
    void turnAway(lumo::TcpSocket& socket, int Unreported::*reason);
    // Logs the unreported connections unless a line went out less than a second ago.
    void report(int64_t now);
    // The sweep closes connections whose time is up; it runs while there are any
    // waiting for their secret or anything is left to report.
    void armSweep();
    void sweep();

    const std::string secret_;
    std::shared_ptr<CommandLedger> ledger_;
    const Limits limits_;
    std::shared_ptr<lumo::TcpServer> server_;
    std::map<lumo::TcpSocket*, Connection> connections_;
    uint16_t port_ = 0;
    bool closed_ = false;
    std::shared_ptr<lumo::Timer> sweepTimer_;
    int64_t lastSweep_ = 0;
    Unreported unreported_;
    bool reportedOnce_ = false;
    int64_t lastReport_ = 0;
    int turnedAway_ = 0;
};

// The calling side: one blocking loopback connection shared by every calling thread.
// Thread-safe: writes are serialised by a mutex; waiting happens outside it.
class CmdClient {
public:
    CmdClient(uint16_t port, std::string secret, std::shared_ptr<CommandLedger> ledger);
    ~CmdClient();
    CmdClient(const CmdClient&) = delete;
    CmdClient& operator=(const CmdClient&) = delete;

    // (Re)connects and authenticates; false with a log line on failure.
    bool connect();
    // Closes the connection for good: later calls fail without reconnecting.
    void shutdown();

    // Runs `fn` on the worker. A waited call returns after it ran; a posted one at once.
    // Returns false when the command could not be handed over (then `fn` never runs) or,
    // for a waited call, when the worker stopped before running it.
    bool call(std::function<void()> fn, bool waited);

    // Test seam: when set, call() invokes it on the calling thread just before it writes
    // a command (false) and just after the write succeeded (true), so a test can order
    // the writes of several threads. Null in the product.
    using WriteObserver = void (*)(bool written);
    static void setWriteObserver(WriteObserver observer);

    static lumo::Logger& logger();

private:
    bool connectLocked();
    void closeLocked();
    bool writeAllLocked(const char* data, std::size_t len);
    // Writes the command's address; one reconnect on failure. Under the write mutex.
    bool send(Runnable* command);

    const uint16_t port_;
    const std::string secret_;
    std::shared_ptr<CommandLedger> ledger_;
    std::mutex writeMutex_;
    int fd_ = -1;
    bool shutDown_ = false;
};

} // namespace internal
