// URL decoding and splitting into path, extension, segments and query.
#include "test_util.h"

#include <gtest/gtest.h>

using kohttp::splitUrl;
using kohttp::urlDecode;

namespace {

TEST(UrlDecode, Cases) {
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"/a%20b/c+d", "/a b/c d"},
        {"%41%4a%4A", "AJJ"},
        {"50%", "50"}, // a "%" too close to the end is dropped
        {"ab%4", "ab4"},
        {"%zz%g1", "%zz%g1"}, // not an escape: kept as it came
        {"a%00b", "a"},       // stops at a decoded NUL
        {std::string("a\0b", 3), "a"},
        {"%E4%B8%AD", "\xE4\xB8\xAD"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(urlDecode(c.in), c.out);
    }
}

TEST(UrlSplit, PathSegmentsAndQuery) {
    auto s = splitUrl("/a%20b/c+d?x=1&y&x=2");
    EXPECT_EQ(s.path, "/a b/c d");
    EXPECT_EQ(s.segments, (std::vector<std::string>{"a b", "c d"}));
    EXPECT_EQ(s.query, (std::map<std::string, std::string>{{"x", "1"}, {"y", ""}}));
    EXPECT_EQ(s.extension, "");
}

TEST(UrlSplit, RootAndDirectoriesGetIndexHtml) {
    auto root = splitUrl("/");
    EXPECT_EQ(root.path, "/index.html");
    EXPECT_EQ(root.extension, "html");
    EXPECT_EQ(root.segments, (std::vector<std::string>{"index.html"}));

    auto dir = splitUrl("//docs//?v=%2B");
    EXPECT_EQ(dir.path, "//docs//index.html");
    EXPECT_EQ(dir.segments, (std::vector<std::string>{"docs", "index.html"}));
    EXPECT_EQ(dir.query.at("v"), "+");
}

TEST(UrlSplit, Extensions) {
    EXPECT_EQ(splitUrl("/pkg/app.tar.gz").extension, "gz");
    EXPECT_EQ(splitUrl("/v1.2/readme").extension, ""); // a dot in a folder is no extension
    EXPECT_EQ(splitUrl("/file.").extension, "");
}

// The url is decoded once on arrival, so encoded "?" and "&" act as separators.
TEST(UrlSplit, EncodedSeparatorsActAfterArrival) {
    kohttp::HttpParserContext ctx(kohttp::HttpConfig::manager());
    auto reqs = kohttp_test::parse(ctx, "GET /a%3Fk=v%26w=1 HTTP/1.1\r\n\r\n");
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0]->url, "/a?k=v&w=1");
    auto s = splitUrl(reqs[0]->url);
    EXPECT_EQ(s.path, "/a");
    EXPECT_EQ(s.query, (std::map<std::string, std::string>{{"k", "v"}, {"w", "1"}}));
}

} // namespace
