// Helpers for the SDK's tests, which use the C interface as an embedding program does:
// loopback addresses for terminals, a recorder for the callbacks and
// a bare UDP listener that plays a terminal which only counts what it receives.
#pragma once

#include "netns.h"
#include "pelzo/pelzo_sdk.h"

#include <arpa/inet.h>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace sdktest {

// A fresh loopback address per call: terminal records live as long as the process, so
// no two cases share one. Inside a private network (netns::enterLoopbackOnly) the range
// starts at 127.0.1.2.
inline std::string nextAddress(bool privateNetwork) {
    static int next = 0;
    return netns::loopbackAddress(next++, privateNetwork, 1);
}

// One callback as it arrived.
struct Event {
    const void* handle = nullptr;
    std::string kind; // state, capture, in_volume, out_volume, frame, open, error, start, end
    std::string address;
    int value = 0;
    std::string text;
};

// Collects the callbacks of every context and source; waits for conditions on them.
class Recorder {
public:
    static Recorder& instance() {
        static Recorder recorder;
        return recorder;
    }

    void add(Event event) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(event));
        changed_.notify_all();
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.clear();
    }
    int count(const std::function<bool(const Event&)>& pred) const {
        std::lock_guard<std::mutex> lock(mutex_);
        int n = 0;
        for (const Event& e : events_)
            n += pred(e) ? 1 : 0;
        return n;
    }
    std::vector<Event> events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    // Blocks until `pred` holds for the recorded events; false when the guard expired
    // first (a failure, never a measurement).
    bool waitFor(const std::function<bool(const std::vector<Event>&)>& pred,
                 int guardMs = 20000) const {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(guardMs),
                                 [&] { return pred(events_); });
    }
    int countKind(const void* handle, const std::string& kind) const {
        return count([&](const Event& e) { return e.handle == handle && e.kind == kind; });
    }
    bool waitKind(const void* handle, const std::string& kind, int atLeast) const {
        return waitFor([&](const std::vector<Event>& events) {
            int n = 0;
            for (const Event& e : events)
                n += e.handle == handle && e.kind == kind ? 1 : 0;
            return n >= atLeast;
        });
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Event> events_;
};

extern "C" inline void recordState(pelzo_ctx* ctx, const char* address, int failed,
                                   const char* text) {
    Recorder::instance().add({ctx, "state", address, failed, text});
}
extern "C" inline void recordCapture(pelzo_ctx* ctx, const char*, int length) {
    Recorder::instance().add({ctx, "capture", "", length, ""});
}
extern "C" inline void recordInputVolume(pelzo_ctx* ctx, const char* address, int volume) {
    Recorder::instance().add({ctx, "in_volume", address, volume, ""});
}
extern "C" inline void recordOutputVolume(pelzo_ctx* ctx, const char* address, int volume) {
    Recorder::instance().add({ctx, "out_volume", address, volume, ""});
}
extern "C" inline void recordFrame(pelzo_src* src, const char*, int size) {
    Recorder::instance().add({src, "frame", "", size, ""});
}
extern "C" inline void recordError(pelzo_src* src, const char* text) {
    Recorder::instance().add({src, "error", "", 0, text});
}
extern "C" inline void recordOpen(pelzo_src* src) {
    Recorder::instance().add({src, "open", "", 0, ""});
}
extern "C" inline void recordStart(pelzo_src* src) {
    Recorder::instance().add({src, "start", "", 0, ""});
}
extern "C" inline void recordEnd(pelzo_src* src) {
    Recorder::instance().add({src, "end", "", 0, ""});
}

inline void recordAll(pelzo_ctx* ctx) {
    ctx->on_state = recordState;
    ctx->on_capture = recordCapture;
    ctx->on_input_volume = recordInputVolume;
    ctx->on_output_volume = recordOutputVolume;
}

inline void recordAll(pelzo_src* src) {
    src->on_frame = recordFrame;
    src->on_error = recordError;
    src->on_open = recordOpen;
    src->on_start = recordStart;
    src->on_end = recordEnd;
}

// A bare terminal: a UDP socket on the terminal port of `address` that keeps every
// datagram it receives. It never answers, so it stays logged out.
class UdpListener {
public:
    explicit UdpListener(const std::string& address, uint16_t port = 21012) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
        if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~UdpListener() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

    // Waits up to `guardMs` for one datagram; empty when none came.
    std::string receive(int guardMs = 10000) {
        timeval tv{guardMs / 1000, (guardMs % 1000) * 1000};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        char buf[4096];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    }
    // Every datagram already queued, without waiting.
    std::vector<std::string> drain() {
        std::vector<std::string> out;
        char buf[4096];
        for (;;) {
            const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
            if (n <= 0)
                return out;
            out.emplace_back(buf, static_cast<std::size_t>(n));
        }
    }

private:
    int fd_ = -1;
};

// Ports of the TCP sockets this process listens on at 127.0.0.1, read from /proc as any
// local program could.
inline std::set<uint16_t> loopbackListenPorts() {
    std::set<std::string> inodes;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (dirent* entry = ::readdir(dir)) {
            char target[128] = {};
            const std::string link = std::string("/proc/self/fd/") + entry->d_name;
            const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
            const std::string text(target, n > 0 ? static_cast<std::size_t>(n) : 0);
            if (text.rfind("socket:[", 0) == 0)
                inodes.insert(text.substr(8, text.size() - 9));
        }
        ::closedir(dir);
    }
    std::set<uint16_t> ports;
    std::ifstream table("/proc/self/net/tcp");
    std::string line;
    std::getline(table, line); // header
    while (std::getline(table, line)) {
        std::istringstream in(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        in >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
            timeout >> inode;
        if (state != "0A" || local.rfind("0100007F:", 0) != 0 || !inodes.count(inode))
            continue;
        ports.insert(static_cast<uint16_t>(std::stoul(local.substr(9), nullptr, 16)));
    }
    return ports;
}

} // namespace sdktest
