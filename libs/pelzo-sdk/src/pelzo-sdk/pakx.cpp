#include "pelzo-sdk/pakx.h"

namespace pakx {

void appendVarint(std::string& out, uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<char>((value & 0x7F) | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
}

void appendKey(std::string& out, int field, WireType type) {
    out.push_back(static_cast<char>((field << 2) | type));
}

uint64_t readVarint(const uint8_t* data, size_t len, size_t& pos) {
    uint64_t value = 0;
    unsigned shift = 0;
    while (pos < len) {
        const uint8_t b = data[pos++];
        if (shift < 64)
            value |= static_cast<uint64_t>(b & 0x7F) << shift;
        shift += 7;
        if (!(b & 0x80))
            break;
    }
    return value;
}

std::string Message::encode() const {
    std::string out;
    for (const auto& field : fields())
        field->write(*this, out);
    return out;
}

bool Message::decode(const uint8_t* data, size_t len) {
    const FieldTable& table = fields();
    size_t pos = 0;
    while (pos < len) {
        const uint8_t key = data[pos++];
        const size_t number = key >> 2;
        const auto type = static_cast<WireType>(key & 3);
        ITrait* field = (number >= 1 && number <= table.size()) ? table[number - 1].get() : nullptr;

        if (type == kBytes || type == kBytesAlt) {
            const uint64_t size = readVarint(data, len, pos);
            if (size > UINT32_MAX || size > len - pos)
                return false;
            const std::string_view bytes(reinterpret_cast<const char*>(data + pos), size);
            pos += size;
            if (field && !field->readBytes(*this, bytes))
                return false;
        } else {
            const auto magnitude = static_cast<uint32_t>(readVarint(data, len, pos));
            if (field && !field->readInt(*this, magnitude, type == kNegativeVarint))
                return false;
        }
    }
    return true;
}

} // namespace pakx
