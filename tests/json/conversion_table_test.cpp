// The decoding conversion table: every member kind against every kind of JSON
// value, as one table. An expectation is the member rendered after decoding {"v": <json>}
// (or {} for an absent member), or "!" followed by the error text.
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_records.h"
#include "vo/json.h"

namespace {

using testrec::Inner;

// One member of kind T under the key "v", starting at a sentinel value.
template <typename T> struct One : vo::JsonClient {
    T v;

    explicit One(T initial) : v(std::move(initial)) {}
    void encode(vo::JsonEncodeVisitor& visitor) const override { visitor.visit("v", v); }
    void decode(vo::JsonDecodeVisitor& visitor) override { visitor.visit("v", v); }
};

std::string render(std::int32_t x) {
    return std::to_string(x);
}
std::string render(std::int64_t x) {
    return std::to_string(x);
}
std::string render(std::uint64_t x) {
    return std::to_string(x);
}
std::string render(bool x) {
    return x ? "true" : "false";
}
std::string render(const std::string& x) {
    return "\"" + x + "\"";
}
std::string render(const Inner& x) {
    return "{a=" + std::to_string(x.a) + "}";
}
std::string render(const std::vector<Inner>& xs) {
    std::string out = "[";
    for (const Inner& x : xs) {
        out += (out.size() > 1 ? "," : "") + std::to_string(x.a);
    }
    return out + "]";
}
template <typename T> std::string render(const std::shared_ptr<T>& p) {
    return p ? render(*p) : "null";
}

template <typename T> std::string decodeOne(T initial, const std::string& json) {
    One<T> record(std::move(initial));
    std::string error;
    const std::string text = json.empty() ? "{}" : "{\"v\": " + json + "}";
    if (!vo::fromJson(error, record, text)) {
        return "!" + error;
    }
    return render(record.v);
}

Inner innerAt(std::int32_t a) {
    Inner inner;
    inner.a = a;
    return inner;
}

using Decoder = std::function<std::string(const std::string&)>;

// Sentinels: numbers 7, flags true, texts "init", records {a=3}, lists [3]; optionals null.
const std::map<std::string, Decoder>& decoders() {
    static const std::map<std::string, Decoder> table = {
        {"int32", [](const std::string& j) { return decodeOne<std::int32_t>(7, j); }},
        {"int64", [](const std::string& j) { return decodeOne<std::int64_t>(7, j); }},
        {"uint64", [](const std::string& j) { return decodeOne<std::uint64_t>(7, j); }},
        {"flag", [](const std::string& j) { return decodeOne<bool>(true, j); }},
        {"text", [](const std::string& j) { return decodeOne<std::string>("init", j); }},
        {"record", [](const std::string& j) { return decodeOne<Inner>(innerAt(3), j); }},
        {"list",
         [](const std::string& j) { return decodeOne<std::vector<Inner>>({innerAt(3)}, j); }},
        {"opt_int", [](const std::string& j) { return decodeOne<std::shared_ptr<int>>({}, j); }},
        {"opt_text",
         [](const std::string& j) { return decodeOne<std::shared_ptr<std::string>>({}, j); }},
        {"opt_flag", [](const std::string& j) { return decodeOne<std::shared_ptr<bool>>({}, j); }},
    };
    return table;
}

// The kinds, in column order of the table below.
const std::array<const char*, 10> kKinds = {"int32",  "int64", "uint64",  "flag",     "text",
                                            "record", "list",  "opt_int", "opt_text", "opt_flag"};

// Short forms of the four error messages for the key "v".
std::string expand(const std::string& e) {
    if (e == "!inv") {
        return "!v is invalid";
    }
    if (e == "!str") {
        return "!v is not a string";
    }
    if (e == "!arr") {
        return "!v is not an array";
    }
    if (e == "!obj") {
        return "!json wrong format object: v";
    }
    return e;
}

struct Row {
    const char* json; // "" stands for an absent member
    std::array<const char*, 10> expect;
};

// One row per kind of JSON value, one column per member kind.
// clang-format off
const Row kTable[] = {
    // JSON value            int32          int64                   uint64                  flag     text              record   list       opt_int        opt_text          opt_flag
    {"12",                   {"12",          "12",                   "12",                   "true",  "!str",           "!obj",  "!arr",    "12",          "!str",           "true"}},
    {"-12",                  {"-12",         "-12",                  "0",                    "true",  "!str",           "!obj",  "!arr",    "-12",         "!str",           "true"}},
    {"0",                    {"0",           "0",                    "0",                    "false", "!str",           "!obj",  "!arr",    "0",           "!str",           "false"}},
    {"3000000000",           {"-2147483648", "3000000000",           "3000000000",           "true",  "!str",           "!obj",  "!arr",    "-2147483648", "!str",           "true"}},
    {"18446744073709551615", {"-2147483648", "-9223372036854775808", "18446744073709551615", "!inv",  "!str",           "!obj",  "!arr",    "-2147483648", "!str",           "!inv"}},
    {"12.9",                 {"12",          "12",                   "12",                   "!inv",  "!str",           "!obj",  "!arr",    "12",          "!str",           "!inv"}},
    {"-12.9",                {"-12",         "-12",                  "0",                    "!inv",  "!str",           "!obj",  "!arr",    "-12",         "!str",           "!inv"}},
    {"1.0",                  {"1",           "1",                    "1",                    "!inv",  "!str",           "!obj",  "!arr",    "1",           "!str",           "!inv"}},
    {"1e10",                 {"-2147483648", "10000000000",          "10000000000",          "!inv",  "!str",           "!obj",  "!arr",    "-2147483648", "!str",           "!inv"}},
    {"1e19",                 {"-2147483648", "-9223372036854775808", "10000000000000000000", "!inv",  "!str",           "!obj",  "!arr",    "-2147483648", "!str",           "!inv"}},
    {"1e20",                 {"-2147483648", "-9223372036854775808", "0",                    "!inv",  "!str",           "!obj",  "!arr",    "-2147483648", "!str",           "!inv"}},
    {"true",                 {"1",           "1",                    "1",                    "true",  "!str",           "!obj",  "!arr",    "1",           "!str",           "true"}},
    {"false",                {"0",           "0",                    "0",                    "false", "!str",           "!obj",  "!arr",    "0",           "!str",           "false"}},
    {"\"12\"",               {"12",          "12",                   "12",                   "false", "\"12\"",         "!obj",  "!arr",    "12",          "\"12\"",         "false"}},
    {"\"\"",                 {"7",           "7",                    "7",                    "false", "\"\"",           "!obj",  "!arr",    "null",        "\"\"",           "false"}},
    {"\" -34xyz\"",          {"-34",         "-34",                  "18446744073709551582", "false", "\" -34xyz\"",    "!obj",  "!arr",    "-34",         "\" -34xyz\"",    "false"}},
    {"\"5000000000\"",       {"705032704",   "5000000000",           "5000000000",           "false", "\"5000000000\"", "!obj",  "!arr",    "705032704",   "\"5000000000\"", "false"}},
    {"\"True\"",             {"0",           "0",                    "0",                    "true",  "\"True\"",       "!obj",  "!arr",    "0",           "\"True\"",       "true"}},
    {"\"TRUE\"",             {"0",           "0",                    "0",                    "true",  "\"TRUE\"",       "!obj",  "!arr",    "0",           "\"TRUE\"",       "true"}},
    {"\"true\"",             {"0",           "0",                    "0",                    "true",  "\"true\"",       "!obj",  "!arr",    "0",           "\"true\"",       "true"}},
    {"\"yes\"",              {"0",           "0",                    "0",                    "false", "\"yes\"",        "!obj",  "!arr",    "0",           "\"yes\"",        "false"}},
    {"[1,{\"a\":1}]",        {"!inv",        "!inv",                 "!inv",                 "!inv",  "!str",           "!obj",  "[3,7,1]", "!inv",        "!str",           "!inv"}},
    {"{\"a\":1}",            {"!inv",        "!inv",                 "!inv",                 "!inv",  "!str",           "{a=1}", "!arr",    "!inv",        "!str",           "!inv"}},
    {"null",                 {"7",           "7",                    "7",                    "true",  "\"init\"",       "{a=3}", "[3]",     "null",        "null",           "null"}},
    {"",                     {"7",           "7",                    "7",                    "true",  "\"init\"",       "{a=3}", "[3]",     "null",        "null",           "null"}},
};
// clang-format on

TEST(JsonConversionTable, EveryKindAgainstEveryJsonValue) {
    for (const Row& row : kTable) {
        const std::string json = row.json;
        for (std::size_t k = 0; k < kKinds.size(); ++k) {
            EXPECT_EQ(decoders().at(kKinds[k])(json), expand(row.expect[k]))
                << "kind " << kKinds[k] << ", JSON value " << (json.empty() ? "<absent>" : json);
        }
    }
}

} // namespace
