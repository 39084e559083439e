#include "text_util.h"

#include <cctype>

namespace kohttp::detail {

std::vector<std::string_view> split(std::string_view text, char delim) {
    std::vector<std::string_view> pieces;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find(delim, begin);
        if (end == std::string_view::npos) {
            pieces.push_back(text.substr(begin));
            break;
        }
        pieces.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    return pieces;
}

std::string_view trim(std::string_view text) {
    constexpr std::string_view ws = " \t\r\n";
    std::size_t first = text.find_first_not_of(ws);
    if (first == std::string_view::npos) {
        return {};
    }
    std::size_t last = text.find_last_not_of(ws);
    return text.substr(first, last - first + 1);
}

std::string toLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && toLower(a) == toLower(b);
}

std::string_view stripQuotes(std::string_view text) {
    auto quote = [](char c) { return c == '"' || c == '\''; };
    while (!text.empty() && quote(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && quote(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

} // namespace kohttp::detail
