// What the HTTP benchmarks share (header only): wrk runs and a private nginx to measure
// against in the same run. The nginx has its own prefix directory,
// configuration, pid file and port, and is ended by the pid it was started
// with; nothing else on the machine is touched.
#pragma once

#include <arpa/inet.h>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace benchhttp {

struct WrkFigures {
    double requestsPerSec = 0;
    double bytesPerSec = 0; // "Transfer/sec"
    double p99Ms = -1;
    long errors = 0; // non-2xx answers, socket errors and time-outs
};

// One wrk run with latency figures; script is a Lua file or empty.
inline WrkFigures runWrk(const std::string& url, int seconds, int connections,
                         const std::string& script = "");

// A port nothing listens on at the moment, on host.
inline std::uint16_t freePort(const std::string& host);
// Waits until something accepts connections on host:port.
inline bool waitListening(const std::string& host, std::uint16_t port);

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

// ---- implementation ----

namespace detail {

inline sockaddr_in addressOf(const std::string& host, std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    ::inet_pton(AF_INET, host.c_str(), &addr.sin_addr);
    return addr;
}

inline double toMs(double value, const std::string& unit) {
    if (unit == "us") {
        return value / 1000;
    }
    if (unit == "s") {
        return value * 1000;
    }
    return value; // ms
}

inline double toBytes(double value, const std::string& unit) {
    if (unit == "KB") {
        return value * 1024;
    }
    if (unit == "MB") {
        return value * 1024 * 1024;
    }
    if (unit == "GB") {
        return value * 1024 * 1024 * 1024;
    }
    return value; // B
}

} // namespace detail

inline WrkFigures runWrk(const std::string& url, int seconds, int connections,
                         const std::string& script) {
    std::string cmd = "wrk -t1 -c" + std::to_string(connections) + " -d" + std::to_string(seconds) +
                      "s --latency " + (script.empty() ? "" : "-s " + script + " ") + url + " 2>&1";
    WrkFigures f;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) {
        return f;
    }
    char line[512];
    while (std::fgets(line, sizeof line, p)) {
        double value = 0;
        long a = 0, b = 0, c = 0, d = 0;
        char unit[8] = {};
        if (std::sscanf(line, " 99%% %lf%7s", &value, unit) == 2) {
            f.p99Ms = detail::toMs(value, unit);
        } else if (std::sscanf(line, "Requests/sec: %lf", &value) == 1) {
            f.requestsPerSec = value;
        } else if (std::sscanf(line, "Transfer/sec: %lf%7s", &value, unit) == 2) {
            f.bytesPerSec = detail::toBytes(value, unit);
        } else if (std::sscanf(line, " Non-2xx or 3xx responses: %ld", &a) == 1) {
            f.errors += a;
        } else if (std::sscanf(line,
                               " Socket errors: connect %ld, read %ld, write %ld, timeout %ld", &a,
                               &b, &c, &d) == 4) {
            f.errors += a + b + c + d;
        }
    }
    ::pclose(p);
    return f;
}

inline std::uint16_t freePort(const std::string& host) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = detail::addressOf(host, 0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

inline bool waitListening(const std::string& host, std::uint16_t port) {
    for (int i = 0; i < 200; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr = detail::addressOf(host, port);
        bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        ::close(fd);
        if (ok) {
            return true;
        }
        ::usleep(10000);
    }
    return false;
}

inline PrivateNginx::PrivateNginx() {
    char tmpl[] = "/tmp/bench-nginx-XXXXXX";
    dir_ = ::mkdtemp(tmpl) ? tmpl : "";
    if (!dir_.empty()) {
        std::filesystem::create_directory(dir_ + "/www");
    }
}

inline PrivateNginx::~PrivateNginx() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

inline bool PrivateNginx::start(const std::string& host, const std::string& server) {
    if (dir_.empty() || pid_ > 0) {
        return false;
    }
    port_ = freePort(host);
    std::ofstream conf(dir_ + "/nginx.conf");
    conf << "worker_processes 1;\ndaemon off;\nmaster_process off;\n"
         << "error_log " << dir_ << "/error.log;\npid " << dir_ << "/nginx.pid;\n"
         << "events { worker_connections 1024; }\n"
         << "http {\n  access_log off;\n"
         << "  client_body_temp_path " << dir_ << ";\n  proxy_temp_path " << dir_ << ";\n"
         << "  fastcgi_temp_path " << dir_ << ";\n  uwsgi_temp_path " << dir_ << ";\n"
         << "  scgi_temp_path " << dir_ << ";\n"
         << "  server {\n    listen " << host << ":" << port_ << ";\n"
         << "    root " << dir_ << "/www;\n"
         << server << "\n  }\n}\n";
    conf.close();
    pid_ = ::fork();
    if (pid_ == 0) {
        std::string c = dir_ + "/nginx.conf";
        ::execlp("nginx", "nginx", "-p", dir_.c_str(), "-c", c.c_str(),
                 static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    return pid_ > 0 && waitListening(host, port_);
}

} // namespace benchhttp
