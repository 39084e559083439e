// terminal-sim's REST interface, spoken to over raw sockets inside a private namespace.
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
                                  "\nDEV_ID = R-\"1\\\n"
                                  "[terminal]\n@bind = " +
                                  netns::terminalAddress(1) + "\nADDRESS = 192.168.9.9\n";
        sim_ = new netns::Child;
        netns::startSimulator(*sim_, TERMINAL_SIM_PATH, fleet, {}, &why_);
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

    void connectTo(int terminal) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(8080);
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
        close(fd_);
        fd_ = -1;
        buffer_.clear();
        closed_ = false;
    }
    // The service still answers afterwards.
    connectTo(0);
    sendText("GET /rest/device_info HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(startsWith(readResponse(), "HTTP/1.1 200 "));
}
