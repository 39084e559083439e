// The REST client against a tiny raw HTTP server on 127.0.0.61:8080.
#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QTimer>

#include "rest/rest.h"

namespace {

const char* const kServerAddress = "127.0.0.61";
const char* const kHost = "127.0.0.61";
const char* const kBase = "http://127.0.0.61:8080";

struct Recorded {
    QByteArray method;
    QByteArray path;
    QList<QPair<QByteArray, QByteArray>> headers; // in arrival order, names lower-cased
    QByteArray body;

    bool has(const QByteArray& name) const { return index(name) >= 0; }
    QByteArray value(const QByteArray& name) const {
        const int i = index(name);
        return i >= 0 ? headers[i].second : QByteArray();
    }
    int index(const QByteArray& name) const {
        for (int i = 0; i < headers.size(); ++i) {
            if (headers[i].first == name.toLower()) {
                return i;
            }
        }
        return -1;
    }
};

// Accepts connections, reads one request per connection and either answers it with the
// configured status and body (then closes) or never answers.
class TestServer {
public:
    bool answer = true;
    int status = 200;
    QByteArray reason = "OK";
    QByteArray body = "{}";
    std::vector<Recorded> requests;
    int disconnects = 0;

    bool listen() {
        QObject::connect(&server_, &QTcpServer::newConnection, [this] { accept(); });
        return server_.listen(QHostAddress(QString::fromLatin1(kServerAddress)), 8080);
    }
    QString errorString() const { return server_.errorString(); }

private:
    void accept() {
        while (QTcpSocket* s = server_.nextPendingConnection()) {
            auto buffer = std::make_shared<QByteArray>();
            QObject::connect(s, &QTcpSocket::readyRead, s, [this, s, buffer] {
                buffer->append(s->readAll());
                if (complete(*buffer) && answer) {
                    reply(s);
                }
            });
            QObject::connect(s, &QTcpSocket::disconnected, s, [this, s] {
                ++disconnects;
                s->deleteLater();
            });
        }
    }

    // Records the request once its headers and body have arrived.
    bool complete(const QByteArray& data) {
        const int end = data.indexOf("\r\n\r\n");
        if (end < 0) {
            return false;
        }
        Recorded r;
        const QList<QByteArray> lines = data.left(end).split('\n');
        const QList<QByteArray> first = lines[0].trimmed().split(' ');
        r.method = first.value(0);
        r.path = first.value(1);
        int length = 0;
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines[i].indexOf(':');
            const QByteArray name = lines[i].left(colon).trimmed().toLower();
            const QByteArray value = lines[i].mid(colon + 1).trimmed();
            r.headers.append({name, value});
            if (name == "content-length") {
                length = value.toInt();
            }
        }
        if (data.size() < end + 4 + length) {
            return false;
        }
        r.body = data.mid(end + 4, length);
        requests.push_back(r);
        return true;
    }

    void reply(QTcpSocket* s) {
        QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + " " + reason + "\r\n";
        out += "Content-Type: application/json\r\n";
        out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        out += "Connection: close\r\n\r\n";
        out += body;
        s->write(out);
        s->disconnectFromHost();
    }

    QTcpServer server_;
};

// Debug lines of the code under test.
std::vector<QString>* gLog = nullptr;

void captureMessages(QtMsgType, const QMessageLogContext&, const QString& msg) {
    if (gLog != nullptr) {
        gLog->push_back(msg);
    }
}

struct Outcome {
    int calls = 0;
    std::string error;
    ReplyBase reply;
};

class RestTest : public testing::Test {
protected:
    void SetUp() override {
        setRequestTimeoutMsForTesting(5000);
        if (!server_.listen()) {
            GTEST_SKIP() << "cannot listen on " << kServerAddress
                         << ":8080: " << server_.errorString().toStdString();
        }
        gLog = &log_;
        previous_ = qInstallMessageHandler(captureMessages);
    }
    void TearDown() override {
        qInstallMessageHandler(previous_);
        gLog = nullptr;
        setRequestTimeoutMsForTesting(5000);
    }

    // Runs request<ReplyBase> and waits for its callback.
    Outcome call(const std::string& body = std::string(), const std::string& session = "",
                 const QString& path = "/rest/test", const QString& host = kHost) {
        auto outcome = std::make_shared<Outcome>();
        request<ReplyBase>(host, path, body, session,
                           [outcome](ReplyBase& reply, const std::string& error) {
                               ++outcome->calls;
                               outcome->error = error;
                               outcome->reply = reply;
                           });
        EXPECT_TRUE(QTest::qWaitFor([&] { return outcome->calls > 0; }, 10000));
        QTest::qWait(20); // a second callback would show up here
        return *outcome;
    }

    TestServer server_;
    std::vector<QString> log_;
    QtMessageHandler previous_ = nullptr;
};

// ---------------------------------------------------------------------------------------
// request<Resp>

TEST_F(RestTest, SilentServerTimesOutOnce) {
    setRequestTimeoutMsForTesting(300);
    server_.answer = false;
    QElapsedTimer clock;
    clock.start();
    const Outcome o = call();
    const qint64 elapsed = clock.elapsed();
    EXPECT_EQ(o.calls, 1);
    EXPECT_EQ(o.error, "网络超时");
    EXPECT_GE(elapsed, 290);
    EXPECT_LT(elapsed, 4000);
    ASSERT_EQ(server_.requests.size(), 1u);
    // The reply was aborted: the connection goes away, and no second callback comes.
    EXPECT_TRUE(QTest::qWaitFor([&] { return server_.disconnects == 1; }, 2000));
    QTest::qWait(400);
    EXPECT_EQ(std::count(log_.begin(), log_.end(), QString("timeout")), 1);
}

TEST_F(RestTest, SilentServerWithoutTimeoutLog) {
    setRequestTimeoutMsForTesting(100);
    server_.answer = false;
    int calls = 0;
    std::string error;
    request<ReplyBase>(
        kHost, "/rest/device_info", "", "",
        [&](ReplyBase&, const std::string& e) {
            ++calls;
            error = e;
        },
        false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return calls > 0; }, 5000));
    QTest::qWait(200);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(error, "网络超时");
    EXPECT_EQ(std::count(log_.begin(), log_.end(), QString("timeout")), 0);
}

TEST_F(RestTest, Code200IsSuccess) {
    server_.body = R"({"code":200,"message":"fine"})";
    const Outcome o = call();
    EXPECT_EQ(o.calls, 1);
    EXPECT_EQ(o.error, "");
    EXPECT_EQ(o.reply.code, 200);
    EXPECT_EQ(o.reply.message, "fine");
}

TEST_F(RestTest, OtherCodeGivesTheMessage) {
    server_.body = R"({"code":500,"message":"设备忙"})";
    const Outcome o = call();
    EXPECT_EQ(o.calls, 1);
    EXPECT_EQ(o.error, "设备忙");
    EXPECT_EQ(o.reply.code, 500);
}

TEST_F(RestTest, EmptyObjectIsSuccess) {
    server_.body = "{}";
    const Outcome o = call();
    EXPECT_EQ(o.error, "");
    EXPECT_EQ(o.reply.code, 200);
}

TEST_F(RestTest, NonJsonGivesParseError) {
    server_.body = "<html>hello</html>";
    const Outcome o = call();
    EXPECT_EQ(o.calls, 1);
    EXPECT_EQ(o.error, "json obj has parse error");
}

TEST_F(RestTest, WrongMemberTypeGivesConversionMessage) {
    server_.body = R"({"code":200,"message":7})";
    const Outcome o = call();
    EXPECT_EQ(o.calls, 1);
    EXPECT_EQ(o.error, "message is not a string");
}

struct ValueReply : ReplyBase {
    struct Value : vo::JsonClient {
        std::string token;
        void encode(vo::JsonEncodeVisitor& v) const override { v.visit("token", token); }
        void decode(vo::JsonDecodeVisitor& v) override { v.visit("token", token); }
    } value;

    void encode(vo::JsonEncodeVisitor& v) const override {
        ReplyBase::encode(v);
        v.visit("value", value);
    }
    void decode(vo::JsonDecodeVisitor& v) override {
        ReplyBase::decode(v);
        v.visit("value", value);
    }
};

TEST_F(RestTest, DerivedResponseRecord) {
    server_.body = R"({"code":200,"message":"","value":{"token":"abc"}})";
    int calls = 0;
    std::string token;
    request<ValueReply>(kHost, "/rest/login", R"({"user_name":"admin"})", "",
                        [&](ValueReply& r, const std::string& e) {
                            ++calls;
                            EXPECT_EQ(e, "");
                            token = r.value.token;
                        });
    EXPECT_TRUE(QTest::qWaitFor([&] { return calls > 0; }, 5000));
    EXPECT_EQ(token, "abc");
}

TEST_F(RestTest, EmptyBodySendsGetWithoutContentType) {
    call("", "", "/rest/list_apps");
    ASSERT_EQ(server_.requests.size(), 1u);
    const Recorded& r = server_.requests[0];
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.path, "/rest/list_apps");
    EXPECT_FALSE(r.has("Content-Type"));
    EXPECT_EQ(r.value("Accept"), "*/*");
    EXPECT_EQ(r.value("Host"), "127.0.0.61:8080");
}

TEST_F(RestTest, BodySendsPostWithJsonContentType) {
    const std::string body = R"({"name":"app-1"})";
    call(body, "", "/rest/update_app");
    ASSERT_EQ(server_.requests.size(), 1u);
    const Recorded& r = server_.requests[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.path, "/rest/update_app");
    EXPECT_EQ(r.value("Content-Type"), "application/json");
    EXPECT_EQ(r.body.toStdString(), body);
}

TEST_F(RestTest, SessionHeaderOnlyWithAToken) {
    call("", "");
    call("", "tok-123");
    ASSERT_EQ(server_.requests.size(), 2u);
    EXPECT_FALSE(server_.requests[0].has("SESSION"));
    EXPECT_EQ(server_.requests[1].value("SESSION"), "tok-123");
}

TEST_F(RestTest, NotFoundIsANetworkError) {
    server_.status = 404;
    server_.reason = "Not Found";
    server_.body = R"({"code":200})";
    const Outcome o = call();
    EXPECT_EQ(o.calls, 1);
    EXPECT_EQ(o.error, "网络超时");
}

TEST_F(RestTest, ConnectionRefusedIsANetworkError) {
    const Outcome o = call("", "", "/rest/x", "127.0.0.62");
    EXPECT_EQ(o.calls, 1);
    EXPECT_EQ(o.error, "网络超时");
}

TEST_F(RestTest, CallbackRunsOnTheCallingThread) {
    server_.body = R"({"code":200})";
    // A plain thread with its own event loop, joined at the end: its results reach this
    // thread through the join and an atomic flag, which ThreadSanitizer follows. (Qt's
    // queued calls and QThread::wait synchronise with futexes inside Qt that it cannot
    // see, so handing results over that way reads as a race.)
    QThread* caller = nullptr;
    QThread* seen = nullptr;
    std::string error = "unset";
    std::atomic<bool> done{false};
    std::thread worker([&] {
        caller = QThread::currentThread();
        QEventLoop loop;
        bool called = false;
        request<ReplyBase>(kHost, "/rest/check_update", "", "",
                           [&](ReplyBase&, const std::string& e) {
                               seen = QThread::currentThread();
                               error = e;
                               called = true;
                               loop.quit();
                           });
        if (!called) {
            loop.exec();
        }
        done.store(true);
    });
    // The server answers from this thread's event loop; the call's own time-out ends
    // the worker's loop in any case.
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 10000));
    worker.join();
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(seen, caller);
    EXPECT_NE(seen, QThread::currentThread());
    EXPECT_EQ(error, "");
}

// ---------------------------------------------------------------------------------------
// httpRequest

TEST_F(RestTest, HttpRequestReturnsTheRawBody) {
    server_.body = "not json at all";
    std::string body;
    std::string error;
    EXPECT_TRUE(httpRequest(std::string(kBase) + "/v1/export_info", "", body, error));
    EXPECT_EQ(body, "not json at all");
    EXPECT_EQ(error, "");
    ASSERT_EQ(server_.requests.size(), 1u);
    EXPECT_EQ(server_.requests[0].method, "GET");
    EXPECT_FALSE(server_.requests[0].has("Content-Type"));
    EXPECT_EQ(server_.requests[0].value("Accept"), "*/*");
    EXPECT_NE(std::find(log_.begin(), log_.end(),
                        QString("request \"http://127.0.0.61:8080/v1/export_info\" body \"\"")),
              log_.end());
}

TEST_F(RestTest, HttpRequestPostsJsonAndIgnoresTheCode) {
    server_.body = R"({"code":500,"message":"x"})";
    std::string body;
    std::string error;
    EXPECT_TRUE(httpRequest(std::string(kBase) + "/v1/speech", R"({"text":"你好"})", body, error));
    EXPECT_EQ(body, R"({"code":500,"message":"x"})");
    ASSERT_EQ(server_.requests.size(), 1u);
    EXPECT_EQ(server_.requests[0].method, "POST");
    EXPECT_EQ(server_.requests[0].value("Content-Type"), "application/json");
    EXPECT_EQ(server_.requests[0].body.toStdString(), R"({"text":"你好"})");
}

TEST_F(RestTest, HttpRequestNotFoundGivesQtErrorString) {
    server_.status = 404;
    server_.reason = "Not Found";
    std::string body;
    std::string error;
    const std::string url = std::string(kBase) + "/missing";
    EXPECT_FALSE(httpRequest(url, "", body, error));
    EXPECT_EQ(error, "Error transferring " + url + " - server replied: Not Found");
}

TEST_F(RestTest, HttpRequestConnectionRefused) {
    std::string body;
    std::string error;
    EXPECT_FALSE(httpRequest("http://127.0.0.62:8080/x", "", body, error));
    EXPECT_EQ(error, "Connection refused");
}

TEST_F(RestTest, HttpRequestSendsHeadersInKeyOrder) {
    const std::map<std::string, std::string> headers = {
        {"X-Zeta", "z"}, {"X-Alpha", "a"}, {"X-Mid", "m"}};
    std::string body;
    std::string error;
    EXPECT_TRUE(httpRequest(std::string(kBase) + "/h", "", headers, body, error));
    ASSERT_EQ(server_.requests.size(), 1u);
    const Recorded& r = server_.requests[0];
    EXPECT_EQ(r.value("X-Alpha"), "a");
    EXPECT_EQ(r.value("X-Mid"), "m");
    EXPECT_EQ(r.value("X-Zeta"), "z");
    EXPECT_LT(r.index("X-Alpha"), r.index("X-Mid"));
    EXPECT_LT(r.index("X-Mid"), r.index("X-Zeta"));
}

TEST_F(RestTest, HttpRequestKeepsProcessingEvents) {
    bool fired = false;
    QTimer::singleShot(0, [&] { fired = true; });
    std::string body;
    std::string error;
    EXPECT_TRUE(httpRequest(std::string(kBase) + "/e", "", body, error));
    EXPECT_TRUE(fired);
}

// A terminal that takes the request and never answers: the call gives up after the REST
// client's time-out, and the user interface went on meanwhile.
TEST_F(RestTest, HttpRequestGivesUpOnASilentServer) {
    setRequestTimeoutMsForTesting(200);
    server_.answer = false;
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);
    std::string body = "untouched";
    std::string error;
    EXPECT_FALSE(httpRequest(std::string(kBase) + "/v1/speech", R"({"text":"x"})", body, error));
    EXPECT_EQ(error, "Operation canceled");
    EXPECT_EQ(body, "untouched");
    EXPECT_GT(ticks, 0);
    ASSERT_EQ(server_.requests.size(), 1u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return server_.disconnects == 1; }, 2000));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
