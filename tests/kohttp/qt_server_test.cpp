// The HTTP server on Qt sockets with real clients: curl, raw sockets and a
// small WebSocket client, on a loopback address of this test's own (inside a
// private network namespace when the system allows one). The test thread runs
// the server's event loop; curl runs on another thread while it is pumped.
#include <kohttp/qt/http_server.h>
#include <kohttp/qt/lambda_runnable.h>

#include "netclient.h"
#include "netns.h"
#include "qtpump.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QSemaphore>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <sys/resource.h>
#include <thread>

using namespace kohttp;
using kohttp::qt::HttpServer;
using kohttp::qt::HttpSession;
using kohttp::qt::HttpSessionPtr;
using kohttp::qt::LambdaRunnable;
using kohttp_test::maskedFrame;
using netclient::bodyOf;
using netclient::RawClient;

namespace {

std::string g_host;
bool g_privateNetwork = false;

// Every Qt log line of the process, as the program's handler would see it.
std::mutex g_logMutex;
std::vector<std::string> g_logs;

void captureLog(QtMsgType, const QMessageLogContext&, const QString& msg) {
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_logs.push_back(msg.toStdString());
}

bool logged(const std::string& text) {
    std::lock_guard<std::mutex> lock(g_logMutex);
    for (const std::string& line : g_logs) {
        if (line.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

const std::string kPing("\x89\x00", 2);

class QtServer : public ::testing::Test {
protected:
    void SetUp() override {
        std::lock_guard<std::mutex> lock(g_logMutex);
        g_logs.clear();
    }

    void start(HttpConfigPtr config = kohttp::qt::managerConfig()) {
        server = std::make_unique<HttpServer>(nullptr, config, [this] { return clock.load(); });
        QObject::connect(server.get(), &HttpServer::serverStatus,
                         [this](bool started) { statuses.push_back(started); });
        QObject::connect(server.get(), &HttpServer::sessionConnected,
                         [this](HttpSession* s) { connected.push_back(s); });
        QObject::connect(server.get(), &HttpServer::sessionDisconnected,
                         [this](HttpSession*) { ++disconnected; });
        addRoutes();
        emit server->d()->start(QHostAddress(QString::fromStdString(g_host)), 0);
        port = server->port();
        ASSERT_NE(port, 0);
    }

    void addRoutes() {
        server->route(kMethodGet, "/api/<id>/info", [](const HttpEventPtr& e) {
            e->response().setBody("id=" + e->request().params.at("id"));
        });
        server->route(kMethodGet, "/hold", [this](const HttpEventPtr& e) { held = e; });
        server->route(kMethodGet, "/throw",
                      [](const HttpEventPtr&) { throw std::runtime_error("handler broke"); });
        server->route(kMethodGet, "/thread", [](const HttpEventPtr& e) {
            bool onMain = QThread::currentThread() == QCoreApplication::instance()->thread();
            e->response().setBody(onMain ? "main" : "pool");
        });
        // Answers from a pool task once the test opens the gate.
        server->route(kMethodGet, "/slow", [this](const HttpEventPtr& e) {
            pool.start(new LambdaRunnable([this, e] {
                slowStarted = true;
                gate.acquire();
                e->response().setBody("late answer");
            }));
        });
        server->route(kMethodGet, "/big/<n>", [this](const HttpEventPtr& e) {
            ++bigCalls;
            int n = std::stoi(e->request().params.at("n"));
            e->response().setBody(std::string(kBig, static_cast<char>('a' + n % 26)));
        });
        server->route(kMethodGet, "/ws", [this](const HttpEventPtr& e) {
            auto session = e->session<HttpSession>();
            const auto& q = e->query();
            if (q.count("org")) {
                session->setOrgId(std::stoi(q.at("org")));
            }
            if (q.count("also")) {
                session->setOrgIds({std::stoi(q.at("also"))});
            }
            if (q.count("token")) {
                session->setProperty("access_token", QString::fromStdString(q.at("token")));
            }
            server->subscribe(session, "/ws");
            e->response().setStatus(101, "Switching Protocols");
            e->response().setHeader("Upgrade", "websocket");
            e->response().setHeader("Connection", "Upgrade");
        });
        server->setWebSocketHandler("/ws", [this](const HttpSessionPtr&, int opcode,
                                                  const QByteArray& payload) {
            if (payload == "throw") {
                throw std::runtime_error("message handler broke");
            }
            std::lock_guard<std::mutex> lock(wsMutex);
            wsMessages.push_back(std::to_string(opcode) + ":" + payload.toStdString());
            wsOnMain.push_back(QThread::currentThread() == QCoreApplication::instance()->thread());
        });
    }

    void TearDown() override {
        gate.release(100);
        pool.waitForDone();
        held.reset();
        server.reset();
        flush();
    }

    static void flush() { qtpump::flushDeletions(); }
    static void pumpOnce() { qtpump::once(); }
    template <class Done> static bool pumpUntil(Done done) { return qtpump::until(done); }

    std::string url(const std::string& path) const {
        return "http://" + g_host + ":" + std::to_string(port) + path;
    }
    static std::string curl(const std::string& args) { return qtpump::curl(args); }

    // A raw client switched to WebSocket on /ws with the query given.
    std::unique_ptr<RawClient> wsClient(const std::string& query = "") {
        auto client = std::make_unique<RawClient>(g_host, port);
        client->send("GET /ws" + query +
                     " HTTP/1.1\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n\r\n");
        EXPECT_TRUE(pumpUntil([&] {
            client->poll();
            return client->in.find("\r\n\r\n") != std::string::npos;
        }));
        EXPECT_EQ(client->in.rfind("HTTP/1.1 101 Switching Protocols\r\n", 0), 0u) << client->in;
        client->in.clear();
        return client;
    }

    std::vector<std::string> messages() {
        std::lock_guard<std::mutex> lock(wsMutex);
        return wsMessages;
    }

    static constexpr std::size_t kBig = 1 << 20;
    std::unique_ptr<HttpServer> server;
    std::uint16_t port = 0;
    std::atomic<qint64> clock{1'700'000'000'000};
    std::vector<bool> statuses;
    std::vector<HttpSession*> connected;
    int disconnected = 0;
    HttpEventPtr held;
    QThreadPool pool;
    QSemaphore gate;
    std::atomic<bool> slowStarted{false};
    std::atomic<int> bigCalls{0};
    std::mutex wsMutex;
    std::vector<std::string> wsMessages;
    std::vector<bool> wsOnMain;
};

TEST_F(QtServer, StartStopAndStatus) {
    start();
    EXPECT_TRUE(logged("http server bound to tcp port " + std::to_string(port)));
    emit server->d()->start(QHostAddress::LocalHost, 1); // second start: no effect
    EXPECT_EQ(server->port(), port);
    EXPECT_EQ(statuses, std::vector<bool>{true});

    HttpServer other;
    std::vector<bool> otherStatus;
    QObject::connect(&other, &HttpServer::serverStatus,
                     [&](bool started) { otherStatus.push_back(started); });
    emit other.d()->start(QHostAddress(QString::fromStdString(g_host)), port); // taken
    EXPECT_EQ(otherStatus, std::vector<bool>{false});
    EXPECT_FALSE(other.isListening());
    EXPECT_TRUE(logged("Failed to bind to host " + g_host + " port " + std::to_string(port)));

    emit server->d()->stop();
    emit server->d()->stop(); // stopping a stopped server still reports it
    EXPECT_EQ(statuses, (std::vector<bool>{true, false, false}));
    EXPECT_FALSE(server->isListening());
    flush();
    emit server->d()->start(QHostAddress(QString::fromStdString(g_host)), port);
    EXPECT_EQ(statuses.back(), true);
    EXPECT_EQ(curl(url("/api/9/info")), "id=9");
}

TEST_F(QtServer, RoutesAndNotFoundAnswers) {
    start();
    struct Case {
        std::string method, path, statusLine, body;
    };
    const Case cases[] = {
        {"GET", "/api/42/info", "HTTP/1.1 200 OK", "id=42"},
        {"GET", "/api/42/other", "HTTP/1.1 404 Not found", HttpRouter::kNoPathBody},
        {"POST", "/api/42/info", "HTTP/1.1 404 Not found", HttpRouter::kNoMethodBody},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method + " " + c.path);
        std::string out = curl("-i -X " + c.method + " " + url(c.path));
        EXPECT_EQ(out.substr(0, c.statusLine.size() + 2), c.statusLine + "\r\n");
        EXPECT_EQ(bodyOf(out), c.body);
    }
}

TEST_F(QtServer, KeepAliveServesTwoRequestsOnOneConnection) {
    start();
    // num_connects is 0 for a transfer that reused the connection.
    std::string out =
        curl("-w ' %{num_connects}\\n' " + url("/api/1/info") + " " + url("/api/2/info"));
    EXPECT_EQ(out, "id=1 1\nid=2 0\n");
    EXPECT_EQ(connected.size(), 1u);
}

TEST_F(QtServer, NonHttpBytesCloseAfterTheLogLine) {
    start();
    RawClient client(g_host, port);
    ASSERT_TRUE(client.connected());
    client.send(std::string("\x16\x03\x01\x00\xa5\x01\x00\x00", 8));
    ASSERT_TRUE(pumpUntil([&] { return client.poll(), client.eof; }));
    EXPECT_EQ(client.in, "");
    EXPECT_TRUE(logged("Http parse error, peer " + g_host + ":"));
    EXPECT_TRUE(pumpUntil([&] { return server->sessionCount() == 0; }));
    EXPECT_EQ(disconnected, 1);
}

TEST_F(QtServer, RequestsOverTheBoundsAre413) {
    start();
    struct Case {
        std::string request;
        std::string log;
    };
    const Case cases[] = {
        {"GET /" + std::string(70000, 'a') + " HTTP/1.1\r\n\r\n", "head over 65536 bytes"},
        {"POST /x HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\n", "body of 99999999999 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.log);
        RawClient client(g_host, port);
        client.send(c.request);
        ASSERT_TRUE(pumpUntil([&] { return client.poll(), client.eof; }));
        EXPECT_EQ(client.in, payloadTooLargeResponse());
        EXPECT_TRUE(logged(c.log));
    }
}

TEST_F(QtServer, AnswerFromAPoolTaskAfterADelay) {
    start();
    bool opened = false;
    // The gate opens once the task waits behind it, while curl waits for us.
    std::string out = netclient::runCommand("curl -s --max-time 20 " + url("/slow"), [&] {
        pumpOnce();
        if (slowStarted && !opened) {
            opened = true;
            gate.release();
        }
    });
    EXPECT_TRUE(opened);
    EXPECT_EQ(out, "late answer");
}

TEST_F(QtServer, AnswerFromAPoolTaskAfterTheClientLeftIsDiscarded) {
    start();
    {
        RawClient client(g_host, port);
        client.send("GET /slow HTTP/1.1\r\n\r\n");
        ASSERT_TRUE(pumpUntil([&] { return slowStarted.load(); }));
    }
    ASSERT_TRUE(pumpUntil([&] { return server->sessionCount() == 0; }));
    gate.release();
    pool.waitForDone(); // the event was released on the pool thread
    flush();
    EXPECT_FALSE(logged("QIODevice"));
    EXPECT_EQ(curl(url("/api/5/info")), "id=5");
}

TEST_F(QtServer, AnswerAfterTheServerWentIsDropped) {
    start();
    RawClient client(g_host, port);
    client.send("GET /hold HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(pumpUntil([&] { return held != nullptr; }));
    server.reset();
    held->response().setBody("too late");
    held.reset();
    ASSERT_TRUE(pumpUntil([&] { return client.poll(), client.eof; }));
    EXPECT_EQ(client.in, "");
}

TEST_F(QtServer, SocketSendReachesLiveSocketsAndDropsDepartedOnes) {
    start();
    auto client = std::make_unique<RawClient>(g_host, port);
    ASSERT_TRUE(pumpUntil([&] { return connected.size() == 1; }));
    QTcpSocket* socket = connected[0]->socket();
    std::thread([&] { emit server->d()->socketSend(socket, "pushed"); }).join();
    ASSERT_TRUE(pumpUntil([&] { return client->poll(), client->in == "pushed"; }));

    client.reset();
    ASSERT_TRUE(pumpUntil([&] { return server->sessionCount() == 0; }));
    std::thread([&] { emit server->d()->socketSend(socket, "to nobody"); }).join();
    flush();
    EXPECT_EQ(curl(url("/api/6/info")), "id=6");
}

TEST_F(QtServer, WorkerPoolRunsTheHandlers) {
    start();
    server->setWorkerPool(&pool);
    EXPECT_EQ(curl(url("/thread")), "pool");
    EXPECT_EQ(curl(url("/api/3/info")), "id=3");
    // The handshake stays on the server's thread; messages go to the pool.
    auto client = wsClient();
    client->send(maskedFrame(kWsText, "on the pool"));
    ASSERT_TRUE(pumpUntil([&] { return messages().size() == 1; }));
    std::lock_guard<std::mutex> lock(wsMutex);
    EXPECT_EQ(wsMessages[0], "1:on the pool");
    EXPECT_FALSE(wsOnMain[0]);
}

// A throwing handler answers its own request with 500 (also on the pool), a
// throwing message handler is logged, and the server goes on.
TEST_F(QtServer, FailingHandlersAreContained) {
    start();
    EXPECT_EQ(curl("-o /dev/null -w '%{http_code}' " + url("/throw")), "500");
    EXPECT_TRUE(logged("handler failed: handler broke, peer "));
    auto client = wsClient();
    client->send(maskedFrame(kWsText, "throw") + maskedFrame(kWsText, "after"));
    ASSERT_TRUE(pumpUntil([&] { return messages().size() == 1; }));
    EXPECT_EQ(messages(), std::vector<std::string>{"1:after"});
    EXPECT_TRUE(logged("websocket handler failed: message handler broke peer " + g_host));
    server->setWorkerPool(&pool);
    EXPECT_EQ(curl("-o /dev/null -w '%{http_code}' " + url("/throw")), "500");
    EXPECT_EQ(curl(url("/api/4/info")), "id=4");
}

// Listening on both stacks, an IPv4 peer still reads as dotted IPv4.
TEST_F(QtServer, DualStackPeersReadAsIpv4) {
    if (!g_privateNetwork) {
        GTEST_SKIP() << "listens on every address: needs a private network namespace";
    }
    server = std::make_unique<HttpServer>();
    QObject::connect(server.get(), &HttpServer::sessionConnected,
                     [this](HttpSession* s) { connected.push_back(s); });
    emit server->d()->start(QHostAddress::Any, 0);
    port = server->port();
    ASSERT_NE(port, 0);
    RawClient client(g_host, port);
    ASSERT_TRUE(pumpUntil([&] { return connected.size() == 1; }));
    EXPECT_EQ(connected[0]->socket()->peerAddress().protocol(), QAbstractSocket::IPv6Protocol);
    EXPECT_EQ(connected[0]->peerAddress().toStdString(), g_host);
}

TEST_F(QtServer, ConnectionsBeyondTheCapAreRefused) {
    start();
    server->setMaxSessions(2);
    RawClient a(g_host, port), b(g_host, port);
    ASSERT_TRUE(pumpUntil([&] { return server->sessionCount() == 2; }));
    RawClient refused(g_host, port);
    ASSERT_TRUE(pumpUntil([&] { return refused.poll(), refused.eof; }));
    EXPECT_TRUE(logged("http connection refused: 2 sessions open, peer " + g_host));
    for (RawClient* c : {&a, &b}) {
        c->send("GET /api/7/info HTTP/1.1\r\n\r\n");
        ASSERT_TRUE(pumpUntil([&] { return c->poll(), bodyOf(c->in) == "id=7"; }));
    }
}

// Silent connections go after the idle time; one owed an answer, one that
// spoke lately and WebSocket subscribers stay.
TEST_F(QtServer, IdleConnectionsAreClosed) {
    start();
    RawClient silent(g_host, port), waiting(g_host, port), active(g_host, port);
    auto subscriber = wsClient();
    ASSERT_TRUE(pumpUntil([&] { return server->sessionCount() == 4; }));
    waiting.send("GET /hold HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(pumpUntil([&] { return held != nullptr; }));
    clock += HttpServer::kDefaultIdleTimeoutMs - 1000;
    active.send("GET /api/1/info HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(pumpUntil([&] { return active.poll(), bodyOf(active.in) == "id=1"; }));
    clock += 1000;
    server->closeIdleSessions();
    ASSERT_TRUE(pumpUntil([&] { return silent.poll(), silent.eof; }));
    EXPECT_TRUE(logged("http idle connection closed, peer " + g_host));
    for (RawClient* c : {&waiting, &active, subscriber.get()}) {
        c->poll();
        EXPECT_FALSE(c->eof);
    }
    clock += HttpServer::kDefaultIdleTimeoutMs;
    server->closeIdleSessions();
    ASSERT_TRUE(pumpUntil([&] { return active.poll(), active.eof; }));
    held->response().setBody("kept");
    held.reset();
    ASSERT_TRUE(pumpUntil([&] { return waiting.poll(), bodyOf(waiting.in) == "kept"; }));
    EXPECT_FALSE(waiting.eof);
}

// A peer that pipelines requests and reads nothing: the server stops
// answering at the output bound, and every answer still arrives, in order,
// once the peer reads.
TEST_F(QtServer, UnreadAnswersAreBounded) {
    auto config = std::make_shared<HttpConfig>(*kohttp::qt::managerConfig());
    config->limits.maxPendingOutput = 256 * 1024;
    start(config);
    constexpr int kRequests = 50;
    RawClient client(g_host, port);
    std::string requests;
    for (int i = 0; i < kRequests; ++i) {
        requests += "GET /big/" + std::to_string(i) + " HTTP/1.1\r\n\r\n";
    }
    client.send(requests);
    // Let the server run until it stops answering.
    int last = -1;
    for (int stable = 0; stable < 100;) {
        pumpOnce();
        stable = bigCalls == last ? stable + 1 : 0;
        last = bigCalls;
    }
    EXPECT_GE(bigCalls, 1);
    EXPECT_LT(bigCalls, kRequests);

    const std::string head =
        "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kBig) + "\r\n\r\n";
    const std::size_t total = kRequests * (head.size() + kBig);
    ASSERT_TRUE(pumpUntil([&] { return client.poll(), client.in.size() >= total; }));
    EXPECT_EQ(bigCalls, kRequests);
    ASSERT_EQ(client.in.size(), total);
    for (int i = 0; i < kRequests; ++i) {
        std::size_t at = i * (head.size() + kBig);
        ASSERT_EQ(client.in.compare(at, head.size(), head), 0) << i;
        ASSERT_EQ(client.in[at + head.size()], static_cast<char>('a' + i % 26)) << i;
        ASSERT_EQ(client.in[at + head.size() + kBig - 1], static_cast<char>('a' + i % 26)) << i;
    }
}

TEST_F(QtServer, AcceptingResumesAfterDescriptorsRanOut) {
    start();
    server->setAcceptRetryDelay(20);
    RawClient client(g_host, port); // waits in the listen queue
    ASSERT_TRUE(client.connected());
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    int next = ::dup(0); // the lowest free descriptor
    ::close(next);
    rlimit low = old;
    low.rlim_cur = static_cast<rlim_t>(next);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    bool failed = pumpUntil([] { return logged("http accept error"); });
    ::setrlimit(RLIMIT_NOFILE, &old);
    ASSERT_TRUE(failed);
    ASSERT_TRUE(pumpUntil([&] { return server->sessionCount() == 1; }));
    client.send("GET /api/8/info HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(pumpUntil([&] { return client.poll(), bodyOf(client.in) == "id=8"; }));
}

TEST_F(QtServer, InterceptorCanStopTheDispatch) {
    start();
    server->addInterceptor([](const HttpEventPtr& e) {
        if (e->path() != "/api/1/info") {
            return true;
        }
        e->response().setStatus(403, "Forbidden");
        return false;
    });
    EXPECT_EQ(curl("-o /dev/null -w '%{http_code}' " + url("/api/1/info")), "403");
    EXPECT_EQ(curl(url("/api/2/info")), "id=2");
}

TEST_F(QtServer, WebSocketFramesPingAndClose) {
    start();
    auto client = wsClient();
    // A text message in a first frame without FIN and a continuation: once.
    client->send(maskedFrame(kWsText, "hel", false) + maskedFrame(kWsPing, "abc") +
                 maskedFrame(kWsContinuation, "lo"));
    const std::string pong = std::string("\x8a\x03") + "abc";
    ASSERT_TRUE(pumpUntil([&] { return client->poll(), client->in == pong; }));
    ASSERT_TRUE(pumpUntil([&] { return messages().size() == 1; }));
    EXPECT_EQ(messages(), std::vector<std::string>{"1:hello"});
    EXPECT_TRUE(wsOnMain[0]);
    client->in.clear();

    client->send(maskedFrame(kWsClose, ""));
    ASSERT_TRUE(pumpUntil([&] { return client->poll(), client->eof; }));
    EXPECT_EQ(client->in, std::string("\x88\x00", 2));
    EXPECT_TRUE(pumpUntil([&] { return server->sessionCount() == 0; }));
}

TEST_F(QtServer, NotificationsByOrganisationAndToken) {
    start();
    auto any = wsClient();                     // organisation 0: every notification
    auto five = wsClient("?org=5");            // its own organisation
    auto seven = wsClient("?org=7&also=5");    // its own and a further one
    auto token = wsClient("?org=9&token=abc"); // its own, and by token
    auto frame = [](int opcode, const std::string& payload) {
        return std::string(1, static_cast<char>(0x80 | opcode)) +
               std::string(1, static_cast<char>(payload.size())) + payload;
    };
    // From another thread, through the private signals.
    std::thread([&] {
        emit server->d()->websocketNotify("/ws", "to 5", 5);
        emit server->d()->websocketNotify("/ws", "to 7", 7);
        emit server->d()->websocketNotify("/ws", "to all", 0);
        emit server->d()->websocketNotify("/elsewhere", "nobody", 0);
        emit server->d()->websocketNotifyByToken("/ws", "secret", "abc");
    }).join();
    const std::string to5 = frame(kWsText, "to 5"), to7 = frame(kWsText, "to 7"),
                      all = frame(kWsText, "to all"), secret = frame(kWsBinary, "secret");
    struct Case {
        RawClient* client;
        std::string expected;
    };
    const Case cases[] = {{any.get(), to5 + to7 + all},
                          {five.get(), to5 + all},
                          {seven.get(), to5 + to7 + all},
                          {token.get(), all + secret}};
    for (const Case& c : cases) {
        ASSERT_TRUE(
            pumpUntil([&] { return c.client->poll(), c.client->in.size() >= c.expected.size(); }));
        EXPECT_EQ(c.client->in, c.expected);
    }
}

// The heartbeat pings subscribers idle for 30 s on the server's clock and
// never closes them for a missing pong.
TEST_F(QtServer, HeartbeatOnTheInjectedClock) {
    start();
    auto client = wsClient();
    server->onWsHbTimer(); // never pinged yet
    ASSERT_TRUE(pumpUntil([&] { return client->poll(), client->in == kPing; }));
    client->in.clear();
    clock += 29000;
    server->onWsHbTimer();
    clock += 999;
    server->onWsHbTimer();
    for (int i = 0; i < 20; ++i) {
        pumpOnce();
    }
    client->poll();
    EXPECT_EQ(client->in, "");
    clock += 2;
    server->onWsHbTimer();
    ASSERT_TRUE(pumpUntil([&] { return client->poll(), client->in == kPing; }));
    client->in.clear();
    clock += 120000; // pongs never came: pinged again, still open
    server->onWsHbTimer();
    ASSERT_TRUE(pumpUntil([&] { return client->poll(), client->in == kPing; }));
    EXPECT_FALSE(client->eof);
    EXPECT_EQ(server->sessionCount(), 1);
    client->send(maskedFrame(kWsPong, ""));
    ASSERT_TRUE(pumpUntil([&] { return connected[0]->pongTime() == clock; }));
}

TEST_F(QtServer, AnsweredSocketsHaveNoDelay) {
    start();
    RawClient client(g_host, port);
    ASSERT_TRUE(pumpUntil([&] { return connected.size() == 1; }));
    EXPECT_EQ(connected[0]->socket()->socketOption(QAbstractSocket::LowDelayOption).toInt(), 1);
    EXPECT_TRUE(kohttp::qt::managerConfig()->headWithBody);
    EXPECT_EQ(connected[0]->peerAddress().toStdString(), g_host);
}

TEST_F(QtServer, TlsConnections) {
    if (!QSslSocket::supportsSsl()) {
        GTEST_SKIP() << "Qt has no TLS support here";
    }
    QTemporaryDir dir;
    const std::string key = dir.path().toStdString() + "/key.pem";
    const std::string cert = dir.path().toStdString() + "/cert.pem";
    const std::string make = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
                             "-nodes -days 1 -subj /CN=tesmo-test -keyout " +
                             key + " -out " + cert + " >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) {
        GTEST_SKIP() << "openssl could not make a certificate";
    }
    QFile keyFile(QString::fromStdString(key));
    ASSERT_TRUE(keyFile.open(QIODevice::ReadOnly));
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(QSslCertificate::fromPath(QString::fromStdString(cert)).value(0));
    tls.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Ec));
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);

    server = std::make_unique<HttpServer>();
    server->setTlsConfiguration(tls);
    addRoutes();
    emit server->d()->start(QHostAddress(QString::fromStdString(g_host)), 0);
    port = server->port();
    ASSERT_NE(port, 0);
    EXPECT_EQ(curl("-k https://" + g_host + ":" + std::to_string(port) + "/api/11/info"), "id=11");
    // A peer that does not speak TLS gets nothing.
    EXPECT_EQ(curl(url("/api/12/info")), "");
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    g_privateNetwork = netns::enterLoopbackOnly();
    g_host = netns::loopbackAddress(0, g_privateNetwork);
    qInstallMessageHandler(captureLog);
    QCoreApplication app(argc, argv);
    int status = RUN_ALL_TESTS();
    qInstallMessageHandler(nullptr);
    return status;
}
