// Pelzo wire format: header, fixed packets, pakx messages and the login digest,
// checked against byte vectors written out by hand.
#include "byte_vectors.h"
#include "pelzo-sdk/pakx.h"
#include "pelzo-sdk/pelzo-messages.h"
#include "pelzo-sdk/pelzo-wire.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace pelzo;

namespace {

// One field of every kind, numbered 1..6 in this order.
struct Sample : pakx::MessageOf<Sample> {
    int32_t one = 0;
    int32_t two = 0;
    std::string three;
    uint32_t four = 0;
    std::vector<std::string> five;
    uint16_t six = 0;

    static pakx::FieldTable describe() {
        return pakx::makeFieldTable(&Sample::one, &Sample::two, &Sample::three, &Sample::four,
                                    &Sample::five, &Sample::six);
    }
};

} // namespace

TEST(PakxEncode, GoldenFields) {
    Sample a;
    a.one = 300;
    EXPECT_EQ(a.encode(), bytes({0x04, 0xAC, 0x02}));

    Sample b;
    b.two = -5;
    EXPECT_EQ(b.encode(), bytes({0x09, 0x05}));

    Sample c;
    c.three = "abc";
    EXPECT_EQ(c.encode(), bytes({0x0E, 0x03, 0x61, 0x62, 0x63}));

    // Defaults are not written at all.
    EXPECT_EQ(Sample().encode(), "");
}

TEST(PakxEncode, FieldsInNumberOrderAndExtremes) {
    Sample m;
    m.six = 0xFFFF;
    m.five = {"", "x"};
    m.four = 0xFFFFFFFF;
    m.two = INT32_MIN;
    m.one = -1;
    EXPECT_EQ(m.encode(), bytes({0x05, 0x01,                         // one = -1
                                 0x09, 0x80, 0x80, 0x80, 0x80, 0x08, // two = -2^31
                                 0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F, // four
                                 0x16, 0x00, 0x16, 0x01, 'x',        // five, empty kept
                                 0x18, 0xFF, 0xFF, 0x03}));          // six

    Sample back;
    ASSERT_TRUE(back.decode(m.encode()));
    EXPECT_EQ(back.one, -1);
    EXPECT_EQ(back.two, INT32_MIN);
    EXPECT_EQ(back.four, 0xFFFFFFFFu);
    EXPECT_EQ(back.five, (std::vector<std::string>{"", "x"}));
    EXPECT_EQ(back.six, 0xFFFF);
}

TEST(PakxEncode, OpusAudioWrapperGolden) {
    OpusAudioWrapper w;
    const std::string frame(60, '\x5A');
    w.frames = {frame, ""};
    w.jitter1 = 3;
    w.jitter2 = 10;
    const std::string expected =
        bytes({0x06, 0x3C}) + frame + bytes({0x06, 0x00, 0x08, 0x03, 0x0C, 0x0A});
    EXPECT_EQ(w.encode(), expected);

    OpusAudioWrapper back;
    ASSERT_TRUE(back.decode(expected));
    EXPECT_EQ(back.frames, w.frames);
    EXPECT_EQ(back.jitter1, 3);
    EXPECT_EQ(back.jitter2, 10);
}

TEST(PakxDecode, LoginResponseDefaultsToAccepted) {
    PelzoLoginRes res;
    ASSERT_TRUE(res.decode(bytes({0x0A, 0x02, 'o', 'k'})));
    EXPECT_EQ(res.code, 200);
    EXPECT_EQ(res.message, "ok");

    PelzoLoginRes refused;
    ASSERT_TRUE(refused.decode(bytes({0x04, 0x91, 0x03, 0x0A, 0x03, 'b', 'a', 'd'})));
    EXPECT_EQ(refused.code, 401);
    EXPECT_EQ(refused.message, "bad");
}

TEST(PakxDecode, ChallengeFields) {
    PelzoChallenge c;
    ASSERT_TRUE(c.decode(bytes({0x04, 0x01, 0x08, 0x02, 0x0E, 0x02, 'D', '7'})));
    EXPECT_EQ(c.seed, 1u);
    EXPECT_EQ(c.serial, 2);
    EXPECT_EQ(c.deviceId, "D7");
}

struct DecodeCase {
    const char* name;
    std::string data;
    bool ok;
    int32_t one;
    int32_t two;
    std::string three;
    uint32_t four;
    size_t fiveCount;
};

class PakxDecodeTable : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(PakxDecodeTable, Reads) {
    const DecodeCase& c = GetParam();
    Sample m;
    EXPECT_EQ(m.decode(c.data), c.ok);
    if (!c.ok)
        return;
    EXPECT_EQ(m.one, c.one);
    EXPECT_EQ(m.two, c.two);
    EXPECT_EQ(m.three, c.three);
    EXPECT_EQ(m.four, c.four);
    EXPECT_EQ(m.five.size(), c.fiveCount);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PakxDecodeTable,
    ::testing::Values(
        DecodeCase{"empty", "", true, 0, 0, "", 0, 0},
        DecodeCase{"string_for_int_fails", bytes({0x06, 0x01, 'a'}), false, 0, 0, "", 0, 0},
        DecodeCase{"int_for_string_fails", bytes({0x0C, 0x05}), false, 0, 0, "", 0, 0},
        DecodeCase{"int_for_list_fails", bytes({0x14, 0x05}), false, 0, 0, "", 0, 0},
        DecodeCase{"length_past_end_fails", bytes({0x0E, 0x04, 'a', 'b', 'c'}), false, 0, 0, "", 0,
                   0},
        DecodeCase{"length_over_32_bits_fails", bytes({0x0E, 0x80, 0x80, 0x80, 0x80, 0x10, 'a'}),
                   false, 0, 0, "", 0, 0},
        DecodeCase{"unknown_string_past_end_fails", bytes({0xFE, 0x05, 'a'}), false, 0, 0, "", 0,
                   0},
        DecodeCase{"unknown_number_zero_skipped", bytes({0x02, 0x01, 'z', 0x04, 0x07}), true, 7, 0,
                   "", 0, 0},
        DecodeCase{"unknown_high_field_skipped", bytes({0xFC, 0x7F, 0xFE, 0x00, 0x0E, 0x01, 'q'}),
                   true, 0, 0, "q", 0, 0},
        DecodeCase{"wire_type_3_is_bytes", bytes({0x0F, 0x02, 'h', 'i'}), true, 0, 0, "hi", 0, 0},
        DecodeCase{"negative_into_unsigned_keeps_magnitude", bytes({0x11, 0x09}), true, 0, 0, "", 9,
                   0},
        DecodeCase{"positive_wire_for_signed", bytes({0x08, 0x09}), true, 0, 9, "", 0, 0},
        DecodeCase{"low_32_bits_kept", bytes({0x04, 0x87, 0x80, 0x80, 0x80, 0x10}), true, 7, 0, "",
                   0, 0},
        DecodeCase{"varint_cut_at_end", bytes({0x04, 0x85}), true, 5, 0, "", 0, 0},
        DecodeCase{"key_at_end_reads_zero", bytes({0x04, 0x2A, 0x04}), true, 0, 0, "", 0, 0},
        DecodeCase{"overlong_varint",
                   bytes({0x04, 0x81, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
                          0x80, 0x00}),
                   true, 1, 0, "", 0, 0},
        DecodeCase{"repeated_appends", bytes({0x16, 0x00, 0x16, 0x01, 'a', 0x16, 0x00}), true, 0, 0,
                   "", 0, 3},
        DecodeCase{"last_scalar_wins", bytes({0x0E, 0x01, 'a', 0x0E, 0x01, 'b'}), true, 0, 0, "b",
                   0, 0}),
    [](const ::testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.name); });

TEST(PelzoHeader, BuildAndRead) {
    // Type 9 with a 200-byte message: length 203, datagram of 206 bytes.
    const std::string message(200, '\x11');
    uint8_t buf[2048];
    const size_t n = assembleAudioPacket(buf, sizeof buf, 3, 7, message);
    ASSERT_EQ(n, 206u);
    EXPECT_EQ(bytes({buf[0], buf[1], buf[2], buf[3], buf[4], buf[5]}),
              bytes({0x09, 0x00, 0xCB, 0x37, 0x40, 0x00}));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf) + 6, 200), message);

    // The largest length; the extra bit is not part of it.
    const Header max = buildHeader(kVolume, 32767);
    EXPECT_EQ(max, (Header{0x0B, 0x7F, 0xFF}));
    const Header extra = buildReplyHeader(kHeartbeat, 32767, true);
    EXPECT_EQ(extra, (Header{0x84, 0xFF, 0xFF}));
    EXPECT_EQ(readLength(extra.data()), 32767u);
    EXPECT_EQ(readType(extra.data()), kHeartbeat);
    const uint8_t flagged[3] = {0x64, 0x00, 0x00}; // bits 5 and 6 set
    EXPECT_EQ(readType(flagged), kHeartbeat);
}

TEST(PelzoHeader, AudioPacketThatDoesNotFitIsRefused) {
    uint8_t buf[2048];
    EXPECT_EQ(assembleAudioPacket(buf, sizeof buf, 3, 7, std::string(2042, 'a')), 2048u);
    EXPECT_EQ(assembleAudioPacket(buf, sizeof buf, 3, 7, std::string(2043, 'a')), 0u);
    // Priority keeps its low 4 bits only.
    ASSERT_EQ(assembleAudioPacket(buf, sizeof buf, 0x1A, 2, "m"), 7u);
    EXPECT_EQ(buf[3], 0xA2);
}

TEST(PelzoHeader, FixedPackets) {
    EXPECT_EQ(heartbeatReply(), bytes({0x84, 0x00, 0x00}));
    EXPECT_EQ(stopCapturePacket(), bytes({0x03, 0x00, 0x00}));
    EXPECT_EQ(startCapturePacket(sampleRateCode(16000)), bytes({0x02, 0x00, 0x01, 0x02}));
    EXPECT_EQ(volumePacket(55, kOutputVolume), bytes({0x0B, 0x00, 0x02, 55, 1}));
    EXPECT_EQ(volumePacket(0, kInputVolume), bytes({0x0B, 0x00, 0x02, 0, 0}));
    PelzoLoginReq req;
    req.token = "t";
    EXPECT_EQ(buildPacket(kLogin, req.encode()), bytes({0x0F, 0x00, 0x03, 0x06, 0x01, 't'}));
}

TEST(PelzoPacket, Checks) {
    PacketView v;
    const std::string shortOne = bytes({0x04, 0x00});
    EXPECT_EQ(parsePacket(reinterpret_cast<const uint8_t*>(shortOne.data()), shortOne.size(), v),
              PacketCheck::TooShort);

    // Three bytes that announce one payload byte.
    const std::string announced = bytes({0x0B, 0x00, 0x01});
    EXPECT_EQ(parsePacket(reinterpret_cast<const uint8_t*>(announced.data()), 3, v),
              PacketCheck::LengthMismatch);
    const std::string longer = bytes({0x04, 0x00, 0x00, 0x00});
    EXPECT_EQ(parsePacket(reinterpret_cast<const uint8_t*>(longer.data()), 4, v),
              PacketCheck::LengthMismatch);

    const std::string beat = bytes({0x24, 0x00, 0x01, 0x7F});
    ASSERT_EQ(parsePacket(reinterpret_cast<const uint8_t*>(beat.data()), beat.size(), v),
              PacketCheck::Ok);
    EXPECT_EQ(v.type, kHeartbeat);
    EXPECT_TRUE(v.capturing);
    ASSERT_EQ(v.payloadLength, 1u);
    EXPECT_EQ(v.payload[0], 0x7F);
}

TEST(PelzoRates, Codes) {
    const std::pair<int, int> table[] = {{8000, 0},   {12000, 1}, {16000, 2}, {22050, 3},
                                         {24000, 4},  {32000, 5}, {44100, 6}, {48000, 7},
                                         {11025, 15}, {0, 15},    {-1, 15},   {96000, 15}};
    for (const auto& [rate, code] : table)
        EXPECT_EQ(sampleRateCode(rate), code) << rate;
}

TEST(PelzoLogin, DigestVectors) {
    // md5("574213") = 3abb0fd5bf6e7b67bc61561efe1b5d15
    PelzoChallenge plain;
    plain.seed = 1;
    plain.serial = 2;
    EXPECT_EQ(loginToken(plain, "574213"), "84f5f9093e71e59c35018d383a64aad8");

    PelzoChallenge withId;
    withId.seed = 4294967295u;
    withId.serial = 65535;
    withId.deviceId = "DEV-0042";
    EXPECT_EQ(loginToken(withId, "secret"), "995047379942e3ec8a5e6f93027b3c90");
}

// Random bytes never make a decoder read past its input (checked under the
// sanitizers), and whatever decodes re-encodes to something that decodes to
// the same fields.
TEST(PakxDecode, ArbitraryBytesRoundTrip) {
    std::mt19937 random(20260607);
    int decoded = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string data(random() % 24, '\0');
        for (char& c : data)
            c = static_cast<char>(random());
        // Keep the data exactly as long as itself: a heap copy of that size.
        const std::vector<uint8_t> heap(data.begin(), data.end());

        OpusAudioWrapper w;
        if (w.decode(heap.data(), heap.size())) {
            ++decoded;
            OpusAudioWrapper again;
            ASSERT_TRUE(again.decode(w.encode()));
            EXPECT_EQ(again.frames, w.frames);
            EXPECT_EQ(again.jitter1, w.jitter1);
            EXPECT_EQ(again.jitter2, w.jitter2);
        }
        PelzoChallenge c;
        c.decode(heap.data(), heap.size());
        PelzoLoginRes r;
        r.decode(heap.data(), heap.size());

        PacketView v;
        if (parsePacket(heap.data(), heap.size(), v) == PacketCheck::Ok) {
            EXPECT_EQ(v.payload + v.payloadLength, heap.data() + heap.size());
        }
    }
    EXPECT_GT(decoded, 0);
}
