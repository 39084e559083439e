// The JSON mapping: output, parse errors, error reporting, optional members,
// the key prefix rule, nested records and lists, and the two sound-behaviour fixes.
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_records.h"
#include "vo/encode_handler.h"
#include "vo/json.h"
#include "vo/json_convert.h"

namespace {

using testrec::Everything;
using testrec::Inner;
using testrec::Item;
using testrec::ListReply;
using testrec::Reply;

// ---------------------------------------------------------------------------------------
// Output

TEST(JsonOutput, CompactEnvelope) {
    Reply reply;
    reply.code = 0;
    EXPECT_EQ(vo::toJson(reply), "{\"code\":0,\"message\":\"\"}");
    EXPECT_EQ(vo::toJson(reply, false), "{\"code\":0,\"message\":\"\"}");
}

TEST(JsonOutput, PrettyEnvelopeIndentsByFourSpaces) {
    Reply reply;
    reply.code = 0;
    EXPECT_EQ(vo::toJson(reply, true), "{\n    \"code\": 0,\n    \"message\": \"\"\n}");
}

TEST(JsonOutput, EveryKindCompact) {
    Everything e;
    e.i32 = -5;
    e.i64 = std::numeric_limits<std::int64_t>::min();
    e.u64 = std::numeric_limits<std::uint64_t>::max();
    e.flag = true;
    e.text = "a\"b\\c\n网络";
    e.inner.a = 9;
    e.list.resize(2);
    e.list[1].a = 4;
    e.optInt = std::make_shared<int>(0);
    e.optText = std::make_shared<std::string>("");
    e.optFlag = std::make_shared<bool>(false);
    EXPECT_EQ(vo::toJson(e), "{\"i32\":-5,\"i64\":-9223372036854775808,"
                             "\"u64\":18446744073709551615,\"flag\":true,"
                             "\"text\":\"a\\\"b\\\\c\\n网络\",\"inner\":{\"a\":9},"
                             "\"list\":[{\"a\":7},{\"a\":4}],\"opt_int\":0,\"opt_text\":\"\","
                             "\"opt_flag\":false}");
}

TEST(JsonOutput, NullOptionalsAndEmptyListCompact) {
    Everything e;
    EXPECT_EQ(vo::toJson(e), "{\"i32\":0,\"i64\":0,\"u64\":0,\"flag\":false,\"text\":\"\","
                             "\"inner\":{\"a\":7},\"list\":[]}");
}

TEST(JsonOutput, NestedPretty) {
    ListReply r;
    r.value.a = 1;
    r.items.resize(1);
    r.items[0].name = "x";
    r.items[0].size = 2;
    EXPECT_EQ(vo::toJson(r, true), "{\n"
                                   "    \"code\": 200,\n"
                                   "    \"message\": \"\",\n"
                                   "    \"value\": {\n"
                                   "        \"a\": 1\n"
                                   "    },\n"
                                   "    \"items\": [\n"
                                   "        {\n"
                                   "            \"name\": \"x\",\n"
                                   "            \"size\": 2,\n"
                                   "            \"enable\": false\n"
                                   "        }\n"
                                   "    ]\n"
                                   "}");
    r.items.clear();
    EXPECT_EQ(vo::toJson(r, true), "{\n"
                                   "    \"code\": 200,\n"
                                   "    \"message\": \"\",\n"
                                   "    \"value\": {\n"
                                   "        \"a\": 1\n"
                                   "    },\n"
                                   "    \"items\": []\n"
                                   "}");
}

TEST(JsonOutput, TextStopsAtFirstNul) {
    Reply reply;
    reply.message = std::string("ab\0cd", 5);
    EXPECT_EQ(vo::toJson(reply), "{\"code\":200,\"message\":\"ab\"}");
}

struct Duplicate : vo::JsonClient {
    std::int32_t a = 1;
    std::int32_t b = 2;
    void encode(vo::JsonEncodeVisitor& v) const override {
        v.visit("k", a);
        v.visit("k", b);
    }
    void decode(vo::JsonDecodeVisitor& v) override {
        v.visit("k", a);
        v.visit("k", b);
    }
};

TEST(JsonOutput, DuplicateKeysAreWrittenAsVisited) {
    Duplicate d;
    EXPECT_EQ(vo::toJson(d), "{\"k\":1,\"k\":2}");
}

struct Throwing : vo::JsonClient {
    void encode(vo::JsonEncodeVisitor&) const override { throw std::runtime_error("boom"); }
    void decode(vo::JsonDecodeVisitor&) override { throw std::runtime_error("bang"); }
};

TEST(JsonOutput, EncodeErrorGivesEmptyTextAndStderrLine) {
    Throwing t;
    testing::internal::CaptureStderr();
    EXPECT_EQ(vo::toJson(t), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "boom\n");
}

TEST(JsonOutput, HandlersForwardToTheirWriters) {
    vo::EncodeHandler<vo::Writer> compact;
    vo::EncodeHandler<vo::PrettyWriter> pretty;
    for (vo::IEncodeHandler* h :
         {static_cast<vo::IEncodeHandler*>(&compact), static_cast<vo::IEncodeHandler*>(&pretty)}) {
        h->StartArray();
        h->Null();
        h->Bool(true);
        h->Int(-1);
        h->Uint(2);
        h->Int64(-3);
        h->Uint64(4);
        h->Double(0.5);
        h->String("s", 1, false);
        h->StartObject();
        h->Key("k", 1, false);
        h->Int(1);
        h->EndObject(1);
        h->EndArray(10);
    }
    EXPECT_EQ(compact.text(), "[null,true,-1,2,-3,4,0.5,\"s\",{\"k\":1}]");
    EXPECT_EQ(pretty.text(), "[\n    null,\n    true,\n    -1,\n    2,\n    -3,\n    4,\n"
                             "    0.5,\n    \"s\",\n    {\n        \"k\": 1\n    }\n]");
}

// ---------------------------------------------------------------------------------------
// Parse errors

TEST(JsonParse, ErrorsLeaveTheRecordAlone) {
    for (const char* text : {"", "{", "{} x", "{}}", "/* c */ {}", "{\"code\":1,}", "{'a':1}",
                             "   ", "{\"code\":NaN}", "{\"code\":1e400}"}) {
        Reply reply;
        reply.code = 5;
        std::string error;
        EXPECT_FALSE(vo::fromJson(error, reply, text)) << text;
        EXPECT_EQ(error, "json obj has parse error") << text;
        EXPECT_EQ(reply.code, 5) << text;
    }
}

TEST(JsonParse, WhitespaceAroundTheRootIsAllowed) {
    Reply reply;
    std::string error;
    EXPECT_TRUE(vo::fromJson(error, reply, " \t\r\n{\"code\": 3} \r\n\t "));
    EXPECT_EQ(error, "");
    EXPECT_EQ(reply.code, 3);
}

TEST(JsonParse, NonObjectRootDecodesAndChangesNothing) {
    for (const char* text : {"[1,2]", "[{\"code\":1}]", "5", "\"code\"", "true", "null"}) {
        Reply reply;
        reply.code = 5;
        reply.message = "m";
        std::string error;
        EXPECT_TRUE(vo::fromJson(error, reply, text)) << text;
        EXPECT_EQ(error, "") << text;
        EXPECT_EQ(reply.code, 5) << text;
        EXPECT_EQ(reply.message, "m") << text;
    }
}

// Replies come from the network, and parsing must not recurse once per level: a
// document nested deeper than any record needs is refused with its own error, at any
// depth (a million levels took the stack down), closed or not, arrays or objects.
TEST(JsonParse, NestingBeyondTheBoundIsRefused) {
    constexpr int kBound = 512; // containers, the root included
    const std::string tooDeep = "json obj nested deeper than 512 levels";
    auto arrays = [](int levels) {
        return "{\"code\":1,\"x\":" + std::string(levels - 1, '[') + std::string(levels - 1, ']') +
               "}";
    };
    auto objects = [](int levels) {
        std::string text = "{\"code\":1";
        for (int i = 1; i < levels; ++i)
            text += ",\"x\":{\"y\":0";
        return text + std::string(levels, '}');
    };
    struct Case {
        const char* what;
        std::string text;
        const char* error; // null: decodes
    };
    const Case cases[] = {
        {"arrays at the bound", arrays(kBound), nullptr},
        {"objects at the bound", objects(kBound), nullptr},
        {"arrays one past", arrays(kBound + 1), tooDeep.c_str()},
        {"objects one past", objects(kBound + 1), tooDeep.c_str()},
        {"a million open arrays", "{\"code\":1,\"x\":" + std::string(1000000, '['),
         tooDeep.c_str()},
        {"a million closed arrays", arrays(1000000), tooDeep.c_str()},
        {"a million objects", objects(1000000), tooDeep.c_str()},
        {"a million at the root", std::string(1000000, '['), tooDeep.c_str()},
        {"broken below the bound", "{\"code\":1,\"x\":[[[}", "json obj has parse error"},
    };
    for (const Case& c : cases) {
        Reply reply;
        reply.code = 5;
        std::string error;
        const bool ok = vo::fromJson(error, reply, c.text);
        if (c.error == nullptr) {
            EXPECT_TRUE(ok) << c.what << ": " << error;
            EXPECT_EQ(reply.code, 1) << c.what;
        } else {
            EXPECT_FALSE(ok) << c.what;
            EXPECT_EQ(error, c.error) << c.what;
            EXPECT_EQ(reply.code, 5) << c.what;
        }
    }
}

TEST(JsonParse, InputIsCopiedAndBytesAfterANulEndTheText) {
    const std::string text("{\"code\":4}\0garbage", 18);
    Reply reply;
    std::string error;
    EXPECT_TRUE(vo::fromJson(error, reply, text));
    EXPECT_EQ(reply.code, 4);
    EXPECT_EQ(text, std::string("{\"code\":4}\0garbage", 18));
}

// ---------------------------------------------------------------------------------------
// Error reporting

TEST(JsonErrors, MessageGoesToErrorAndStderrAndEarlierFieldsKeepTheirValues) {
    ListReply r;
    std::string error;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(vo::fromJson(error, r, R"({"code":500,"message":"m","value":"x","items":[]})"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "json wrong format object: value\n");
    EXPECT_EQ(error, "json wrong format object: value");
    EXPECT_EQ(r.code, 500);
    EXPECT_EQ(r.message, "m");
}

TEST(JsonErrors, NestedErrorNamesTheInnerKey) {
    ListReply r;
    std::string error;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(vo::fromJson(error, r, R"({"items":[{"name":"a"},{"name":1}]})"));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(error, "name is not a string");
    ASSERT_EQ(r.items.size(), 2u);
    EXPECT_EQ(r.items[0].name, "a");
}

TEST(JsonErrors, ExceptionThrownByARecordBecomesTheErrorText) {
    Throwing t;
    std::string error;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(vo::fromJson(error, t, "{}"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "bang\n");
    EXPECT_EQ(error, "bang");
}

TEST(JsonErrors, SpecExamples) {
    std::string error;
    {
        Reply r;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(vo::fromJson(error, r, R"({"code":[1]})"));
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(error, "code is invalid");
    }
    {
        Reply r;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(vo::fromJson(error, r, R"({"message":12})"));
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(error, "message is not a string");
    }
    {
        ListReply r;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(vo::fromJson(error, r, R"({"items":{}})"));
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(error, "items is not an array");
    }
}

// ---------------------------------------------------------------------------------------
// Optional members

TEST(JsonOptional, AbsentStaysAbsentAndNullIsNotWritten) {
    Everything e;
    std::string error;
    EXPECT_TRUE(vo::fromJson(error, e, R"({"i32":1,"opt_text":null})"));
    EXPECT_EQ(e.optInt, nullptr);
    EXPECT_EQ(e.optText, nullptr);
    EXPECT_EQ(e.optFlag, nullptr);
    const std::string out = vo::toJson(e);
    EXPECT_EQ(out.find("opt_"), std::string::npos) << out;
}

TEST(JsonOptional, EmptyStringForAnOptionalIntegerGivesNull) {
    Everything e;
    e.optInt = std::make_shared<int>(5);
    std::string error;
    EXPECT_TRUE(vo::fromJson(error, e, R"({"opt_int":""})"));
    EXPECT_EQ(e.optInt, nullptr);

    EXPECT_TRUE(vo::fromJson(error, e, R"({"opt_int":0})"));
    ASSERT_NE(e.optInt, nullptr);
    EXPECT_EQ(*e.optInt, 0);
    EXPECT_NE(vo::toJson(e).find("\"opt_int\":0"), std::string::npos) << vo::toJson(e);
}

TEST(JsonOptional, EmptyTextAndFlagStayAllocated) {
    Everything e;
    std::string error;
    EXPECT_TRUE(vo::fromJson(error, e, R"({"opt_text":"","opt_flag":""})"));
    ASSERT_NE(e.optText, nullptr);
    EXPECT_EQ(*e.optText, "");
    ASSERT_NE(e.optFlag, nullptr);
    EXPECT_FALSE(*e.optFlag);
}

TEST(JsonOptional, PresentValueReplacesThePointee) {
    Everything e;
    auto old = std::make_shared<int>(3);
    e.optInt = old;
    std::string error;
    EXPECT_TRUE(vo::fromJson(error, e, R"({"opt_int":"41"})"));
    EXPECT_EQ(e.optInt, old);
    EXPECT_EQ(*old, 41);
}

struct EmptyProbe : vo::JsonClient {
    std::int32_t n = 9;
    std::shared_ptr<int> opt;
    bool seenAfterPlain = false;
    bool seenAfterOptional = true;
    void encode(vo::JsonEncodeVisitor&) const override {}
    void decode(vo::JsonDecodeVisitor& v) override {
        v.visit("n", n);
        seenAfterPlain = v.emptyNumber();
        v.visit("opt", opt);
        seenAfterOptional = v.emptyNumber();
    }
};

TEST(JsonOptional, EmptyNumberFlag) {
    EmptyProbe p;
    std::string error;
    EXPECT_TRUE(vo::fromJson(error, p, R"({"n":"","opt":"2"})"));
    EXPECT_EQ(p.n, 9);
    EXPECT_TRUE(p.seenAfterPlain);
    EXPECT_FALSE(p.seenAfterOptional); // cleared before the optional member is decoded
    ASSERT_NE(p.opt, nullptr);
    EXPECT_EQ(*p.opt, 2);
}

// ---------------------------------------------------------------------------------------
// Key prefix rule

struct Prefixed : vo::JsonClient {
    std::int32_t code = 0;
    std::string text;
    Inner inner;
    std::int32_t plain = 0;
    std::int32_t bare = 0;
    void encode(vo::JsonEncodeVisitor& v) const override {
        v.visit("__x__code", code);
        v.visit("__x__text", text);
        v.visit("__x__inner", inner);
        v.visit("_x_plain", plain);
        v.visit("__x__", bare);
    }
    void decode(vo::JsonDecodeVisitor& v) override {
        v.visit("__x__code", code);
        v.visit("__x__text", text);
        v.visit("__x__inner", inner);
        v.visit("_x_plain", plain);
        v.visit("__x__", bare);
    }
};

TEST(JsonPrefix, DroppedWhenWritingAndReading) {
    Prefixed p;
    p.code = 1;
    p.text = "t";
    p.inner.a = 2;
    p.plain = 3;
    p.bare = 4;
    EXPECT_EQ(vo::toJson(p),
              "{\"code\":1,\"text\":\"t\",\"inner\":{\"a\":2},\"_x_plain\":3,\"\":4}");

    Prefixed q;
    std::string error;
    EXPECT_TRUE(vo::fromJson(error, q,
                             R"({"code":5,"text":"u","inner":{"a":6},"_x_plain":7,"":8,)"
                             R"("__x__code":99})"));
    EXPECT_EQ(q.code, 5);
    EXPECT_EQ(q.text, "u");
    EXPECT_EQ(q.inner.a, 6);
    EXPECT_EQ(q.plain, 7);
    EXPECT_EQ(q.bare, 8);
}

TEST(JsonPrefix, ErrorMessagesUseTheStrippedKey) {
    Prefixed p;
    std::string error;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(vo::fromJson(error, p, R"({"text":1})"));
    EXPECT_FALSE(vo::fromJson(error, p, R"({"inner":1})"));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(error, "json wrong format object: inner");
    EXPECT_FALSE(vo::fromJson(error, p, R"({"code":{}})"));
    EXPECT_EQ(error, "code is invalid");
}

TEST(JsonPrefix, StripHelper) {
    EXPECT_EQ(vo::stripKeyPrefix("__x__a"), "a");
    EXPECT_EQ(vo::stripKeyPrefix("__x__"), "");
    EXPECT_EQ(vo::stripKeyPrefix("__x_"), "__x_");
    EXPECT_EQ(vo::stripKeyPrefix("__x____x__a"), "__x__a");
    EXPECT_EQ(vo::stripKeyPrefix("a__x__"), "a__x__");
}

// ---------------------------------------------------------------------------------------
// Nested records and record lists

TEST(JsonNested, DerivedRecordWithNestedRecordAndList) {
    ListReply r;
    std::string error;
    EXPECT_TRUE(vo::fromJson(error, r,
                             R"({"code":500,"message":"busy","value":{"a":8},"items":[)"
                             R"({"name":"one","size":"12","enable":"true"},)"
                             R"({"name":"two","size":5000000000,"enable":1,"extra":[1]},)"
                             R"(7,)"
                             R"({}]})"));
    EXPECT_EQ(error, "");
    EXPECT_EQ(r.code, 500);
    EXPECT_EQ(r.message, "busy");
    EXPECT_EQ(r.value.a, 8);
    ASSERT_EQ(r.items.size(), 4u);
    EXPECT_EQ(r.items[0].name, "one");
    EXPECT_EQ(r.items[0].size, 12);
    EXPECT_TRUE(r.items[0].enable);
    EXPECT_EQ(r.items[1].name, "two");
    EXPECT_EQ(r.items[1].size, 5000000000LL);
    EXPECT_TRUE(r.items[1].enable);
    EXPECT_EQ(r.items[2].name, "");
    EXPECT_EQ(r.items[2].size, 0);
    EXPECT_EQ(r.items[3].name, "");
}

TEST(JsonNested, RoundTrip) {
    Everything e;
    e.i32 = std::numeric_limits<std::int32_t>::min();
    e.i64 = std::numeric_limits<std::int64_t>::max();
    e.u64 = std::numeric_limits<std::uint64_t>::max();
    e.flag = true;
    e.text = "网络超时 \x01 \"q\"";
    e.inner.a = -1;
    e.list.resize(3);
    e.list[0].a = 0;
    e.list[2].a = 2;
    e.optInt = std::make_shared<int>(-9);
    e.optText = std::make_shared<std::string>("o");
    e.optFlag = std::make_shared<bool>(true);

    for (bool pretty : {false, true}) {
        Everything back;
        std::string error;
        ASSERT_TRUE(vo::fromJson(error, back, vo::toJson(e, pretty))) << error;
        EXPECT_EQ(back.i32, e.i32);
        EXPECT_EQ(back.i64, e.i64);
        EXPECT_EQ(back.u64, e.u64);
        EXPECT_EQ(back.flag, e.flag);
        EXPECT_EQ(back.text, e.text);
        EXPECT_EQ(back.inner.a, -1);
        ASSERT_EQ(back.list.size(), 3u);
        EXPECT_EQ(back.list[0].a, 0);
        EXPECT_EQ(back.list[1].a, 7);
        EXPECT_EQ(back.list[2].a, 2);
        ASSERT_NE(back.optInt, nullptr);
        EXPECT_EQ(*back.optInt, -9);
        ASSERT_NE(back.optText, nullptr);
        EXPECT_EQ(*back.optText, "o");
        ASSERT_NE(back.optFlag, nullptr);
        EXPECT_TRUE(*back.optFlag);
        EXPECT_EQ(vo::toJson(back, pretty), vo::toJson(e, pretty));
    }
}

TEST(JsonNested, TextDecodesUpToTheFirstNul) {
    Reply r;
    std::string error;
    EXPECT_TRUE(vo::fromJson(error, r, R"({"message":"ab\u0000cd"})"));
    EXPECT_EQ(r.message, "ab");
}

TEST(JsonNested, DeepNesting) {
    struct Node : vo::JsonClient {
        std::int32_t depth = 0;
        std::vector<Node> children;
        void encode(vo::JsonEncodeVisitor& v) const override {
            v.visit("depth", depth);
            v.visit("children", children);
        }
        void decode(vo::JsonDecodeVisitor& v) override {
            v.visit("depth", depth);
            v.visit("children", children);
        }
    };
    Node root;
    Node* at = &root;
    for (int i = 1; i < 50; ++i) {
        at->children.emplace_back();
        at = &at->children.back();
        at->depth = i;
    }
    Node back;
    std::string error;
    ASSERT_TRUE(vo::fromJson(error, back, vo::toJson(root)));
    const Node* b = &back;
    for (int i = 1; i < 50; ++i) {
        ASSERT_EQ(b->children.size(), 1u);
        b = &b->children[0];
        EXPECT_EQ(b->depth, i);
    }
    EXPECT_TRUE(b->children.empty());
}

// ---------------------------------------------------------------------------------------
// Sound behaviour where the written behaviour is faulty

TEST(JsonSound, OutOfRangeAndNanBecomeTheMostNegativeValue) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::int32_t min32 = std::numeric_limits<std::int32_t>::min();
    const std::int64_t min64 = std::numeric_limits<std::int64_t>::min();

    EXPECT_EQ(vo::truncToInt32(nan), min32);
    EXPECT_EQ(vo::truncToInt32(inf), min32);
    EXPECT_EQ(vo::truncToInt32(-inf), min32);
    EXPECT_EQ(vo::truncToInt32(2147483648.0), min32);
    EXPECT_EQ(vo::truncToInt32(2147483647.9), 2147483647);
    EXPECT_EQ(vo::truncToInt32(-2147483648.9), min32); // truncates to the minimum itself
    EXPECT_EQ(vo::truncToInt32(-2147483649.0), min32);
    EXPECT_EQ(vo::truncToInt32(-2147483647.5), -2147483647);
    EXPECT_EQ(vo::truncToInt32(-0.5), 0);

    EXPECT_EQ(vo::truncToInt64(nan), min64);
    EXPECT_EQ(vo::truncToInt64(inf), min64);
    EXPECT_EQ(vo::truncToInt64(9223372036854775808.0), min64);
    EXPECT_EQ(vo::truncToInt64(9223372036854774784.0), 9223372036854774784LL);
    EXPECT_EQ(vo::truncToInt64(-9223372036854775808.0), min64);
    EXPECT_EQ(vo::truncToInt64(-1e300), min64);
    EXPECT_EQ(vo::truncToInt64(-7.9), -7);

    EXPECT_EQ(vo::truncToUint64(nan), 0u);
    EXPECT_EQ(vo::truncToUint64(inf), 0u);
    EXPECT_EQ(vo::truncToUint64(-1.0), 0u);
    EXPECT_EQ(vo::truncToUint64(-0.9), 0u);
    EXPECT_EQ(vo::truncToUint64(18446744073709551616.0), 0u);
    EXPECT_EQ(vo::truncToUint64(18446744073709549568.0), 18446744073709549568ULL);

    // The same through decoding.
    Everything e;
    std::string error;
    EXPECT_TRUE(vo::fromJson(error, e, R"({"i32":-2147483649.0,"i64":-1e19,"u64":-3.5})"));
    EXPECT_EQ(e.i32, min32);
    EXPECT_EQ(e.i64, min64);
    EXPECT_EQ(e.u64, 0u);
    EXPECT_TRUE(vo::fromJson(error, e, R"({"i32":4294967296.5,"i64":1e300,"u64":1e300})"));
    EXPECT_EQ(e.i32, min32);
    EXPECT_EQ(e.i64, min64);
    EXPECT_EQ(e.u64, 0u);
}

TEST(JsonSound, StaleErrorTextDoesNotFailAValidText) {
    Reply r;
    std::string error = "left over from an earlier call";
    EXPECT_TRUE(vo::fromJson(error, r, R"({"code":201})"));
    EXPECT_EQ(error, "");
    EXPECT_EQ(r.code, 201);

    error = "stale";
    EXPECT_FALSE(vo::fromJson(error, r, "{"));
    EXPECT_EQ(error, "json obj has parse error");
    EXPECT_EQ(r.code, 201);

    // The same variable reused after a failure.
    EXPECT_TRUE(vo::fromJson(error, r, R"({"code":202})"));
    EXPECT_EQ(error, "");
    EXPECT_EQ(r.code, 202);
}

} // namespace
