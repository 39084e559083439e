#pragma once

#include <map>
#include <string>

namespace sim {

// `text` as a JSON string literal, quotes included, appended to `out`.
void appendJsonString(std::string& out, const std::string& text);

// A small JSON object writer: members in the order added.
class JsonObject {
public:
    JsonObject& text(const char* key, const std::string& value);
    JsonObject& number(const char* key, long long value);
    JsonObject& raw(const char* key, const std::string& json);
    std::string str() const { return "{" + body_ + "}"; }

private:
    void member(const char* key);
    std::string body_;
};

// One member of a flat JSON object: a string (unescaped into `text`) or a scalar
// (number, true, false, null) as written.
struct JsonMember {
    bool isString = false;
    std::string text;
};

// Reads a JSON object whose members are strings and scalars only. False with the reason
// for anything else: nested values, bad escapes, trailing text, duplicate keys.
bool parseFlatObject(const std::string& json, std::map<std::string, JsonMember>* members,
                     std::string* error);

} // namespace sim
