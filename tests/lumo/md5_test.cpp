#include "lumo/md5.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Vector {
    const char* input;
    const char* digest;
};

// The test suite of RFC 1321, appendix A.5.
const Vector kRfcSuite[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(Md5, RfcSuiteInOneCall) {
    for (const auto& v : kRfcSuite)
        EXPECT_EQ(lumo::md5Hex(std::string_view(v.input)), v.digest) << '"' << v.input << '"';
}

// Every split into chunk sizes from 1 to 80 crosses the 64-byte block boundary at a
// different place; the digest must not depend on how the message was fed.
TEST(Md5, RfcSuiteFedInChunks) {
    for (const auto& v : kRfcSuite) {
        const std::string text = v.input;
        for (std::size_t chunk = 1; chunk <= 80; ++chunk) {
            lumo::Md5 md5;
            for (std::size_t pos = 0; pos < text.size(); pos += chunk)
                md5.update(text.data() + pos, std::min(chunk, text.size() - pos));
            EXPECT_EQ(md5.finishHex(), v.digest) << "chunk " << chunk << " of \"" << text << '"';
        }
    }
}

// Lengths around the padding boundary (55, 56, 63, 64, 65 bytes) need one or two
// padding blocks; the reference digests were computed with md5sum.
TEST(Md5, PaddingBoundaries) {
    const struct {
        std::size_t len;
        const char* digest;
    } cases[] = {
        {55, "ef1772b6dff9a122358552954ad0df65"}, {56, "3b0c8ac703f828b04c6c197006d17218"},
        {63, "b06521f39153d618550606be297466d5"}, {64, "014842d480b571495a4a0363793f7367"},
        {65, "c743a45e0d2e6a95cb859adae0248435"}, {128, "e510683b3f5ffe4093d021808bc6ff70"},
    };
    for (const auto& c : cases) {
        const std::string text(c.len, 'a');
        EXPECT_EQ(lumo::md5Hex(text.data(), text.size()), c.digest) << c.len;
    }
}

TEST(Md5, BinaryDigestMatchesHex) {
    lumo::Md5 md5;
    md5.update("abc", 3);
    const auto digest = md5.finish();
    EXPECT_EQ(digest[0], 0x90);
    EXPECT_EQ(digest[15], 0x72);
}

} // namespace
