#include "datagram.h"

#include <cstring>

namespace sim {

std::vector<std::string> Datagram::values(const std::string& key) const {
    std::vector<std::string> out;
    for (const auto& kv : pairs)
        if (kv.first == key)
            out.push_back(kv.second);
    return out;
}

namespace {

std::string trimmed(const char* begin, const char* end) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (begin < end && blank(*begin))
        ++begin;
    while (end > begin && blank(end[-1]))
        --end;
    return std::string(begin, end);
}

void putField(std::string& out, const std::string& text, size_t width) {
    std::string field = text.substr(0, width - 1);
    field.resize(width, '\0');
    out += field;
}

std::string getField(const char* p, size_t width) {
    return std::string(p, strnlen(p, width));
}

} // namespace

KeyValues parsePairs(const char* data, size_t size) {
    KeyValues out;
    const char* end = data + size;
    const char* segment = data;
    while (segment <= end) {
        const char* semi =
            static_cast<const char*>(std::memchr(segment, ';', size_t(end - segment)));
        const bool last = semi == nullptr;
        const char* segEnd = last ? end : semi;
        const char* eq =
            static_cast<const char*>(std::memchr(segment, '=', size_t(segEnd - segment)));
        const std::string key = trimmed(segment, eq ? eq : segEnd);
        const std::string value = eq ? trimmed(eq + 1, segEnd) : std::string();
        const bool empty = key.empty() && !eq;
        // Without a closing ";", a segment counts only when it has a value.
        if (!empty && (!last || !value.empty()))
            out.emplace_back(key, value);
        if (last)
            break;
        segment = semi + 1;
    }
    return out;
}

std::string encode(const Datagram& d) {
    std::string payload;
    for (size_t i = 0; i < d.pairs.size(); ++i) {
        if (i)
            payload += ';';
        payload += d.pairs[i].first + "=" + d.pairs[i].second;
    }
    std::string out;
    out += char(0x76);
    out += char(0x69);
    out += char(d.code);
    out += char(d.fixed3);
    out += char(d.fixed4 >> 8);
    out += char(d.fixed4 & 0xFF);
    out += char((payload.size() >> 8) & 0xFF);
    out += char(payload.size() & 0xFF);
    putField(out, d.targetHwAddr, 20);
    putField(out, d.targetDevId, 16);
    out.append(32, '\0');
    return out + payload;
}

bool decode(const char* data, size_t size, Datagram* out, std::string* error) {
    const auto* b = reinterpret_cast<const unsigned char*>(data);
    if (size < Datagram::headerBytes) {
        *error = "shorter than the header";
        return false;
    }
    if (b[0] != 0x76 || b[1] != 0x69) {
        *error = "wrong magic";
        return false;
    }
    const size_t payloadLen = size_t(b[6]) << 8 | b[7];
    if (payloadLen != size - Datagram::headerBytes) {
        *error = "payload length does not match";
        return false;
    }
    out->code = b[2];
    out->fixed3 = b[3];
    out->fixed4 = uint16_t(b[4] << 8 | b[5]);
    out->targetHwAddr = getField(data + 8, 20);
    out->targetDevId = getField(data + 28, 16);
    out->pairs = parsePairs(data + Datagram::headerBytes, payloadLen);
    return true;
}

} // namespace sim
