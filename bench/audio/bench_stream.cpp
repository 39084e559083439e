// Real-time streaming figures of the SDK: file sources (pelzo_src_imp, paced by FramePacer
// on a lumo loop) playing into contexts (pelzo_ctx_imp) that fan every packet out to their
// terminals, against a plain loop that decodes the same file with FFmpeg, encodes it with
// libopus and sends the same datagrams on a CLOCK_MONOTONIC 20 ms schedule. Both run in
// the same process, one after the other, each on its own thread.
//
// Figures: sender-thread CPU per stream-second (and as a share of one core), and packet
// lateness at the receivers against the ideal 20 ms schedule, p50/p99 and drift (the
// last packet's lateness minus the first's). Receivers are UDP sockets bound to port
// 21012 on 127.88.y.z; when the system allows it the program first moves into a network
// namespace of its own, so nothing else can see or disturb that traffic.
//
// Usage: bench_stream [--seconds N] [--repeat R] [--only NAME]
//   N seconds per run (default 5); R alternating plain/SDK pairs per case, median ratio;
//   NAME one case: 1, 10, 100, 1000 or 20ctx.
#include "bench_result.h"

#include "pelzo-sdk/pelzo-audio.h"
#include "pelzo-sdk/pelzo-wire.h"
#include "vo_pelzo_sdk_core/audio_reader.h"
#include "vo_pelzo_sdk_core/vo_pelzo_sdk_core.h"

#include <lumo/eventloop.h>
#include <lumo/logger.h>
#include <opus/opus.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int64_t kFrameNs = 20'000'000;
constexpr int kRate = 48000;
constexpr int kFrameSamples = kRate / 50;

int64_t monoNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

int64_t threadCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// Terminal i listens on 127.88.(i / 200).(i % 200 + 1), far from the 127.0.0.x of tests.
uint32_t terminalIp(int i) {
    return (127u << 24) | (88u << 16) | (uint32_t(i / 200) << 8) | uint32_t(i % 200 + 1);
}

// A private network namespace, its loopback up, and our own uid and gid mapped so that
// files stay usable. Only possible while the process has a single thread.
bool enterOwnNetwork() {
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
        return false;
    auto write = [](const char* path, const std::string& text) {
        std::ofstream f(path);
        f << text;
        return bool(f.flush());
    };
    write("/proc/self/setgroups", "deny");
    write("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1");
    write("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1");
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return false;
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
    ifr.ifr_flags = short(ifr.ifr_flags | IFF_UP);
    up = up && ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
    close(fd);
    return up;
}

// `seconds` of a chord with a little noise as 48 kHz stereo, made into an MP3 by ffmpeg.
std::string makeFixture(const std::filesystem::path& dir, double seconds) {
    std::string mp3 = (dir / "music.mp3").string();
    char expr[256];
    std::snprintf(expr, sizeof expr,
                  "aevalsrc=0.2*sin(2*PI*220*t)+0.15*sin(2*PI*277*t)+0.1*sin(2*PI*330*t)"
                  "+0.02*(random(0)-0.5):s=48000:c=stereo:d=%.1f",
                  seconds);
    std::string cmd = std::string("ffmpeg -nostdin -loglevel error -y -f lavfi -i '") + expr +
                      "' -ar 48000 " + mp3 + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0 ? mp3 : std::string();
}

// --- receivers --------------------------------------------------------------------------

// One socket per terminal; a thread stamps every datagram with CLOCK_MONOTONIC.
class Receivers {
public:
    explicit Receivers(int count) : arrivals_(size_t(count)) {
        epoll_ = epoll_create1(EPOLL_CLOEXEC);
        for (int i = 0; i < count; ++i) {
            const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            const int on = 1;
            setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(pelzo::kPelzoPort);
            a.sin_addr.s_addr = htonl(terminalIp(i));
            if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                std::perror("bind receiver");
                std::exit(1);
            }
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.u32 = uint32_t(i);
            epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev);
            fds_.push_back(fd);
            arrivals_[size_t(i)].reserve(4096);
        }
        thread_ = std::thread([this] { run(); });
    }
    ~Receivers() {
        stop();
        for (int fd : fds_)
            close(fd);
        close(epoll_);
    }
    void stop() {
        if (thread_.joinable()) {
            stop_ = true;
            thread_.join();
        }
    }
    const std::vector<std::vector<int64_t>>& arrivals() const { return arrivals_; }

private:
    void run() {
        constexpr int kBatch = 16;
        std::vector<epoll_event> events(256);
        char bufs[kBatch][2048];
        iovec iov[kBatch];
        mmsghdr msgs[kBatch];
        for (;;) {
            const int n = epoll_wait(epoll_, events.data(), int(events.size()), 20);
            if (n <= 0 && stop_)
                return;
            for (int e = 0; e < n; ++e) {
                const uint32_t t = events[size_t(e)].data.u32;
                for (;;) {
                    for (int k = 0; k < kBatch; ++k) {
                        iov[k] = {bufs[k], sizeof bufs[k]};
                        msgs[k] = {};
                        msgs[k].msg_hdr.msg_iov = &iov[k];
                        msgs[k].msg_hdr.msg_iovlen = 1;
                    }
                    const int got = recvmmsg(fds_[t], msgs, kBatch, MSG_DONTWAIT, nullptr);
                    const int64_t now = monoNs();
                    if (got <= 0)
                        break;
                    for (int k = 0; k < got; ++k)
                        arrivals_[t].push_back(now);
                }
            }
        }
    }

    int epoll_ = -1;
    std::vector<int> fds_;
    std::vector<std::vector<int64_t>> arrivals_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct Lateness {
    double p50Ms = 0, p99Ms = 0, driftMs = 0; // drift: the largest in magnitude
    double maxGapMs = 0;                      // between two packets of one terminal
    size_t received = 0;
};

// Per terminal: packet k is late by (arrival_k - 20 ms * k) minus the smallest such value,
// i.e. against the earliest 20 ms grid that no packet beats.
Lateness lateness(const std::vector<std::vector<int64_t>>& arrivals) {
    Lateness out;
    std::vector<int64_t> all;
    for (const auto& a : arrivals) {
        if (a.empty())
            continue;
        out.received += a.size();
        int64_t base = INT64_MAX;
        for (size_t k = 0; k < a.size(); ++k)
            base = std::min(base, a[k] - int64_t(k) * kFrameNs);
        for (size_t k = 0; k < a.size(); ++k)
            all.push_back(a[k] - int64_t(k) * kFrameNs - base);
        const double drift = double(all.back() - all[all.size() - a.size()]) / 1e6;
        for (size_t k = 1; k < a.size(); ++k)
            out.maxGapMs = std::max(out.maxGapMs, double(a[k] - a[k - 1]) / 1e6);
        if (std::fabs(drift) > std::fabs(out.driftMs))
            out.driftMs = drift;
    }
    if (all.empty())
        return out;
    std::sort(all.begin(), all.end());
    auto pct = [&](double p) { return double(all[size_t(p * double(all.size() - 1))]) / 1e6; };
    out.p50Ms = pct(0.50);
    out.p99Ms = pct(0.99);
    return out;
}

// --- the plain loop ---------------------------------------------------------------------

// FFmpeg decode to 48 kHz mono s16, libopus encode, the packet bytes written by hand.
class PlainStream {
public:
    explicit PlainStream(const std::string& file) {
        avformat_open_input(&fmt_, file.c_str(), nullptr, nullptr);
        avformat_find_stream_info(fmt_, nullptr);
        const AVCodec* codec = nullptr;
        si_ = av_find_best_stream(fmt_, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
        dec_ = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(dec_, fmt_->streams[si_]->codecpar);
        dec_->pkt_timebase = fmt_->streams[si_]->time_base;
        avcodec_open2(dec_, codec, nullptr);
        AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
        swr_alloc_set_opts2(&swr_, &mono, AV_SAMPLE_FMT_S16, kRate, &dec_->ch_layout,
                            dec_->sample_fmt, dec_->sample_rate, 0, nullptr);
        swr_init(swr_);
        int err = 0;
        enc_ = opus_encoder_create(kRate, 1, OPUS_APPLICATION_AUDIO, &err);
        pkt_ = av_packet_alloc();
        frame_ = av_frame_alloc();
        conv_.resize(16384);
    }
    ~PlainStream() {
        av_frame_free(&frame_);
        av_packet_free(&pkt_);
        opus_encoder_destroy(enc_);
        swr_free(&swr_);
        avcodec_free_context(&dec_);
        avformat_close_input(&fmt_);
    }
    PlainStream(const PlainStream&) = delete;
    PlainStream& operator=(const PlainStream&) = delete;

    // The next packet into `buf`; 0 at the end of the file.
    size_t next(uint8_t* buf) {
        while (pcm_.size() - off_ < size_t(kFrameSamples) && !eof_) {
            if (av_read_frame(fmt_, pkt_) < 0) {
                eof_ = true;
                break;
            }
            if (pkt_->stream_index == si_ && avcodec_send_packet(dec_, pkt_) >= 0) {
                while (avcodec_receive_frame(dec_, frame_) == 0) {
                    auto* o = reinterpret_cast<uint8_t*>(conv_.data());
                    const int n = swr_convert(swr_, &o, int(conv_.size()),
                                              const_cast<const uint8_t**>(frame_->extended_data),
                                              frame_->nb_samples);
                    pcm_.insert(pcm_.end(), conv_.begin(), conv_.begin() + std::max(n, 0));
                }
            }
            av_packet_unref(pkt_);
        }
        if (pcm_.size() - off_ < size_t(kFrameSamples))
            return 0;
        const int n = opus_encode(enc_, pcm_.data() + off_, kFrameSamples, buf + 9, 1024);
        off_ += size_t(kFrameSamples);
        if (off_ > 65536) {
            pcm_.erase(pcm_.begin(), pcm_.begin() + std::ptrdiff_t(off_));
            off_ = 0;
        }
        return n > 0 ? assemble(buf, size_t(n)) : 0;
    }

private:
    // Header, audio sub-header (priority 3, 48 kHz), frame field, jitters 4 and 10.
    static size_t assemble(uint8_t* buf, size_t frameSize) {
        uint8_t lenBytes[5];
        size_t nl = 0;
        for (size_t v = frameSize; nl == 0 || v; v >>= 7)
            lenBytes[nl++] = uint8_t((v & 0x7F) | (v >= 0x80 ? 0x80 : 0));
        // The frame was encoded at buf + 9, room for a two-byte length; a one-byte length
        // moves it down by one.
        uint8_t* p = buf + 6;
        *p++ = 0x06;
        std::memmove(p + nl, buf + 9, frameSize);
        std::memcpy(p, lenBytes, nl);
        p += nl + frameSize;
        *p++ = 0x08;
        *p++ = 4;
        *p++ = 0x0C;
        *p++ = 10;
        const size_t length = size_t(p - buf) - 3;
        buf[0] = 9;
        buf[1] = uint8_t(length >> 8);
        buf[2] = uint8_t(length);
        buf[3] = 0x37;
        buf[4] = 0x40;
        buf[5] = 0;
        return size_t(p - buf);
    }

    AVFormatContext* fmt_ = nullptr;
    AVCodecContext* dec_ = nullptr;
    SwrContext* swr_ = nullptr;
    OpusEncoder* enc_ = nullptr;
    AVPacket* pkt_ = nullptr;
    AVFrame* frame_ = nullptr;
    int si_ = -1;
    bool eof_ = false;
    std::vector<int16_t> conv_;
    std::vector<int16_t> pcm_;
    size_t off_ = 0;
};

struct SenderFigures {
    double cpuSec = 0, wallSec = 0;
    long frames = 0; // summed over the streams
};

// Streams s sends to terminals [s * perStream, (s + 1) * perStream).
SenderFigures runPlain(const std::vector<std::string>& files, int perStream, double seconds) {
    SenderFigures f;
    std::thread([&] {
        struct Out {
            std::unique_ptr<PlainStream> stream;
            int fd;
            std::vector<sockaddr_in> to;
        };
        std::vector<Out> outs;
        for (size_t s = 0; s < files.size(); ++s) {
            Out o{std::make_unique<PlainStream>(files[s]), socket(AF_INET, SOCK_DGRAM, 0), {}};
            sockaddr_in any{};
            any.sin_family = AF_INET;
            bind(o.fd, reinterpret_cast<sockaddr*>(&any), sizeof any);
            for (int t = 0; t < perStream; ++t) {
                sockaddr_in a{};
                a.sin_family = AF_INET;
                a.sin_port = htons(pelzo::kPelzoPort);
                a.sin_addr.s_addr = htonl(terminalIp(int(s) * perStream + t));
                o.to.push_back(a);
            }
            outs.push_back(std::move(o));
        }
        uint8_t buf[2048];
        const int64_t cpu0 = threadCpuNs(), start = monoNs();
        const int64_t end = start + int64_t(seconds * 1e9);
        for (int64_t next = start + kFrameNs; next <= end; next += kFrameNs) {
            timespec ts{time_t(next / 1'000'000'000), long(next % 1'000'000'000)};
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
            }
            for (Out& o : outs) {
                const size_t n = o.stream->next(buf);
                if (n == 0)
                    continue;
                ++f.frames;
                for (const sockaddr_in& a : o.to)
                    sendto(o.fd, buf, n, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&a),
                           sizeof a);
            }
        }
        f.cpuSec = double(threadCpuNs() - cpu0) / 1e9;
        f.wallSec = double(monoNs() - start) / 1e9;
        for (Out& o : outs)
            close(o.fd);
    }).join();
    return f;
}

// --- the SDK ----------------------------------------------------------------------------

SenderFigures runSdk(const std::vector<std::string>& files, int perStream, double seconds) {
    SenderFigures f;
    std::thread([&] {
        lumo::EventLoopImpl* loop = lumo::EventLoopImpl::current();
        std::vector<std::unique_ptr<pelzo_ctx_imp>> contexts;
        std::vector<std::unique_ptr<pelzo_src_imp>> sources;
        for (size_t s = 0; s < files.size(); ++s) {
            // As the C interface creates them: jitter 4 and 10, one frame per packet.
            auto ctx = std::make_unique<pelzo_ctx_imp>();
            ctx->setJitter(4, 10);
            ctx->setPackSize(1);
            for (int t = 0; t < perStream; ++t)
                ctx->addDevice(internal::dottedAddress(terminalIp(int(s) * perStream + t)), "");
            auto src = std::make_unique<pelzo_src_imp>();
            ctx->connectSource(src.get());
            src->frameReady.connect(nullptr, [&f](const void*, int) { ++f.frames; });
            contexts.push_back(std::move(ctx));
            sources.push_back(std::move(src));
        }
        for (size_t s = 0; s < sources.size(); ++s)
            sources[s]->openUrl(files[s]);
        const int64_t cpu0 = threadCpuNs(), start = monoNs();
        loop->singleShot(int(seconds * 1000), nullptr, [loop] { loop->quit(); });
        loop->exec();
        f.cpuSec = double(threadCpuNs() - cpu0) / 1e9;
        f.wallSec = double(monoNs() - start) / 1e9;
        contexts.clear();
        sources.clear();
        loop->processOnce();
    }).join();
    return f;
}

// The first packets of both paths, compared byte for byte.
bool sameDatagrams(const std::string& file, int count) {
    std::vector<std::string> sdk;
    {
        FileAudioReader reader(file, kRate);
        pelzo::PelzoAudioEncoder enc([&](const uint8_t* p, size_t n) {
            sdk.emplace_back(reinterpret_cast<const char*>(p), n);
        });
        enc.setJitter(4, 10);
        enc.setPackSize(1);
        for (int i = 0; i < count; ++i) {
            AudioFrame fr = reader.read(false);
            if (fr.empty())
                return false;
            enc.playFrame(fr.data, fr.size);
        }
    }
    PlainStream plain(file);
    uint8_t buf[2048];
    for (int i = 0; i < count; ++i) {
        const size_t n = plain.next(buf);
        if (size_t(i) >= sdk.size() ||
            sdk[size_t(i)] != std::string(reinterpret_cast<char*>(buf), n))
            return false;
    }
    return true;
}

struct Row {
    SenderFigures send;
    Lateness late;
};

template <typename Run>
Row measure(Run run, const std::vector<std::string>& files, int perStream, double seconds) {
    Receivers rx(int(files.size()) * perStream);
    Row r;
    r.send = run(files, perStream, seconds);
    // Let the last datagrams land.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    rx.stop();
    r.late = lateness(rx.arrivals());
    return r;
}

void printRow(const char* path, const Row& r, int perStream) {
    const double streamSec = double(r.send.frames) / 50.0;
    std::printf("  %-5s cpu %7.3f ms/stream-s  core %5.1f%%  lateness p50 %6.3f p99 %6.3f "
                "drift %+7.3f ms  max gap %6.3f ms  received %zu/%ld\n",
                path, r.send.cpuSec * 1e3 / streamSec, 100.0 * r.send.cpuSec / r.send.wallSec,
                r.late.p50Ms, r.late.p99Ms, r.late.driftMs, r.late.maxGapMs, r.late.received,
                r.send.frames * perStream);
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 5;
    std::string only;
    int repeat = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (a == "--only" && i + 1 < argc)
            only = argv[++i];
        else if (a == "--repeat" && i + 1 < argc)
            repeat = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr,
                         "usage: %s [--seconds N] [--repeat R] [--only 1|10|100|1000|20ctx]\n",
                         argv[0]);
            return 2;
        }
    }
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("tesmo-bench-stream-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    // Longer than the runs, so no stream ends early.
    const std::string file = makeFixture(dir, seconds + 2);
    if (file.empty()) {
        std::fprintf(stderr, "ffmpeg could not make the test file\n");
        return 1;
    }
    std::vector<std::string> twenty;
    for (int i = 0; i < 20; ++i) {
        twenty.push_back((dir / ("music" + std::to_string(i) + ".mp3")).string());
        std::filesystem::copy_file(file, twenty.back());
    }
    const bool own = enterOwnNetwork();
    lumo::Logger::defaultLogger().setLevel(lumo::Logger::Warn);
    av_log_set_level(AV_LOG_ERROR);

    double load[3] = {0, 0, 0};
    getloadavg(load, 3);
    std::printf("file: 48 kHz stereo MP3, %.0f s runs; network: %s; load average %.2f %.2f %.2f\n",
                seconds, own ? "own namespace" : "shared loopback", load[0], load[1], load[2]);
    std::printf("datagrams identical to the SDK's (first 200): %s\n",
                sameDatagrams(file, 200) ? "yes" : "NO");

    struct Case {
        const char* name;
        int streams, perStream;
    };
    const Case cases[] = {
        {"1", 1, 1}, {"10", 1, 10}, {"100", 1, 100}, {"20ctx", 20, 1}, {"1000", 1, 1000}};
    for (const Case& c : cases) {
        if (!only.empty() && only != c.name)
            continue;
        std::vector<std::string> files(twenty.begin(), twenty.begin() + c.streams);
        std::printf("%d context(s) x %d terminal(s):\n", c.streams, c.perStream);
        // Alternating pairs: a load change on the shared machine hits both paths alike.
        std::vector<double> ratios;
        for (int r = 0; r < repeat; ++r) {
            const Row plain = measure(runPlain, files, c.perStream, seconds);
            const Row sdk = measure(runSdk, files, c.perStream, seconds);
            printRow("plain", plain, c.perStream);
            printRow("sdk", sdk, c.perStream);
            const double ps = plain.send.cpuSec / double(plain.send.frames);
            const double ss = sdk.send.cpuSec / double(sdk.send.frames);
            ratios.push_back(ss / ps);
            std::printf("  ratio sdk/plain cpu per stream-second: %.3fx\n", ss / ps);
        }
        std::sort(ratios.begin(), ratios.end());
        std::printf("  median ratio of %d: %.3fx (goal <= 1.15x)\n", repeat,
                    ratios[ratios.size() / 2]);
        bench::atMost(std::string("sender cpu per stream-second, sdk / plain loop, ") +
                          std::to_string(c.streams) + " context(s) x " +
                          std::to_string(c.perStream) + " terminal(s)",
                      ratios[ratios.size() / 2], 1.15);
    }
    getloadavg(load, 3);
    std::printf("load average at the end %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    std::filesystem::remove_all(dir);
    return 0;
}
