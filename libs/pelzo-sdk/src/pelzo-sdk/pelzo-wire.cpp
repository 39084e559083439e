#include "pelzo-sdk/pelzo-wire.h"

#include <cstring>

namespace pelzo {

Header buildHeader(uint8_t type, size_t payloadLength) {
    return Header{static_cast<uint8_t>(type & kTypeMask),
                  static_cast<uint8_t>((payloadLength >> 8) & 0x7F),
                  static_cast<uint8_t>(payloadLength & 0xFF)};
}

Header buildReplyHeader(uint8_t type, size_t payloadLength, bool extra) {
    Header h = buildHeader(type, payloadLength);
    h[0] |= kReplyBit;
    if (extra)
        h[1] |= kExtraBit;
    return h;
}

PacketCheck parsePacket(const uint8_t* data, size_t len, PacketView& out) {
    if (len < kHeaderSize)
        return PacketCheck::TooShort;
    const size_t length = readLength(data);
    if (len != length + kHeaderSize)
        return PacketCheck::LengthMismatch;
    out.type = readType(data);
    out.capturing = (data[0] & kCapturingBit) != 0;
    out.payload = data + kHeaderSize;
    out.payloadLength = length;
    return PacketCheck::Ok;
}

std::string buildPacket(uint8_t type, std::string_view payload) {
    const Header h = buildHeader(type, payload.size());
    std::string out(reinterpret_cast<const char*>(h.data()), h.size());
    out += payload;
    return out;
}

std::string heartbeatReply() {
    const Header h = buildReplyHeader(kHeartbeat, 0, false);
    return std::string(reinterpret_cast<const char*>(h.data()), h.size());
}

std::string startCapturePacket(int rateCode) {
    const char payload = static_cast<char>(rateCode & 0x0F);
    return buildPacket(kStartCapture, std::string_view(&payload, 1));
}

std::string stopCapturePacket() {
    return buildPacket(kStopCapture, {});
}

std::string volumePacket(int volume, VolumeKind kind) {
    const char payload[2] = {static_cast<char>(volume), static_cast<char>(kind)};
    return buildPacket(kVolume, std::string_view(payload, 2));
}

size_t assembleAudioPacket(uint8_t* buf, size_t capacity, int priority, int rateCode,
                           std::string_view encodedMessage) {
    const size_t length = kAudioSubHeaderSize + encodedMessage.size();
    if (length > kMaxPayload || kHeaderSize + length > capacity)
        return 0;
    const Header h = buildHeader(kAudio, length);
    std::memcpy(buf, h.data(), h.size());
    buf[3] = static_cast<uint8_t>(((priority & 0x0F) << 4) | (rateCode & 0x0F));
    buf[4] = 0x40;
    buf[5] = 0x00;
    std::memcpy(buf + kHeaderSize + kAudioSubHeaderSize, encodedMessage.data(),
                encodedMessage.size());
    return kHeaderSize + length;
}

int sampleRateCode(int rateHz) {
    switch (rateHz) {
    case 8000:
        return 0;
    case 12000:
        return 1;
    case 16000:
        return 2;
    case 22050:
        return 3;
    case 24000:
        return 4;
    case 32000:
        return 5;
    case 44100:
        return 6;
    case 48000:
        return 7;
    default:
        return kInvalidRateCode;
    }
}

} // namespace pelzo
