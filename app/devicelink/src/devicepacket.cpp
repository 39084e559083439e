#include "devicelink/devicepacket.h"

#include <QDebug>

#include <cstring>

namespace DeviceCode {
bool isKnownReply(uint8_t code) {
    switch (code) {
    case Scan + 1:
    case NetworkConfig + 1:
    case AppConfig + 1:
    case PlaySound + 1:
    case Reboot + 1:
    case VolumeConfig + 1:
    case BootSoundConfig + 1:
    case DevNameConfig + 1:
    case WifiConfig + 1:
    case DbUpperBoundConfig + 1:
    case RebootScheduleConfig + 1:
    case CheckFilesystem + 1:
        return true;
    default:
        return false;
    }
}
} // namespace DeviceCode

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Copies text into a fixed NUL-terminated field; cuts at a character boundary.
bool copyField(char* field, size_t size, const QString& text, const char* what) {
    std::memset(field, 0, size);
    const QByteArray bytes = text.toUtf8();
    size_t n = size_t(bytes.size());
    const bool fits = n <= size - 1;
    if (!fits) {
        n = size - 1;
        while (n > 0 && (static_cast<unsigned char>(bytes[int(n)]) & 0xC0) == 0x80)
            --n;
        qWarning().noquote() << "target" << what << "longer than" << (size - 1)
                             << "bytes, cut:" << text;
    }
    std::memcpy(field, bytes.constData(), n);
    return fits;
}

} // namespace

std::vector<DevicePair> parseDevicePayload(const char* data, size_t size) {
    enum class State { Idle, Key, AfterEquals, Value };
    std::vector<DevicePair> out;
    State state = State::Idle;
    size_t keyBegin = 0, keyEnd = 0;     // [keyBegin, keyEnd)
    size_t valueBegin = 0, valueEnd = 0; // [valueBegin, valueEnd)

    auto key = [&] { return QByteArray(data + keyBegin, int(keyEnd - keyBegin)); };
    for (size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (isBlank(c))
            continue;
        if (c == ';') {
            if (state == State::Value)
                out.emplace_back(key(), QByteArray(data + valueBegin, int(valueEnd - valueBegin)));
            else if (state == State::Key || state == State::AfterEquals)
                out.emplace_back(key(), QByteArray(""));
            // A ";" in Idle is an empty segment: nothing to report.
            state = State::Idle;
            continue;
        }
        switch (state) {
        case State::Idle:
            keyBegin = i;
            keyEnd = i;
            if (c == '=') {
                // A segment without a key: its value is kept under the empty key.
                state = State::AfterEquals;
            } else {
                keyEnd = i + 1;
                state = State::Key;
            }
            break;
        case State::Key:
            if (c == '=')
                state = State::AfterEquals;
            else
                keyEnd = i + 1;
            break;
        case State::AfterEquals:
            valueBegin = i;
            valueEnd = i + 1;
            state = State::Value;
            break;
        case State::Value:
            // "=" here is part of the value (a password "a=b").
            valueEnd = i + 1;
            break;
        }
    }
    if (state == State::Value)
        out.emplace_back(key(), QByteArray(data + valueBegin, int(valueEnd - valueBegin)));
    return out;
}

DevicePacket::DevicePacket() : magic{0x76, 0x69} {
    std::memset(targetHwAddr, 0, sizeof targetHwAddr);
    std::memset(targetDevId, 0, sizeof targetDevId);
    std::memset(spare, 0, sizeof spare);
}

DevicePacket DevicePacket::request(uint8_t code) {
    DevicePacket p;
    p.code = code;
    p.fixed3 = 0x01;
    p.fixed4 = 1;
    return p;
}

bool DevicePacket::setTargetHwAddr(const QString& hwAddr) {
    const bool ok = copyField(targetHwAddr, sizeof targetHwAddr, hwAddr, "HW_ADDR");
    targetCut_ = targetCut_ || !ok;
    return ok;
}

bool DevicePacket::setTargetDevId(const QString& devId) {
    const bool ok = copyField(targetDevId, sizeof targetDevId, devId, "DEV_ID");
    targetCut_ = targetCut_ || !ok;
    return ok;
}

void DevicePacket::insert(const QByteArray& key, const QByteArray& value) {
    pairs.emplace(key, value);
}

QByteArray DevicePacket::value(const QByteArray& key) const {
    auto range = pairs.equal_range(key);
    if (range.first == range.second)
        return {};
    return std::prev(range.second)->second;
}

QByteArray DevicePacket::marshal() const {
    QByteArray out;
    out.reserve(headerSize + 64);
    out.append(char(magic[0]));
    out.append(char(magic[1]));
    out.append(char(code));
    out.append(char(fixed3));
    out.append(char(fixed4 >> 8));
    out.append(char(fixed4 & 0xFF));
    out.append(char(payloadLen >> 8));
    out.append(char(payloadLen & 0xFF));
    out.append(targetHwAddr, sizeof targetHwAddr);
    out.append(targetDevId, sizeof targetDevId);
    out.append(reinterpret_cast<const char*>(spare), sizeof spare);
    bool first = true;
    for (const auto& pair : pairs) {
        if (!first)
            out.append(';');
        first = false;
        out.append(pair.first);
        out.append('=');
        out.append(pair.second);
    }
    const uint16_t n = uint16_t((out.size() - headerSize) & 0xFFFF);
    out[6] = char(n >> 8);
    out[7] = char(n & 0xFF);
    return out;
}

int DevicePacket::unmarshal(const char* data, int length) {
    if (length < 62) {
        qDebug("packet too short");
        return 0;
    }
    const auto* b = reinterpret_cast<const uint8_t*>(data);
    if (b[0] != 0x76 || b[1] != 0x69) {
        qDebug("wrong magic number");
        return 0;
    }
    if (length < headerSize) {
        qDebug("invalid payload_len field");
        return 0;
    }
    magic[0] = b[0];
    magic[1] = b[1];
    code = b[2];
    fixed3 = b[3];
    fixed4 = uint16_t((b[4] << 8) | b[5]);
    payloadLen = uint16_t((b[6] << 8) | b[7]);
    std::memcpy(targetHwAddr, b + 8, sizeof targetHwAddr);
    std::memcpy(targetDevId, b + 28, sizeof targetDevId);
    std::memcpy(spare, b + 44, sizeof spare);
    if (int(payloadLen) != length - headerSize) {
        qDebug("invalid payload_len field");
        return 0;
    }
    for (auto& pair : parseDevicePayload(data + headerSize, size_t(payloadLen)))
        pairs.emplace(std::move(pair.first), std::move(pair.second));
    return length;
}
