// The manager's HTTP server (Qt sockets and the in-memory file server, as
// terminals reach them on port 18835) against a private nginx serving the
// same files from disk, both driven by the same wrk commands in one run:
// a 1 KB and a 1 MB file at 10 connections, and 64 KiB ranges at odd offsets
// of the 1 MB file (at 1 and at 10 connections). nginx's figures are the
// baseline; each round prints the ratios and their goals.
// Usage: bench_kohttp_qt [--seconds N] [--repeat R]
#include "bench_result.h"
#include "http_baseline.h"

#include "update/memoryfileserver.h"

#include <kohttp/qt/http_server.h>

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kHost = "127.0.0.1";
constexpr std::size_t kSmall = 1024;
constexpr std::size_t kLarge = 1 << 20;
constexpr std::size_t kRange = 64 * 1024;
constexpr double kRequestsGoal = 0.5;   // 1 KB: Qt / nginx requests per second
constexpr double kThroughputGoal = 0.8; // 1 MB: Qt / nginx bytes per second
constexpr double kRangeP99GoalMs = 5;   // any range answer, the delayed-ACK stall is 40 ms

std::string pattern(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<char>((i * 2654435761u) >> 13);
    }
    return data;
}

struct Round {
    benchhttp::WrkFigures qt[4], nginx[4];
};

const char* const kCaseNames[4] = {"1 KB file, 10 connections", "1 MB file, 10 connections",
                                   "64 KiB ranges, 1 connection", "64 KiB ranges, 10 connections"};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    int seconds = 3;
    int repeat = 1;
    for (int i = 1; i + 1 < argc; ++i) {
        std::string a = argv[i];
        if (a == "--seconds") {
            seconds = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--repeat") {
            repeat = std::max(1, std::atoi(argv[++i]));
        }
    }
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});

    const std::string small = pattern(kSmall), large = pattern(kLarge);
    MemoryFileServer files;
    files.addFile("/small.bin", "application/octet-stream", QByteArray::fromStdString(small));
    files.addFile("/large.bin", "application/octet-stream", QByteArray::fromStdString(large));
    kohttp::qt::HttpServer server;
    server.route(kohttp::kMethodGet, "/", &files);
    emit server.d()->start(QHostAddress(QString::fromStdString(kHost)), 0);
    if (!server.isListening()) {
        std::fprintf(stderr, "the Qt server did not start\n");
        return 1;
    }
    benchhttp::PrivateNginx nginx;
    std::ofstream(nginx.dir() + "/www/small.bin", std::ios::binary) << small;
    std::ofstream(nginx.dir() + "/www/large.bin", std::ios::binary) << large;
    if (!nginx.start(kHost, "    sendfile on;\n    location / { }")) {
        std::fprintf(stderr, "nginx baseline unavailable\n");
        bench::unavailable("1 KB requests/s, Qt server / nginx", bench::Goal::AtLeast,
                           kRequestsGoal);
        bench::unavailable("1 MB throughput, Qt server / nginx", bench::Goal::AtLeast,
                           kThroughputGoal);
        return 1;
    }
    const std::string script = nginx.dir() + "/ranges.lua";
    std::ofstream(script)
        << "math.randomseed(7)\n"
        << "request = function()\n"
        << "  local at = 2 * math.random(0, " << (kLarge - kRange) / 2 - 1 << ") + 1\n"
        << "  return wrk.format(\"GET\", \"/large.bin\", {[\"Range\"] = \"bytes=\" .. "
           "at .. \"-\" .. (at + "
        << kRange - 1 << ")})\n"
        << "end\n";

    std::vector<Round> rounds(static_cast<std::size_t>(repeat));
    std::thread driver([&] {
        auto url = [](std::uint16_t port, const char* path) {
            return "http://" + kHost + ":" + std::to_string(port) + path;
        };
        const std::uint16_t qtPort = server.port();
        for (Round& r : rounds) {
            // Alternating servers within each case, so both see the same load.
            const struct {
                const char* path;
                int connections;
                std::string script;
            } cases[4] = {{"/small.bin", 10, ""},
                          {"/large.bin", 10, ""},
                          {"/large.bin", 1, script},
                          {"/large.bin", 10, script}};
            for (int c = 0; c < 4; ++c) {
                r.qt[c] = benchhttp::runWrk(url(qtPort, cases[c].path), seconds,
                                            cases[c].connections, cases[c].script);
                r.nginx[c] = benchhttp::runWrk(url(nginx.port(), cases[c].path), seconds,
                                               cases[c].connections, cases[c].script);
            }
        }
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    app.exec();
    driver.join();

    std::printf("wrk -t1 -d%ds; baseline: nginx, one worker, no access log, sendfile, same files\n",
                seconds);
    std::vector<double> requestRatios, throughputRatios, rangeP99, rangeP99Ratios;
    bool errors = false;
    for (std::size_t i = 0; i < rounds.size(); ++i) {
        const Round& r = rounds[i];
        std::printf("round %zu\n", i + 1);
        for (int c = 0; c < 4; ++c) {
            std::printf("  %-30s qt %9.0f req/s %8.1f MB/s p99 %7.3f ms | nginx %9.0f req/s "
                        "%8.1f MB/s p99 %7.3f ms\n",
                        kCaseNames[c], r.qt[c].requestsPerSec, r.qt[c].bytesPerSec / 1048576,
                        r.qt[c].p99Ms, r.nginx[c].requestsPerSec, r.nginx[c].bytesPerSec / 1048576,
                        r.nginx[c].p99Ms);
            errors = errors || r.qt[c].errors > 0 || r.nginx[c].errors > 0 ||
                     r.qt[c].requestsPerSec <= 0 || r.nginx[c].requestsPerSec <= 0;
        }
        const double requests = r.qt[0].requestsPerSec / r.nginx[0].requestsPerSec;
        const double throughput = r.qt[1].bytesPerSec / r.nginx[1].bytesPerSec;
        const double p99 = std::max(r.qt[2].p99Ms, r.qt[3].p99Ms);
        const double nginxP99 = std::max(r.nginx[2].p99Ms, r.nginx[3].p99Ms);
        requestRatios.push_back(requests);
        throughputRatios.push_back(throughput);
        rangeP99.push_back(p99);
        rangeP99Ratios.push_back(p99 / nginxP99);
        std::printf("  ratio 1 KB requests/s (qt / nginx) %5.2fx (goal >= %.1fx)\n", requests,
                    kRequestsGoal);
        std::printf("  ratio 1 MB throughput (qt / nginx) %5.2fx (goal >= %.1fx)\n", throughput,
                    kThroughputGoal);
        std::printf("  qt range p99 %.3f ms, nginx %.3f ms in the same run (goal <= %.0f ms)\n",
                    p99, nginxP99, kRangeP99GoalMs);
    }
    const auto range = [](const std::vector<double>& v) {
        return std::make_pair(*std::min_element(v.begin(), v.end()),
                              *std::max_element(v.begin(), v.end()));
    };
    auto [rqLo, rqHi] = range(requestRatios);
    auto [tpLo, tpHi] = range(throughputRatios);
    auto [p99Lo, p99Hi] = range(rangeP99);
    std::printf("over %d round(s): 1 KB requests/s %.2f-%.2fx (median %.2fx, goal >= %.1fx); "
                "1 MB throughput %.2f-%.2fx (median %.2fx, goal >= %.1fx); range p99 %.3f-%.3f ms "
                "(goal <= %.0f ms)\n",
                repeat, rqLo, rqHi, median(requestRatios), kRequestsGoal, tpLo, tpHi,
                median(throughputRatios), kThroughputGoal, p99Lo, p99Hi, kRangeP99GoalMs);
    bench::atLeast("1 KB requests/s, Qt server / nginx (median of rounds)", median(requestRatios),
                   kRequestsGoal);
    bench::atLeast("1 MB throughput, Qt server / nginx (median of rounds)",
                   median(throughputRatios), kThroughputGoal);
    bench::result("64 KiB range p99, Qt server / nginx (median of rounds)", median(rangeP99Ratios));
    bench::atMost("64 KiB range p99, Qt server / the 5 ms goal (median of rounds)",
                  median(rangeP99) / kRangeP99GoalMs, 1.0);
    if (errors) {
        std::printf("some runs had errors or no answers\n");
        return 1;
    }
    return 0;
}
