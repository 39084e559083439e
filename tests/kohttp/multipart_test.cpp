// multipart/form-data: the byte parser, parts, temporary files and MD5.
#include "test_util.h"

#include <gtest/gtest.h>

#include <lumo/md5.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <unistd.h>

using kohttp::HttpConfig;
using kohttp::HttpParserContext;
using kohttp_test::parse;

namespace {

// File content that keeps nearly matching the delimiter.
const std::string kFileBytes = std::string("\r\n--Xb\r\n-\r\r\n--X\0\xff", 17) + "tail\r\n--";

std::string formBody(const std::string& boundary) {
    return "preamble without dashes\r\n"
           "--" +
           boundary +
           "\r\n"
           "Content-Disposition: form-data; name=\"k\"\r\n"
           "\r\n"
           "value of k\r\n"
           "--" +
           boundary +
           "\r\n"
           "content-disposition:\tform-data; name='f'; filename=\"up.bin\"\r\n"
           "Content-Type:  application/octet-stream ; x=y\r\n"
           "\r\n" +
           kFileBytes +
           "\r\n"
           "--" +
           boundary +
           "--\r\n"
           "epilogue is ignored";
}

std::string formRequest(const std::string& boundary) {
    std::string body = formBody(boundary);
    return "POST /upload HTTP/1.1\r\n"
           "Content-Type: multipart/form-data; boundary=" +
           boundary +
           "\r\n"
           "Content-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST(Multipart, TextFieldAndFileInEverySplit) {
    const std::string bytes = formRequest("XbXb");
    for (std::size_t step : {0u, 1u, 2u, 5u, 13u}) {
        SCOPED_TRACE(step);
        HttpParserContext ctx(HttpConfig::manager());
        auto reqs = parse(ctx, bytes, step);
        ASSERT_EQ(reqs.size(), 1u);
        auto mp = reqs[0]->multipart;
        ASSERT_TRUE(mp);
        EXPECT_TRUE(reqs[0]->body.empty());
        ASSERT_EQ(mp->parts().size(), 2u);

        const auto* k = mp->part("k");
        ASSERT_TRUE(k);
        EXPECT_FALSE(k->isFile);
        EXPECT_EQ(k->data, "value of k");
        EXPECT_FALSE(k->file);

        const auto* f = mp->part("f");
        ASSERT_TRUE(f);
        EXPECT_TRUE(f->isFile);
        EXPECT_EQ(f->filename, "up.bin");
        EXPECT_EQ(f->contentType, "application/octet-stream");
        EXPECT_TRUE(f->data.empty());
        ASSERT_TRUE(f->file);
        EXPECT_EQ(f->file->readAll(), kFileBytes);
        EXPECT_EQ(f->md5, lumo::md5Hex(kFileBytes));
    }
}

TEST(Multipart, NamedTempFileLivesAsLongAsThePart) {
    HttpParserContext ctx(HttpConfig::manager());
    auto reqs = parse(ctx, formRequest("b"));
    ASSERT_EQ(reqs.size(), 1u);
    std::string path = reqs[0]->multipart->part("f")->file->path();
    ASSERT_FALSE(path.empty());
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), kFileBytes);
    reqs.clear();
    EXPECT_NE(::access(path.c_str(), F_OK), 0);
}

TEST(Multipart, SdkBuildUsesAnonymousTempFiles) {
    HttpParserContext ctx(HttpConfig::sdk());
    auto reqs = parse(ctx, formRequest("b"));
    ASSERT_EQ(reqs.size(), 1u);
    const auto* f = reqs[0]->multipart->part("f");
    ASSERT_TRUE(f && f->file);
    EXPECT_TRUE(f->file->path().empty());
    EXPECT_EQ(f->file->readAll(), kFileBytes);
    EXPECT_EQ(f->md5, lumo::md5Hex(kFileBytes));
}

TEST(Multipart, LaterPartOfTheSameNameReplaces) {
    std::string body = "--b\r\nContent-Disposition: form-data; name=a\r\n\r\none\r\n"
                       "--b\r\nContent-Disposition: form-data; name=a\r\n\r\ntwo\r\n--b--";
    kohttp::HttpMultipart mp("b", HttpConfig::manager());
    EXPECT_EQ(mp.execute(body.data(), body.size()), body.size());
    EXPECT_TRUE(mp.finished());
    ASSERT_EQ(mp.parts().size(), 1u);
    EXPECT_EQ(mp.part("a")->data, "two");
}

TEST(Multipart, SyntaxErrorsFailTheRequest) {
    const char* bodies[] = {
        "--wrong\r\n",                      // another boundary
        "--b\n",                            // bare LF after the boundary
        "--b\r\nbad header\r\n\r\n",        // space in a header name
        "--b\r\n: v\r\n\r\n",               // empty header name
        "--b\r\nA: v\rX",                   // CR without LF
        "--b\r\nA: v\r\n\r\ndata\r\n--bXX", // junk after a boundary
    };
    for (const char* body : bodies) {
        SCOPED_TRACE(body);
        std::string b(body);
        HttpParserContext ctx(HttpConfig::manager());
        auto reqs =
            parse(ctx, "POST / HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=b\r\n"
                       "Content-Length: " +
                           std::to_string(b.size()) + "\r\n\r\n" + b);
        EXPECT_TRUE(reqs.empty());
        EXPECT_EQ(ctx.error(), HttpParserContext::Error::Syntax);
    }
}

TEST(Multipart, LongBoundaryIsCut) {
    kohttp::HttpMultipart mp(std::string(100, 'q'), HttpConfig::manager());
    EXPECT_EQ(mp.boundary().size(), kohttp::HttpMultipart::kMaxBoundary);
}

TEST(Multipart, TempFileFailureIsLoggedAndFails) {
    const char* old = std::getenv("TMPDIR");
    std::string saved = old ? old : "";
    ::setenv("TMPDIR", "/nonexistent-kohttp-dir", 1);
    auto config = std::make_shared<HttpConfig>(*HttpConfig::manager());
    std::vector<std::string> logs;
    config->log = [&](kohttp::LogLevel level, const char*, int, const std::string& msg) {
        EXPECT_EQ(level, kohttp::LogLevel::Warn);
        logs.push_back(msg);
    };
    HttpParserContext ctx(config);
    auto reqs = parse(ctx, formRequest("b"));
    if (old) {
        ::setenv("TMPDIR", saved.c_str(), 1);
    } else {
        ::unsetenv("TMPDIR");
    }
    EXPECT_TRUE(reqs.empty());
    EXPECT_EQ(ctx.error(), HttpParserContext::Error::Syntax);
    EXPECT_EQ(logs, std::vector<std::string>{"Failed to open temporary file"});
}

TEST(Multipart, PartAndFieldBoundsAreTooLarge) {
    auto config = std::make_shared<HttpConfig>(*HttpConfig::manager());
    config->limits.maxParts = 3;
    config->limits.maxBodyBytes = 100;
    config->log = [](kohttp::LogLevel, const char*, int, const std::string&) {};
    std::string manyParts;
    for (int i = 0; i < 5; ++i) {
        manyParts +=
            "--b\r\nContent-Disposition: form-data; name=p" + std::to_string(i) + "\r\n\r\nx\r\n";
    }
    manyParts += "--b--";
    std::string bigField = "--b\r\nContent-Disposition: form-data; name=big\r\n\r\n" +
                           std::string(101, 'x') + "\r\n--b--";
    for (const std::string& body : {manyParts, bigField}) {
        HttpParserContext ctx(config);
        // Chunked, so only the parts themselves can trip the bounds.
        char size[32];
        std::snprintf(size, sizeof size, "%zx", body.size());
        auto reqs =
            parse(ctx, "POST / HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=b\r\n"
                       "Transfer-Encoding: chunked\r\n\r\n" +
                           std::string(size) + "\r\n" + body + "\r\n0\r\n\r\n");
        EXPECT_TRUE(reqs.empty());
        EXPECT_EQ(ctx.error(), HttpParserContext::Error::TooLarge);
    }
}

// Random bytes and random cuts of valid bodies: the parser must never crash,
// over-read or report consuming more than it was given.
TEST(Multipart, RandomInputIsHandledSafely) {
    std::mt19937 rng(1234);
    const std::string valid = formBody("XbXb");
    const std::string alphabet = "-\r\nXb:; =\"a";
    for (int round = 0; round < 2000; ++round) {
        std::string input = kohttp_test::mutate(rng, valid, alphabet, 4);
        kohttp::HttpMultipart mp("XbXb", HttpConfig::sdk());
        ASSERT_TRUE(kohttp_test::feedRandomly(
            rng, input, 40, [&](const char* d, std::size_t n) { return mp.execute(d, n); }));
    }
}

} // namespace
