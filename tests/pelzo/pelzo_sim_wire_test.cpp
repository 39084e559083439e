// The simulated terminal's own Pelzo codec against the same hand-written byte
// vectors as the SDK's, so both sides are pinned to the bytes, not to each other.
#include "byte_vectors.h"
#include "pelzo_wire.h"
#include "sim_md5.h"

#include <gtest/gtest.h>

using namespace simpelzo;

TEST(SimWire, GoldenFields) {
    std::string a;
    putInt(a, 1, 300);
    EXPECT_EQ(a, bytes({0x04, 0xAC, 0x02}));
    std::string b;
    putInt(b, 2, -5);
    EXPECT_EQ(b, bytes({0x09, 0x05}));
    std::string c;
    putBytes(c, 3, "abc");
    EXPECT_EQ(c, bytes({0x0E, 0x03, 0x61, 0x62, 0x63}));
}

TEST(SimWire, AudioPacketGolden) {
    const std::string frame60(60, '\x5A');
    const std::string payload = bytes({0x37, 0x40, 0x00, 0x06, 0x3C}) + frame60 +
                                bytes({0x06, 0x00, 0x08, 0x03, 0x0C, 0x0A});
    const std::string datagram = frame(kAudio, payload);
    ASSERT_EQ(datagram.size(), 3 + payload.size());

    Packet p;
    ASSERT_TRUE(unframe(reinterpret_cast<const uint8_t*>(datagram.data()), datagram.size(), p));
    AudioPayload audio;
    ASSERT_TRUE(decodeAudio(p.payload, audio));
    EXPECT_EQ(audio.priority, 3);
    EXPECT_EQ(audio.rateCode, 7);
    EXPECT_EQ(audio.frames, (std::vector<std::string>{frame60, ""}));
    EXPECT_EQ(audio.jitter1, 3);
    EXPECT_EQ(audio.jitter2, 10);
}

TEST(SimWire, Framing) {
    // A 200-byte message behind the audio sub-header: length 203.
    const std::string datagram = frame(kAudio, std::string(203, 'x'));
    EXPECT_EQ(datagram.substr(0, 3), bytes({0x09, 0x00, 0xCB}));
    EXPECT_EQ(datagram.size(), 206u);
    EXPECT_EQ(frame(0x84, "").size(), 3u);
    EXPECT_EQ(frame(kVolume, std::string(32767, 'v')).substr(0, 3), bytes({0x0B, 0x7F, 0xFF}));

    Packet p;
    const uint8_t lengthOne[3] = {0x0B, 0x00, 0x01};
    EXPECT_FALSE(unframe(lengthOne, 3, p));
    const uint8_t extraBit[4] = {0x24, 0x80, 0x01, 0x00};
    ASSERT_TRUE(unframe(extraBit, 4, p));
    EXPECT_EQ(p.type(), kHeartbeat);
}

TEST(SimWire, LoginMessages) {
    std::string token;
    ASSERT_TRUE(decodeLoginRequest(bytes({0x06, 0x02, 'a', 'b'}), token));
    EXPECT_EQ(token, "ab");
    EXPECT_FALSE(decodeLoginRequest(bytes({0x06, 0x05, 'a'}), token));
    EXPECT_FALSE(decodeLoginRequest(bytes({0x04, 0x05}), token));

    EXPECT_EQ(encodeLoginResponse(401, "no"), bytes({0x04, 0x91, 0x03, 0x0A, 0x02, 'n', 'o'}));
    EXPECT_EQ(encodeChallenge(1, 2, ""), bytes({0x04, 0x01, 0x08, 0x02}));
}

TEST(SimWire, Digest) {
    EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex("574213"), "3abb0fd5bf6e7b67bc61561efe1b5d15");
    EXPECT_EQ(md5Hex(std::string(1000, 'a')), "cabe45dcc9ae5b66ba86600cca6b8ba8");
    EXPECT_EQ(expectedToken(1, 2, "574213", ""), "84f5f9093e71e59c35018d383a64aad8");
    EXPECT_EQ(expectedToken(4294967295u, 65535, "secret", "DEV-0042"),
              "995047379942e3ec8a5e6f93027b3c90");
}
