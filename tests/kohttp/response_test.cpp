// Response serialisation (head, cookies, bodies, file mode with ranges) and
// the event that sends it once, when its last holder lets go.
#include "test_util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <thread>
#include <unistd.h>

using kohttp::ByteRange;
using kohttp::HttpConfig;
using kohttp::HttpResponse;

namespace {

std::vector<std::string> send(const HttpConfig& config, HttpResponse& response, bool head = false) {
    std::vector<std::string> writes;
    kohttp::sendResponse(config, response, head,
                         [&writes](std::string block) { writes.push_back(std::move(block)); });
    return writes;
}

std::string joined(const std::vector<std::string>& writes, std::size_t from = 0) {
    std::string out;
    for (std::size_t i = from; i < writes.size(); ++i) {
        out += writes[i];
    }
    return out;
}

class FileResponse : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kohttp-test-XXXXXX";
        ASSERT_TRUE(::mkdtemp(tmpl));
        dir_ = tmpl;
        content_ = makeFile("big.bin", 1000);
    }
    void TearDown() override {
        for (const auto& f : files_) {
            ::unlink(f.c_str());
        }
        ::rmdir(dir_.c_str());
    }
    std::string makeFile(const std::string& name, std::size_t size) {
        std::string data(size, '\0');
        for (std::size_t i = 0; i < size; ++i) {
            data[i] = static_cast<char>(i % 251);
        }
        std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << data;
        files_.push_back(path);
        return data;
    }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    std::string dir_;
    std::string content_;
    std::vector<std::string> files_;
};

TEST_F(FileResponse, RangeRules) {
    const std::int64_t toEnd = ByteRange::kToEnd;
    const std::int64_t big = 4294967296LL; // beyond 32 bits
    struct Case {
        std::vector<ByteRange> ranges;
        int status;
        std::string body; // expected body
    };
    const std::string& c = content_;
    const Case cases[] = {
        {{}, 200, c},
        {{{0, 99}, {200, 299}}, 206, c.substr(0, 100) + c.substr(200, 100)},
        {{{-100, 0}}, 206, c.substr(900)},
        {{{-1000, 0}}, 206, c},
        {{{500, toEnd}}, 206, c.substr(500)},
        {{{999, 999}}, 206, c.substr(999)},
        {{{500, 0}}, 416, ""},
        {{{0, 1000}}, 416, ""},
        {{{1000, toEnd}}, 416, ""},
        {{{-1001, 0}}, 416, ""},
        {{{0, 9}, {990, 1000}}, 416, ""},
        {{{big, big + 4}}, 416, ""},
        {{{0, big + 4}}, 416, ""},
        {{{-big, 0}}, 416, ""},
        {{{big + 1, toEnd}}, 416, ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::PrintToString(k.status) + " " +
                     std::to_string(k.ranges.empty() ? 0 : k.ranges[0].start));
        HttpResponse r;
        r.setFile(path("big.bin"), k.ranges);
        auto writes = send(*HttpConfig::manager(), r);
        ASSERT_FALSE(writes.empty());
        const char* reason = k.status == 200   ? "OK"
                             : k.status == 206 ? "Partial Content"
                                               : "Range Not Satisfiable";
        std::string statusLine = "HTTP/1.1 " + std::to_string(k.status) + " " + reason + "\r\n";
        EXPECT_EQ(writes[0].rfind(statusLine, 0), 0u) << writes[0];
        std::string length = "Content-Length: " + std::to_string(k.body.size()) + "\r\n\r\n";
        EXPECT_NE(writes[0].find(length), std::string::npos) << writes[0];
        EXPECT_EQ(joined(writes, 1), k.body);
    }
}

TEST_F(FileResponse, SingleRangeCarriesContentRange) {
    HttpResponse one;
    one.setFile(path("big.bin"), {{-100, 0}});
    EXPECT_NE(send(*HttpConfig::manager(), one)[0].find("content-range: bytes 900-999/1000\r\n"),
              std::string::npos);
    HttpResponse bad;
    bad.setFile(path("big.bin"), {{2000, 3000}});
    EXPECT_NE(send(*HttpConfig::manager(), bad)[0].find("content-range: bytes */1000\r\n"),
              std::string::npos);
}

// The manager's Qt server sends the head with the body, so a small answer is
// one segment; the bytes are the same as in two writes.
TEST_F(FileResponse, HeadWithBodyJoinsTheHeadToTheFirstBlock) {
    HttpConfig oneWrite = *HttpConfig::manager();
    oneWrite.headWithBody = true;
    struct Case {
        std::vector<ByteRange> ranges;
        std::size_t blocks;
    };
    std::string large = makeFile("large.bin", 300000);
    const Case cases[] = {{{{10, 19}}, 1}, {{{0, 4}, {10, 14}}, 2}, {{}, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.blocks);
        HttpResponse one, two;
        one.setFile(path("large.bin"), c.ranges);
        two.setFile(path("large.bin"), c.ranges);
        auto writes = send(oneWrite, one);
        EXPECT_EQ(writes.size(), c.blocks);
        EXPECT_EQ(joined(writes), joined(send(*HttpConfig::manager(), two)));
    }
    HttpResponse missing;
    missing.setFile(path("missing.bin"));
    EXPECT_EQ(send(oneWrite, missing).size(), 1u);
    HttpResponse head;
    head.setFile(path("large.bin"));
    EXPECT_EQ(send(oneWrite, head, true).size(), 1u);
}

TEST(ResponseHead, HeadWithBodyIsOneWrite) {
    HttpConfig oneWrite = *HttpConfig::manager();
    oneWrite.headWithBody = true;
    HttpResponse r;
    r.setBody("hello");
    EXPECT_EQ(send(oneWrite, r),
              std::vector<std::string>{"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello"});
    HttpResponse empty;
    EXPECT_EQ(send(oneWrite, empty),
              std::vector<std::string>{"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"});
    // Above the limit the body is not copied behind the head.
    const std::string large(HttpConfig::kHeadWithBodyLimit + 1, 'x');
    HttpResponse big;
    big.setBody(large);
    auto writes = send(oneWrite, big);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[1], large);
}

// The range rule on its own, as servers of in-memory content use it.
TEST(Ranges, AppliedToASize) {
    const std::int64_t toEnd = ByteRange::kToEnd;
    struct Case {
        std::vector<ByteRange> ranges;
        int status;
        std::vector<kohttp::ByteSlice> slices;
        std::string contentRange;
    };
    const Case cases[] = {
        {{{10, 19}}, 206, {{10, 10}}, "bytes 10-19/1000"},
        {{{-10, 0}}, 206, {{990, 10}}, "bytes 990-999/1000"},
        {{{990, 1000}}, 416, {}, "bytes */1000"},
        {{{0, 4}, {10, 14}}, 206, {{0, 5}, {10, 5}}, ""},
        {{{500, toEnd}}, 206, {{500, 500}}, "bytes 500-999/1000"},
        {{{-1001, 0}}, 416, {}, "bytes */1000"},
        {{{20, 10}}, 416, {}, "bytes */1000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        HttpResponse r;
        std::vector<kohttp::ByteSlice> slices{{1, 1}};
        EXPECT_EQ(kohttp::applyRanges(r, c.ranges, 1000, &slices), c.status == 206);
        EXPECT_EQ(r.status(), c.status);
        EXPECT_EQ(slices, c.slices);
        EXPECT_EQ(r.header("content-range"), c.contentRange);
    }
}

TEST_F(FileResponse, SuffixLongerThanSmallFileIsUnsatisfiable) {
    makeFile("small.bin", 50);
    HttpResponse r;
    r.setFile(path("small.bin"), {{-100, 0}});
    auto writes = send(*HttpConfig::manager(), r);
    EXPECT_EQ(r.status(), 416);
    EXPECT_EQ(writes.size(), 1u);
}

TEST_F(FileResponse, MissingFileIsNotFound) {
    HttpResponse r;
    r.setFile(path("missing.bin"), {{0, 9}});
    auto writes = send(*HttpConfig::manager(), r);
    EXPECT_EQ(writes,
              std::vector<std::string>{"HTTP/1.1 404 not found\r\nContent-Length: 0\r\n\r\n"});
    HttpResponse dir;
    dir.setFile(dir_);
    send(*HttpConfig::manager(), dir);
    EXPECT_EQ(dir.status(), 404);
}

TEST_F(FileResponse, LargeFileIsStreamedInBlocks) {
    std::string data = makeFile("large.bin", 300000);
    HttpResponse r;
    r.setFile(path("large.bin"));
    auto writes = send(*HttpConfig::manager(), r);
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[1].size(), 131072u);
    EXPECT_EQ(joined(writes, 1), data);
}

TEST_F(FileResponse, HeadRequestAnnouncesButSendsNoBody) {
    HttpResponse r;
    r.setFile(path("big.bin"));
    auto writes = send(*HttpConfig::manager(), r, true);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_NE(writes[0].find("Content-Length: 1000\r\n"), std::string::npos);
}

TEST_F(FileResponse, SdkBuildHasNoFileMode) {
    HttpResponse r;
    r.setFile(path("big.bin"), {{0, 9}});
    auto writes = send(*HttpConfig::sdk(), r);
    EXPECT_EQ(writes,
              (std::vector<std::string>{"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", ""}));
}

TEST(ResponseHead, HeadersAndCookiesInOrder) {
    HttpResponse r;
    r.setStatus(201, "Created");
    r.setHeader("X-B", "2");
    r.setHeader("Content-Type", "text/plain");
    r.setHeader("x-b", "3");
    r.setHeader("Content-Length", "999"); // the layer writes the real one
    r.setHeader("X-Evil", "a\r\nInjected: yes");
    r.addCookie({"sid", "abc", ""});
    r.addCookie({"lang", "zh", "example.test"});
    r.setBody("hello");
    auto writes = send(*HttpConfig::manager(), r);
    EXPECT_EQ(writes,
              (std::vector<std::string>{"HTTP/1.1 201 Created\r\n"
                                        "content-type: text/plain\r\n"
                                        "x-b: 3\r\n"
                                        "x-evil: aInjected: yes\r\n"
                                        "Set-Cookie: sid=abc; path=/\r\n"
                                        "Set-Cookie: lang=zh; path=/; Domain=example.test\r\n"
                                        "Content-Length: 5\r\n\r\n",
                                        "hello"}));
}

TEST(ResponseHead, VariantsOfBodyWriting) {
    struct Case {
        std::shared_ptr<const HttpConfig> config;
        int status;
        std::string body;
        bool head;
        std::vector<std::string> writes;
    };
    const Case cases[] = {
        {HttpConfig::manager(), 200, "", false, {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"}},
        {HttpConfig::sdk(), 200, "", false, {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", ""}},
        {HttpConfig::sdk(),
         200,
         "ab",
         false,
         {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n", "ab"}},
        {HttpConfig::sdk(), 304, "", false, {"HTTP/1.1 304 OK\r\n\r\n", ""}},
        {HttpConfig::manager(), 304, "", false, {"HTTP/1.1 304 OK\r\nContent-Length: 0\r\n\r\n"}},
        {HttpConfig::manager(), 200, "ab", true, {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n"}},
        {HttpConfig::sdk(), 200, "ab", true, {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.writes[0]);
        HttpResponse r;
        r.setStatus(c.status, "OK");
        r.setBody(c.body);
        EXPECT_EQ(send(*c.config, r, c.head), c.writes);
    }
}

TEST(Event, SentOnceWhenTheLastHolderLetsGo) {
    std::vector<std::string> writes;
    auto req = std::make_shared<kohttp::HttpRequest>();
    req->url = "/a/b.json?x=1";
    auto event = kohttp::HttpEvent::create(HttpConfig::sdk(), req, nullptr,
                                           [&](std::string b) { writes.push_back(b); });
    EXPECT_EQ(event->path(), "/a/b.json");
    EXPECT_EQ(event->extension(), "json");
    EXPECT_EQ(req->params.at("x"), "1");
    auto keeper = event;
    event.reset();
    EXPECT_TRUE(writes.empty());
    keeper->response().setBody("late");
    std::thread([k = std::move(keeper)]() mutable { k.reset(); }).join();
    EXPECT_EQ(writes,
              (std::vector<std::string>{"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n", "late"}));
}

TEST(Event, FinisherRunsInsteadOfSending) {
    int writes = 0;
    int finished = 0;
    {
        auto req = std::make_shared<kohttp::HttpRequest>();
        req->url = "/";
        auto event = kohttp::HttpEvent::create(HttpConfig::manager(), req, nullptr,
                                               [&](std::string) { ++writes; });
        event->setFinisher([&](kohttp::HttpEvent& e) {
            ++finished;
            EXPECT_EQ(e.path(), "/index.html");
        });
    }
    EXPECT_EQ(writes, 0);
    EXPECT_EQ(finished, 1);
}

} // namespace
