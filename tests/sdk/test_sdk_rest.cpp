// The SDK's REST view through the C interface and a raw HTTP client on 127.0.0.1.
#include "sdk_test_support.h"

#include "audio_fixtures.h"
#include "pelzo_terminal.h"

#include "pelzo/pelzo_sdk.h"

#include <rapidjson/document.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

using sdktest::Event;
using sdktest::Recorder;

namespace {

const bool gPrivateNetwork = netns::enterLoopbackOnly();

struct Reply {
    std::string head;
    std::string body;
};

Reply httpGet(uint16_t port, const std::string& path) {
    Reply reply;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval tv{20, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(fd);
        return reply;
    }
    const std::string request =
        "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string all;
    char buf[4096];
    ssize_t n = 0;
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0)
        all.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    const auto split = all.find("\r\n\r\n");
    if (split != std::string::npos) {
        reply.head = all.substr(0, split);
        reply.body = all.substr(split + 4);
    }
    return reply;
}

std::string pointerText(const void* p) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

class SdkRestTest : public ::testing::Test {
protected:
    void SetUp() override {
        Recorder::instance().clear();
        ASSERT_EQ(pelzo_init(), 0);
        port_ = startView();
        ASSERT_NE(port_, 0);
    }
    void TearDown() override { EXPECT_EQ(pelzo_deinit(), 0); }

    // Starts the view on a port of the system's choice and finds that port.
    static uint16_t startView() {
        const std::set<uint16_t> before = sdktest::loopbackListenPorts();
        if (pelzo_start_rest_server("127.0.0.1", 0) != 0)
            return 0;
        std::set<uint16_t> after = sdktest::loopbackListenPorts();
        for (uint16_t p : before)
            after.erase(p);
        return after.size() == 1 ? *after.begin() : 0;
    }

    rapidjson::Document getContexts() {
        const Reply reply = httpGet(port_, "/v1/ctx");
        EXPECT_EQ(reply.head.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << reply.head;
        EXPECT_NE(reply.head.find("application/json; charset=utf8"), std::string::npos)
            << reply.head;
        rapidjson::Document doc;
        doc.Parse(reply.body.c_str());
        EXPECT_FALSE(doc.HasParseError()) << reply.body;
        return doc;
    }

    uint16_t port_ = 0;
};

TEST_F(SdkRestTest, EmptySdkListsNoContexts) {
    EXPECT_EQ(httpGet(port_, "/v1/ctx").body, R"({"code":200,"message":"","data":[]})");
    const Reply other = httpGet(port_, "/v1/ctx/x");
    EXPECT_EQ(other.head.rfind("HTTP/1.1 404", 0), 0u) << other.head;
}

TEST_F(SdkRestTest, ContextsWithTerminalsInAddressOrderAndTheirSource) {
    pelzo_ctx* ctx = pelzo_ctx_create();
    ASSERT_NE(ctx, nullptr);
    const std::string low = sdktest::nextAddress(gPrivateNetwork);
    const std::string high = sdktest::nextAddress(gPrivateNetwork);
    ASSERT_EQ(pelzo_ctx_add_dev(ctx, high.c_str(), "pw5"), 0);
    ASSERT_EQ(pelzo_ctx_add_dev(ctx, low.c_str(), nullptr), 0);
    ASSERT_EQ(pelzo_ctx_set_priority(ctx, 6), 0);

    rapidjson::Document doc = getContexts();
    ASSERT_TRUE(doc["data"].IsArray());
    ASSERT_EQ(doc["data"].Size(), 1u);
    const auto& c = doc["data"][0];
    EXPECT_EQ(std::string(c["addr"].GetString()), pointerText(ctx));
    EXPECT_EQ(c["priority"].GetInt(), 6);
    ASSERT_EQ(c["devices"].Size(), 2u);
    // Listed by address, not by the order of adding.
    EXPECT_EQ(std::string(c["devices"][0]["ip"].GetString()), low);
    EXPECT_EQ(std::string(c["devices"][1]["ip"].GetString()), high);
    EXPECT_EQ(std::string(c["devices"][0]["pwd"].GetString()), "574213");
    EXPECT_EQ(std::string(c["devices"][1]["pwd"].GetString()), "pw5");
    EXPECT_EQ(std::string(c["devices"][0]["state"].GetString()), "-");
    EXPECT_EQ(std::string(c["capture_device"]["ip"].GetString()), "127.0.0.1");
    EXPECT_EQ(std::string(c["capture_device"]["pwd"].GetString()), "");
    EXPECT_EQ(std::string(c["src"]["addr"].GetString()), "");
    EXPECT_EQ(c["src"]["sample_rate"].GetInt(), 0);

    // A connected, opened source shows its file.
    audio_fixtures::TempDir dir;
    const std::string wav = dir.file("tone.wav");
    ASSERT_TRUE(audio_fixtures::writeSineWav(wav, 48000, 1, 2.0, 440));
    pelzo_src* src = pelzo_src_create();
    pelzo_ctx_connect_src(ctx, src);
    ASSERT_EQ(pelzo_src_open_url(src, wav.c_str()), 0);
    doc = getContexts();
    const auto& s = doc["data"][0]["src"];
    EXPECT_EQ(std::string(s["addr"].GetString()), pointerText(src));
    EXPECT_EQ(std::string(s["url"].GetString()), wav);
    EXPECT_EQ(s["duration"].GetInt(), 2000);
    EXPECT_EQ(s["sample_rate"].GetInt(), 48000);

    pelzo_ctx* other = pelzo_ctx_create();
    doc = getContexts();
    ASSERT_EQ(doc["data"].Size(), 2u);
    const bool ctxFirst = std::less<const void*>()(ctx, other);
    EXPECT_EQ(std::string(doc["data"][0]["addr"].GetString()), pointerText(ctxFirst ? ctx : other));
    pelzo_src_destroy(src);
    pelzo_ctx_destroy(other);
    pelzo_ctx_destroy(ctx);
    EXPECT_EQ(getContexts()["data"].Size(), 0u);
}

TEST_F(SdkRestTest, RefusedAndSilentTerminalsShowTheirState) {
    simpelzo::TerminalConfig config;
    config.address = sdktest::nextAddress(gPrivateNetwork);
    config.password = "not-the-default";
    config.refusalMessage = "wrong password";
    simpelzo::Terminal sim(config);
    std::string error;
    ASSERT_TRUE(sim.open(error)) << error;
    simpelzo::TerminalRunner runner({&sim});
    const std::string silent = sdktest::nextAddress(gPrivateNetwork);

    pelzo_ctx* ctx = pelzo_ctx_create();
    sdktest::recordAll(ctx);
    ASSERT_EQ(pelzo_ctx_add_dev(ctx, config.address.c_str(), nullptr), 0);
    ASSERT_EQ(pelzo_ctx_add_dev(ctx, silent.c_str(), nullptr), 0);
    // The first packet makes the terminal challenge this context.
    pelzo_ctx_set_ao_volume_all(ctx, 20);
    ASSERT_TRUE(Recorder::instance().waitFor([&](const std::vector<Event>& events) {
        for (const Event& e : events)
            if (e.kind == "state" && e.address == config.address && e.text == "wrong password")
                return e.value == 1;
        return false;
    }));

    rapidjson::Document doc = getContexts();
    ASSERT_EQ(doc["data"].Size(), 1u);
    const auto& devices = doc["data"][0]["devices"];
    ASSERT_EQ(devices.Size(), 2u);
    for (const auto& d : devices.GetArray()) {
        const std::string ip = d["ip"].GetString();
        if (ip == config.address) {
            EXPECT_EQ(std::string(d["state"].GetString()), "denied");
            EXPECT_EQ(std::string(d["message"].GetString()), "wrong password");
        } else {
            EXPECT_EQ(ip, silent);
            EXPECT_EQ(std::string(d["state"].GetString()), "-");
            EXPECT_EQ(std::string(d["message"].GetString()), "");
        }
    }
    pelzo_ctx_destroy(ctx);
}

std::vector<std::string> keysOf(const rapidjson::Value& object) {
    std::vector<std::string> keys;
    for (const auto& m : object.GetObject())
        keys.emplace_back(m.name.GetString());
    return keys;
}

// The stream figures follow the written keys of every terminal and of the source. After a
// short file played to a terminal that logs in, one that refuses and one that never
// answers, they say what each terminal got and did.
TEST_F(SdkRestTest, StreamFiguresFollowTheWrittenKeys) {
    simpelzo::TerminalConfig accepting;
    accepting.address = sdktest::nextAddress(gPrivateNetwork);
    accepting.heartbeatIntervalMs = 50;
    accepting.challengeIntervalMs = 100;
    simpelzo::TerminalConfig refusing = accepting;
    refusing.address = sdktest::nextAddress(gPrivateNetwork);
    refusing.password = "not-the-default";
    simpelzo::Terminal simA(accepting), simR(refusing);
    std::string error;
    ASSERT_TRUE(simA.open(error)) << error;
    ASSERT_TRUE(simR.open(error)) << error;
    simpelzo::TerminalRunner runner({&simA, &simR});
    const std::string silent = sdktest::nextAddress(gPrivateNetwork);
    sdktest::UdpListener quiet(silent);
    ASSERT_TRUE(quiet.ok());

    pelzo_ctx* ctx = pelzo_ctx_create();
    sdktest::recordAll(ctx);
    for (const std::string& a : {accepting.address, refusing.address, silent})
        ASSERT_EQ(pelzo_ctx_add_dev(ctx, a.c_str(), nullptr), 0);
    audio_fixtures::TempDir dir;
    const std::string wav = dir.file("short.wav");
    ASSERT_TRUE(audio_fixtures::writeSineWav(wav, 48000, 1, 0.5, 440));
    pelzo_src* src = pelzo_src_create();
    sdktest::recordAll(src);
    pelzo_ctx_connect_src(ctx, src);
    ASSERT_EQ(pelzo_src_open_url(src, wav.c_str()), 0);
    ASSERT_TRUE(Recorder::instance().waitKind(src, "end", 1));
    auto stateOf = [&](const std::string& address, int failed) {
        return [&, address, failed](const std::vector<Event>& events) {
            for (const Event& e : events)
                if (e.kind == "state" && e.address == address && e.value == failed)
                    return true;
            return false;
        };
    };
    ASSERT_TRUE(Recorder::instance().waitFor(stateOf(accepting.address, 0)));
    ASSERT_TRUE(Recorder::instance().waitFor(stateOf(refusing.address, 1)));
    const int frames = Recorder::instance().countKind(src, "frame");
    ASSERT_EQ(frames, 25);

    rapidjson::Document doc = getContexts();
    ASSERT_EQ(doc["data"].Size(), 1u);
    const auto& c = doc["data"][0];
    const std::vector<std::string> devKeys = {"ip",         "device_id",     "pwd",
                                              "state",      "message",       "packets_sent",
                                              "bytes_sent", "send_failures", "heartbeat_age_ms",
                                              "logins",     "refusals",      "not_responding"};
    EXPECT_EQ(keysOf(c),
              (std::vector<std::string>{"addr", "priority", "devices", "capture_device", "src"}));
    EXPECT_EQ(keysOf(c["capture_device"]), devKeys);
    EXPECT_EQ(keysOf(c["src"]),
              (std::vector<std::string>{"addr", "url", "duration", "offset", "sample_rate",
                                        "frames_late", "frames_skipped"}));
    EXPECT_GE(c["src"]["frames_late"].GetUint64(), 0u);
    EXPECT_EQ(c["src"]["frames_skipped"].GetUint64(), 0u);
    ASSERT_EQ(c["devices"].Size(), 3u);
    for (const auto& d : c["devices"].GetArray()) {
        EXPECT_EQ(keysOf(d), devKeys);
        const std::string ip = d["ip"].GetString();
        EXPECT_EQ(d["send_failures"].GetUint64(), 0u) << ip;
        EXPECT_EQ(d["not_responding"].GetInt(), 0) << ip;
        if (ip == silent) {
            const std::vector<std::string> got = quiet.drain();
            uint64_t bytes = 0;
            for (const std::string& g : got)
                bytes += g.size();
            EXPECT_EQ(got.size(), size_t(frames));
            EXPECT_EQ(d["packets_sent"].GetUint64(), got.size());
            EXPECT_EQ(d["bytes_sent"].GetUint64(), bytes);
            EXPECT_EQ(d["heartbeat_age_ms"].GetInt64(), -1);
            EXPECT_EQ(d["logins"].GetInt(), 0);
            EXPECT_EQ(d["refusals"].GetInt(), 0);
            continue;
        }
        // Everything counted as sent reaches the terminal (replies may still be on their way).
        const uint64_t sent = d["packets_sent"].GetUint64();
        EXPECT_GE(sent, uint64_t(frames)) << ip;
        EXPECT_TRUE(
            (ip == accepting.address ? simA : simR).waitFor([&](const simpelzo::TerminalState& s) {
                return s.datagrams >= sent;
            }))
            << ip;
        EXPECT_GE(d["heartbeat_age_ms"].GetInt64(), 0) << ip;
        if (ip == accepting.address) {
            EXPECT_EQ(d["logins"].GetInt(), 1);
            EXPECT_EQ(d["refusals"].GetInt(), 0);
        } else {
            EXPECT_EQ(d["logins"].GetInt(), 0);
            EXPECT_GE(d["refusals"].GetInt(), 1);
        }
    }
    pelzo_src_destroy(src);
    pelzo_ctx_destroy(ctx);
}

TEST_F(SdkRestTest, SecondStartKeepsTheFirstServer) {
    const std::set<uint16_t> before = sdktest::loopbackListenPorts();
    EXPECT_EQ(pelzo_start_rest_server("127.0.0.1", 0), 0);
    EXPECT_EQ(pelzo_start_rest_server("0.0.0.0", 1), 0);
    EXPECT_EQ(sdktest::loopbackListenPorts(), before);
    EXPECT_EQ(httpGet(port_, "/v1/ctx").body, R"({"code":200,"message":"","data":[]})");

    // Bad arguments are refused, whatever state the view is in.
    EXPECT_EQ(pelzo_start_rest_server(nullptr, 0), 1);

    // The view goes with the worker and can be started again with a new one.
    ASSERT_EQ(pelzo_deinit(), 0);
    ASSERT_EQ(pelzo_init(), 0);
    EXPECT_TRUE(httpGet(port_, "/v1/ctx").head.empty());
    port_ = startView();
    ASSERT_NE(port_, 0);
    EXPECT_EQ(httpGet(port_, "/v1/ctx").body, R"({"code":200,"message":"","data":[]})");
}

TEST(SdkRest, ListenFailureReturnsOneAndALaterStartWorks) {
    // A port this program holds already.
    const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(::listen(holder, 1), 0);
    socklen_t len = sizeof sa;
    ::getsockname(holder, reinterpret_cast<sockaddr*>(&sa), &len);
    const int taken = ntohs(sa.sin_port);

    ASSERT_EQ(pelzo_init(), 0);
    EXPECT_EQ(pelzo_start_rest_server("127.0.0.1", taken), 1);
    EXPECT_EQ(pelzo_start_rest_server("127.0.0.1", 70000), 1);
    EXPECT_EQ(pelzo_start_rest_server("127.0.0.1", 0), 0);
    ::close(holder);
    EXPECT_EQ(pelzo_deinit(), 0);
}

} // namespace
