// The HTTP server on a lumo loop with real clients: curl, raw sockets and a
// small WebSocket client. The test thread is the loop thread; clients either
// run in another thread (curl) or are polled between loop passes.
#include <kohttp/loop/http_server.h>

#include "netclient.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <lumo/logger.h>
#include <lumo/md5.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>

using namespace kohttp;
using kohttp::loop::HttpServer;
using kohttp::loop::HttpSession;

namespace {

using kohttp_test::maskedFrame;

using netclient::RawClient;

const std::string kHost = "127.0.0.1";

class LoopServer : public ::testing::Test {
protected:
    void start(HttpConfigPtr base = HttpConfig::sdk()) {
        auto config = std::make_shared<HttpConfig>(*base);
        config->log = [this](LogLevel, const char*, int, const std::string& msg) {
            logs.push_back(msg);
        };
        loop = lumo::EventLoopImpl::current();
        // A short tick keeps each pass's wait short while clients work.
        tick = loop->startTimer(5);
        server = std::make_unique<HttpServer>(config, [this] { return clock; });
        std::string error;
        ASSERT_TRUE(server->listen("127.0.0.1", 0, &error)) << error;
        port = server->port();
        addRoutes();
    }

    void addRoutes() {
        server->route(kMethodGet, "/v1/ctx", [](const HttpEventPtr& e) {
            e->response().setHeader("Content-Type", "application/json; charset=utf8");
            e->response().setBody(R"({"code":200})");
        });
        server->route(kMethodGet, "/api/<id>/info", [](const HttpEventPtr& e) {
            e->response().setBody("id=" + e->request().params.at("id"));
        });
        server->route(kMethodGet, "/num/^[0-9]+$", [](const HttpEventPtr& e) {
            e->response().setBody("number " + e->segments().back());
        });
        server->route(kMethodGet, "/cookies", [](const HttpEventPtr& e) {
            std::string out;
            for (const auto& [k, v] : e->request().cookies) {
                out += k + "=" + v + ";";
            }
            e->response().addCookie({"sid", "s1", ""});
            e->response().setBody(out);
        });
        server->route(kMethodGet, "/held", [this](const HttpEventPtr& e) { held = e; });
        server->route(kMethodGet, "/nothing-new",
                      [](const HttpEventPtr& e) { e->response().setStatus(304, "Not Modified"); });
        server->route(kMethodGet, "/file", [this](const HttpEventPtr& e) {
            e->response().setFile(filePath, e->request().ranges);
        });
        server->route(kMethodPost, "/upload", [](const HttpEventPtr& e) {
            std::string out;
            if (auto mp = e->request().multipart) {
                for (const auto& [name, part] : mp->parts()) {
                    out += name +
                           (part.isFile ? " file " + part.filename + " " + part.md5 + " " +
                                              std::to_string(part.file->size())
                                        : " text " + part.data) +
                           "\n";
                }
            }
            e->response().setBody(out);
        });
        server->route(kMethodGet, "/ws", [this](const HttpEventPtr& e) {
            server->subscribe(e->session<HttpSession>(), "/ws");
            e->response().setStatus(101, "Switching Protocols");
            e->response().setHeader("Upgrade", "websocket");
            e->response().setHeader("Connection", "Upgrade");
        });
        server->setWebSocketHandler(
            "/ws", [this](const loop::HttpSessionPtr& s, int op, const std::string& payload) {
                wsMessages.push_back(std::to_string(op) + ":" + payload);
                if (op == kWsText) {
                    s->sendFrame(kWsText, "echo:" + payload);
                }
            });
    }

    void TearDown() override {
        server.reset();
        // A few short passes let the closed sockets and deferred deletions go;
        // the stopped tick leaves the loop on a later pass.
        for (int i = 0; i < 3 && loop; ++i) {
            loop->processOnce();
        }
        if (tick) {
            tick->stop();
        }
        if (!filePath.empty()) {
            ::unlink(filePath.c_str());
        }
    }

    // Runs loop passes until done() holds; the pass limit only guards against
    // a hang and is far above what any case needs.
    template <class Done> bool pumpUntil(Done done) {
        for (int pass = 0; pass < 4000; ++pass) {
            if (done()) {
                return true;
            }
            loop->processOnce();
        }
        return done();
    }

    // Runs a command (curl) in another thread while the loop serves it.
    std::string run(const std::string& command) {
        return netclient::runCommand(command, [this] { loop->processOnce(); });
    }

    void makeFile(std::size_t size) {
        filePath = "/tmp/kohttp-server-test-" + std::to_string(::getpid());
        content.resize(size);
        for (std::size_t i = 0; i < size; ++i) {
            content[i] = static_cast<char>('a' + i % 26);
        }
        std::ofstream(filePath, std::ios::binary) << content;
    }

    static std::string body(const std::string& response) { return netclient::bodyOf(response); }

    lumo::EventLoopImpl* loop = nullptr;
    std::shared_ptr<lumo::Timer> tick;
    std::unique_ptr<HttpServer> server;
    std::uint16_t port = 0;
    std::int64_t clock = 1'700'000'000'000;
    std::vector<std::string> logs, wsMessages;
    std::string filePath, content;
    HttpEventPtr held;
};

TEST_F(LoopServer, RoutesAndNotFoundAnswers) {
    start();
    struct Case {
        std::string args;
        std::string statusLine;
        std::string body;
    };
    const Case cases[] = {
        {"/v1/ctx", "HTTP/1.1 200 OK", R"({"code":200})"},
        {"/v1/ctx/x", "HTTP/1.1 404 Not found", HttpRouter::kNoPathBody},
        {"/api/42/info", "HTTP/1.1 200 OK", "id=42"},
        {"/num/123", "HTTP/1.1 200 OK", "number 123"},
        {"/num/abc", "HTTP/1.1 404 Not found", HttpRouter::kNoPathBody},
        {"-X DELETE /v1/ctx", "HTTP/1.1 404 Not found", HttpRouter::kNoMethodBody},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        // The url goes after the base address that curl() appends.
        std::string args = c.args;
        std::size_t slash = args.find('/');
        std::string out = run("curl -s -i --max-time 20 " + args.substr(0, slash) +
                              "http://127.0.0.1:" + std::to_string(port) + args.substr(slash));
        EXPECT_EQ(out.rfind(c.statusLine + "\r\n", 0), 0u) << out;
        EXPECT_EQ(body(out), c.body);
    }
}

TEST_F(LoopServer, SecondListenKeepsTheFirstBinding) {
    start();
    std::string error;
    EXPECT_TRUE(server->listen("0.0.0.0", 1, &error));
    EXPECT_EQ(server->port(), port);
    EXPECT_TRUE(error.empty());
}

TEST_F(LoopServer, ListenFailuresAreReported) {
    loop = lumo::EventLoopImpl::current();
    HttpServer bad;
    std::string error;
    EXPECT_FALSE(bad.listen("300.1.1.1", 0, &error));
    EXPECT_NE(error.find("invalid address"), std::string::npos) << error;
    EXPECT_FALSE(bad.isListening());

    start();
    HttpServer second;
    error.clear();
    EXPECT_FALSE(second.listen("127.0.0.1", port, &error)); // taken by the first
    EXPECT_FALSE(error.empty());
}

TEST_F(LoopServer, AnswerAfterThePeerLeftIsDropped) {
    start();
    {
        RawClient client(kHost, port);
        client.send("GET /held HTTP/1.1\r\n\r\n");
        ASSERT_TRUE(pumpUntil([&] { return held != nullptr; }));
    }
    ASSERT_TRUE(pumpUntil([&] { return server->sessionCount() == 0; }));
    held->response().setBody("too late");
    held.reset();
    loop->processOnce();
}

TEST_F(LoopServer, AnswerAfterTheServerWentIsDropped) {
    start();
    RawClient client(kHost, port);
    client.send("GET /held HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(pumpUntil([&] { return held != nullptr; }));
    server.reset();
    held.reset();
    ASSERT_TRUE(pumpUntil([&] { return client.poll(), client.eof; }));
    EXPECT_EQ(client.in, "");
}

TEST_F(LoopServer, CookiesAndMultipartFromCurl) {
    start();
    std::string out = run("curl -s -i --max-time 20 --cookie 'a=1; b = 2; c' http://127.0.0.1:" +
                          std::to_string(port) + "/cookies");
    EXPECT_NE(out.find("Set-Cookie: sid=s1; path=/\r\n"), std::string::npos) << out;
    EXPECT_EQ(body(out), "a=1;b=2;");

    makeFile(200000);
    out = run("curl -s --max-time 20 -F k=hello -F f=@" + filePath +
              " http://127.0.0.1:" + std::to_string(port) + "/upload");
    std::string name = filePath.substr(filePath.rfind('/') + 1);
    EXPECT_EQ(out, "f file " + name + " " + lumo::md5Hex(content) + " 200000\nk text hello\n");
}

TEST_F(LoopServer, RangesFromCurlOnTheManagerBuild) {
    start(HttpConfig::manager());
    makeFile(1000);
    struct Case {
        std::string range;
        std::string status;
        std::string body;
    };
    const Case cases[] = {
        {"0-99,200-299", "206 Partial Content", content.substr(0, 100) + content.substr(200, 100)},
        {"-100", "206 Partial Content", content.substr(900)},
        {"500-", "206 Partial Content", content.substr(500)},
        {"0-", "200 OK", content},
        {"2000-3000", "416 Range Not Satisfiable", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.range);
        std::string out = run("curl -s -i --max-time 20 -r " + c.range +
                              " http://127.0.0.1:" + std::to_string(port) + "/file");
        EXPECT_EQ(out.rfind("HTTP/1.1 " + c.status + "\r\n", 0), 0u) << out.substr(0, 80);
        EXPECT_EQ(body(out), c.body);
    }
}

TEST_F(LoopServer, PipelinedRequestsOnOneConnection) {
    start();
    RawClient client(kHost, port);
    ASSERT_TRUE(client.connected());
    client.send("GET /api/1/info HTTP/1.1\r\nHost: x\r\n\r\n"
                "GET /nothing-new HTTP/1.1\r\n\r\n"
                "GET /api/3/info HTTP/1.1\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(pumpUntil([&] { return client.poll(), client.eof; }));
    EXPECT_EQ(client.in, "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nid=1"
                         "HTTP/1.1 304 Not Modified\r\n\r\n" // no length on a 304
                         "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nid=3");
}

TEST_F(LoopServer, NonHttpBytesCloseTheConnection) {
    start();
    RawClient client(kHost, port);
    ASSERT_TRUE(client.connected());
    client.send(std::string("\x16\x03\x01\x00\xa5\x01\x00\x00", 8));
    ASSERT_TRUE(pumpUntil([&] { return client.poll(), client.eof; }));
    EXPECT_EQ(client.in, "");
    ASSERT_FALSE(logs.empty());
    EXPECT_EQ(logs.back().rfind("Http parse error, peer 127.0.0.1:", 0), 0u) << logs.back();
    EXPECT_TRUE(pumpUntil([&] { return server->sessionCount() == 0; }));
}

TEST_F(LoopServer, OversizedRequestGets413) {
    start();
    RawClient client(kHost, port);
    client.send("POST /upload HTTP/1.1\r\nContent-Length: 999999999999\r\n\r\n");
    ASSERT_TRUE(pumpUntil([&] { return client.poll(), client.eof; }));
    EXPECT_EQ(client.in, payloadTooLargeResponse());
}

TEST_F(LoopServer, WebSocketFramesAndHeartbeat) {
    start();
    RawClient client(kHost, port);
    client.send("GET /ws HTTP/1.1\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
                "Sec-WebSocket-Version: 13\r\n\r\n");
    ASSERT_TRUE(
        pumpUntil([&] { return client.poll(), client.in.find("\r\n\r\n") != std::string::npos; }));
    EXPECT_EQ(client.in.rfind("HTTP/1.1 101 Switching Protocols\r\n", 0), 0u);
    client.in.clear();

    client.send(maskedFrame(kWsText, "hello") + maskedFrame(kWsPing, "abc"));
    const std::string echo = std::string("\x81\x0a") + "echo:hello";
    const std::string pong = std::string("\x8a\x03") + "abc";
    ASSERT_TRUE(
        pumpUntil([&] { return client.poll(), client.in.size() >= echo.size() + pong.size(); }));
    EXPECT_EQ(client.in, echo + pong);
    client.in.clear();

    server->websocketNotify("/other", "not for us");
    server->websocketNotify("/ws", "news");
    const std::string news = std::string("\x81\x04") + "news";
    ASSERT_TRUE(pumpUntil([&] { return client.poll(), client.in.size() >= news.size(); }));
    EXPECT_EQ(client.in, news);
    client.in.clear();

    // A subscriber that answers is pinged and stays.
    const std::string ping("\x89\x00", 2);
    server->heartbeat();
    ASSERT_TRUE(pumpUntil([&] { return client.poll(), client.in == ping; }));
    clock += 40;
    client.send(maskedFrame(kWsPong, ""));
    ASSERT_TRUE(pumpUntil([&] {
        return server->sessionCount() == 1 && !wsMessages.empty() && wsMessages.back() == "10:";
    }));
    for (int s = 0; s < 5; ++s) {
        clock += 1000;
        server->heartbeat();
    }
    client.in.clear();

    // 30 s after the ping the next one goes out; left unanswered, the session
    // is closed on the first round more than 3 s later.
    clock += 25000;
    server->heartbeat();
    ASSERT_TRUE(pumpUntil([&] { return client.poll(), client.in == ping; }));
    for (int s = 0; s < 3; ++s) {
        clock += 1000;
        server->heartbeat();
    }
    loop->processOnce();
    client.poll();
    EXPECT_FALSE(client.eof);
    clock += 1000;
    server->heartbeat();
    ASSERT_TRUE(pumpUntil([&] { return client.poll(), client.eof; }));
    EXPECT_TRUE(pumpUntil([&] { return server->sessionCount() == 0; }));
    EXPECT_EQ(wsMessages, (std::vector<std::string>{"1:hello", "10:"}));
}

} // namespace

namespace {

// The SDK build logs through lumo's logger with the location of the line.
TEST(LoopServerConfig, LogsThroughLumoWithSourceLocation) {
    std::vector<std::string> lines;
    lumo::Logger::defaultLogger().setSink([&lines](const std::string& l) { lines.push_back(l); });
    kohttp::HttpParserContext ctx(kohttp::loop::sdkConfig());
    std::string head = "GET /" + std::string(70000, 'a') + " HTTP/1.1\r\n\r\n";
    ctx.feed(head.data(), head.size());
    lumo::Logger::defaultLogger().setSink({});
    EXPECT_EQ(ctx.error(), kohttp::HttpParserContext::Error::TooLarge);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("] [warn] ["), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("[http_type.cpp:"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("request refused: head over 65536 bytes"), std::string::npos);
}

} // namespace
