#include "pelzo_wire.h"

#include "sim_md5.h"

namespace simpelzo {

namespace {

void putVarint(std::string& out, uint64_t v) {
    do {
        uint8_t b = v & 0x7F;
        v >>= 7;
        if (v)
            b |= 0x80;
        out.push_back(static_cast<char>(b));
    } while (v);
}

bool getVarint(std::string_view data, size_t& pos, uint64_t& v) {
    v = 0;
    for (unsigned shift = 0; pos < data.size(); shift += 7) {
        const auto b = static_cast<uint8_t>(data[pos++]);
        if (shift < 64)
            v |= uint64_t(b & 0x7F) << shift;
        if (!(b & 0x80))
            return true;
    }
    return true; // a varint cut by the end of the data ends there
}

} // namespace

std::string frame(uint8_t byte0, std::string_view payload) {
    std::string out;
    out.push_back(static_cast<char>(byte0));
    out.push_back(static_cast<char>((payload.size() >> 8) & 0x7F));
    out.push_back(static_cast<char>(payload.size() & 0xFF));
    out.append(payload.data(), payload.size());
    return out;
}

bool unframe(const uint8_t* data, size_t len, Packet& out) {
    if (len < 3)
        return false;
    const size_t declared = ((data[1] & 0x7F) << 8) | data[2];
    if (declared + 3 != len)
        return false;
    out.byte0 = data[0];
    out.payload.assign(reinterpret_cast<const char*>(data) + 3, declared);
    return true;
}

void putInt(std::string& out, int number, int64_t value) {
    if (value == 0)
        return;
    out.push_back(static_cast<char>(number * 4 + (value < 0 ? 1 : 0)));
    putVarint(out, value < 0 ? uint64_t(-value) : uint64_t(value));
}

void putBytes(std::string& out, int number, std::string_view bytes) {
    out.push_back(static_cast<char>(number * 4 + 2));
    putVarint(out, bytes.size());
    out.append(bytes.data(), bytes.size());
}

bool splitFields(std::string_view data, std::vector<Field>& out) {
    size_t pos = 0;
    while (pos < data.size()) {
        const auto key = static_cast<uint8_t>(data[pos++]);
        Field f;
        f.number = key >> 2;
        const int wire = key & 3;
        uint64_t v = 0;
        getVarint(data, pos, v);
        if (wire >= 2) {
            if (v > data.size() - pos)
                return false;
            f.isBytes = true;
            f.bytes.assign(data.substr(pos, v));
            pos += v;
        } else {
            const auto low = static_cast<uint32_t>(v);
            f.value = wire == 1 ? -int64_t(low) : int64_t(low);
        }
        out.push_back(std::move(f));
    }
    return true;
}

std::string encodeChallenge(uint32_t seed, uint16_t serial, std::string_view deviceId) {
    std::string out;
    putInt(out, 1, seed);
    putInt(out, 2, serial);
    if (!deviceId.empty())
        putBytes(out, 3, deviceId);
    return out;
}

bool decodeLoginRequest(std::string_view payload, std::string& token) {
    std::vector<Field> fields;
    if (!splitFields(payload, fields))
        return false;
    for (const Field& f : fields) {
        if (f.number != 1)
            continue;
        if (!f.isBytes)
            return false;
        token = f.bytes;
    }
    return true;
}

std::string encodeLoginResponse(int32_t code, std::string_view message) {
    std::string out;
    putInt(out, 1, code);
    if (!message.empty())
        putBytes(out, 2, message);
    return out;
}

bool decodeAudio(std::string_view payload, AudioPayload& out) {
    if (payload.size() < 3 || static_cast<uint8_t>(payload[1]) != 0x40 || payload[2] != 0)
        return false;
    const auto b3 = static_cast<uint8_t>(payload[0]);
    out.priority = b3 >> 4;
    out.rateCode = b3 & 0x0F;
    std::vector<Field> fields;
    if (!splitFields(payload.substr(3), fields))
        return false;
    for (const Field& f : fields) {
        if (f.number == 1 && f.isBytes)
            out.frames.push_back(f.bytes);
        else if (f.number == 2 && !f.isBytes)
            out.jitter1 = static_cast<int32_t>(f.value);
        else if (f.number == 3 && !f.isBytes)
            out.jitter2 = static_cast<int32_t>(f.value);
        else if (f.number >= 1 && f.number <= 3)
            return false;
    }
    return true;
}

std::string expectedToken(uint32_t seed, uint16_t serial, std::string_view password,
                          std::string_view deviceId) {
    std::string text = std::to_string(seed) + "|" + std::to_string(serial) + "|" + md5Hex(password);
    if (!deviceId.empty())
        text += "|" + std::string(deviceId);
    return md5Hex(text);
}

} // namespace simpelzo
