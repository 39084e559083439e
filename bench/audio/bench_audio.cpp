// CPU cost per stream-second of the file-playback encoding path (FileAudioReader feeding
// PelzoAudioEncoder, which groups and assembles packets) against a plain loop that decodes
// the same file with FFmpeg and encodes it with libopus. Prints path / baseline.
#include "bench_result.h"

#include "pelzo-sdk/pelzo-audio.h"
#include "vo_pelzo_sdk_core/audio_reader.h"

#include <benchmark/benchmark.h>
#include <lumo/logger.h>
#include <opus/opus.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr double kSeconds = 10.0;
std::string g_file;

// Ten seconds of a chord with a little noise, as 44.1 kHz stereo, made into an MP3.
std::string makeFixture(const std::filesystem::path& dir) {
    std::string wav = (dir / "music.wav").string();
    const int rate = 44100, frames = static_cast<int>(rate * kSeconds);
    std::string data;
    uint32_t seed = 7;
    for (int i = 0; i < frames; ++i) {
        double t = static_cast<double>(i) / rate;
        seed = seed * 1664525u + 1013904223u;
        double v = 0.2 * std::sin(2 * M_PI * 220 * t) + 0.15 * std::sin(2 * M_PI * 277 * t) +
                   0.1 * std::sin(2 * M_PI * 330 * t) + 0.02 * ((seed >> 16) / 32768.0 - 1);
        auto s = static_cast<int16_t>(v * 32767);
        for (int c = 0; c < 2; ++c) {
            data.push_back(static_cast<char>(s & 0xFF));
            data.push_back(static_cast<char>((s >> 8) & 0xFF));
        }
    }
    auto le = [](uint32_t v, int n) {
        std::string o;
        for (int i = 0; i < n; ++i)
            o.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        return o;
    };
    std::ofstream f(wav, std::ios::binary);
    f << "RIFF" << le(36 + static_cast<uint32_t>(data.size()), 4) << "WAVEfmt " << le(16, 4)
      << le(1, 2) << le(2, 2) << le(rate, 4) << le(rate * 4, 4) << le(4, 2) << le(16, 2) << "data"
      << le(static_cast<uint32_t>(data.size()), 4) << data;
    f.close();
    std::string mp3 = (dir / "music.mp3").string();
    std::string cmd =
        "ffmpeg -nostdin -loglevel error -y -i " + wav + " " + mp3 + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0 ? mp3 : wav;
}

// The SDK path: reader frames into the context's encoder, packets to a counting sink.
void BM_SdkPath(benchmark::State& state) {
    size_t bytes = 0;
    for (auto _ : state) {
        FileAudioReader reader(g_file, 48000);
        pelzo::PelzoAudioEncoder enc([&](const uint8_t*, size_t n) { bytes += n; });
        enc.setPackSize(1);
        for (AudioFrame f = reader.read(false); !f.empty(); f = reader.read(false))
            enc.playFrame(f.data, f.size);
    }
    benchmark::DoNotOptimize(bytes);
}

// The baseline: FFmpeg decode and resample, libopus encode, nothing else.
void BM_PlainLoop(benchmark::State& state) {
    size_t bytes = 0;
    for (auto _ : state) {
        AVFormatContext* fmt = nullptr;
        avformat_open_input(&fmt, g_file.c_str(), nullptr, nullptr);
        avformat_find_stream_info(fmt, nullptr);
        const AVCodec* codec = nullptr;
        int si = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
        AVCodecContext* dec = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(dec, fmt->streams[si]->codecpar);
        dec->pkt_timebase = fmt->streams[si]->time_base;
        avcodec_open2(dec, codec, nullptr);
        SwrContext* swr = nullptr;
        AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
        swr_alloc_set_opts2(&swr, &mono, AV_SAMPLE_FMT_S16, 48000, &dec->ch_layout, dec->sample_fmt,
                            dec->sample_rate, 0, nullptr);
        swr_init(swr);
        int err = 0;
        OpusEncoder* enc = opus_encoder_create(48000, 1, OPUS_APPLICATION_AUDIO, &err);
        AVPacket* pkt = av_packet_alloc();
        AVFrame* frame = av_frame_alloc();
        std::vector<int16_t> pcm;
        std::vector<int16_t> conv(44100);
        unsigned char out[1024];
        while (av_read_frame(fmt, pkt) >= 0) {
            if (pkt->stream_index == si && avcodec_send_packet(dec, pkt) >= 0) {
                while (avcodec_receive_frame(dec, frame) == 0) {
                    auto* o = reinterpret_cast<uint8_t*>(conv.data());
                    int n = swr_convert(swr, &o, 44100,
                                        const_cast<const uint8_t**>(frame->extended_data),
                                        frame->nb_samples);
                    pcm.insert(pcm.end(), conv.begin(), conv.begin() + std::max(n, 0));
                }
            }
            av_packet_unref(pkt);
            size_t off = 0;
            for (; off + 960 <= pcm.size(); off += 960)
                bytes +=
                    static_cast<size_t>(opus_encode(enc, pcm.data() + off, 960, out, sizeof out));
            pcm.erase(pcm.begin(), pcm.begin() + static_cast<std::ptrdiff_t>(off));
        }
        av_frame_free(&frame);
        av_packet_free(&pkt);
        opus_encoder_destroy(enc);
        swr_free(&swr);
        avcodec_free_context(&dec);
        avformat_close_input(&fmt);
    }
    benchmark::DoNotOptimize(bytes);
}

BENCHMARK(BM_PlainLoop)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_SdkPath)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Console output plus the CPU time of every run, for the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(OO_None) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            cpu[r.run_name.function_name] = r.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> cpu;
};

} // namespace

int main(int argc, char** argv) {
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "tesmo-bench-audio";
    std::filesystem::create_directories(dir);
    g_file = makeFixture(dir);
    // The reader's "open" line would otherwise interleave with the table.
    lumo::Logger::defaultLogger().setLevel(lumo::Logger::Warn);
    av_log_set_level(AV_LOG_ERROR);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    double base = reporter.cpu["BM_PlainLoop"], sdk = reporter.cpu["BM_SdkPath"];
    if (base > 0 && sdk > 0) {
        std::printf("file: %s (%.0f s)\n", g_file.c_str(), kSeconds);
        std::printf("cpu ms per stream-second: sdk path %.3f, plain loop %.3f\n", sdk / kSeconds,
                    base / kSeconds);
        std::printf("ratio sdk/plain: %.3fx (goal <= 1.15x)\n", sdk / base);
        bench::atMost("cpu per stream-second, reader + encoder / plain FFmpeg + libopus",
                      sdk / base, 1.15);
    } else {
        bench::unavailable("cpu per stream-second, reader + encoder / plain FFmpeg + libopus",
                           bench::Goal::AtMost, 1.15);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
