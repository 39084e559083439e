// Throughput and latency of the HTTP server on the lumo loop against nginx,
// both driven by the same wrk command in the same run. nginx is started from
// a temporary configuration (one worker, no access log, loopback only) that
// answers the same body; its figures are the baseline of the ratio.
#include "bench_result.h"
#include "http_baseline.h"

#include <kohttp/loop/http_server.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

const std::string kBody = "Hello from the bench route!";

const std::string kHost = "127.0.0.1";

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
        if (!server.listen(kHost, 0, &error)) {
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

    benchhttp::PrivateNginx nginx;
    bool haveNginx = nginx.start(kHost, "    location / { return 200 \"" + kBody + "\"; }");

    auto url = [](int port) { return "http://" + kHost + ":" + std::to_string(port) + "/bench"; };
    benchhttp::WrkFigures lumoFig = benchhttp::runWrk(url(lumoPort.load()), seconds, connections);
    benchhttp::WrkFigures nginxFig;
    if (haveNginx) {
        nginxFig = benchhttp::runWrk(url(nginx.port()), seconds, connections);
    }

    stop = true;
    loopThread.join();

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
