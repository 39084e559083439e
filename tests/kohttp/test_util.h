// Helpers shared by the message-layer tests.
#pragma once

#include <kohttp/http_type.h>

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

} // namespace kohttp_test
