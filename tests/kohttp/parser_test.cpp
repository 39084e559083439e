// Request parsing: pipelining, fragmented input, headers, cookies, ranges and
// the bounds on what one peer may send.
#include "test_util.h"

#include <gtest/gtest.h>

#include <random>

using kohttp::ByteRange;
using kohttp::HttpConfig;
using kohttp::HttpParserContext;
using kohttp_test::parse;

namespace {

const std::string kRequestWithHeaders = "POST /up%20load?x=1 HTTP/1.1\r\n"
                                        "Host: example.test:8080\r\n"
                                        "X-Token: one\r\n"
                                        "x-token: two\r\n"
                                        "Cookie: a=1; b = 2; c\r\n"
                                        "Content-Type: application/json\r\n"
                                        "Content-Length: 7\r\n"
                                        "\r\n"
                                        "{\"k\":1}";

TEST(HttpParser, PipelinedRequestsQueueInArrivalOrder) {
    HttpParserContext ctx(HttpConfig::manager());
    std::string bytes = "GET /first HTTP/1.1\r\nHost: h\r\n\r\n"
                        "DELETE /second HTTP/1.1\r\nHost: h\r\n\r\n"
                        "GET /third HTTP/1.1\r\nHost: h\r\n\r\n";
    std::size_t consumed = 0;
    auto reqs = parse(ctx, bytes, 0, &consumed);
    EXPECT_EQ(consumed, bytes.size());
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_EQ(reqs[0]->url, "/first");
    EXPECT_EQ(reqs[1]->url, "/second");
    EXPECT_EQ(reqs[1]->method, kohttp::kMethodDelete);
    EXPECT_EQ(reqs[2]->url, "/third");
    EXPECT_EQ(ctx.error(), HttpParserContext::Error::None);
}

// Every way of cutting the bytes into reads must give the same request.
TEST(HttpParser, FragmentedInputGivesTheSameRequest) {
    for (std::size_t step : {0u, 1u, 2u, 3u, 7u, 16u}) {
        SCOPED_TRACE(step);
        HttpParserContext ctx(HttpConfig::manager());
        std::size_t consumed = 0;
        auto reqs = parse(ctx, kRequestWithHeaders, step, &consumed);
        EXPECT_EQ(consumed, kRequestWithHeaders.size());
        ASSERT_EQ(reqs.size(), 1u);
        const auto& r = *reqs[0];
        EXPECT_EQ(r.method, kohttp::kMethodPost);
        EXPECT_EQ(r.url, "/up load?x=1");
        EXPECT_EQ(r.host, "example.test:8080");
        EXPECT_EQ(r.body, "{\"k\":1}");
        // A repeated header replaces the earlier one; names are lower-cased;
        // host, cookie and content-type are consumed, not stored.
        std::map<std::string, std::string> expected{{"content-length", "7"}, {"x-token", "two"}};
        EXPECT_EQ(r.headers, expected);
        std::map<std::string, std::string> cookies{{"a", "1"}, {"b", "2"}};
        EXPECT_EQ(r.cookies, cookies);
        EXPECT_FALSE(r.multipart);
    }
}

TEST(HttpParser, NonHttpBytesAreAParseError) {
    for (std::string junk :
         {std::string("\x16\x03\x01\x02\x00\x01\x00", 7), std::string("hello there\r\n\r\n"),
          std::string("GET / FTP/1.0\r\n")}) {
        HttpParserContext ctx(HttpConfig::manager());
        std::size_t consumed = 0;
        auto reqs = parse(ctx, junk, 0, &consumed);
        EXPECT_LT(consumed, junk.size());
        EXPECT_TRUE(reqs.empty());
        EXPECT_EQ(ctx.error(), HttpParserContext::Error::Syntax);
        // A broken stream stays broken.
        EXPECT_EQ(ctx.feed("GET / HTTP/1.1\r\n\r\n", 18), 0u);
    }
}

TEST(HttpParser, RequestsBeforeGarbageAreStillDelivered) {
    HttpParserContext ctx(HttpConfig::manager());
    std::string bytes = "GET /ok HTTP/1.1\r\n\r\n\x01\x02garbage";
    std::size_t consumed = 0;
    auto reqs = parse(ctx, bytes, 0, &consumed);
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0]->url, "/ok");
    EXPECT_LT(consumed, bytes.size());
    EXPECT_EQ(ctx.error(), HttpParserContext::Error::Syntax);
}

TEST(HttpParser, KeepAliveAndUpgradeAreReported) {
    HttpParserContext ctx(HttpConfig::manager());
    auto reqs = parse(ctx, "GET / HTTP/1.0\r\n\r\n");
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_FALSE(reqs[0]->keepAlive);

    HttpParserContext ws(HttpConfig::manager());
    std::string bytes = "GET /ws HTTP/1.1\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n\r\n"
                        "\x81\x05hello";
    std::size_t consumed = 0;
    reqs = parse(ws, bytes, 0, &consumed);
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_TRUE(reqs[0]->upgrade);
    EXPECT_EQ(bytes.substr(consumed), "\x81\x05hello"); // left for the new protocol
    EXPECT_EQ(ws.error(), HttpParserContext::Error::None);
}

TEST(HttpParser, Cookies) {
    struct Case {
        const char* header;
        std::map<std::string, std::string> cookies;
    };
    const Case cases[] = {
        {"a=1; b = 2; c", {{"a", "1"}, {"b", "2"}}},
        {"x=1; x=2", {{"x", "2"}}},
        {"k=v=w; ok=1", {{"ok", "1"}}},
        {";;  ; ", {}},
        {"empty=", {}}, // "empty=" splits into one piece only
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        HttpParserContext ctx(HttpConfig::manager());
        auto reqs = parse(ctx, std::string("GET / HTTP/1.1\r\nCookie: ") + c.header + "\r\n\r\n");
        ASSERT_EQ(reqs.size(), 1u);
        EXPECT_EQ(reqs[0]->cookies, c.cookies);
    }
}

TEST(HttpParser, RangeHeaders) {
    struct Case {
        const char* header;
        bool ok;
        std::vector<ByteRange> ranges;
    };
    const std::int64_t toEnd = ByteRange::kToEnd;
    const Case cases[] = {
        {"bytes=0-99,200-299", true, {{0, 99}, {200, 299}}},
        {"bytes=0-99, 200-299 ,-5", true, {{0, 99}, {200, 299}, {-5, 0}}},
        {"bytes=-100", true, {{-100, 0}}},
        {"bytes=500-", true, {{500, toEnd}}},
        {"bytes=0-", true, {}},
        {"bytes=0-0", true, {}},
        {"bytes=4294967296-4294967300", true, {{4294967296LL, 4294967300LL}}},
        {"bytes 0-99", false, {}},
        {"bytes=0-1=2", false, {}},
        {"bytes=0-9,,20-29", false, {}},
        {"bytes=0-9, ", false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        HttpParserContext ctx(HttpConfig::manager());
        auto reqs = parse(ctx, std::string("GET /f HTTP/1.1\r\nRange: ") + c.header + "\r\n\r\n");
        if (!c.ok) {
            EXPECT_TRUE(reqs.empty());
            EXPECT_EQ(ctx.error(), HttpParserContext::Error::Syntax);
            continue;
        }
        ASSERT_EQ(reqs.size(), 1u);
        EXPECT_EQ(reqs[0]->ranges, c.ranges);
        EXPECT_EQ(reqs[0]->headers.count("range"), 0u);
    }
}

TEST(HttpParser, TooManyRangesFail) {
    std::string header = "bytes=1-1";
    for (int i = 0; i < 40; ++i) {
        header += ",1-1";
    }
    HttpParserContext ctx(HttpConfig::manager());
    auto reqs = parse(ctx, "GET /f HTTP/1.1\r\nRange: " + header + "\r\n\r\n");
    EXPECT_TRUE(reqs.empty());
    EXPECT_NE(ctx.error(), HttpParserContext::Error::None);
}

TEST(HttpParser, SdkBuildKeepsRangeAsPlainHeader) {
    HttpParserContext ctx(HttpConfig::sdk());
    auto reqs = parse(ctx, "GET /f HTTP/1.1\r\nRange: no equals sign\r\n\r\n");
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_TRUE(reqs[0]->ranges.empty());
    EXPECT_EQ(reqs[0]->headers.at("range"), "no equals sign");
}

TEST(HttpParser, MultipartContentTypeNeedsABoundary) {
    struct Case {
        const char* contentType;
        bool ok;
        const char* boundary;
    };
    const Case cases[] = {
        {"multipart/form-data", false, ""},
        {"multipart/form-data; charset=utf-8", false, ""},
        {"multipart/form-data; boundary=", false, ""},
        {"multipart/form-data; boundary=xyz", true, "xyz"},
        {"Multipart/Form-Data;boundary=\"q z\"", true, "q z"},
        {"text/plain; boundary=", true, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.contentType);
        HttpParserContext ctx(HttpConfig::manager());
        auto reqs = parse(ctx, std::string("POST /u HTTP/1.1\r\nContent-Type: ") + c.contentType +
                                   "\r\nContent-Length: 0\r\n\r\n");
        if (!c.ok) {
            EXPECT_TRUE(reqs.empty());
            EXPECT_EQ(ctx.error(), HttpParserContext::Error::Syntax);
            continue;
        }
        ASSERT_EQ(reqs.size(), 1u);
        if (c.boundary) {
            ASSERT_TRUE(reqs[0]->multipart);
            EXPECT_EQ(reqs[0]->multipart->boundary(), c.boundary);
        } else {
            EXPECT_FALSE(reqs[0]->multipart);
        }
    }
}

class HttpParserBounds : public ::testing::Test {
protected:
    HttpParserBounds() {
        auto config = std::make_shared<HttpConfig>(*HttpConfig::manager());
        config->limits.maxHeadBytes = 256;
        config->limits.maxBodyBytes = 64;
        config->log = [this](kohttp::LogLevel, const char*, int, const std::string& msg) {
            logs.push_back(msg);
        };
        ctx = std::make_unique<HttpParserContext>(config);
    }
    std::vector<std::string> logs;
    std::unique_ptr<HttpParserContext> ctx;
};

TEST_F(HttpParserBounds, HeadOverBoundIsTooLarge) {
    std::string bytes = "GET /" + std::string(300, 'a') + " HTTP/1.1\r\n\r\n";
    auto reqs = parse(*ctx, bytes, 10);
    EXPECT_TRUE(reqs.empty());
    EXPECT_EQ(ctx->error(), HttpParserContext::Error::TooLarge);
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_NE(logs[0].find("head over 256 bytes"), std::string::npos);
}

TEST_F(HttpParserBounds, DeclaredBodyOverBoundIsRefusedBeforeItArrives) {
    auto reqs = parse(*ctx, "POST / HTTP/1.1\r\nContent-Length: 65\r\n\r\n");
    EXPECT_TRUE(reqs.empty());
    EXPECT_EQ(ctx->error(), HttpParserContext::Error::TooLarge);
}

TEST_F(HttpParserBounds, ChunkedBodyOverBoundIsTooLarge) {
    std::string bytes = "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 10; ++i) {
        bytes += "a\r\n0123456789\r\n";
    }
    auto reqs = parse(*ctx, bytes);
    EXPECT_TRUE(reqs.empty());
    EXPECT_EQ(ctx->error(), HttpParserContext::Error::TooLarge);
}

TEST_F(HttpParserBounds, BodyAtTheBoundIsAccepted) {
    auto reqs = parse(*ctx, "POST / HTTP/1.1\r\nContent-Length: 64\r\n\r\n" + std::string(64, 'b'));
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0]->body.size(), 64u);
    EXPECT_TRUE(logs.empty());
}

TEST(HttpParser, PayloadTooLargeAnswer) {
    EXPECT_EQ(kohttp::payloadTooLargeResponse(),
              "HTTP/1.1 413 Payload Too Large\r\n"
              "connection: close\r\n"
              "content-type: application/json\r\n"
              "Content-Length: 44\r\n\r\n"
              "{\"code\": 413,\"message\": \"Payload Too Large\"}");
}

// Random bytes and mutated valid requests fed in random pieces: the context
// must never crash, over-read, claim more than it was given or report an
// error and then deliver more requests.
TEST(HttpParserFuzz, RandomInputIsHandledSafely) {
    std::mt19937 rng(42);
    const std::string valid =
        "POST /a%20b?x=1 HTTP/1.1\r\nHost: h\r\nCookie: a=1; b=2\r\nRange: bytes=1-2,-3\r\n"
        "Content-Type: multipart/form-data; boundary=zz\r\nContent-Length: 60\r\n\r\n"
        "--zz\r\nContent-Disposition: form-data; name=k\r\n\r\nv\r\n--zz--\r\n"
        "GET / HTTP/1.1\r\n\r\n";
    const std::string alphabet = "\r\n:;=-,% zGET/HTTP1.\x00\xff";
    for (int round = 0; round < 3000; ++round) {
        std::string input;
        if (round % 3 == 0) {
            input.resize(1 + rng() % 200);
            for (char& c : input) {
                c = static_cast<char>(rng());
            }
        } else {
            input = kohttp_test::mutate(rng, valid, alphabet, 5);
        }
        auto config = round % 2 ? HttpConfig::manager() : HttpConfig::sdk();
        HttpParserContext ctx(config);
        ASSERT_TRUE(kohttp_test::feedRandomly(
            rng, input, 64, [&](const char* d, std::size_t n) { return ctx.feed(d, n); }));
        while (ctx.takeCompleted()) {
        }
        if (ctx.error() != HttpParserContext::Error::None) {
            EXPECT_EQ(ctx.feed("GET / HTTP/1.1\r\n\r\n", 18), 0u);
            EXPECT_EQ(ctx.takeCompleted(), nullptr);
        }
    }
}

} // namespace
