#include "json_text.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace sim {

void appendJsonString(std::string& out, const std::string& text) {
    out += '"';
    for (unsigned char ch : text) {
        switch (ch) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (ch < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", ch);
                out += buf;
            } else {
                out += char(ch);
            }
        }
    }
    out += '"';
}

JsonObject& JsonObject::text(const char* key, const std::string& value) {
    member(key);
    appendJsonString(body_, value);
    return *this;
}

JsonObject& JsonObject::number(const char* key, long long value) {
    member(key);
    body_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::raw(const char* key, const std::string& json) {
    member(key);
    body_ += json;
    return *this;
}

void JsonObject::member(const char* key) {
    if (!body_.empty())
        body_ += ',';
    appendJsonString(body_, key);
    body_ += ':';
}

namespace {

class Reader {
public:
    explicit Reader(const std::string& s) : s_(s) {}

    void skipBlanks() {
        while (pos_ < s_.size() && std::strchr(" \t\r\n", s_[pos_]) && s_[pos_] != '\0')
            ++pos_;
    }
    bool eat(char c) {
        skipBlanks();
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool atEnd() {
        skipBlanks();
        return pos_ == s_.size();
    }
    char peek() {
        skipBlanks();
        return pos_ < s_.size() ? s_[pos_] : '\0';
    }

    bool string(std::string* out, std::string* error) {
        if (!eat('"'))
            return fail("a string expected", error);
        out->clear();
        while (pos_ < s_.size()) {
            const unsigned char c = static_cast<unsigned char>(s_[pos_++]);
            if (c == '"')
                return true;
            if (c < 0x20)
                return fail("a control character inside a string", error);
            if (c != '\\') {
                out->push_back(char(c));
                continue;
            }
            if (pos_ >= s_.size())
                break;
            const char e = s_[pos_++];
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out->push_back(e);
                break;
            case 'b':
                out->push_back('\b');
                break;
            case 'f':
                out->push_back('\f');
                break;
            case 'n':
                out->push_back('\n');
                break;
            case 'r':
                out->push_back('\r');
                break;
            case 't':
                out->push_back('\t');
                break;
            case 'u': {
                unsigned cp = 0;
                if (!hex4(&cp))
                    return fail("a bad \\u escape", error);
                if (cp >= 0xD800 && cp < 0xDC00) {
                    unsigned low = 0;
                    if (pos_ + 1 >= s_.size() || s_[pos_] != '\\' || s_[pos_ + 1] != 'u')
                        return fail("a lone surrogate", error);
                    pos_ += 2;
                    if (!hex4(&low) || low < 0xDC00 || low >= 0xE000)
                        return fail("a lone surrogate", error);
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                } else if (cp >= 0xDC00 && cp < 0xE000) {
                    return fail("a lone surrogate", error);
                }
                utf8(cp, out);
                break;
            }
            default:
                return fail("a bad escape", error);
            }
        }
        return fail("an unterminated string", error);
    }

    // A number or literal, kept as written.
    bool scalar(std::string* out, std::string* error) {
        skipBlanks();
        const size_t start = pos_;
        while (pos_ < s_.size() &&
               (std::isalnum(static_cast<unsigned char>(s_[pos_])) || std::strchr("+-.", s_[pos_])))
            ++pos_;
        *out = s_.substr(start, pos_ - start);
        if (*out == "true" || *out == "false" || *out == "null")
            return true;
        char* end = nullptr;
        std::strtod(out->c_str(), &end);
        if (out->empty() || *end != '\0' ||
            !(std::isdigit(static_cast<unsigned char>((*out)[0])) || (*out)[0] == '-'))
            return fail("a value expected", error);
        return true;
    }

    bool fail(const char* what, std::string* error) {
        *error = std::string(what) + " at byte " + std::to_string(pos_);
        return false;
    }

private:
    bool hex4(unsigned* out) {
        if (pos_ + 4 > s_.size())
            return false;
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s_[pos_++];
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f')
                v |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                v |= unsigned(c - 'A' + 10);
            else
                return false;
        }
        *out = v;
        return true;
    }
    static void utf8(unsigned cp, std::string* out) {
        if (cp < 0x80) {
            out->push_back(char(cp));
        } else if (cp < 0x800) {
            out->push_back(char(0xC0 | (cp >> 6)));
            out->push_back(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out->push_back(char(0xE0 | (cp >> 12)));
            out->push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out->push_back(char(0x80 | (cp & 0x3F)));
        } else {
            out->push_back(char(0xF0 | (cp >> 18)));
            out->push_back(char(0x80 | ((cp >> 12) & 0x3F)));
            out->push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out->push_back(char(0x80 | (cp & 0x3F)));
        }
    }

    const std::string& s_;
    size_t pos_ = 0;
};

} // namespace

bool parseFlatObject(const std::string& json, std::map<std::string, JsonMember>* members,
                     std::string* error) {
    members->clear();
    Reader in(json);
    if (!in.eat('{'))
        return in.fail("an object expected", error);
    if (!in.eat('}')) {
        do {
            std::string key;
            if (!in.string(&key, error))
                return false;
            if (!in.eat(':'))
                return in.fail("':' expected", error);
            JsonMember m;
            const char next = in.peek();
            if (next == '{' || next == '[')
                return in.fail("a nested value", error);
            m.isString = next == '"';
            if (!(m.isString ? in.string(&m.text, error) : in.scalar(&m.text, error)))
                return false;
            if (!members->emplace(key, m).second)
                return in.fail(("a second member \"" + key + "\"").c_str(), error);
        } while (in.eat(','));
        if (!in.eat('}'))
            return in.fail("',' or '}' expected", error);
    }
    if (!in.atEnd())
        return in.fail("text after the object", error);
    return true;
}

} // namespace sim
