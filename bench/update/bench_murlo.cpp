// N terminals (default 50) download one package of M MiB (default 20) at once from the
// file-transfer server on loopback, with RC4 (or in the clear with --plain), against
// a floor measured in the same run: one thread that, every 10 ms, RC4-encrypts the same
// chunk frames (in the clear with --plain) into one buffer and sends them on plain sockets to
// receivers that decode them the same way. Printed for each run:
//   - per-session throughput (mean and lowest) against the 6.55 MB/s that one 64 KiB
//     chunk per 10 ms allows (goal: at least 95%),
//   - CPU time of the server process against the floor's (goal: at most 1.5x),
//   - lateness of the pump's ticks, p50 and p99 (goal: p99 at most 2 ms).
// The receivers run in a child process forked before any thread exists, one thread
// per session, so their work is not counted as the server's.
//
//   bench_murlo [--sessions N] [--mib M] [--repeat R] [--plain]
#include "bench_result.h"
#include "murlo_client.h"
#include "update/kubbundle.h"
#include "update/murloserver.h"
#include "update/rc4rng.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QSocketNotifier>
#include <QTemporaryDir>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr double kAllowedRate = 65536.0 / 0.010; // bytes per second per session
const std::string kFloorKey(16, '\x3c');

double monotonicSeconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

double processCpuSeconds() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// ---- lines between the two processes ----

bool writeLine(int fd, const std::string& line) {
    const std::string l = line + "\n";
    return ::write(fd, l.data(), l.size()) == ssize_t(l.size());
}

bool readLine(int fd, std::string* line) {
    line->clear();
    char c;
    while (::read(fd, &c, 1) == 1) {
        if (c == '\n')
            return true;
        *line += c;
    }
    return false;
}

// ---- the receivers (child process) ----

struct Received {
    double seconds = 0;
    uint64_t bytes = 0;
    std::string error;
};

int connectTo(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Murlo sessions: handshake and login, then all ask for the package at once.
std::vector<Received> receiveMurlo(uint16_t port, int sessions, bool encrypt) {
    std::vector<Received> out(static_cast<size_t>(sessions));
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < sessions; ++i)
        threads.emplace_back([&, i] {
            Received& r = out[size_t(i)];
            simmurlo::Client c;
            c.setTimeout(60000);
            std::string why;
            const bool ok =
                c.connect("127.0.0.1", port, "", &why) && c.exchangeKey(encrypt ? 16 : 15) &&
                c.login(simmurlo::Identity{"B-" + std::to_string(i), "armv7", "speaker"});
            ++ready;
            while (!go)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (!ok) {
                r.error = "handshake: " + why + c.lastError();
                return;
            }
            const double start = monotonicSeconds();
            const simmurlo::Download d = c.download(1, {}, false);
            r.seconds = monotonicSeconds() - start;
            r.bytes = d.received;
            r.error = d.error;
        });
    while (ready < sessions)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    go = true;
    for (std::thread& t : threads)
        t.join();
    return out;
}

// Floor sessions: the same frames under a fixed key on plain sockets.
std::vector<Received> receiveFloor(uint16_t port, int sessions, uint64_t size, bool encrypt) {
    std::vector<Received> out(static_cast<size_t>(sessions));
    std::vector<std::thread> threads;
    for (int i = 0; i < sessions; ++i)
        threads.emplace_back([&, i] {
            Received& r = out[size_t(i)];
            const int fd = connectTo(port);
            if (fd < 0) {
                r.error = "connect failed";
                return;
            }
            simmurlo::Codec codec;
            if (encrypt)
                codec.setKey(kFloorKey);
            std::vector<char> buf(256 * 1024);
            double start = 0;
            while (r.bytes < size) {
                const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
                if (n <= 0) {
                    r.error = "closed early";
                    break;
                }
                if (start == 0)
                    start = monotonicSeconds();
                codec.feed(buf.data(), size_t(n));
                while (auto f = codec.next()) {
                    const auto chunk = simmurlo::parseChunk(f->body);
                    if (!chunk || chunk->offset != int64_t(r.bytes)) {
                        r.error = "bad frame";
                        break;
                    }
                    r.bytes += chunk->length;
                }
                if (!r.error.empty())
                    break;
            }
            // Started at the first byte: the floor's sender paces from when all connected.
            r.seconds = monotonicSeconds() - start;
            ::close(fd);
        });
    for (std::thread& t : threads)
        t.join();
    return out;
}

int childMain(int in, int out) {
    std::string line;
    while (readLine(in, &line)) {
        char what[16] = {};
        unsigned port = 0;
        int sessions = 0, encrypt = 1;
        unsigned long long size = 0;
        if (std::sscanf(line.c_str(), "%15s %u %d %llu %d", what, &port, &sessions, &size,
                        &encrypt) < 4)
            return 1;
        const std::vector<Received> got =
            std::string(what) == "murlo" ? receiveMurlo(uint16_t(port), sessions, encrypt)
                                         : receiveFloor(uint16_t(port), sessions, size, encrypt);
        for (const Received& r : got)
            writeLine(out, std::to_string(r.bytes) + " " + std::to_string(r.seconds) + " " +
                               (r.error.empty() ? "-" : r.error));
    }
    return 0;
}

// ---- the server side (parent process) ----

struct Phase {
    std::vector<Received> sessions;
    double cpu = 0;
    std::vector<double> lateness; // seconds
};

std::vector<Received> readResults(int in, int sessions) {
    std::vector<Received> out;
    std::string line;
    for (int i = 0; i < sessions && readLine(in, &line); ++i) {
        Received r;
        char err[256] = {};
        unsigned long long bytes = 0;
        std::sscanf(line.c_str(), "%llu %lf %255[^\n]", &bytes, &r.seconds, err);
        r.bytes = bytes;
        if (std::strcmp(err, "-") != 0)
            r.error = err;
        out.push_back(r);
    }
    return out;
}

// Mirrors how a precise Qt timer schedules: each tick is due one interval after the
// last due time, or one interval after now when it ran more than an interval late.
std::vector<double> tickLateness(const std::vector<double>& ticks, double interval) {
    std::vector<double> late;
    if (ticks.empty())
        return late;
    double due = ticks[0];
    for (double t : ticks) {
        late.push_back(std::max(0.0, t - due));
        due += interval;
        if (due < t)
            due = t + interval;
    }
    return late;
}

Phase runMurlo(KubBundle& bundle, quint16 port, int sessions, uint64_t size, bool encrypt,
               int toChild, int fromChild) {
    Phase p;
    std::vector<double> ticks;
    bundle.setPumpObserver([&] { ticks.push_back(monotonicSeconds()); });
    const double cpu0 = processCpuSeconds();
    writeLine(toChild, "murlo " + std::to_string(port) + " " + std::to_string(sessions) + " " +
                           std::to_string(size) + " " + (encrypt ? "1" : "0"));
    // The child answers when its last session is done; meanwhile the pump runs here,
    // in an event loop that sleeps between ticks as the program's does.
    {
        QEventLoop loop;
        QSocketNotifier answered(fromChild, QSocketNotifier::Read);
        QObject::connect(&answered, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
        loop.exec();
    }
    p.cpu = processCpuSeconds() - cpu0;
    p.sessions = readResults(fromChild, sessions);
    bundle.setPumpObserver({});
    // Only ticks while chunks were still due count.
    double last = 0;
    for (const Received& s : p.sessions)
        last = std::max(last, s.seconds);
    if (!ticks.empty()) {
        const double end = ticks.front() + last;
        std::vector<double> active;
        for (double t : ticks)
            if (t <= end)
                active.push_back(t);
        p.lateness = tickLateness(active, 0.010);
    }
    return p;
}

Phase runFloor(const QByteArray& package, int sessions, bool encrypt, int toChild, int fromChild) {
    Phase p;
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener, sessions);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    const double cpu0 = processCpuSeconds();
    writeLine(toChild, "floor " + std::to_string(ntohs(a.sin_port)) + " " +
                           std::to_string(sessions) + " " + std::to_string(package.size()) + " " +
                           (encrypt ? "1" : "0"));
    std::vector<int> fds;
    std::vector<std::unique_ptr<tesmo::RC4RNG>> rngs;
    for (int i = 0; i < sessions; ++i) {
        fds.push_back(::accept(listener, nullptr, nullptr));
        const int one = 1;
        setsockopt(fds.back(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        rngs.push_back(std::make_unique<tesmo::RC4RNG>(QByteArray::fromStdString(kFloorKey)));
    }
    std::vector<double> ticks;
    timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    QByteArray frame;
    for (qint64 offset = 0; offset < package.size(); offset += murlo::kChunkSize) {
        ticks.push_back(monotonicSeconds());
        const int n = int(std::min<qint64>(murlo::kChunkSize, package.size() - offset));
        const murlo::ChunkFrame around = murlo::chunkFrameAround(1, offset, n);
        const std::pair<const char*, qint64> pieces[] = {
            {around.head.constData(), around.head.size()},
            {package.constData() + offset, n},
            {around.tail.constData(), around.tail.size()}};
        frame.resize(around.head.size() + n + around.tail.size());
        for (int i = 0; i < sessions; ++i) {
            char* out = frame.data();
            for (const auto& p : pieces) {
                if (encrypt)
                    rngs[size_t(i)]->apply(p.first, out, size_t(p.second));
                else
                    std::memcpy(out, p.first, size_t(p.second));
                out += p.second;
            }
            for (qint64 done = 0; done < frame.size();) {
                const ssize_t w = ::send(fds[size_t(i)], frame.constData() + done,
                                         size_t(frame.size() - done), MSG_NOSIGNAL);
                if (w <= 0 && errno != EINTR)
                    break;
                done += std::max<ssize_t>(w, 0);
            }
        }
        next.tv_nsec += 10 * 1000 * 1000;
        if (next.tv_nsec >= 1000000000) {
            next.tv_nsec -= 1000000000;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    p.sessions = readResults(fromChild, sessions);
    p.cpu = processCpuSeconds() - cpu0;
    for (int fd : fds)
        ::close(fd);
    ::close(listener);
    p.lateness = tickLateness(ticks, 0.010);
    return p;
}

double percentile(std::vector<double> v, double q) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * double(v.size())))];
}

struct Rates {
    double mean = 0, lowest = 0;
    int failed = 0;
};

Rates rates(const Phase& p, uint64_t size) {
    Rates r;
    r.lowest = 1e30;
    for (const Received& s : p.sessions) {
        if (!s.error.empty() || s.bytes != size) {
            ++r.failed;
            std::fprintf(stderr, "session failed: %s (%llu bytes)\n", s.error.c_str(),
                         static_cast<unsigned long long>(s.bytes));
            continue;
        }
        const double rate = double(size) / s.seconds;
        r.mean += rate;
        r.lowest = std::min(r.lowest, rate);
    }
    const int ok = int(p.sessions.size()) - r.failed;
    r.mean = ok > 0 ? r.mean / ok : 0;
    if (ok == 0)
        r.lowest = 0;
    return r;
}

// Peak resident memory of this process in KiB.
long peakKiB() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

} // namespace

int main(int argc, char** argv) {
    int sessions = 50, mib = 20, repeat = 1;
    bool encrypt = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--sessions" && i + 1 < argc)
            sessions = std::atoi(argv[++i]);
        else if (a == "--mib" && i + 1 < argc)
            mib = std::atoi(argv[++i]);
        else if (a == "--repeat" && i + 1 < argc)
            repeat = std::atoi(argv[++i]);
        else if (a == "--plain")
            encrypt = false;
        else {
            std::fprintf(stderr,
                         "usage: bench_murlo [--sessions N] [--mib M] [--repeat R] [--plain]\n");
            return 2;
        }
    }
    sessions = std::max(1, std::min(sessions, MurloServer::kMaxSessions));

    // The receivers' process, forked while this one has a single thread.
    int down[2], up[2];
    if (pipe(down) != 0 || pipe(up) != 0)
        return 1;
    const pid_t child = fork();
    if (child == 0) {
        ::close(down[1]);
        ::close(up[0]);
        _exit(childMain(down[0], up[1]));
    }
    ::close(down[0]);
    ::close(up[1]);

    // Terminals closing after their download log a warning each; the figures are what counts.
    qputenv("QT_LOGGING_RULES", "*.debug=false;*.info=false;*.warning=false");
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QDir().mkpath(dir.path() + "/members");
    const uint64_t size = uint64_t(mib) * 1024 * 1024;
    QByteArray package(int(size), Qt::Uninitialized);
    quint32 x = 12345;
    for (char& c : package) {
        x = x * 1103515245u + 12345u;
        c = char(x >> 24);
    }
    {
        QFile f(dir.path() + "/members/big.bin");
        f.open(QIODevice::WriteOnly);
        f.write(package);
        QFile idx(dir.path() + "/members/index");
        idx.open(QIODevice::WriteOnly);
        idx.write("1,armv7,speaker,big,1.0,big.bin,benchmark package\n");
    }
    const QString tarPath = dir.path() + "/bench.tar";
    if (QProcess::execute("bash",
                          {MAKE_BUNDLE_SCRIPT, "bundle", tarPath, dir.path() + "/members"}) != 0)
        return 1;
    KubBundle bundle;
    QString error;
    if (!bundle.load(tarPath, &error)) {
        std::fprintf(stderr, "load: %s\n", error.toUtf8().constData());
        return 1;
    }
    MurloServer server(&bundle);
    emit server.priv()->start(0);
    while (server.serverPort() == 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);

    std::printf("bench_murlo: %d sessions x %d MiB, %s; allowed rate %.2f MB/s per session\n",
                sessions, mib, encrypt ? "RC4" : "in the clear", kAllowedRate / 1e6);
    std::vector<double> rateRatios, floorRatios, cpuRatios, p99s;
    for (int run = 1; run <= repeat; ++run) {
        const Phase m =
            runMurlo(bundle, server.serverPort(), sessions, size, encrypt, down[1], up[0]);
        const Phase f = runFloor(package, sessions, encrypt, down[1], up[0]);
        const Rates mr = rates(m, size), fr = rates(f, size);
        const double p99 = percentile(m.lateness, 0.99) * 1e3;
        std::printf("run %d/%d\n", run, repeat);
        std::printf("  server: per-session %.2f MB/s mean, %.2f lowest = %.1f%% of allowed "
                    "(goal >= 95%%), %d failed\n",
                    mr.mean / 1e6, mr.lowest / 1e6, 100 * mr.lowest / kAllowedRate, mr.failed);
        std::printf(
            "  floor:  per-session %.2f MB/s mean, %.2f lowest = %.1f%% of allowed, %d failed; "
            "server/floor mean rate %.2fx\n",
            fr.mean / 1e6, fr.lowest / 1e6, 100 * fr.lowest / kAllowedRate, fr.failed,
            fr.mean > 0 ? mr.mean / fr.mean : 0.0);
        std::printf("  cpu: server %.2f s, floor %.2f s, ratio %.2fx (goal <= 1.5x)\n", m.cpu,
                    f.cpu, f.cpu > 0 ? m.cpu / f.cpu : 0.0);
        std::printf("  pump tick lateness: p50 %.2f ms, p99 %.2f ms over %zu ticks (goal p99 <= "
                    "2 ms); floor loop p99 %.2f ms\n",
                    percentile(m.lateness, 0.5) * 1e3, p99, m.lateness.size(),
                    percentile(f.lateness, 0.99) * 1e3);
        std::fflush(stdout);
        rateRatios.push_back(mr.lowest / kAllowedRate);
        floorRatios.push_back(fr.mean > 0 ? mr.mean / fr.mean : 0);
        cpuRatios.push_back(f.cpu > 0 ? m.cpu / f.cpu : 0);
        p99s.push_back(p99);
    }
    const auto range = [](const std::vector<double>& v) {
        return std::make_pair(*std::min_element(v.begin(), v.end()),
                              *std::max_element(v.begin(), v.end()));
    };
    std::printf("over %d runs: lowest session rate %.1f%%..%.1f%% of allowed, rate against "
                "the floor %.2fx..%.2fx, cpu ratio %.2fx..%.2fx, pump p99 %.2f..%.2f ms; peak "
                "memory %ld KiB\n",
                repeat, 100 * range(rateRatios).first, 100 * range(rateRatios).second,
                range(floorRatios).first, range(floorRatios).second, range(cpuRatios).first,
                range(cpuRatios).second, range(p99s).first, range(p99s).second, peakKiB());
    // The summary takes the median run of each measure.
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const std::string shape = std::to_string(sessions) + " sessions x " + std::to_string(mib) +
                              " MiB" + (encrypt ? "" : " in the clear");
    bench::atLeast("lowest session rate / 6.55 MB/s a 10 ms 64 KiB pump allows (" + shape + ")",
                   median(rateRatios), 0.95);
    bench::result("mean session rate / plain RC4-and-send loop (" + shape + ")",
                  median(floorRatios));
    bench::atMost("server CPU / plain RC4-and-send loop CPU (" + shape + ")", median(cpuRatios),
                  1.5);
    bench::atMost("pump tick lateness p99 / 10 ms tick (" + shape + ")", median(p99s) / 10.0, 0.2);
    ::close(down[1]);
    int status = 0;
    waitpid(child, &status, 0);
    return 0;
}
