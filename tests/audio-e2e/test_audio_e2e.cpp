// A file streamed end to end: a source decodes and paces it, a context encodes and sends
// it over loopback UDP, and a simulated terminal records the Opus frames, which the test
// decodes with libopus and compares with the PCM that went in.
#include "../audio/audio_fixtures.h"
#include "../audio/fake_loop.h"

#include "pelzo-sdk/pelzo-ctx.h"
#include "pelzo_terminal.h"
#include "vo_pelzo_sdk_core/pelzo-src.h"

#include <lumo/eventloop.h>

#include <gtest/gtest.h>
#include <opus/opus.h>

#include <unistd.h>

#include <cmath>
#include <memory>

using namespace audio_fixtures;

namespace {

// A loopback address of this process alone, so port 21012 is free on it.
std::string ownLoopbackAddress() {
    const int pid = static_cast<int>(::getpid());
    return "127.61." + std::to_string(pid / 250 % 250) + "." + std::to_string(2 + pid % 250);
}

// SNR of `out` against `ref` with `out` delayed by `lag` samples, from sample `skip` on.
double snrDb(const std::vector<int16_t>& ref, const std::vector<int16_t>& out, size_t lag,
             size_t skip) {
    double signal = 0, noise = 0;
    for (size_t i = skip; i + lag < out.size() && i < ref.size(); ++i) {
        double d = static_cast<double>(out[i + lag]) - ref[i];
        signal += static_cast<double>(ref[i]) * ref[i];
        noise += d * d;
    }
    return 10 * std::log10(signal / std::max(noise, 1.0));
}

TEST(AudioEndToEnd, FileReachesTerminalIntact) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string wav = dir.file("tone.wav");
    // 1010 Hz puts 20.2 periods in a frame, so a lost, repeated or swapped frame shows as a
    // phase jump instead of lining up with the next period.
    const double kTone = 1010;
    ASSERT_TRUE(writeSineWav(wav, 44100, 2, 1.0, kTone, 0.5));

    simpelzo::TerminalConfig config;
    config.address = ownLoopbackAddress();
    config.heartbeatIntervalMs = 0;
    config.challengeIntervalMs = 0;
    simpelzo::Terminal terminal(config);
    std::string error;
    ASSERT_TRUE(terminal.open(error)) << error;
    simpelzo::TerminalRunner runner({&terminal});

    FakeLoop loop(1'750'000'000'000);
    {
        pelzo::PelzoContext ctx;
        ASSERT_TRUE(ctx.hasSocket());
        ASSERT_EQ(ctx.addDevice(config.address, ""), 0);
        ctx.setPackSize(1);

        std::string fed;
        auto* src = new pelzo_src_imp();
        src->frameReady.connect(&ctx, [&](const void* pcm, int size) {
            fed.append(static_cast<const char*>(pcm), static_cast<size_t>(size));
            ctx.playFrame(pcm, size);
        });
        ASSERT_EQ(src->openUrl(wav), 0);
        for (int i = 0; i < 60 && src->pacing(); ++i) {
            loop.pass(20);
        }
        EXPECT_FALSE(src->pacing());
        const size_t frames = fed.size() / 1920;
        EXPECT_GE(frames, 49u);
        ASSERT_TRUE(terminal.waitFor(
            [&](const simpelzo::TerminalState& s) { return s.opus.size() >= frames; }));
        src->destroy();
        loop.processOnce();

        simpelzo::TerminalState state = terminal.state();
        EXPECT_EQ(state.audioPackets, static_cast<int>(frames)); // pack size 1
        EXPECT_EQ(state.lastAudio.rateCode, 7);
        EXPECT_EQ(state.lastAudio.priority, 3);

        int err = 0;
        OpusDecoder* dec = opus_decoder_create(48000, 1, &err);
        ASSERT_EQ(err, OPUS_OK);
        std::vector<int16_t> decoded;
        std::vector<opus_int16> pcm(5760);
        for (const std::string& f : state.opus) {
            int n = opus_decode(dec, reinterpret_cast<const unsigned char*>(f.data()),
                                static_cast<opus_int32>(f.size()), pcm.data(), 5760, 0);
            ASSERT_EQ(n, 960);
            decoded.insert(decoded.end(), pcm.begin(), pcm.begin() + n);
        }
        opus_decoder_destroy(dec);
        // The decoded stream trails the input by the encoder's look-ahead.
        OpusEncoder* probe = opus_encoder_create(48000, 1, OPUS_APPLICATION_AUDIO, &err);
        opus_int32 lookahead = 0;
        opus_encoder_ctl(probe, OPUS_GET_LOOKAHEAD(&lookahead));
        opus_encoder_destroy(probe);

        std::vector<int16_t> reference = samplesOf(fed);
        ASSERT_EQ(decoded.size(), reference.size());
        // The tone survives: nearly all decoded power sits at its frequency.
        std::vector<int16_t> middle(decoded.begin() + 4800, decoded.end() - 4800);
        EXPECT_GT(toneShare(middle, 48000, kTone), 0.95);
        // Sample by sample the decoded wave follows the input: Opus at its default rate
        // keeps this tone about 15 dB above its coding error, while a single frame lost,
        // repeated or out of order turns the rest of the stream 72 degrees out of phase
        // and pulls the figure below 3 dB. 10 dB (a correlation of about 0.95) separates
        // the two with room on both sides.
        double snr = snrDb(reference, decoded, static_cast<size_t>(lookahead), 4800);
        EXPECT_GT(snr, 10.0);
    }
}

} // namespace
