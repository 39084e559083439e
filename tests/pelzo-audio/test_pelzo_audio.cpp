// PelzoAudioEncoder: Opus encoding, grouping into audio packets and packet assembly,
// checked by parsing every sent datagram and decoding its Opus frames.
#include "pelzo-sdk/pelzo-audio.h"
#include "pelzo-sdk/pelzo-messages.h"
#include "pelzo-sdk/pelzo-wire.h"

#include <gtest/gtest.h>
#include <opus/opus.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

using pelzo::PelzoAudioEncoder;

namespace {

// One audio packet as a terminal sees it.
struct Sent {
    std::string datagram;
    uint8_t byte3 = 0, byte4 = 0, byte5 = 0;
    pelzo::OpusAudioWrapper message;
    bool parsed = false;

    size_t frameBytes() const {
        size_t n = 0;
        for (const auto& f : message.frames)
            n += f.size();
        return n;
    }
};

Sent parseSent(const uint8_t* data, size_t size) {
    Sent s;
    s.datagram.assign(reinterpret_cast<const char*>(data), size);
    pelzo::PacketView view;
    if (pelzo::parsePacket(data, size, view) != pelzo::PacketCheck::Ok || view.type != 9 ||
        view.payloadLength < 3)
        return s;
    s.byte3 = view.payload[0];
    s.byte4 = view.payload[1];
    s.byte5 = view.payload[2];
    s.parsed = s.message.decode(view.payload + 3, view.payloadLength - 3);
    return s;
}

// Deterministic PCM frames: white noise (large Opus frames), a sine, or silence.
enum class Signal { Noise, Sine, Silence };

std::string pcmFrame(int bytes, Signal kind, uint32_t& seed) {
    std::string out(static_cast<size_t>(bytes), '\0');
    auto* s = reinterpret_cast<int16_t*>(out.data());
    for (int i = 0; i < bytes / 2; ++i) {
        seed = seed * 1664525u + 1013904223u;
        switch (kind) {
        case Signal::Noise:
            s[i] = static_cast<int16_t>(static_cast<int32_t>(seed >> 16) - 32768);
            break;
        case Signal::Sine:
            s[i] = static_cast<int16_t>(8000 * std::sin(i * 0.2));
            break;
        case Signal::Silence:
            s[i] = 0;
            break;
        }
    }
    return out;
}

class PelzoAudioTest : public ::testing::Test {
protected:
    PelzoAudioEncoder enc{
        [this](const uint8_t* data, size_t size) { sent.push_back(parseSent(data, size)); }};
    std::vector<Sent> sent;
    uint32_t seed = 1;

    void play(int bytes, Signal kind = Signal::Sine) {
        std::string f = pcmFrame(bytes, kind, seed);
        enc.playFrame(f.data(), static_cast<int>(f.size()));
    }
};

// Frame length → (rate, packets after each call, frames per packet, rate code).
struct GroupCase {
    const char* name;
    int packSize;
    std::vector<int> lengths;
    std::vector<size_t> packetsAfterEach;
    std::vector<std::pair<int, size_t>> packets; // (rate code, frame count)
};

class PelzoAudioGrouping : public PelzoAudioTest,
                           public ::testing::WithParamInterface<GroupCase> {};

TEST_P(PelzoAudioGrouping, GroupsFramesPerRate) {
    const GroupCase& c = GetParam();
    enc.setPackSize(c.packSize);
    std::vector<size_t> after;
    for (int len : c.lengths) {
        play(len);
        after.push_back(sent.size());
    }
    EXPECT_EQ(after, c.packetsAfterEach);
    ASSERT_EQ(sent.size(), c.packets.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        ASSERT_TRUE(sent[i].parsed) << i;
        EXPECT_EQ(sent[i].byte3, 0x30 | c.packets[i].first) << i;
        EXPECT_EQ(sent[i].byte4, 0x40);
        EXPECT_EQ(sent[i].byte5, 0x00);
        EXPECT_EQ(sent[i].message.frames.size(), c.packets[i].second) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PelzoAudioGrouping,
    ::testing::Values(
        GroupCase{"single48k", 1, {1920}, {1}, {{7, 1}}},
        GroupCase{"four16k", 4, {640, 640, 640, 640}, {0, 0, 0, 1}, {{2, 4}}},
        GroupCase{"interleaved", 2, {640, 1920, 640, 1920}, {0, 0, 1, 2}, {{2, 2}, {7, 2}}},
        GroupCase{
            "allRates", 1, {320, 640, 960, 1920}, {1, 2, 3, 4}, {{0, 1}, {2, 1}, {4, 1}, {7, 1}}},
        // Lengths off the table, and rates Opus has no mode for, are dropped.
        GroupCase{
            "unencodable", 1, {1000, 1280, 1640, 0, 1921, 1920}, {0, 0, 0, 0, 0, 1}, {{7, 1}}}),
    [](const ::testing::TestParamInfo<GroupCase>& i) { return i.param.name; });

// The Opus frames that leave are real 20 ms frames of their rate.
TEST_F(PelzoAudioTest, FramesDecodeAtTheirRate) {
    enc.setPackSize(1);
    play(640);
    play(1920);
    ASSERT_EQ(sent.size(), 2u);
    const int rates[] = {16000, 48000};
    for (size_t i = 0; i < 2; ++i) {
        int err = 0;
        OpusDecoder* dec = opus_decoder_create(rates[i], 1, &err);
        ASSERT_EQ(err, OPUS_OK);
        const std::string& f = sent[i].message.frames.at(0);
        std::vector<opus_int16> pcm(5760);
        int n = opus_decode(dec, reinterpret_cast<const unsigned char*>(f.data()),
                            static_cast<opus_int32>(f.size()), pcm.data(), 5760, 0);
        EXPECT_EQ(n, rates[i] / 50);
        opus_decoder_destroy(dec);
    }
}

// Frames of about 400 bytes with a large pack size: the 1400-byte limit closes each
// packet at three frames, and the fourth frame starts the next one.
TEST_F(PelzoAudioTest, LargeFramesGroupThreeToAPacket) {
    ASSERT_EQ(enc.setBitrate(160000), 0);
    // The encoder's first frame overshoots; the steady ones are about 400 bytes.
    enc.setPackSize(1);
    play(1920, Signal::Noise);
    sent.clear();
    enc.setPackSize(100);
    for (int i = 0; i < 12; ++i)
        play(1920, Signal::Noise);
    ASSERT_EQ(sent.size(), 3u);
    for (const Sent& s : sent) {
        ASSERT_TRUE(s.parsed);
        for (const auto& f : s.message.frames) {
            EXPECT_GT(f.size(), 350u);
            EXPECT_LT(f.size(), 467u);
        }
        EXPECT_EQ(s.message.frames.size(), 3u);
        EXPECT_LE(s.frameBytes(), PelzoAudioEncoder::kMaxPacketBytes);
    }
}

// Tiny frames (silence) with a huge pack size: the 1400-byte limit alone would let the
// message outgrow the 2048-byte packet, so packets close when the next frame would no
// longer fit, and nothing is lost on the way.
TEST_F(PelzoAudioTest, PacketsNeverExceedTheBuffer) {
    enc.setPackSize(100000);
    const int frames = 1500;
    for (int i = 0; i < frames; ++i)
        play(1920, Signal::Silence);
    ASSERT_GE(sent.size(), 2u);
    size_t total = 0;
    for (const Sent& s : sent) {
        ASSERT_TRUE(s.parsed);
        EXPECT_LE(s.datagram.size(), PelzoAudioEncoder::kPacketBufferBytes);
        // Full: another small frame would not have fitted.
        EXPECT_GT(s.datagram.size() + 2 * (s.message.frames.back().size() + 2),
                  PelzoAudioEncoder::kPacketBufferBytes - 12);
        total += s.message.frames.size();
    }
    EXPECT_LT(frames - static_cast<int>(total), 500);
    EXPECT_EQ(enc.framesSent(), static_cast<int>(total));
}

TEST_F(PelzoAudioTest, HeaderCarriesPriorityJitterAndLength) {
    enc.setPackSize(1);
    enc.setPriority(3);
    enc.setJitter(4, 10);
    play(1920);
    enc.setPriority(0x25); // only the low 4 bits travel
    enc.setJitter(-5, 0);
    play(320);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].byte3, 0x37);
    EXPECT_EQ(sent[0].message.jitter1, 4);
    EXPECT_EQ(sent[0].message.jitter2, 10);
    EXPECT_EQ(sent[1].byte3, 0x50);
    EXPECT_EQ(sent[1].message.jitter1, -5);
    EXPECT_EQ(sent[1].message.jitter2, 0);
    for (const Sent& s : sent) {
        const auto* d = reinterpret_cast<const uint8_t*>(s.datagram.data());
        EXPECT_EQ(d[0], 9);
        EXPECT_EQ(pelzo::readLength(d) + 3, s.datagram.size());
    }
}

TEST_F(PelzoAudioTest, BitrateRange) {
    struct {
        int value;
        int result;
        int stored;
    } cases[] = {{499, 1, -1}, {500, 0, 500}, {512000, 0, 512000}, {512001, 1, 512000},
                 {0, 0, 0},    {-5, 0, -1},   {64000, 0, 64000},   {-1, 0, -1}};
    for (const auto& c : cases) {
        EXPECT_EQ(enc.setBitrate(c.value), c.result) << c.value;
        EXPECT_EQ(enc.bitrate(), c.stored) << c.value;
    }
}

// A new bit rate reaches encoders that already exist; automatic restores the default.
TEST_F(PelzoAudioTest, BitrateChangesExistingEncoders) {
    enc.setPackSize(1);
    auto lastSize = [&] { return sent.back().message.frames.at(0).size(); };
    for (int i = 0; i < 5; ++i)
        play(1920, Signal::Noise);
    size_t automatic = lastSize();
    enc.setBitrate(8000);
    for (int i = 0; i < 5; ++i)
        play(1920, Signal::Noise);
    EXPECT_LT(lastSize(), 30u);
    enc.setBitrate(-1);
    for (int i = 0; i < 5; ++i)
        play(1920, Signal::Noise);
    EXPECT_GT(lastSize(), 3 * 30u);
    EXPECT_NEAR(static_cast<double>(lastSize()), static_cast<double>(automatic), automatic * 0.3);
}

TEST_F(PelzoAudioTest, BitrateSetAtCreationIsLogged) {
    enc.setPackSize(1);
    enc.setBitrate(24000);
    ::testing::internal::CaptureStdout();
    play(1920, Signal::Noise);
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("set bit rate 24000"), std::string::npos);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_LT(sent[0].message.frames[0].size(), 24000u / 8 / 50 + 20);
}

TEST_F(PelzoAudioTest, FramesSentCountsAndResets) {
    enc.setPackSize(3);
    for (int i = 0; i < 10; ++i)
        play(960);
    EXPECT_EQ(enc.framesSent(), 9);
    EXPECT_EQ(enc.takeFramesSent(), 9);
    EXPECT_EQ(enc.framesSent(), 0);
}

TEST_F(PelzoAudioTest, EmptyMessageIsLoggedNotSent) {
    pelzo::OpusAudioWrapper empty;
    ::testing::internal::CaptureStdout();
    enc.doSendAudioWrapper(48000, empty);
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("PelzoContext::do_send_audio_wrapper empty data"), std::string::npos);
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(enc.framesSent(), 0);
}

} // namespace
