// One server connection without sockets: receiving, dispatch, bounds,
// WebSocket frames and the heartbeat on an injected clock.
#include <kohttp/http_connection.h>
#include <kohttp/http_router.h>

#include "test_util.h"

#include <gtest/gtest.h>

#include <random>

using namespace kohttp;

namespace {

using kohttp_test::maskedFrame;

class Connection : public ::testing::Test {
protected:
    void open(HttpConfigPtr base, std::size_t maxWsMessage = 64) {
        auto config = std::make_shared<HttpConfig>(*base);
        config->limits.maxHeadBytes = 512;
        config->limits.maxReceiveBuffer = 4096;
        config->limits.maxWsMessageBytes = maxWsMessage;
        config->log = [this](LogLevel, const char*, int, const std::string& msg) {
            logs.push_back(msg);
        };
        HttpConnection::Hooks hooks;
        hooks.write = [this](std::string b) {
            out += b;
            pendingOutput += b.size();
            blocks.push_back(b);
        };
        hooks.coalesceWrites = coalesce;
        if (boundOutput) {
            config->limits.maxPendingOutput = 100;
            hooks.pendingOutput = [this] { return pendingOutput; };
        }
        hooks.close = [this] { ++closes; };
        hooks.dispatch = [this](const HttpEventPtr& e) { onRequest(e); };
        hooks.wsMessage = [this](int op, std::string p) {
            messages.push_back(std::to_string(op) + ":" + p);
        };
        hooks.now = [this] { return clock; };
        owner = std::make_shared<int>(0);
        conn = std::make_unique<HttpConnection>(config, "127.0.0.1:40000", hooks);
        conn->setOwner(owner);
    }
    void onRequest(const HttpEventPtr& e) {
        paths.push_back(e->path());
        if (e->path() == "/ws") {
            e->response().setStatus(101, "Switching Protocols");
            conn->setWebSocket("/ws");
        } else if (e->path() == "/throw") {
            HttpHandlerByFunc empty{HttpHandlerFunc()};
            empty.handle(e);
        } else if (e->path() == "/later") {
            kept = e;
        } else if (e->path() == "/big") {
            e->response().setBody(std::string(80, 'b'));
        } else {
            e->response().setBody("echo " + e->path());
        }
    }
    void receive(const std::string& bytes) { conn->receive(bytes.data(), bytes.size()); }
    void upgrade(HttpConfigPtr config) {
        open(config);
        receive("GET /ws HTTP/1.1\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n\r\n" +
                maskedFrame(kWsText, "hi"));
        ASSERT_TRUE(conn->isWebSocket());
        out.clear();
    }

    std::int64_t clock = 1'000'000;
    std::string out;
    std::vector<std::string> blocks;
    bool coalesce = false;
    bool boundOutput = false;
    std::size_t pendingOutput = 0; // what the peer has not taken yet
    int closes = 0;
    std::vector<std::string> logs, paths, messages;
    HttpEventPtr kept;
    std::shared_ptr<int> owner;
    std::unique_ptr<HttpConnection> conn;
};

TEST_F(Connection, PipelinedRequestsAreAnsweredInOrder) {
    open(HttpConfig::sdk());
    receive("GET /a HTTP/1.1\r\n\r\nGET /b HTTP/1.1\r\n\r\nGET /c HTTP/1.1\r\n");
    receive("\r\n");
    EXPECT_EQ(paths, (std::vector<std::string>{"/a", "/b", "/c"}));
    EXPECT_EQ(out, "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\necho /a"
                   "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\necho /b"
                   "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\necho /c");
    EXPECT_EQ(closes, 0);
}

TEST_F(Connection, CoalescedWritesKeepOrderAndGoOutBeforeAClose) {
    coalesce = true;
    open(HttpConfig::sdk());
    receive("GET /a HTTP/1.1\r\n\r\nGET /later HTTP/1.1\r\n\r\nGET /b HTTP/1.0\r\n\r\n");
    // One block for what was answered in the round; the held event answers
    // later on its own, and /b (HTTP/1.0) closes after its answer.
    EXPECT_EQ(blocks,
              (std::vector<std::string>{"HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\necho /a"
                                        "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\necho /b"}));
    EXPECT_EQ(closes, 1);
    kept.reset(); // answered after the close: dropped
    EXPECT_EQ(blocks.size(), 1u);
}

TEST_F(Connection, LaterAnswersAreWrittenAtOnceWhenCoalescing) {
    coalesce = true;
    open(HttpConfig::sdk());
    receive("GET /later HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(blocks.empty());
    kept->response().setBody("x");
    kept.reset();
    EXPECT_EQ(blocks,
              (std::vector<std::string>{"HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n", "x"}));
}

// A peer that pipelines requests and does not read their answers: the
// connection stops at the bound, keeps the rest, and goes on in order once
// the peer has taken the answers.
TEST_F(Connection, PausesWhileAnswersWaitAndResumesInOrder) {
    boundOutput = true;
    open(HttpConfig::manager());
    receive("GET /big HTTP/1.1\r\n\r\nGET /a HTTP/1.1\r\n\r\nGET /b HTTP/1.1\r\n\r\n");
    EXPECT_EQ(paths, std::vector<std::string>{"/big"});
    EXPECT_TRUE(conn->isPaused());
    receive("GET /c HTTP/1.1\r\n\r\n");
    EXPECT_EQ(paths.size(), 1u);
    conn->resume(); // still over the bound: stays paused
    EXPECT_EQ(paths.size(), 1u);
    pendingOutput = 0;
    conn->resume();
    EXPECT_EQ(paths, (std::vector<std::string>{"/big", "/a", "/b", "/c"}));
    // Their answers are over the bound again: nothing more is read until the
    // peer takes them.
    EXPECT_TRUE(conn->isPaused());
    pendingOutput = 0;
    conn->resume();
    EXPECT_FALSE(conn->isPaused());
    EXPECT_EQ(closes, 0);
}

TEST_F(Connection, CountsAnswersStillOwed) {
    open(HttpConfig::manager());
    receive("GET /later HTTP/1.1\r\n\r\nGET /a HTTP/1.1\r\n\r\n");
    EXPECT_EQ(conn->unanswered(), 1);
    kept.reset();
    EXPECT_EQ(conn->unanswered(), 0);
}

TEST_F(Connection, ExpectContinueIsAnsweredBeforeTheBody) {
    open(HttpConfig::sdk());
    receive("POST /up HTTP/1.1\r\nExpect: 100-Continue\r\nContent-Length: 3\r\n\r\n");
    EXPECT_EQ(out, "HTTP/1.1 100 Continue\r\n\r\n");
    receive("abc");
    EXPECT_EQ(out,
              "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\necho /up");
    // Refused before the body: no invitation to send it.
    out.clear();
    open(HttpConfig::sdk());
    receive("POST /up HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 99999999999\r\n\r\n");
    EXPECT_EQ(out, payloadTooLargeResponse());
}

TEST_F(Connection, NonHttpBytesCloseAfterTheLogLine) {
    open(HttpConfig::sdk());
    receive("GET /ok HTTP/1.1\r\n\r\n\x16\x03\x01 not http");
    EXPECT_EQ(paths, std::vector<std::string>{"/ok"});
    EXPECT_EQ(out, "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\necho /ok");
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(logs, std::vector<std::string>{"Http parse error, peer 127.0.0.1:40000"});
    receive("GET /more HTTP/1.1\r\n\r\n"); // nothing after the close
    EXPECT_EQ(paths.size(), 1u);
}

TEST_F(Connection, FailingHandlerAnswers500AndTheConnectionGoesOn) {
    open(HttpConfig::sdk());
    receive("GET /throw HTTP/1.1\r\n\r\nGET /next HTTP/1.1\r\n\r\n");
    EXPECT_EQ(out, std::string("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n") +
                       "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\necho /next");
    EXPECT_EQ(closes, 0);
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0].rfind("handler failed: ", 0), 0u);
}

TEST_F(Connection, RequestOverBoundGets413AndClose) {
    open(HttpConfig::sdk());
    receive("GET /" + std::string(600, 'x') + " HTTP/1.1\r\n\r\n");
    EXPECT_EQ(out, payloadTooLargeResponse());
    EXPECT_EQ(closes, 1);
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_NE(logs[0].find("head over 512 bytes"), std::string::npos);
}

TEST_F(Connection, ReceiveBufferIsBounded) {
    open(HttpConfig::sdk(), 1 << 20);
    receive("GET /ws HTTP/1.1\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n\r\n");
    // A frame announcing 60000 bytes, more than the buffer may hold.
    receive(std::string("\x82\x7e\xea\x60", 4) + std::string(4000, 'x'));
    EXPECT_EQ(closes, 0);
    receive(std::string(1000, 'x'));
    EXPECT_EQ(closes, 1);
    EXPECT_NE(logs.back().find("receive buffer over 4096 bytes"), std::string::npos);
}

TEST_F(Connection, PeerThatDoesNotKeepAliveIsClosedAfterTheAnswer) {
    open(HttpConfig::sdk());
    receive("GET /later HTTP/1.0\r\n\r\n");
    EXPECT_EQ(closes, 0);
    kept->response().setBody("done");
    kept.reset();
    EXPECT_EQ(out, "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\ndone");
    EXPECT_EQ(closes, 1);
}

TEST_F(Connection, AnswerAfterCloseIsDropped) {
    open(HttpConfig::sdk());
    receive("GET /later HTTP/1.1\r\n\r\n");
    conn->close();
    kept.reset();
    EXPECT_EQ(out, "");
    EXPECT_EQ(closes, 1);
}

TEST_F(Connection, UpgradeNotTakenCloses) {
    open(HttpConfig::sdk());
    receive("GET /plain HTTP/1.1\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n\r\n\x81\x00");
    EXPECT_EQ(closes, 1);
}

TEST_F(Connection, FramesAfterTheSwitchInTheSameRead) {
    upgrade(HttpConfig::sdk());
    EXPECT_EQ(messages, std::vector<std::string>{"1:hi"});
}

TEST_F(Connection, SdkFrames) {
    upgrade(HttpConfig::sdk());
    messages.clear();
    receive(maskedFrame(kWsPing, "abc") + maskedFrame(kWsBinary, "part1", false) +
            maskedFrame(kWsContinuation, "part2") + maskedFrame(7, "odd"));
    clock += 5;
    receive(maskedFrame(kWsPong, "p"));
    EXPECT_EQ(out, std::string("\x8a\x03"
                               "abc"));
    EXPECT_EQ(messages, (std::vector<std::string>{"2:part1", "10:p"}));
    EXPECT_EQ(conn->pongTime(), clock);
}

TEST_F(Connection, ManagerAssemblesFragments) {
    upgrade(HttpConfig::manager());
    messages.clear();
    receive(maskedFrame(kWsText, "hel", false) + maskedFrame(kWsPing, "") +
            maskedFrame(kWsContinuation, "lo ", false) + maskedFrame(kWsContinuation, "there") +
            maskedFrame(kWsPong, ""));
    EXPECT_EQ(messages, std::vector<std::string>{"1:hello there"});
}

TEST_F(Connection, CloseFrameIsAnsweredAndCloses) {
    upgrade(HttpConfig::sdk());
    receive(maskedFrame(kWsClose, "") + maskedFrame(kWsText, "late"));
    EXPECT_EQ(out, std::string("\x88\x00", 2));
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(messages, std::vector<std::string>{"1:hi"});
}

TEST_F(Connection, OversizedFrameCloses) {
    upgrade(HttpConfig::sdk());
    receive(std::string("\x82\x7e\x10\x00", 4)); // 4096 bytes announced, bound 64
    EXPECT_EQ(closes, 1);
    EXPECT_NE(logs.back().find("websocket frame over 64 bytes"), std::string::npos);
}

TEST_F(Connection, HeartbeatPingsAnsweringPeersAndClosesSilentOnes) {
    upgrade(HttpConfig::sdk());
    const std::string ping("\x89\x00", 2);
    conn->heartbeat();
    EXPECT_EQ(out, ping);
    // Answered: left alone until 30 s after the ping, then pinged again.
    clock += 20;
    receive(maskedFrame(kWsPong, ""));
    for (int s = 1; s <= 29; ++s) {
        clock += 1000;
        conn->heartbeat();
    }
    EXPECT_EQ(out, ping);
    clock += 1000;
    conn->heartbeat();
    EXPECT_EQ(out, ping + ping);
    // Silent: closed on the first round more than 3 s after the ping.
    for (int s = 1; s <= 3; ++s) {
        clock += 1000;
        conn->heartbeat();
        EXPECT_EQ(closes, 0) << s;
    }
    clock += 1000;
    conn->heartbeat();
    EXPECT_EQ(closes, 1);
}

TEST_F(Connection, HeartbeatSurvivesTheClockSteppingBack) {
    clock = 1'700'000'000'000;
    upgrade(HttpConfig::sdk());
    conn->heartbeat(); // ping, never answered
    clock -= 3'600'000;
    conn->heartbeat();
    EXPECT_EQ(closes, 0);
    clock += 3001;
    conn->heartbeat();
    EXPECT_EQ(closes, 1); // the unanswered ping still counts, from the new time
}

TEST_F(Connection, ManagerHeartbeatNeverCloses) {
    upgrade(HttpConfig::manager());
    conn->heartbeat();
    clock += 29000;
    conn->heartbeat();
    EXPECT_EQ(closes, 0);
}

// Mutated request streams (HTTP, then WebSocket frames after the switch) in
// random pieces: never a crash, and nothing is dispatched after a close.
TEST_F(Connection, RandomStreamsAreHandledSafely) {
    std::mt19937 rng(7);
    const std::string valid =
        "GET /a?x=1 HTTP/1.1\r\nCookie: a=1\r\n\r\n"
        "POST /b HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc"
        "GET /ws HTTP/1.1\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n\r\n" +
        maskedFrame(kWsText, "hello") + maskedFrame(kWsPing, "p") +
        maskedFrame(kWsBinary, std::string(200, 'b')) + maskedFrame(kWsClose, "");
    const std::string alphabet = std::string("\r\n: /\x81\x82\x89\x7e\x7f\x00\xff", 13);
    for (int round = 0; round < 1500; ++round) {
        paths.clear();
        messages.clear();
        coalesce = round % 2 == 0;
        open(round % 3 ? HttpConfig::sdk() : HttpConfig::manager());
        std::string input = kohttp_test::mutate(rng, valid, alphabet, 6);
        std::size_t afterClose = 0;
        kohttp_test::feedRandomly(rng, input, 50, [&](const char* d, std::size_t n) {
            std::size_t before = paths.size() + messages.size();
            bool wasClosed = conn->isClosed();
            conn->receive(d, n);
            if (wasClosed) {
                afterClose += paths.size() + messages.size() - before;
            }
            return n;
        });
        ASSERT_EQ(afterClose, 0u) << round;
        kept.reset();
        conn.reset();
    }
}

} // namespace
