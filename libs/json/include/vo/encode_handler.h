// The output sinks of the JSON mapping: a finished document is printed through
// IEncodeHandler, which EncodeHandler<W> implements by forwarding every call to a RapidJSON
// writer W over a UTF-8 string buffer. The choice between compact and pretty output is made
// at run time by choosing which EncodeHandler to create.
#pragma once

#include <cstdint>
#include <string>

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace vo {

// A RapidJSON handler with virtual operations, in this slot order.
class IEncodeHandler {
public:
    using Ch = char;

    virtual ~IEncodeHandler() = default;
    virtual bool Null() = 0;
    virtual bool Bool(bool b) = 0;
    virtual bool Int(int i) = 0;
    virtual bool Uint(unsigned u) = 0;
    virtual bool Int64(std::int64_t i) = 0;
    virtual bool Uint64(std::uint64_t u) = 0;
    virtual bool Double(double d) = 0;
    virtual bool RawNumber(const Ch* str, rapidjson::SizeType length, bool copy) = 0;
    virtual bool String(const Ch* str, rapidjson::SizeType length, bool copy) = 0;
    virtual bool StartObject() = 0;
    virtual bool Key(const Ch* str, rapidjson::SizeType length, bool copy) = 0;
    virtual bool EndObject(rapidjson::SizeType memberCount) = 0;
    virtual bool StartArray() = 0;
    virtual bool EndArray(rapidjson::SizeType elementCount) = 0;

    // The text written so far.
    virtual std::string text() const = 0;
};

// Forwards to a writer of type W (a rapidjson::Writer or PrettyWriter over StringBuffer).
template <typename W> class EncodeHandler final : public IEncodeHandler {
public:
    EncodeHandler() : writer_(buffer_) {}

    bool Null() override { return writer_.Null(); }
    bool Bool(bool b) override { return writer_.Bool(b); }
    bool Int(int i) override { return writer_.Int(i); }
    bool Uint(unsigned u) override { return writer_.Uint(u); }
    bool Int64(std::int64_t i) override { return writer_.Int64(i); }
    bool Uint64(std::uint64_t u) override { return writer_.Uint64(u); }
    bool Double(double d) override { return writer_.Double(d); }
    bool RawNumber(const Ch* str, rapidjson::SizeType length, bool copy) override {
        return writer_.RawNumber(str, length, copy);
    }
    bool String(const Ch* str, rapidjson::SizeType length, bool copy) override {
        return writer_.String(str, length, copy);
    }
    bool StartObject() override { return writer_.StartObject(); }
    bool Key(const Ch* str, rapidjson::SizeType length, bool copy) override {
        return writer_.Key(str, length, copy);
    }
    bool EndObject(rapidjson::SizeType memberCount) override {
        return writer_.EndObject(memberCount);
    }
    bool StartArray() override { return writer_.StartArray(); }
    bool EndArray(rapidjson::SizeType elementCount) override {
        return writer_.EndArray(elementCount);
    }

    std::string text() const override {
        return std::string(buffer_.GetString(), buffer_.GetSize());
    }

    W& writer() { return writer_; }

private:
    rapidjson::StringBuffer buffer_;
    W writer_;
};

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;
// Indent of 4 spaces and the default pretty format are PrettyWriter's defaults.
using PrettyWriter = rapidjson::PrettyWriter<rapidjson::StringBuffer>;

} // namespace vo
