// vo: the record-to-JSON mapping.
//
// A record is a plain struct deriving from vo::JsonClient (directly or through another
// record) that lists its fields once per direction, each with its JSON key:
//
//     struct ReplyBase : vo::JsonClient {
//         int code = 200;
//         std::string message;
//
//         void encode(vo::JsonEncodeVisitor& v) const override {
//             v.visit("code", code);
//             v.visit("message", message);
//         }
//         void decode(vo::JsonDecodeVisitor& v) override {
//             v.visit("code", code);
//             v.visit("message", message);
//         }
//     };
//
// A derived record first calls its base's encode/decode. Field kinds: int32_t, int64_t,
// uint64_t, bool, std::string, a nested record, std::vector of a record type, and the
// optional std::shared_ptr<int>, std::shared_ptr<std::string>, std::shared_ptr<bool>
// (null when absent). Keys are referenced, not copied, while a document is built: pass
// string literals (or text that outlives the toJson call). A key starting with "__x__"
// loses those five characters in both directions.
//
// toJson(record, pretty) returns the JSON text (compact, or pretty with a 4-space indent).
// fromJson(error, record, text) fills the record and returns true, or returns false with
// the error text set ("json obj has parse error", "json obj nested deeper than 512
// levels" or a conversion message). Parsing is iterative, so no input can exhaust the
// stack.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <rapidjson/allocators.h>
#include <rapidjson/document.h>

namespace vo {

template <typename Visitor> class IEncodeElement {
public:
    virtual ~IEncodeElement() = default;
    virtual void encode(Visitor& visitor) const = 0;

protected:
    IEncodeElement() = default;
    IEncodeElement(const IEncodeElement&) = default;
    IEncodeElement(IEncodeElement&&) = default;
    IEncodeElement& operator=(const IEncodeElement&) = default;
    IEncodeElement& operator=(IEncodeElement&&) = default;
};

template <typename Visitor> class IDecodeElement {
public:
    virtual ~IDecodeElement() = default;
    virtual void decode(Visitor& visitor) = 0;

protected:
    IDecodeElement() = default;
    IDecodeElement(const IDecodeElement&) = default;
    IDecodeElement(IDecodeElement&&) = default;
    IDecodeElement& operator=(const IDecodeElement&) = default;
    IDecodeElement& operator=(IDecodeElement&&) = default;
};

class JsonEncodeVisitor;
class JsonDecodeVisitor;
class IEncodeHandler;

// Base of every record; holds no data.
class JsonClient : public IEncodeElement<JsonEncodeVisitor>,
                   public IDecodeElement<JsonDecodeVisitor> {};

// Documents use a pooled allocator with 64 KiB chunks.
inline constexpr std::size_t kJsonChunkSize = 64 * 1024;
// Deepest nesting of objects and arrays (the root counts as one) that fromJson takes;
// the records are a few levels deep, and a deeper text is refused before it is built.
inline constexpr int kJsonMaxDepth = 512;
using JsonAllocator = rapidjson::MemoryPoolAllocator<rapidjson::CrtAllocator>;
using JsonDocument =
    rapidjson::GenericDocument<rapidjson::UTF8<>, JsonAllocator, rapidjson::CrtAllocator>;
using JsonValue = JsonDocument::ValueType;

// Drops the prefix "__x__" from a key.
inline std::string_view stripKeyPrefix(std::string_view key) {
    if (key.size() >= 5 && key.compare(0, 5, "__x__") == 0) {
        key.remove_prefix(5);
    }
    return key;
}

template <typename R>
inline constexpr bool isEncodeRecord = std::is_base_of_v<IEncodeElement<JsonEncodeVisitor>, R>;
template <typename R>
inline constexpr bool isDecodeRecord = std::is_base_of_v<IDecodeElement<JsonDecodeVisitor>, R>;

// Builds a document from a record. Used by toJson; records call only visit().
class JsonEncodeVisitor {
public:
    explicit JsonEncodeVisitor(bool pretty);
    ~JsonEncodeVisitor();
    JsonEncodeVisitor(const JsonEncodeVisitor&) = delete;
    JsonEncodeVisitor& operator=(const JsonEncodeVisitor&) = delete;

    void visit(std::string_view key, std::int32_t value) {
        add(key, JsonValue(static_cast<int>(value)));
    }
    void visit(std::string_view key, std::int64_t value) { add(key, JsonValue(value)); }
    void visit(std::string_view key, std::uint64_t value) { add(key, JsonValue(value)); }
    void visit(std::string_view key, bool value) { add(key, JsonValue(value)); }
    // The member's bytes up to the first NUL, referenced.
    void visit(std::string_view key, const std::string& value) {
        add(key, JsonValue(rapidjson::StringRef(value.c_str())));
    }
    void visit(std::string_view key, const std::shared_ptr<int>& value) {
        if (value) {
            visit(key, static_cast<std::int32_t>(*value));
        }
    }
    void visit(std::string_view key, const std::shared_ptr<std::string>& value) {
        if (value) {
            visit(key, *value);
        }
    }
    void visit(std::string_view key, const std::shared_ptr<bool>& value) {
        if (value) {
            visit(key, *value);
        }
    }
    // A text member must be a std::string; this keeps a literal from becoming a flag.
    void visit(std::string_view key, const char* value) = delete;

    template <typename R, std::enable_if_t<isEncodeRecord<R>, int> = 0>
    void visit(std::string_view key, const R& record) {
        JsonValue object(rapidjson::kObjectType);
        stack_.push_back(&object);
        record.encode(*this);
        stack_.pop_back();
        add(key, object);
    }

    template <typename R, std::enable_if_t<isEncodeRecord<R>, int> = 0>
    void visit(std::string_view key, const std::vector<R>& list) {
        JsonValue array(rapidjson::kArrayType);
        array.Reserve(static_cast<rapidjson::SizeType>(list.size()), allocator_);
        for (const R& item : list) {
            JsonValue object(rapidjson::kObjectType);
            stack_.push_back(&object);
            item.encode(*this);
            stack_.pop_back();
            array.PushBack(object, allocator_);
        }
        add(key, array);
    }

    // Prints the root object through the chosen handler.
    std::string text();
    const JsonValue& root() const { return document_; }

private:
    void add(std::string_view key, JsonValue&& value) { add(key, value); }
    void add(std::string_view key, JsonValue& value) {
        key = stripKeyPrefix(key);
        JsonValue name(
            rapidjson::StringRef(key.data(), static_cast<rapidjson::SizeType>(key.size())));
        stack_.back()->AddMember(name, value, allocator_);
    }

    JsonAllocator allocator_;
    JsonDocument document_;
    std::vector<JsonValue*> stack_;
    std::unique_ptr<IEncodeHandler> handler_;
};

// Fills a record from a parsed document. Used by fromJson; records call only visit().
class JsonDecodeVisitor {
public:
    // Copies the text and parses the copy (RapidJSON's default grammar, parsed
    // iteratively, at most kJsonMaxDepth levels deep).
    explicit JsonDecodeVisitor(std::string_view text);
    ~JsonDecodeVisitor();
    JsonDecodeVisitor(const JsonDecodeVisitor&) = delete;
    JsonDecodeVisitor& operator=(const JsonDecodeVisitor&) = delete;

    bool hasParseError() const { return parseResult_.IsError(); }
    // The parse stopped because the text nests deeper than kJsonMaxDepth.
    bool nestedTooDeep() const { return tooDeep_; }
    rapidjson::ParseErrorCode parseError() const { return parseResult_.Code(); }
    std::size_t parseErrorOffset() const { return parseResult_.Offset(); }
    // Set when an integer-kind member held an empty string.
    bool emptyNumber() const { return emptyNumber_; }

    void visit(std::string_view key, std::int32_t& value);
    void visit(std::string_view key, std::int64_t& value);
    void visit(std::string_view key, std::uint64_t& value);
    void visit(std::string_view key, bool& value);
    void visit(std::string_view key, std::string& value);
    void visit(std::string_view key, std::shared_ptr<int>& value);
    void visit(std::string_view key, std::shared_ptr<std::string>& value);
    void visit(std::string_view key, std::shared_ptr<bool>& value);

    template <typename R, std::enable_if_t<isDecodeRecord<R>, int> = 0>
    void visit(std::string_view key, R& record) {
        if (const JsonValue* object = findObject(key)) {
            stack_.push_back(object);
            record.decode(*this);
            stack_.pop_back();
        }
    }

    template <typename R, std::enable_if_t<isDecodeRecord<R>, int> = 0>
    void visit(std::string_view key, std::vector<R>& list) {
        const JsonValue* array = findArray(key);
        if (array == nullptr) {
            return;
        }
        list.reserve(list.size() + array->Size());
        for (const JsonValue& element : array->GetArray()) {
            R& item = list.emplace_back();
            if (element.IsObject()) {
                stack_.push_back(&element);
                item.decode(*this);
                stack_.pop_back();
            }
        }
    }

    // Starts decoding at the document's root.
    void pushRoot() { stack_.push_back(&document_); }

private:
    // The scalar member named key, when present, converted into value.
    template <typename T> void decodeMember(std::string_view key, T& value);
    // The optional member named key: left null when absent, made when present, and null
    // again when an integer member held an empty string.
    template <typename T> void decodeOptional(std::string_view key, std::shared_ptr<T>& value);
    // The member's value, or null when the top is not an object, the key (after the prefix
    // rule) is absent or the value is JSON null.
    const JsonValue* find(std::string_view key) const;
    // Like find, and throws "json wrong format object: <key>" unless an object.
    const JsonValue* findObject(std::string_view key) const;
    // Like find, and throws "<key> is not an array" unless an array.
    const JsonValue* findArray(std::string_view key) const;

    std::string text_;
    JsonAllocator allocator_;
    JsonDocument document_;
    rapidjson::ParseResult parseResult_;
    bool tooDeep_ = false;
    std::vector<const JsonValue*> stack_;
    bool emptyNumber_ = false;
};

// The JSON text of a record: compact, or pretty (4-space indent) when pretty is true.
// A std::exception escaping the record's encode is written to stderr and gives "".
std::string toJson(const IEncodeElement<JsonEncodeVisitor>& record, bool pretty = false);

// Decodes text into record. The error text is cleared on entry; on failure it holds
// "json obj has parse error" or the conversion message and the result is false.
bool fromJson(std::string& error, IDecodeElement<JsonDecodeVisitor>& record, std::string_view text);

} // namespace vo
