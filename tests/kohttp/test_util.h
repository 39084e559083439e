// Helpers shared by the message-layer tests.
#pragma once

#include <kohttp/http_type.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace kohttp_test {

// Feeds text to a fresh context in pieces of `step` bytes (0: all at once)
// and returns the completed requests; *consumed gets the total consumed.
inline std::vector<kohttp::HttpRequestPtr> parse(kohttp::HttpParserContext& ctx,
                                                 const std::string& bytes, std::size_t step = 0,
                                                 std::size_t* consumed = nullptr) {
    std::size_t total = 0;
    if (step == 0) {
        step = bytes.size();
    }
    for (std::size_t at = 0; at < bytes.size(); at += step) {
        std::size_t len = std::min(step, bytes.size() - at);
        std::size_t used = ctx.feed(bytes.data() + at, len);
        total += used;
        if (used < len) {
            break;
        }
    }
    if (consumed) {
        *consumed = total;
    }
    std::vector<kohttp::HttpRequestPtr> out;
    while (auto req = ctx.takeCompleted()) {
        out.push_back(req);
    }
    return out;
}

// Mutates a few bytes of valid with characters of alphabet.
inline std::string mutate(std::mt19937& rng, std::string valid, const std::string& alphabet,
                          int maxEdits) {
    int edits = 1 + static_cast<int>(rng() % static_cast<unsigned>(maxEdits));
    for (int e = 0; e < edits; ++e) {
        valid[rng() % valid.size()] = alphabet[rng() % alphabet.size()];
    }
    return valid;
}

// Feeds input in random pieces of 1..maxPiece bytes until the consumer takes
// less than it was given; returns false if it ever claimed more.
inline bool feedRandomly(std::mt19937& rng, const std::string& input, std::size_t maxPiece,
                         const std::function<std::size_t(const char*, std::size_t)>& feed) {
    std::size_t at = 0;
    while (at < input.size()) {
        std::size_t len = std::min<std::size_t>(1 + rng() % maxPiece, input.size() - at);
        std::size_t used = feed(input.data() + at, len);
        if (used > len) {
            return false;
        }
        if (used < len) {
            break;
        }
        at += len;
    }
    return true;
}

// A masked client frame as browsers send them.
inline std::string maskedFrame(int opcode, const std::string& payload, bool fin = true) {
    std::string out;
    out.push_back(static_cast<char>((fin ? 0x80 : 0) | opcode));
    if (payload.size() < 126) {
        out.push_back(static_cast<char>(0x80 | payload.size()));
    } else {
        out.push_back(static_cast<char>(0x80 | 126));
        out.push_back(static_cast<char>(payload.size() >> 8));
        out.push_back(static_cast<char>(payload.size() & 0xff));
    }
    const char key[4] = {0x37, 0x21, 0x05, 0x7e};
    out.append(key, 4);
    for (std::size_t i = 0; i < payload.size(); ++i) {
        out.push_back(static_cast<char>(payload[i] ^ key[i % 4]));
    }
    return out;
}

} // namespace kohttp_test
