#include "sim_md5.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace simpelzo {

namespace {

uint32_t rotl(uint32_t x, unsigned c) {
    return (x << c) | (x >> (32 - c));
}

struct Tables {
    uint32_t k[64];
    unsigned s[64];
    Tables() {
        // Sines give the additive constants; the shift amounts repeat per round.
        static const unsigned shifts[4][4] = {
            {7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
        for (int i = 0; i < 64; ++i) {
            k[i] = static_cast<uint32_t>(std::floor(std::fabs(std::sin(i + 1.0)) * 4294967296.0));
            s[i] = shifts[i / 16][i % 4];
        }
    }
};

} // namespace

std::string md5Hex(std::string_view bytes) {
    static const Tables t;
    std::vector<uint8_t> msg(bytes.begin(), bytes.end());
    const uint64_t bitLength = static_cast<uint64_t>(bytes.size()) * 8;
    msg.push_back(0x80);
    while (msg.size() % 64 != 56)
        msg.push_back(0);
    for (int i = 0; i < 8; ++i)
        msg.push_back(static_cast<uint8_t>(bitLength >> (8 * i)));

    uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    for (size_t off = 0; off < msg.size(); off += 64) {
        uint32_t m[16];
        for (int i = 0; i < 16; ++i)
            m[i] = msg[off + 4 * i] | (msg[off + 4 * i + 1] << 8) | (msg[off + 4 * i + 2] << 16) |
                   (static_cast<uint32_t>(msg[off + 4 * i + 3]) << 24);
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
        for (int i = 0; i < 64; ++i) {
            uint32_t f;
            int g;
            if (i < 16) {
                f = (b & c) | (~b & d);
                g = i;
            } else if (i < 32) {
                f = (d & b) | (~d & c);
                g = (5 * i + 1) % 16;
            } else if (i < 48) {
                f = b ^ c ^ d;
                g = (3 * i + 5) % 16;
            } else {
                f = c ^ (b | ~d);
                g = (7 * i) % 16;
            }
            const uint32_t next = b + rotl(a + f + t.k[i] + m[g], t.s[i]);
            a = d;
            d = c;
            c = b;
            b = next;
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
    }

    std::string hex;
    char buf[3];
    for (uint32_t word : h)
        for (int i = 0; i < 4; ++i) {
            std::snprintf(buf, sizeof buf, "%02x", (word >> (8 * i)) & 0xFF);
            hex += buf;
        }
    return hex;
}

} // namespace simpelzo
