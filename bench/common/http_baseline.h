// What the HTTP benchmarks share: wrk runs and a private nginx to measure
// against in the same run. The nginx has its own prefix directory,
// configuration, pid file and port, and is ended by the pid it was started
// with; nothing else on the machine is touched.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace benchhttp {

struct WrkFigures {
    double requestsPerSec = 0;
    double bytesPerSec = 0; // "Transfer/sec"
    double p99Ms = -1;
    long errors = 0; // non-2xx answers, socket errors and time-outs
};

// One wrk run with latency figures; script is a Lua file or empty.
WrkFigures runWrk(const std::string& url, int seconds, int connections,
                  const std::string& script = "");

// A port nothing listens on at the moment, on host.
std::uint16_t freePort(const std::string& host);
// Waits until something accepts connections on host:port.
bool waitListening(const std::string& host, std::uint16_t port);

class PrivateNginx {
public:
    PrivateNginx();
    ~PrivateNginx();
    PrivateNginx(const PrivateNginx&) = delete;
    PrivateNginx& operator=(const PrivateNginx&) = delete;

    // Its own directory: files to serve go below dir() + "/www".
    const std::string& dir() const { return dir_; }
    // One worker, no access log, listening on host and a free port; `server`
    // is the inside of the server block (locations). False when nginx does
    // not start.
    bool start(const std::string& host, const std::string& server);
    std::uint16_t port() const { return port_; }

private:
    std::string dir_;
    std::uint16_t port_ = 0;
    pid_t pid_ = -1;
};

} // namespace benchhttp
