// Throughput and latency of the HTTP server on the lumo loop against nginx,
// both driven by the same wrk command in the same run. nginx is started from
// a temporary configuration (one worker, no access log, loopback only) that
// answers the same body; its figures are the baseline of the ratio.
#include "bench_result.h"

#include <kohttp/loop/http_server.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

const std::string kBody = "Hello from the bench route!";

struct Figures {
    double requestsPerSec = 0;
    double p99Ms = -1;
};

std::uint16_t freePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

double toMs(double value, const std::string& unit) {
    if (unit == "us") {
        return value / 1000;
    }
    if (unit == "s") {
        return value * 1000;
    }
    return value; // ms
}

Figures runWrk(std::uint16_t port, int seconds, int connections) {
    std::string cmd = "wrk -t1 -c" + std::to_string(connections) + " -d" + std::to_string(seconds) +
                      "s --latency http://127.0.0.1:" + std::to_string(port) + "/bench 2>&1";
    Figures f;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) {
        return f;
    }
    char line[512];
    while (std::fgets(line, sizeof line, p)) {
        double value = 0;
        char unit[8] = {};
        if (std::sscanf(line, " 99%% %lf%7s", &value, unit) == 2) {
            f.p99Ms = toMs(value, unit);
        } else if (std::sscanf(line, "Requests/sec: %lf", &value) == 1) {
            f.requestsPerSec = value;
        }
    }
    ::pclose(p);
    return f;
}

// Starts nginx in the foreground as a child; returns its pid or -1.
pid_t startNginx(const std::string& dir, std::uint16_t port) {
    std::ofstream conf(dir + "/nginx.conf");
    conf << "worker_processes 1;\ndaemon off;\nmaster_process off;\n"
         << "error_log " << dir << "/error.log;\npid " << dir << "/nginx.pid;\n"
         << "events { worker_connections 1024; }\n"
         << "http {\n  access_log off;\n"
         << "  client_body_temp_path " << dir << ";\n  proxy_temp_path " << dir << ";\n"
         << "  fastcgi_temp_path " << dir << ";\n  uwsgi_temp_path " << dir << ";\n"
         << "  scgi_temp_path " << dir << ";\n"
         << "  server {\n    listen 127.0.0.1:" << port << ";\n"
         << "    location / { return 200 \"" << kBody << "\"; }\n  }\n}\n";
    conf.close();
    pid_t pid = ::fork();
    if (pid == 0) {
        std::string c = dir + "/nginx.conf";
        ::execlp("nginx", "nginx", "-p", dir.c_str(), "-c", c.c_str(), static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    return pid;
}

// Waits until something accepts connections on the port.
bool waitListening(std::uint16_t port) {
    for (int i = 0; i < 200; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        ::close(fd);
        if (ok) {
            return true;
        }
        ::usleep(10000);
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    int seconds = 3;
    int connections = 10;
    for (int i = 1; i + 1 < argc; ++i) {
        std::string a = argv[i];
        if (a == "--seconds") {
            seconds = std::atoi(argv[++i]);
        } else if (a == "--connections") {
            connections = std::atoi(argv[++i]);
        }
    }

    // The lumo server on a loop thread of its own.
    std::atomic<bool> stop{false};
    std::atomic<int> lumoPort{0};
    std::thread loopThread([&] {
        auto* loop = lumo::EventLoopImpl::current();
        kohttp::loop::HttpServer server;
        server.route(kohttp::kMethodGet, "/bench",
                     [](const kohttp::HttpEventPtr& e) { e->response().setBody(kBody); });
        std::string error;
        if (!server.listen("127.0.0.1", 0, &error)) {
            std::fprintf(stderr, "listen failed: %s\n", error.c_str());
            lumoPort = -1;
            return;
        }
        auto watch = loop->startTimer(50);
        watch->timeout.connect(nullptr, [&] {
            if (stop) {
                loop->quit();
            }
        });
        lumoPort = server.port();
        loop->exec();
        watch->stop();
    });
    while (lumoPort == 0) {
        ::usleep(1000);
    }
    if (lumoPort < 0) {
        loopThread.join();
        return 1;
    }

    char tmpl[] = "/tmp/bench-kohttp-XXXXXX";
    std::string dir = ::mkdtemp(tmpl) ? tmpl : "/tmp";
    std::uint16_t nginxPort = freePort();
    pid_t nginx = startNginx(dir, nginxPort);
    bool haveNginx = nginx > 0 && waitListening(nginxPort);

    Figures lumoFig = runWrk(static_cast<std::uint16_t>(lumoPort.load()), seconds, connections);
    Figures nginxFig;
    if (haveNginx) {
        nginxFig = runWrk(nginxPort, seconds, connections);
    }

    stop = true;
    loopThread.join();
    if (nginx > 0) {
        ::kill(nginx, SIGTERM);
        ::waitpid(nginx, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);

    std::printf("wrk -t1 -c%d -d%ds, body %zu bytes\n", connections, seconds, kBody.size());
    std::printf("kohttp on lumo: %10.0f req/s  p99 %.3f ms\n", lumoFig.requestsPerSec,
                lumoFig.p99Ms);
    if (!haveNginx || nginxFig.requestsPerSec <= 0) {
        std::printf("nginx baseline unavailable\n");
        bench::unavailable("requests/s, kohttp on lumo / nginx");
        bench::unavailable("p99 latency, kohttp on lumo / nginx");
        return 1;
    }
    std::printf("nginx baseline: %10.0f req/s  p99 %.3f ms\n", nginxFig.requestsPerSec,
                nginxFig.p99Ms);
    std::printf("ratio (kohttp / nginx): %.2fx requests/s, %.2fx p99\n",
                lumoFig.requestsPerSec / nginxFig.requestsPerSec, lumoFig.p99Ms / nginxFig.p99Ms);
    bench::result("requests/s, kohttp on lumo / nginx",
                  lumoFig.requestsPerSec / nginxFig.requestsPerSec);
    bench::result("p99 latency, kohttp on lumo / nginx", lumoFig.p99Ms / nginxFig.p99Ms);
    return 0;
}
