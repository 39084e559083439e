// Records shared by the JSON mapping tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vo/json.h"

namespace testrec {

struct Inner : vo::JsonClient {
    std::int32_t a = 7;

    void encode(vo::JsonEncodeVisitor& v) const override { v.visit("a", a); }
    void decode(vo::JsonDecodeVisitor& v) override { v.visit("a", a); }
};

// The reply envelope, as the tests need it.
struct Reply : vo::JsonClient {
    std::int32_t code = 200;
    std::string message;

    void encode(vo::JsonEncodeVisitor& v) const override {
        v.visit("code", code);
        v.visit("message", message);
    }
    void decode(vo::JsonDecodeVisitor& v) override {
        v.visit("code", code);
        v.visit("message", message);
    }
};

// A derived record: base fields first, then its own.
struct Item : vo::JsonClient {
    std::string name;
    std::int64_t size = 0;
    bool enable = false;

    void encode(vo::JsonEncodeVisitor& v) const override {
        v.visit("name", name);
        v.visit("size", size);
        v.visit("enable", enable);
    }
    void decode(vo::JsonDecodeVisitor& v) override {
        v.visit("name", name);
        v.visit("size", size);
        v.visit("enable", enable);
    }
};

struct ListReply : Reply {
    Inner value;
    std::vector<Item> items;

    void encode(vo::JsonEncodeVisitor& v) const override {
        Reply::encode(v);
        v.visit("value", value);
        v.visit("items", items);
    }
    void decode(vo::JsonDecodeVisitor& v) override {
        Reply::decode(v);
        v.visit("value", value);
        v.visit("items", items);
    }
};

struct Everything : vo::JsonClient {
    std::int32_t i32 = 0;
    std::int64_t i64 = 0;
    std::uint64_t u64 = 0;
    bool flag = false;
    std::string text;
    Inner inner;
    std::vector<Inner> list;
    std::shared_ptr<int> optInt;
    std::shared_ptr<std::string> optText;
    std::shared_ptr<bool> optFlag;

    void encode(vo::JsonEncodeVisitor& v) const override {
        v.visit("i32", i32);
        v.visit("i64", i64);
        v.visit("u64", u64);
        v.visit("flag", flag);
        v.visit("text", text);
        v.visit("inner", inner);
        v.visit("list", list);
        v.visit("opt_int", optInt);
        v.visit("opt_text", optText);
        v.visit("opt_flag", optFlag);
    }
    void decode(vo::JsonDecodeVisitor& v) override {
        v.visit("i32", i32);
        v.visit("i64", i64);
        v.visit("u64", u64);
        v.visit("flag", flag);
        v.visit("text", text);
        v.visit("inner", inner);
        v.visit("list", list);
        v.visit("opt_int", optInt);
        v.visit("opt_text", optText);
        v.visit("opt_flag", optFlag);
    }
};

} // namespace testrec
