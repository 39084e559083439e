// The simulated terminal's configuration requests, driven without sockets.
#include "config_service.h"

#include <gtest/gtest.h>

using namespace sim;

namespace {

std::string text(const KeyValues& pairs) {
    std::string out;
    for (const auto& kv : pairs)
        out += "[" + kv.first + "|" + kv.second + "]";
    return out;
}

Terminal terminal() {
    Terminal t;
    t.bind = "127.0.0.1";
    t.keys = {{"DEV_ID", "T1"},
              {"HW_ADDR", "02:00:00:00:00:01"},
              {"PROTO", "static"},
              {"ADDRESS", "10.77.1.1"},
              {"NETMASK", "255.255.0.0"},
              {"GATEWAY", "10.77.0.254"},
              {"AI_VOLUME", "5"},
              {"AO_VOLUME", "7"},
              {"BOOT_SOUND", "1"},
              {"DEV_NAME", "hall"},
              {"WIFI_NAME", ""},
              {"WIFI_PWD", ""},
              {"REBOOT_AT", "03:00"},
              {"REBOOT_ENABLE", "0"},
              {"INPUT_DB_UPPER_BOUND", "14"},
              {"OUTPUT_DB_UPPER_BOUND", "0"},
              {"bcast-client/server.ip", "10.77.0.1"}};
    return t;
}

Datagram request(uint8_t code, KeyValues pairs, std::string hw = "02:00:00:00:00:01",
                 std::string id = "T1") {
    Datagram d;
    d.code = code;
    d.targetHwAddr = std::move(hw);
    d.targetDevId = std::move(id);
    d.pairs = std::move(pairs);
    return d;
}

} // namespace

TEST(SimConfig, AppliesAndAnswersEveryRequest) {
    const struct {
        uint8_t code;
        KeyValues sent;
        const char* reply;
        KeyValues state; // values the terminal holds afterwards
    } cases[] = {
        {0x02,
         {{"ADDRESS", "10.77.1.50"},
          {"GATEWAY", "10.77.0.1"},
          {"NETMASK", "255.255.255.0"},
          {"PROTO", "static"}},
         "[DEV_ID|T1][PROTO|static][ADDRESS|10.77.1.50][NETMASK|255.255.255.0]"
         "[GATEWAY|10.77.0.1][message|network config applied]",
         {{"ADDRESS", "10.77.1.50"}, {"NETMASK", "255.255.255.0"}}},
        {0x04,
         {{"bcast-client/server.port", "9000"}},
         "[DEV_ID|T1][bcast-client/server.port|9000][message|app config applied]",
         {{"bcast-client/server.port", "9000"}, {"bcast-client/server.ip", "10.77.0.1"}}},
        {0x04, {{"", "9000"}}, "[DEV_ID|T1][message|app config applied]", {}},
        {0x06, {}, "[DEV_ID|T1][message|sound played]", {}},
        {0x0A,
         {{"AI_VOLUME", "9"}},
         "[DEV_ID|T1][AI_VOLUME|9][AO_VOLUME|7][message|volume applied]",
         {{"AI_VOLUME", "9"}, {"AO_VOLUME", "7"}}},
        {0x0C,
         {{"BOOT_SOUND", "0"}},
         "[DEV_ID|T1][message|boot sound applied]",
         {{"BOOT_SOUND", "0"}}},
        {0x0E, {{"DEV_NAME", "大厅"}}, "[DEV_ID|T1][DEV_NAME|大厅]", {{"DEV_NAME", "大厅"}}},
        {0x12,
         {{"WIFI_NAME", "office"}, {"WIFI_PWD", "secret"}},
         "[DEV_ID|T1][WIFI_NAME|office][WIFI_PWD|secret][message|wifi connecting]",
         {{"WIFI_PWD", "secret"}}},
        {0x16,
         {{"OUTPUT_DB_UPPER_BOUND", "-3"}},
         "[DEV_ID|T1][INPUT_DB_UPPER_BOUND|14][OUTPUT_DB_UPPER_BOUND|-3]"
         "[message|db upper bound applied]",
         {{"OUTPUT_DB_UPPER_BOUND", "-3"}}},
        {0x18,
         {{"REBOOT_AT", "04:30"}, {"REBOOT_ENABLE", "1"}},
         "[DEV_ID|T1][REBOOT_AT|04:30][REBOOT_ENABLE|1][message|reboot schedule applied]",
         {{"REBOOT_AT", "04:30"}, {"REBOOT_ENABLE", "1"}}},
        {0x22, {}, "[DEV_ID|T1][FILESYSTEM_MESSAGE|ok]", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.code));
        ConfigRequests config;
        Terminal t = terminal();
        Datagram reply;
        ASSERT_TRUE(config.answer(t, request(c.code, c.sent), &reply));
        EXPECT_EQ(reply.code, c.code + 1);
        EXPECT_EQ(text(reply.pairs), c.reply);
        for (const auto& kv : c.state) {
            ASSERT_NE(t.get(kv.first), nullptr) << kv.first;
            EXPECT_EQ(*t.get(kv.first), kv.second) << kv.first;
        }
        EXPECT_EQ(t.get(""), nullptr);
    }
}

TEST(SimConfig, TakesOnlyRequestsAddressedToItAndAFailingCheckSaysWhy) {
    ConfigRequests config;
    Terminal t = terminal();
    Datagram reply;
    const KeyValues name = {{"DEV_NAME", "x"}};
    EXPECT_FALSE(config.answer(t, request(0x0E, name, "02:00:00:00:00:02"), &reply));
    EXPECT_FALSE(config.answer(t, request(0x0E, name, "02:00:00:00:00:01", "T2"), &reply));
    EXPECT_FALSE(config.answer(t, request(0x0E, name, "", ""), &reply));
    EXPECT_FALSE(config.answer(t, request(0x10, name), &reply)); // not a request code
    EXPECT_EQ(*t.get("DEV_NAME"), "hall");

    t.set("FILESYSTEM_MESSAGE", "bad blocks on /data");
    ASSERT_TRUE(config.answer(t, request(0x22, {}), &reply));
    EXPECT_EQ(text(reply.pairs), "[DEV_ID|T1][FILESYSTEM_MESSAGE|bad blocks on /data]");
}

TEST(SimConfig, ARebootAnswersThenKeepsTheTerminalSilentForTheConfiguredTime) {
    int64_t now = 1000;
    ConfigRequests config(3000);
    config.setClock([&] { return now; });
    Terminal t = terminal();
    Terminal other = terminal();
    Datagram reply;
    ASSERT_TRUE(config.answer(t, request(0x08, {}), &reply));
    EXPECT_EQ(text(reply.pairs), "[DEV_ID|T1][DEV_NAME|hall]");
    EXPECT_TRUE(config.silent(t));
    EXPECT_FALSE(config.silent(other));
    EXPECT_FALSE(config.answer(t, request(0x06, {}), &reply));
    now += 2999;
    EXPECT_TRUE(config.silent(t));
    now += 1;
    EXPECT_FALSE(config.silent(t));
    EXPECT_TRUE(config.answer(t, request(0x06, {}), &reply));
}
