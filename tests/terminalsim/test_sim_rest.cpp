// terminal-sim's HTTP interfaces (REST on 8080, speech on 80), spoken to over raw sockets
// inside a private namespace.
#include "netns.h"

#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

class SimRest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!netns::enter(&why_))
            return;
        const std::string fleet = "[terminal]\n@bind = " + netns::terminalAddress(0) +
                                  "\nDEV_ID = R-\"1\\\nF = aoip.s,aoip.x\n"
                                  "[terminal]\n@bind = " +
                                  netns::terminalAddress(1) +
                                  "\nADDRESS = 192.168.9.9\nF = aoip.xy,aoip\n";
        sim_ = new netns::Child;
        netns::startSimulator(*sim_, TERMINAL_SIM_PATH, fleet,
                              {"--speech", "--speech-message", "已播报"}, &why_);
    }
    static void TearDownTestSuite() {
        delete sim_;
        sim_ = nullptr;
    }
    void SetUp() override {
        if (!sim_ || !why_.empty())
            GTEST_SKIP() << why_;
    }
    void TearDown() override {
        if (fd_ >= 0)
            close(fd_);
    }

    void connectTo(int terminal, uint16_t port = 8080) {
        if (fd_ >= 0)
            close(fd_);
        buffer_.clear();
        closed_ = false;
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        inet_pton(AF_INET, netns::terminalAddress(terminal).c_str(), &a.sin_addr);
        ASSERT_EQ(connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << strerror(errno);
    }
    void sendText(const std::string& text) {
        ASSERT_EQ(send(fd_, text.data(), text.size(), MSG_NOSIGNAL), ssize_t(text.size()));
    }
    // One response (head and Content-Length body), or what arrived before the peer closed.
    std::string readResponse() {
        for (;;) {
            const size_t headEnd = buffer_.find("\r\n\r\n");
            if (headEnd != std::string::npos) {
                const size_t at = buffer_.find("Content-Length: ");
                const size_t length = at < headEnd ? std::stoul(buffer_.substr(at + 16)) : 0;
                if (buffer_.size() >= headEnd + 4 + length) {
                    std::string response = buffer_.substr(0, headEnd + 4 + length);
                    buffer_.erase(0, headEnd + 4 + length);
                    return response;
                }
            }
            if (!readMore())
                return std::exchange(buffer_, std::string());
        }
    }
    // True when the peer has closed (read returns 0) before a safety bound.
    bool peerClosed() {
        while (readMore()) {
        }
        return closed_;
    }
    bool readMore() {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0)
            return false;
        char chunk[4096];
        const ssize_t n = read(fd_, chunk, sizeof chunk);
        if (n <= 0) {
            closed_ = true;
            return false;
        }
        buffer_.append(chunk, size_t(n));
        return true;
    }

    static inline std::string why_;
    static inline netns::Child* sim_ = nullptr;
    int fd_ = -1;
    std::string buffer_;
    bool closed_ = false;
};

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string post(const std::string& path, const std::string& body) {
    return "POST " + path + " HTTP/1.1\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string bodyOf(const std::string& response) {
    const size_t end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

} // namespace

TEST_F(SimRest, DeviceInfoOnAKeptAliveConnection) {
    connectTo(0);
    // The first request arrives in pieces, the next two in one write.
    sendText("GET /rest/device_info HTTP/1.1\r\nHo");
    sendText("st: x\r\n\r\n");
    const std::string first = readResponse();
    EXPECT_TRUE(startsWith(first, "HTTP/1.1 200 OK\r\n")) << first;
    EXPECT_NE(first.find(R"("code":200)"), std::string::npos);
    // Text is escaped as JSON.
    EXPECT_NE(first.find(R"("device_id":"R-\"1\\")"), std::string::npos) << first;
    EXPECT_NE(first.find(R"("eth_ip":")" + netns::terminalAddress(0) + "\""), std::string::npos);

    sendText("GET /rest/other HTTP/1.1\r\n\r\nPOST /rest/device_info?x=1 HTTP/1.1\r\n"
             "Content-Length: 3\r\n\r\nabc");
    EXPECT_TRUE(startsWith(readResponse(), "HTTP/1.1 404 "));
    EXPECT_TRUE(startsWith(readResponse(), "HTTP/1.1 405 "));
    sendText("GET /rest/device_info HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(startsWith(readResponse(), "HTTP/1.1 200 "));
    EXPECT_TRUE(peerClosed());
}

TEST_F(SimRest, TerminalWithoutIdReportsItsAddressOnly) {
    connectTo(1);
    sendText("GET /rest/device_info HTTP/1.0\r\n\r\n");
    const std::string response = readResponse();
    EXPECT_EQ(response.find("device_id"), std::string::npos) << response;
    EXPECT_NE(response.find(R"("eth_ip":"192.168.9.9")"), std::string::npos) << response;
    EXPECT_TRUE(peerClosed()); // HTTP/1.0 without keep-alive
}

TEST_F(SimRest, BadRequestsAreRefusedAndClosed) {
    const struct {
        std::string request;
        const char* status;
    } cases[] = {
        {"GET /rest/device_info HTTP/1.1\r\nContent-Length: 1x\r\n\r\n", "HTTP/1.1 400 "},
        {"GARBAGE\r\n\r\n", "HTTP/1.1 400 "},
        {"GET /rest/device_info HTTP/1.1\r\nContent-Length: 99999999\r\n\r\n", "HTTP/1.1 413 "},
        {"GET /" + std::string(70 * 1024, 'a'), "HTTP/1.1 413 "},
    };
    for (const auto& c : cases) {
        connectTo(0);
        sendText(c.request);
        EXPECT_TRUE(startsWith(readResponse(), c.status)) << c.request.substr(0, 60);
        EXPECT_TRUE(peerClosed()) << c.request.substr(0, 60);
    }
    // The service still answers afterwards.
    connectTo(0);
    sendText("GET /rest/device_info HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(startsWith(readResponse(), "HTTP/1.1 200 "));
}

// What a speech terminal hears is printed before it answers, so a client that has its
// answer can read the line.
TEST_F(SimRest, SpeechTerminalHearsAndAnswersTheConfiguredMessage) {
    connectTo(0, 80);
    const std::string body =
        R"({"text":"请\"读\"\n\u00e9\ud83d\ude00","vcn":"xiaofeng","speed":-3,"volume":70})";
    sendText(post("/v1/speech", body));
    const std::string response = readResponse();
    EXPECT_TRUE(startsWith(response, "HTTP/1.1 200 OK\r\n")) << response;
    EXPECT_EQ(bodyOf(response), R"({"code":200,"message":"已播报"})");
    std::string line;
    ASSERT_TRUE(sim_->waitForLine("speech ", 5000, &line));
    EXPECT_EQ(line, "speech " + netns::terminalAddress(0) +
                        R"( heard text="请\"读\"\né😀" vcn="xiaofeng" speed=-3 volume=70 body=)" +
                        body);

    // Same connection, kept alive: the next request is heard too.
    sendText(post("/v1/speech?x=1", R"({"volume":1,"speed":2,"vcn":"","text":""})"));
    EXPECT_TRUE(startsWith(readResponse(), "HTTP/1.1 200 "));
    ASSERT_TRUE(sim_->waitForLine("speech ", 5000, &line));
    EXPECT_TRUE(startsWith(line, "speech " + netns::terminalAddress(0) +
                                     R"( heard text="" vcn="" speed=2 volume=1 body=)"))
        << line;
}

TEST_F(SimRest, SpeechRequestsThatAreRefused) {
    const struct {
        int terminal;
        std::string request;
        const char* status;
        const char* line; // the refusal printed, or null when nothing is heard or printed
    } cases[] = {
        {1, post("/v1/speech", R"({"text":"a","vcn":"b","speed":1,"volume":1})"), "HTTP/1.1 404 ",
         "refused: no speech feature"},
        {0, post("/v1/speech", "not json"), "HTTP/1.1 400 ", "refused: bad json: "},
        {0, post("/v1/speech", R"({"text":{"a":1},"vcn":"b","speed":1,"volume":1})"),
         "HTTP/1.1 400 ", "refused: bad json: a nested value"},
        {0, post("/v1/speech", R"({"text":"a","text":"b","vcn":"b","speed":1,"volume":1})"),
         "HTTP/1.1 400 ", "refused: bad json: a second member"},
        {0, post("/v1/speech", R"({"text":"a","vcn":"b","speed":1,"volume":1} x)"), "HTTP/1.1 400 ",
         "refused: bad json: text after the object"},
        {0, post("/v1/speech", R"({"text":"\ud800","vcn":"b","speed":1,"volume":1})"),
         "HTTP/1.1 400 ", "refused: bad json: a lone surrogate"},
        {0, post("/v1/speech", R"({"vcn":"b","speed":1,"volume":1})"), "HTTP/1.1 400 ",
         R"(refused: "text" must be a string)"},
        {0, post("/v1/speech", R"({"text":"a","vcn":3,"speed":1,"volume":1})"), "HTTP/1.1 400 ",
         R"(refused: "vcn" must be a string)"},
        {0, post("/v1/speech", R"({"text":"a","vcn":"b","speed":"1","volume":1})"), "HTTP/1.1 400 ",
         R"(refused: "speed" must be an integer)"},
        {0, post("/v1/speech", R"({"text":"a","vcn":"b","speed":1,"volume":1.5})"), "HTTP/1.1 400 ",
         R"(refused: "volume" must be an integer)"},
        {0, "GET /v1/speech HTTP/1.1\r\n\r\n", "HTTP/1.1 405 ", nullptr},
        {0, post("/v1/other", "{}"), "HTTP/1.1 404 ", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        connectTo(c.terminal, 80);
        sendText(c.request);
        EXPECT_TRUE(startsWith(readResponse(), c.status));
        if (c.line) {
            std::string line;
            ASSERT_TRUE(sim_->waitForLine("speech ", 5000, &line));
            EXPECT_TRUE(
                startsWith(line, "speech " + netns::terminalAddress(c.terminal) + " " + c.line))
                << line;
        }
    }
    // Nothing above was heard: the next line is the one of this request.
    connectTo(0, 80);
    sendText(post("/v1/speech", R"({"text":"end","vcn":"b","speed":1,"volume":1})"));
    EXPECT_TRUE(startsWith(readResponse(), "HTTP/1.1 200 "));
    std::string line;
    ASSERT_TRUE(sim_->waitForLine("speech ", 5000, &line));
    EXPECT_TRUE(startsWith(line, "speech " + netns::terminalAddress(0) + R"( heard text="end")"))
        << line;
}
