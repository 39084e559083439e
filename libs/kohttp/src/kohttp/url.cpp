#include <kohttp/http_type.h>

#include "text_util.h"

namespace kohttp {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

std::string urlDecode(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '\0') {
            break;
        }
        if (c == '+') {
            out.push_back(' ');
        } else if (c != '%') {
            out.push_back(c);
        } else if (i + 2 < in.size()) {
            int hi = hexValue(in[i + 1]);
            int lo = hexValue(in[i + 2]);
            if (hi < 0 || lo < 0) {
                // Not an escape: keep the text as it came rather than invent a byte.
                out.push_back(c);
                continue;
            }
            char byte = static_cast<char>(hi * 16 + lo);
            if (byte == '\0') {
                break;
            }
            out.push_back(byte);
            i += 2;
        }
        // A "%" too close to the end is dropped.
    }
    return out;
}

SplitUrl splitUrl(std::string_view url) {
    SplitUrl result;
    std::size_t mark = url.find('?');
    result.path = urlDecode(url.substr(0, mark));
    if (mark != std::string_view::npos) {
        for (std::string_view piece : detail::split(url.substr(mark + 1), '&')) {
            std::size_t eq = piece.find('=');
            std::string key = urlDecode(piece.substr(0, eq));
            std::string value =
                eq == std::string_view::npos ? std::string() : urlDecode(piece.substr(eq + 1));
            result.query.emplace(std::move(key), std::move(value)); // the first value wins
        }
    }
    for (std::string_view segment : detail::split(result.path, '/')) {
        if (!segment.empty()) {
            result.segments.emplace_back(segment);
        }
    }
    if (!result.path.empty() && result.path.back() == '/') {
        result.path += "index.html";
        result.segments.emplace_back("index.html");
    }
    // Only the last segment can carry an extension: "/a.b/c" has none.
    if (!result.segments.empty()) {
        const std::string& last = result.segments.back();
        std::size_t dot = last.rfind('.');
        if (dot != std::string::npos) {
            result.extension = last.substr(dot + 1);
        }
    }
    return result;
}

} // namespace kohttp
