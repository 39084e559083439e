// vo: the record-to-JSON mapping.
#include "vo/json.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <type_traits>

#include "vo/encode_handler.h"
#include "vo/json_convert.h"

namespace vo {

namespace {

[[noreturn]] void throwInvalid(std::string_view key) {
    throw std::runtime_error(std::string(key) + " is invalid");
}

[[noreturn]] void throwNotString(std::string_view key) {
    throw std::runtime_error(std::string(key) + " is not a string");
}

[[noreturn]] void throwNotArray(std::string_view key) {
    throw std::runtime_error(std::string(key) + " is not an array");
}

[[noreturn]] void throwWrongObject(std::string_view key) {
    throw std::runtime_error("json wrong format object: " + std::string(key));
}

// The leading base-10 integer of a JSON string (strtoll semantics). RapidJSON keeps every
// string NUL-terminated, so strtoll stops at the first NUL at the latest.
std::int64_t leadingInteger(const JsonValue& v) {
    return static_cast<std::int64_t>(std::strtoll(v.GetString(), nullptr, 10));
}

// The low 32 bits of n as a signed value, without an implementation-defined conversion.
std::int32_t low32(std::int64_t n) {
    const std::uint32_t low = static_cast<std::uint32_t>(n);
    if (low <= 0x7fffffffU) {
        return static_cast<std::int32_t>(low);
    }
    return static_cast<std::int32_t>(static_cast<std::int64_t>(low) - 0x100000000LL);
}

// The string's bytes up to the first NUL.
std::string_view textOf(const JsonValue& v) {
    const char* s = v.GetString();
    const void* nul = std::memchr(s, '\0', v.GetStringLength());
    const std::size_t n = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - s)
                              : static_cast<std::size_t>(v.GetStringLength());
    return std::string_view(s, n);
}

// A JSON number in the integer member's own type: taken as is when it fits exactly,
// otherwise truncated by the member type's rule.
template <typename Int> Int integerOfNumber(const JsonValue& v) {
    if constexpr (std::is_same_v<Int, std::int32_t>) {
        return v.IsInt() ? v.GetInt() : truncToInt32(v.GetDouble());
    } else if constexpr (std::is_same_v<Int, std::int64_t>) {
        return v.IsInt64() ? v.GetInt64() : truncToInt64(v.GetDouble());
    } else {
        static_assert(std::is_same_v<Int, std::uint64_t>, "integer members are 32 or 64 bits");
        return v.IsUint64() ? v.GetUint64() : truncToUint64(v.GetDouble());
    }
}

// A non-empty JSON string's leading integer, wrapped into the member's type.
template <typename Int> Int integerOfText(const JsonValue& v) {
    const std::int64_t n = leadingInteger(v);
    if constexpr (std::is_same_v<Int, std::int32_t>) {
        return low32(n);
    } else {
        return static_cast<Int>(n);
    }
}

// Every conversion has this signature; only the integer kinds set emptyNumber, when the
// member held an empty string (the member then keeps its value).
template <typename Int>
void convert(std::string_view key, const JsonValue& v, Int& out, bool& emptyNumber) {
    switch (v.GetType()) {
    case rapidjson::kNumberType:
        out = integerOfNumber<Int>(v);
        return;
    case rapidjson::kTrueType:
        out = 1;
        return;
    case rapidjson::kFalseType:
        out = 0;
        return;
    case rapidjson::kStringType:
        if (v.GetStringLength() == 0) {
            emptyNumber = true;
            return;
        }
        out = integerOfText<Int>(v);
        return;
    default:
        throwInvalid(key);
    }
}

void convert(std::string_view key, const JsonValue& v, bool& out, bool& /*emptyNumber*/) {
    switch (v.GetType()) {
    case rapidjson::kNumberType:
        if (!v.IsInt64()) {
            throwInvalid(key);
        }
        out = v.GetInt64() != 0;
        return;
    case rapidjson::kTrueType:
        out = true;
        return;
    case rapidjson::kFalseType:
        out = false;
        return;
    case rapidjson::kStringType: {
        const std::string_view s = textOf(v);
        out = s == "true" || s == "True" || s == "TRUE";
        return;
    }
    default:
        throwInvalid(key);
    }
}

void convert(std::string_view key, const JsonValue& v, std::string& out, bool& /*emptyNumber*/) {
    if (!v.IsString()) {
        throwNotString(key);
    }
    out.assign(textOf(v));
}

// Passes a reader's events on to the document under construction and stops the parse
// when a container would open deeper than kJsonMaxDepth.
class DepthBoundHandler {
public:
    explicit DepthBoundHandler(JsonDocument& document) : document_(document) {}

    bool tooDeep() const { return tooDeep_; }

    bool Null() { return document_.Null(); }
    bool Bool(bool b) { return document_.Bool(b); }
    bool Int(int i) { return document_.Int(i); }
    bool Uint(unsigned u) { return document_.Uint(u); }
    bool Int64(std::int64_t i) { return document_.Int64(i); }
    bool Uint64(std::uint64_t u) { return document_.Uint64(u); }
    bool Double(double d) { return document_.Double(d); }
    bool RawNumber(const char* s, rapidjson::SizeType n, bool copy) {
        return document_.RawNumber(s, n, copy);
    }
    bool String(const char* s, rapidjson::SizeType n, bool copy) {
        return document_.String(s, n, copy);
    }
    bool Key(const char* s, rapidjson::SizeType n, bool copy) { return document_.Key(s, n, copy); }
    bool StartObject() { return enter() && document_.StartObject(); }
    bool EndObject(rapidjson::SizeType members) {
        --depth_;
        return document_.EndObject(members);
    }
    bool StartArray() { return enter() && document_.StartArray(); }
    bool EndArray(rapidjson::SizeType elements) {
        --depth_;
        return document_.EndArray(elements);
    }

private:
    bool enter() {
        if (depth_ >= kJsonMaxDepth) {
            tooDeep_ = true;
            return false;
        }
        ++depth_;
        return true;
    }

    JsonDocument& document_;
    int depth_ = 0;
    bool tooDeep_ = false;
};

const std::string& tooDeepText() {
    static const std::string text =
        "json obj nested deeper than " + std::to_string(kJsonMaxDepth) + " levels";
    return text;
}

} // namespace

// ---------------------------------------------------------------------------------------
// JsonEncodeVisitor

JsonEncodeVisitor::JsonEncodeVisitor(bool pretty)
    : allocator_(kJsonChunkSize), document_(&allocator_) {
    document_.SetObject();
    stack_.reserve(8);
    stack_.push_back(&document_);
    if (pretty) {
        handler_ = std::make_unique<EncodeHandler<PrettyWriter>>();
    } else {
        handler_ = std::make_unique<EncodeHandler<Writer>>();
    }
}

JsonEncodeVisitor::~JsonEncodeVisitor() = default;

std::string JsonEncodeVisitor::text() {
    document_.Accept(*handler_);
    return handler_->text();
}

// ---------------------------------------------------------------------------------------
// JsonDecodeVisitor

JsonDecodeVisitor::JsonDecodeVisitor(std::string_view text)
    : text_(text), allocator_(kJsonChunkSize), document_(&allocator_) {
    // The copy is parsed in place: string values point into it instead of being copied.
    // The iterative parser keeps its own stack on the heap, so the call stack stays flat
    // however deep the text nests; the handler ends the parse past the depth bound.
    auto parse = [this](JsonDocument& document) {
        DepthBoundHandler handler(document);
        rapidjson::InsituStringStream stream(text_.data());
        rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, rapidjson::CrtAllocator>
            reader;
        constexpr unsigned flags = rapidjson::kParseDefaultFlags | rapidjson::kParseInsituFlag |
                                   rapidjson::kParseIterativeFlag;
        parseResult_ = reader.Parse<flags>(stream, handler);
        tooDeep_ = handler.tooDeep();
        return !parseResult_.IsError();
    };
    document_.Populate(parse);
    stack_.reserve(8);
}

JsonDecodeVisitor::~JsonDecodeVisitor() = default;

const JsonValue* JsonDecodeVisitor::find(std::string_view key) const {
    const JsonValue* top = stack_.back();
    if (!top->IsObject()) {
        return nullptr;
    }
    const JsonValue name(rapidjson::StringRef(key.data() ? key.data() : "",
                                              static_cast<rapidjson::SizeType>(key.size())));
    const auto it = top->FindMember(name);
    if (it == top->MemberEnd() || it->value.IsNull()) {
        return nullptr;
    }
    return &it->value;
}

const JsonValue* JsonDecodeVisitor::findObject(std::string_view key) const {
    key = stripKeyPrefix(key);
    const JsonValue* v = find(key);
    if (v != nullptr && !v->IsObject()) {
        throwWrongObject(key);
    }
    return v;
}

const JsonValue* JsonDecodeVisitor::findArray(std::string_view key) const {
    key = stripKeyPrefix(key);
    const JsonValue* v = find(key);
    if (v != nullptr && !v->IsArray()) {
        throwNotArray(key);
    }
    return v;
}

template <typename T> void JsonDecodeVisitor::decodeMember(std::string_view key, T& value) {
    key = stripKeyPrefix(key);
    if (const JsonValue* v = find(key)) {
        convert(key, *v, value, emptyNumber_);
    }
}

template <typename T>
void JsonDecodeVisitor::decodeOptional(std::string_view key, std::shared_ptr<T>& value) {
    key = stripKeyPrefix(key);
    const JsonValue* v = find(key);
    if (v == nullptr) {
        return;
    }
    if (!value) {
        value = std::make_shared<T>();
    }
    emptyNumber_ = false;
    convert(key, *v, *value, emptyNumber_);
    if (emptyNumber_) {
        value.reset();
    }
}

void JsonDecodeVisitor::visit(std::string_view key, std::int32_t& value) {
    decodeMember(key, value);
}

void JsonDecodeVisitor::visit(std::string_view key, std::int64_t& value) {
    decodeMember(key, value);
}

void JsonDecodeVisitor::visit(std::string_view key, std::uint64_t& value) {
    decodeMember(key, value);
}

void JsonDecodeVisitor::visit(std::string_view key, bool& value) {
    decodeMember(key, value);
}

void JsonDecodeVisitor::visit(std::string_view key, std::string& value) {
    decodeMember(key, value);
}

void JsonDecodeVisitor::visit(std::string_view key, std::shared_ptr<int>& value) {
    decodeOptional(key, value);
}

void JsonDecodeVisitor::visit(std::string_view key, std::shared_ptr<std::string>& value) {
    decodeOptional(key, value);
}

void JsonDecodeVisitor::visit(std::string_view key, std::shared_ptr<bool>& value) {
    decodeOptional(key, value);
}

// ---------------------------------------------------------------------------------------
// Entry points

std::string toJson(const IEncodeElement<JsonEncodeVisitor>& record, bool pretty) {
    try {
        JsonEncodeVisitor visitor(pretty);
        record.encode(visitor);
        return visitor.text();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return std::string();
    }
}

bool fromJson(std::string& error, IDecodeElement<JsonDecodeVisitor>& record,
              std::string_view text) {
    // Decided on this input alone: an error text left by an earlier call does not count.
    error.clear();
    JsonDecodeVisitor visitor(text);
    if (visitor.hasParseError()) {
        error = visitor.nestedTooDeep() ? tooDeepText() : std::string("json obj has parse error");
        return false;
    }
    try {
        visitor.pushRoot();
        record.decode(visitor);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        error = e.what();
        return false;
    }
    return true;
}

} // namespace vo
