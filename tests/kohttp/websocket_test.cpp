// WebSocket frames over bytes and the heartbeat rule.
#include <kohttp/websocket.h>

#include "test_util.h"

#include <gtest/gtest.h>

using namespace kohttp;

namespace {

using kohttp_test::maskedFrame;

TEST(WsFrames, MaskedFramesInEveryCut) {
    const std::string big(300, 'z');
    const std::string bytes = maskedFrame(kWsText, "hello") + maskedFrame(kWsBinary, big, false) +
                              maskedFrame(kWsPing, "");
    for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
        // Only a prefix is buffered: frames inside it parse, the rest waits.
        std::string_view buf(bytes.data(), cut);
        std::vector<WsFrame> frames;
        WsFrame f;
        std::size_t size = 0;
        while (parseWsFrame(buf, 1024, &f, &size) == WsParse::Frame) {
            frames.push_back(f);
            buf.remove_prefix(size);
        }
        std::size_t expected = cut >= bytes.size() ? 3 : cut >= 11 + 308 ? 2 : cut >= 11 ? 1 : 0;
        ASSERT_EQ(frames.size(), expected) << cut;
        if (expected >= 1) {
            EXPECT_EQ(frames[0].payload, "hello");
            EXPECT_TRUE(frames[0].fin);
            EXPECT_EQ(frames[0].opcode, kWsText);
        }
        if (expected >= 2) {
            EXPECT_EQ(frames[1].payload, big);
            EXPECT_FALSE(frames[1].fin);
        }
        if (expected == 3) {
            EXPECT_EQ(frames[2].opcode, kWsPing);
        }
    }
}

TEST(WsFrames, OversizedPayloadIsRefusedBeforeItArrives) {
    std::string header = "\x82\x7f";
    header += std::string("\x00\x00\x00\x01\x00\x00\x00\x00", 8); // 4 GiB
    WsFrame f;
    std::size_t size = 0;
    EXPECT_EQ(parseWsFrame(header, 1 << 20, &f, &size), WsParse::TooLarge);
    std::string huge = "\x82\x7f\xff\xff\xff\xff\xff\xff\xff\xff"; // would wrap a size_t sum
    EXPECT_EQ(parseWsFrame(huge, 1 << 20, &f, &size), WsParse::TooLarge);
}

TEST(WsFrames, EncodingLengths) {
    EXPECT_EQ(encodeWsFrame(kWsPong, "abc"), std::string("\x8a\x03"
                                                         "abc"));
    std::string mid = encodeWsFrame(kWsText, std::string(126, 'a'));
    EXPECT_EQ(mid.substr(0, 4), std::string("\x81\x7e\x00\x7e", 4));
    std::string large = encodeWsFrame(kWsBinary, std::string(70000, 'a'));
    EXPECT_EQ(large.substr(0, 10), std::string("\x82\x7f\x00\x00\x00\x00\x00\x01\x11\x70", 10));
    // What is encoded parses back.
    WsFrame f;
    std::size_t size = 0;
    ASSERT_EQ(parseWsFrame(large, 1 << 20, &f, &size), WsParse::Frame);
    EXPECT_EQ(size, large.size());
    EXPECT_EQ(f.payload.size(), 70000u);
}

TEST(WsHeartbeatRule, Cases) {
    struct Case {
        std::int64_t now, ping, pong;
        WsHeartbeat action;
    };
    const std::int64_t t = 1'700'000'000'000;
    const Case cases[] = {
        {t, 0, 0, WsHeartbeat::Ping},        // never pinged
        {t + 1000, t, 0, WsHeartbeat::None}, // waiting for the pong
        {t + 3000, t, 0, WsHeartbeat::None},
        {t + 3001, t, 0, WsHeartbeat::Close},     // unanswered for over 3 s
        {t + 3001, t, t + 10, WsHeartbeat::None}, // answered
        {t + 30000, t, t + 10, WsHeartbeat::None},
        {t + 30001, t, t + 10, WsHeartbeat::Ping}, // next round
        {t + 30001, t, t - 5, WsHeartbeat::Close},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(wsHeartbeat(c.now, c.ping, c.pong), c.action) << c.now - t;
    }
}

} // namespace
