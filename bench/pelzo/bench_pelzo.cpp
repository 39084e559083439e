// The audio packet path of a context at pack size 1 (one 160-byte Opus frame,
// jitter 4 and 10): the table-driven pakx encoding plus packet assembly,
// against hand-written code producing the same bytes. Also a challenge decode
// against a hand-written reader. Prints table/hand-written ratios.
#include "bench_result.h"

#include "pelzo-sdk/pelzo-messages.h"
#include "pelzo-sdk/pelzo-wire.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace {

const std::string& opusFrame() {
    static const std::string frame = [] {
        std::string f(160, '\0');
        for (size_t i = 0; i < f.size(); ++i)
            f[i] = static_cast<char>(i * 37);
        return f;
    }();
    return frame;
}

size_t tablePacket(uint8_t* buf, size_t cap) {
    pelzo::OpusAudioWrapper w;
    w.frames.push_back(opusFrame());
    w.jitter1 = 4;
    w.jitter2 = 10;
    return pelzo::assembleAudioPacket(buf, cap, 3, 7, w.encode());
}

// Knows the one layout it writes: small jitters, frames below 16 KiB.
size_t handPacket(uint8_t* buf, const std::string& frame, int jitter1, int jitter2) {
    uint8_t* p = buf + 6;
    *p++ = 0x06;
    size_t n = frame.size();
    while (n >= 0x80) {
        *p++ = static_cast<uint8_t>(n | 0x80);
        n >>= 7;
    }
    *p++ = static_cast<uint8_t>(n);
    std::memcpy(p, frame.data(), frame.size());
    p += frame.size();
    *p++ = 0x08;
    *p++ = static_cast<uint8_t>(jitter1);
    *p++ = 0x0C;
    *p++ = static_cast<uint8_t>(jitter2);
    const size_t length = static_cast<size_t>(p - buf) - 3;
    buf[0] = 9;
    buf[1] = static_cast<uint8_t>(length >> 8);
    buf[2] = static_cast<uint8_t>(length);
    buf[3] = 0x37;
    buf[4] = 0x40;
    buf[5] = 0;
    return static_cast<size_t>(p - buf);
}

const std::string& challengeBytes() {
    static const std::string bytes = [] {
        pelzo::PelzoChallenge c;
        c.seed = 3735928559u;
        c.serial = 4242;
        c.deviceId = "SIM-000123";
        return c.encode();
    }();
    return bytes;
}

bool handChallenge(const std::string& data, uint32_t& seed, uint16_t& serial,
                   std::string& deviceId) {
    size_t pos = 0;
    auto varint = [&] {
        uint64_t v = 0;
        for (unsigned shift = 0; pos < data.size(); shift += 7) {
            const auto b = static_cast<uint8_t>(data[pos++]);
            v |= uint64_t(b & 0x7F) << shift;
            if (!(b & 0x80))
                break;
        }
        return v;
    };
    while (pos < data.size()) {
        const auto key = static_cast<uint8_t>(data[pos++]);
        const uint64_t v = varint();
        if (key == 0x04)
            seed = static_cast<uint32_t>(v);
        else if (key == 0x08)
            serial = static_cast<uint16_t>(v);
        else if (key == 0x0E) {
            if (v > data.size() - pos)
                return false;
            deviceId.assign(data, pos, v);
            pos += v;
        }
    }
    return true;
}

void BM_AudioPacketTable(benchmark::State& state) {
    uint8_t buf[2048];
    for (auto _ : state)
        benchmark::DoNotOptimize(tablePacket(buf, sizeof buf));
}

void BM_AudioPacketHand(benchmark::State& state) {
    uint8_t buf[2048];
    for (auto _ : state) {
        // The same per-packet copy of the frame the table path makes.
        std::string frame = opusFrame();
        benchmark::DoNotOptimize(handPacket(buf, frame, 4, 10));
    }
}

void BM_ChallengeTable(benchmark::State& state) {
    for (auto _ : state) {
        pelzo::PelzoChallenge c;
        benchmark::DoNotOptimize(c.decode(challengeBytes()));
        benchmark::DoNotOptimize(c.deviceId.data());
    }
}

void BM_ChallengeHand(benchmark::State& state) {
    for (auto _ : state) {
        uint32_t seed = 0;
        uint16_t serial = 0;
        std::string deviceId;
        benchmark::DoNotOptimize(handChallenge(challengeBytes(), seed, serial, deviceId));
        benchmark::DoNotOptimize(deviceId.data());
    }
}

BENCHMARK(BM_AudioPacketTable);
BENCHMARK(BM_AudioPacketHand);
BENCHMARK(BM_ChallengeTable);
BENCHMARK(BM_ChallengeHand);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration)
                times[run.benchmark_name()] = run.GetAdjustedCPUTime();
    }
    std::map<std::string, double> times;
};

bool sameBytes() {
    uint8_t a[2048];
    uint8_t b[2048];
    const size_t na = tablePacket(a, sizeof a);
    const size_t nb = handPacket(b, opusFrame(), 4, 10);
    uint32_t seed = 0;
    uint16_t serial = 0;
    std::string id;
    pelzo::PelzoChallenge c;
    return na == nb && std::memcmp(a, b, na) == 0 &&
           handChallenge(challengeBytes(), seed, serial, id) && c.decode(challengeBytes()) &&
           c.seed == seed && c.serial == serial && c.deviceId == id;
}

} // namespace

int main(int argc, char** argv) {
    if (!sameBytes()) {
        std::fprintf(stderr, "bench_pelzo: the two ways disagree\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    auto ratio = [&](const char* table, const char* hand) {
        const double h = reporter.times[hand];
        return h > 0 ? reporter.times[table] / h : -1.0;
    };
    const double audio = ratio("BM_AudioPacketTable", "BM_AudioPacketHand");
    const double challenge = ratio("BM_ChallengeTable", "BM_ChallengeHand");
    std::printf("ratio audio packet table/hand-written: %.2f\n", audio);
    std::printf("ratio challenge decode table/hand-written: %.2f\n", challenge);
    bench::result("audio packet, field table / hand-written", audio);
    bench::result("challenge decode, field table / hand-written", challenge);
    return 0;
}
