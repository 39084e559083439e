// pakx: the compact tagged message encoding carried inside Pelzo payloads.
//
// A message is a run of fields, each one key byte (field number * 4 + wire
// type) followed by a value. Every message type describes its fields once in a
// table of traits; encode and decode are driven by that table alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pakx {

enum WireType : uint8_t {
    kVarint = 0,         // non-negative integer
    kNegativeVarint = 1, // negative integer, magnitude as varint
    kBytes = 2,          // length-prefixed byte string
    kBytesAlt = 3,       // read like kBytes, never written
};

constexpr int kMaxFieldNumber = 63;

// Byte-level helpers, public so that callers and fuzzers can exercise them.
void appendVarint(std::string& out, uint64_t value);
void appendKey(std::string& out, int field, WireType type);
// Reads a varint at data[pos..len); stops at the first byte without the
// continuation bit or at the end of the data. Bits beyond 64 are dropped.
uint64_t readVarint(const uint8_t* data, size_t len, size_t& pos);

class Message;

// One field of a message type: its number, where its value lives and how it
// is written and read.
class ITrait {
public:
    explicit ITrait(int number) : number_(number) {}
    virtual ~ITrait() = default;
    ITrait(const ITrait&) = delete;
    ITrait& operator=(const ITrait&) = delete;

    int number() const { return number_; }
    // Appends the field's key/value pairs (nothing for a default value).
    virtual void write(const Message& msg, std::string& out) const = 0;
    // An integer arrived for this field (wire type 0 or 1, low 32 bits).
    virtual bool readInt(Message& msg, uint32_t magnitude, bool negative) const = 0;
    // A byte string arrived for this field (wire type 2 or 3).
    virtual bool readBytes(Message& msg, std::string_view bytes) const = 0;

private:
    int number_;
};

using FieldTable = std::vector<std::unique_ptr<ITrait>>;

class Message {
public:
    virtual ~Message() = default;

    std::string encode() const;
    // True only when every field could be read; fields absent from the data
    // keep their current values, repeated fields append.
    bool decode(const uint8_t* data, size_t len);
    bool decode(std::string_view bytes) {
        return decode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }

protected:
    virtual const FieldTable& fields() const = 0;
};

// Traits common to every field kind: the member pointer and the downcast.
template <class M, class T> class MemberTrait : public ITrait {
public:
    MemberTrait(int number, T M::*member) : ITrait(number), member_(member) {}

protected:
    const T& value(const Message& msg) const { return static_cast<const M&>(msg).*member_; }
    T& value(Message& msg) const { return static_cast<M&>(msg).*member_; }

private:
    T M::*member_;
};

// Integer that may be negative: written with wire type 1 when below zero.
template <class M, class T> class SignedIntTrait : public MemberTrait<M, T> {
public:
    using MemberTrait<M, T>::MemberTrait;

    void write(const Message& msg, std::string& out) const override {
        const int64_t v = this->value(msg);
        if (v == 0)
            return;
        appendKey(out, this->number(), v < 0 ? kNegativeVarint : kVarint);
        appendVarint(out, v < 0 ? static_cast<uint64_t>(-v) : static_cast<uint64_t>(v));
    }
    bool readInt(Message& msg, uint32_t magnitude, bool negative) const override {
        // Unsigned negation keeps INT32_MIN well defined.
        this->value(msg) = static_cast<T>(negative ? 0u - magnitude : magnitude);
        return true;
    }
    bool readBytes(Message&, std::string_view) const override { return false; }
};

// Integer that is never negative: always written with wire type 0; the
// magnitude is stored whichever integer wire type arrives.
template <class M, class T> class UnsignedIntTrait : public MemberTrait<M, T> {
public:
    using MemberTrait<M, T>::MemberTrait;

    void write(const Message& msg, std::string& out) const override {
        const uint64_t v = this->value(msg);
        if (v == 0)
            return;
        appendKey(out, this->number(), kVarint);
        appendVarint(out, v);
    }
    bool readInt(Message& msg, uint32_t magnitude, bool) const override {
        this->value(msg) = static_cast<T>(magnitude);
        return true;
    }
    bool readBytes(Message&, std::string_view) const override { return false; }
};

template <class M, class T> class Trait;

template <class M> class Trait<M, int32_t> : public SignedIntTrait<M, int32_t> {
public:
    using SignedIntTrait<M, int32_t>::SignedIntTrait;
};

template <class M> class Trait<M, uint16_t> : public UnsignedIntTrait<M, uint16_t> {
public:
    using UnsignedIntTrait<M, uint16_t>::UnsignedIntTrait;
};

template <class M> class Trait<M, uint32_t> : public UnsignedIntTrait<M, uint32_t> {
public:
    using UnsignedIntTrait<M, uint32_t>::UnsignedIntTrait;
};

template <class M> class Trait<M, std::string> : public MemberTrait<M, std::string> {
public:
    using MemberTrait<M, std::string>::MemberTrait;

    void write(const Message& msg, std::string& out) const override {
        const std::string& v = this->value(msg);
        if (v.empty())
            return;
        appendKey(out, this->number(), kBytes);
        appendVarint(out, v.size());
        out += v;
    }
    bool readInt(Message&, uint32_t, bool) const override { return false; }
    bool readBytes(Message& msg, std::string_view bytes) const override {
        this->value(msg).assign(bytes.data(), bytes.size());
        return true;
    }
};

// Repeated byte string: one key/value pair per element, empty ones included.
template <class M>
class Trait<M, std::vector<std::string>> : public MemberTrait<M, std::vector<std::string>> {
public:
    using MemberTrait<M, std::vector<std::string>>::MemberTrait;

    void write(const Message& msg, std::string& out) const override {
        for (const std::string& v : this->value(msg)) {
            appendKey(out, this->number(), kBytes);
            appendVarint(out, v.size());
            out += v;
        }
    }
    bool readInt(Message&, uint32_t, bool) const override { return false; }
    bool readBytes(Message& msg, std::string_view bytes) const override {
        this->value(msg).emplace_back(bytes.data(), bytes.size());
        return true;
    }
};

// Builds a field table numbering the members 1..n in the order given.
template <class M, class... T> FieldTable makeFieldTable(T M::*... members) {
    FieldTable table;
    int number = 0;
    (table.push_back(std::make_unique<Trait<M, T>>(++number, members)), ...);
    return table;
}

// Base for concrete messages: M::describe() is called once, on first use, and
// the table is kept for the life of the process. It is never destroyed: a program
// may end without pelzo_deinit, and the worker thread may still be decoding a
// terminal's message while the exit runs the static destructors.
template <class M> class MessageOf : public Message {
protected:
    const FieldTable& fields() const override {
        static const FieldTable* table = new FieldTable(M::describe());
        return *table;
    }
};

} // namespace pakx
