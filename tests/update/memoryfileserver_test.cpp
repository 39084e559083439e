// The in-memory file server behind the Qt HTTP server, as terminals reach it:
// curl and raw clients on a loopback address of this test's own (inside a
// private network namespace when the system allows one).
#include "update/memoryfileserver.h"
#include "update/updateprogressobserver.h"

#include "netclient.h"
#include "netns.h"
#include "qtpump.h"

#include <kohttp/qt/http_server.h>

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <utility>
#include <vector>

using kohttp::qt::HttpServer;
using netclient::bodyOf;
using netclient::RawClient;

namespace {

std::string g_host;

class Recorder : public UpdateProgressObserver {
public:
    void setStatusByIp(const QString& ip, const QString& status) override {
        calls.emplace_back(ip.toStdString(), status.toStdString());
    }
    std::vector<std::pair<std::string, std::string>> calls;
};

class FileServer : public ::testing::Test {
protected:
    void SetUp() override {
        files.addFile("/hello", "text/plain", "Hello, world!\n");
        for (int i = 0; i < 1000; ++i) {
            content.push_back(static_cast<char>('A' + i % 26 + (i / 26) % 3));
        }
        files.addFile("/data.bin", "application/x-kub", QByteArray::fromStdString(content));
        server.route(kohttp::kMethodGet, "/", &files);
        emit server.d()->start(QHostAddress(QString::fromStdString(g_host)), 0);
        port = server.port();
        ASSERT_NE(port, 0);
    }
    void TearDown() override { qtpump::flushDeletions(); }

    std::string url(const std::string& path) const {
        return "http://" + g_host + ":" + std::to_string(port) + path;
    }
    static std::string curl(const std::string& args) { return qtpump::curl(args); }
    // The head of a curl -i answer, lower-cased names as sent.
    static std::string headOf(const std::string& response) {
        return response.substr(0, response.find("\r\n\r\n") + 2);
    }

    MemoryFileServer files;
    HttpServer server;
    std::uint16_t port = 0;
    std::string content;
};

TEST_F(FileServer, HelloMissingAndOtherMethods) {
    std::string out = curl("-i " + url("/hello"));
    EXPECT_EQ(out, "HTTP/1.1 200 OK\r\ncontent-type: text/plain\r\nContent-Length: 14\r\n\r\n"
                   "Hello, world!\n");

    out = curl("-i " + url("/missing"));
    EXPECT_EQ(out, "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nNot found");

    // GET / asks for /index.html, which is normally absent.
    EXPECT_EQ(headOf(curl("-i " + url("/"))).rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u);
    files.addFile("/index.html", "text/html", "<p>index</p>");
    EXPECT_EQ(curl(url("/")), "<p>index</p>");

    // Only GET is routed: the router answers the rest.
    out = curl("-i -X POST " + url("/hello"));
    EXPECT_EQ(out.rfind("HTTP/1.1 404 Not found\r\n", 0), 0u) << out;
    EXPECT_EQ(bodyOf(out), kohttp::HttpRouter::kNoMethodBody);
}

TEST_F(FileServer, Ranges) {
    struct Case {
        std::string range;
        std::string status;
        std::string body;
    };
    const Case cases[] = {
        {"10-19", "206 Partial Content", content.substr(10, 10)},
        {"-10", "206 Partial Content", content.substr(990)},
        {"990-1000", "416 Range Not Satisfiable", ""},
        // Back to back, without multipart framing: terminals read them so.
        {"0-4,10-14", "206 Partial Content", content.substr(0, 5) + content.substr(10, 5)},
        {"0-", "200 OK", content},
        {"-1001", "416 Range Not Satisfiable", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.range);
        std::string out = curl("-i -r " + c.range + " " + url("/data.bin"));
        EXPECT_EQ(out.rfind("HTTP/1.1 " + c.status + "\r\n", 0), 0u) << headOf(out);
        EXPECT_NE(out.find("\r\nContent-Length: " + std::to_string(c.body.size()) + "\r\n"),
                  std::string::npos)
            << headOf(out);
        EXPECT_EQ(bodyOf(out), c.body);
        if (c.status[0] == '2') {
            EXPECT_NE(out.find("\r\ncontent-type: application/x-kub\r\n"), std::string::npos);
        }
    }
}

TEST_F(FileServer, ContentTypesAndReplacedFiles) {
    files.addFile("/plain", "", "raw");
    std::string out = curl("-i " + url("/plain"));
    EXPECT_NE(out.find("\r\ncontent-type: application/octet-stream\r\n"), std::string::npos) << out;
    files.addFile("/plain", "text/csv", "second");
    out = curl("-i " + url("/plain"));
    EXPECT_NE(out.find("\r\ncontent-type: text/csv\r\n"), std::string::npos) << out;
    EXPECT_EQ(bodyOf(out), "second");
    // Paths are compared byte for byte.
    EXPECT_EQ(headOf(curl("-i " + url("/Hello"))).rfind("HTTP/1.1 404", 0), 0u);
}

TEST_F(FileServer, KeepAliveTwoRequestsOnOneConnection) {
    std::string out = curl("-w '|%{num_connects}\\n' " + url("/hello") + " " + url("/data.bin"));
    EXPECT_EQ(out, "Hello, world!\n|1\n" + content + "|0\n");
}

// Every request is a terminal fetching its update, found or not, while
// someone follows the progress.
TEST_F(FileServer, ReportsEveryFetchToTheObserver) {
    Recorder recorder;
    files.setProgressObserver(&recorder);
    for (const std::string path : {"/hello", "/missing"}) {
        RawClient client(g_host, port);
        client.send("GET " + path + " HTTP/1.1\r\nConnection: close\r\n\r\n");
        ASSERT_TRUE(qtpump::until([&] { return client.poll(), client.eof; }));
    }
    const std::pair<std::string, std::string> fetch{g_host, "完成更新"};
    EXPECT_EQ(recorder.calls, (std::vector<std::pair<std::string, std::string>>{fetch, fetch}));
    files.setProgressObserver(nullptr);
    EXPECT_EQ(curl(url("/hello")), "Hello, world!\n");
    EXPECT_EQ(recorder.calls.size(), 2u);
}

// A range at an odd offset of a payload, as a container runner asks for it.
TEST_F(FileServer, LargeRangeAtAnOddOffset) {
    std::string payload(1 << 20, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<char>((i * 7919) >> 5);
    }
    files.addFile("/payload-data", "application/octet-stream",
                  QByteArray(payload.data(), static_cast<int>(payload.size())));
    const std::size_t at = 123457;
    std::string out = curl("-r " + std::to_string(at) + "-" + std::to_string(at + 65535) + " " +
                           url("/payload-data"));
    EXPECT_TRUE(out == payload.substr(at, 65536)) << out.size();
}

TEST(MemoryFileServerInstance, IsOneObject) {
    EXPECT_EQ(&MemoryFileServer::instance(), &MemoryFileServer::instance());
    EXPECT_TRUE(MemoryFileServer::instance().isPrefix());
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const bool privateNetwork = netns::enterLoopbackOnly();
    g_host = netns::loopbackAddress(0, privateNetwork);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
