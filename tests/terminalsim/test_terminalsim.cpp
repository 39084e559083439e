// The simulator's own datagram code against fixed byte vectors, so that it and the
// manager are checked against the same bytes from two independent sides.
#include "datagram.h"
#include "datagram_service.h"
#include "terminal.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace sim;

namespace {

std::string scanRequestAny() {
    std::string bytes("\x76\x69\x00\x01\x00\x01\x00\x51", 8);
    bytes.append(68, '\0');
    bytes += "config_key=bcast-client/server.ip;config_key=bcast-client/server.port;feature=any";
    return bytes;
}

std::string text(const KeyValues& pairs) {
    std::string out;
    for (const auto& kv : pairs)
        out += "[" + kv.first + "|" + kv.second + "]";
    return out;
}

} // namespace

TEST(SimDatagram, DecodesTheScanRequestOfAllTerminals) {
    const std::string bytes = scanRequestAny();
    ASSERT_EQ(bytes.size(), 157u);
    Datagram d;
    std::string why;
    ASSERT_TRUE(decode(bytes.data(), bytes.size(), &d, &why)) << why;
    EXPECT_EQ(d.code, 0x00);
    EXPECT_EQ(d.fixed3, 0x01);
    EXPECT_EQ(d.fixed4, 1);
    EXPECT_EQ(d.targetHwAddr, "");
    EXPECT_EQ(d.targetDevId, "");
    EXPECT_EQ(d.values("config_key"),
              std::vector<std::string>({"bcast-client/server.ip", "bcast-client/server.port"}));
    EXPECT_EQ(d.values("feature"), std::vector<std::string>({"any"}));
    // Encoding the same request gives the same bytes back.
    EXPECT_EQ(encode(d), bytes);
}

TEST(SimDatagram, EncodesAReplyByteExact) {
    Datagram d;
    d.code = 0x01;
    d.targetHwAddr = "00:11:22:33:44:55:66:77"; // longer than its field: cut to 19
    d.targetDevId = "T1";
    d.pairs = {{"DEV_ID", "T1"}, {"DEV_NAME", "大厅"}};
    std::string want("\x76\x69\x01\x01\x00\x01\x00\x19", 8);
    want += std::string("00:11:22:33:44:55:6") + '\0';
    want += std::string("T1") + std::string(14, '\0');
    want.append(32, '\0');
    want += "DEV_ID=T1;DEV_NAME=大厅";
    EXPECT_EQ(encode(d), want);
}

TEST(SimDatagram, RejectsMalformedDatagrams) {
    const std::string good = scanRequestAny();
    std::string wrongMagic = good;
    wrongMagic[1] = 'x';
    const struct {
        std::string bytes;
        const char* why;
    } cases[] = {
        {good.substr(0, 75), "shorter than the header"},
        {wrongMagic, "wrong magic"},
        {good + "x", "payload length does not match"},
        {good.substr(0, 156), "payload length does not match"},
    };
    for (const auto& c : cases) {
        Datagram d;
        std::string why;
        EXPECT_FALSE(decode(c.bytes.data(), c.bytes.size(), &d, &why));
        EXPECT_EQ(why, c.why);
    }
}

TEST(SimDatagram, PayloadGrammar) {
    const struct {
        const char* payload;
        const char* pairs;
    } cases[] = {
        {" A = b c ;B=1", "[A|b c][B|1]"},
        {"K=;L=2", "[K|][L|2]"},
        {"K=", ""},
        {"K;L=2", "[K|][L|2]"},
        {"A=1\n", "[A|1\n]"},
        {"WIFI_PWD=a=b", "[WIFI_PWD|a=b]"},
        {"A=1;;B=2;", "[A|1][B|2]"},
        {"", ""},
        {"DEV_NAME=大厅 音柱", "[DEV_NAME|大厅 音柱]"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(text(parsePairs(c.payload, std::strlen(c.payload))), c.pairs) << c.payload;
}

TEST(SimScan, AnswersWithEveryKeyAndTheAskedConfigKeys) {
    Terminal t;
    t.keys = {{"DEV_ID", "T1"}, {"smart_poc/poc.server.ip", "1.2.3.4"}, {"F", "poc.s"}};
    Datagram request;
    request.pairs = {{"config_key", "smart_poc/poc.server.ip"},
                     {"config_key", "smart_poc.poc.server.port"},
                     {"feature", "poc.s"}};
    Datagram reply;
    ASSERT_TRUE(DatagramService::answerScan(t, request, &reply));
    EXPECT_EQ(text(reply.pairs),
              "[DEV_ID|T1][smart_poc/poc.server.ip|1.2.3.4][F|poc.s][smart_poc.poc.server.port|]");
}

TEST(SimFleet, TemplatesAndAddresses) {
    const struct {
        const char* tmpl;
        int index;
        const char* out;
    } cases[] = {
        {"SIM{n:5}", 0, "SIM00001"},     {"{n}", 41, "42"},   {"{ip}", 0, "10.77.1.9"},
        {"{net}.254", 0, "10.77.1.254"}, {"{a|b|c}", 4, "b"}, {"{aoip.p|}", 1, ""},
        {"{unknown}", 0, "{unknown}"},   {"x{", 0, "x{"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(expand(c.tmpl, c.index, "10.77.1.9"), c.out) << c.tmpl;
    std::string ip;
    ASSERT_TRUE(nextAddress("10.77.1.253", 1, &ip));
    EXPECT_EQ(ip, "10.77.1.254");
    ASSERT_TRUE(nextAddress("10.77.1.254", 1, &ip));
    EXPECT_EQ(ip, "10.77.2.1");
    EXPECT_FALSE(nextAddress("nope", 1, &ip));
}

TEST(SimFleet, FileFormat) {
    const std::string file = "# two terminals and a generated pair\n"
                             "[terminal]\n"
                             "@bind = 10.77.1.1\n"
                             "DEV_ID = T1\n"
                             "DEV_NAME = 大厅 音柱\n"
                             "WIFI_PWD = a=b\n"
                             "\n"
                             "[terminal]\n"
                             "ADDRESS = 10.77.1.2\n"
                             "[generate]\n"
                             "@count = 2\n"
                             "@first = 10.77.2.1\n"
                             "F = {aoip.p|aoip.c}\n"
                             "@unset = ICCID\n";
    Fleet fleet;
    std::string error;
    ASSERT_TRUE(loadFleet(file, &fleet, &error)) << error;
    ASSERT_EQ(fleet.size(), 4u);
    EXPECT_EQ(fleet[0].bind, "10.77.1.1");
    EXPECT_EQ(*fleet[0].get("DEV_NAME"), "大厅 音柱");
    EXPECT_EQ(*fleet[0].get("WIFI_PWD"), "a=b");
    EXPECT_EQ(fleet[1].bind, "10.77.1.2");
    EXPECT_EQ(fleet[1].get("DEV_ID"), nullptr);
    EXPECT_EQ(fleet[3].bind, "10.77.2.2");
    EXPECT_EQ(*fleet[3].get("F"), "aoip.c");
    EXPECT_EQ(*fleet[3].get("DEV_ID"), "SIM00002");
    EXPECT_EQ(*fleet[3].get("ADDRESS"), "10.77.2.2");
    EXPECT_EQ(fleet[3].get("ICCID"), nullptr);

    const struct {
        const char* text;
        const char* error;
    } bad[] = {
        {"DEV_ID = x\n", "line 1: expected [terminal] or [generate] first"},
        {"[terminal]\nDEV_ID\n", "line 2: expected KEY = VALUE"},
        {"[terminal]\nDEV_ID = x\n", "section at line 1: a terminal needs @bind or ADDRESS"},
        {"[generate]\n@count = 3\n", "section at line 1: [generate] needs @count and @first"},
        {"[terminal]\n@colour = red\n", "line 2: unknown directive @colour"},
    };
    for (const auto& b : bad) {
        Fleet f;
        std::string e;
        EXPECT_FALSE(loadFleet(b.text, &f, &e));
        EXPECT_EQ(e, b.error);
    }
}
