// Pelzo packet framing: the 3-byte header, the packet types and the small
// fixed packets. Everything here is a pure function over bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pelzo {

constexpr uint16_t kPelzoPort = 21012;
constexpr size_t kHeaderSize = 3;
constexpr size_t kMaxPayload = 0x7FFF;

enum PacketType : uint8_t {
    kStartCapture = 2,
    kStopCapture = 3,
    kHeartbeat = 4,
    kCaptureAudio = 8,
    kAudio = 9,
    kVolume = 11,
    kLogin = 15,
    kChallenge = 16,
};

// Header bits of byte 0.
constexpr uint8_t kTypeMask = 0x1F;
constexpr uint8_t kCapturingBit = 0x20;
constexpr uint8_t kReplyBit = 0x80;
// Byte 1: the high bit is the extra bit, the rest the high part of the length.
constexpr uint8_t kExtraBit = 0x80;

// Which volume a type 11 packet carries (payload byte 1).
enum VolumeKind : uint8_t { kInputVolume = 0, kOutputVolume = 1 };

using Header = std::array<uint8_t, kHeaderSize>;

Header buildHeader(uint8_t type, size_t payloadLength);
Header buildReplyHeader(uint8_t type, size_t payloadLength, bool extra);
inline uint8_t readType(const uint8_t* header) {
    return header[0] & kTypeMask;
}
inline size_t readLength(const uint8_t* header) {
    return (static_cast<size_t>(header[1] & 0x7F) << 8) | header[2];
}

// A received datagram, checked for its framing.
struct PacketView {
    uint8_t type = 0;
    bool capturing = false; // header bit 5, meaningful in heartbeats only
    const uint8_t* payload = nullptr;
    size_t payloadLength = 0;
};

enum class PacketCheck {
    Ok,
    TooShort,       // fewer than 3 bytes: dropped silently
    LengthMismatch, // size is not length + 3: dropped with a warning
};

PacketCheck parsePacket(const uint8_t* data, size_t len, PacketView& out);

// Whole packets as the SDK sends them.
std::string buildPacket(uint8_t type, std::string_view payload);
std::string heartbeatReply();
std::string startCapturePacket(int rateCode);
std::string stopCapturePacket();
std::string volumePacket(int volume, VolumeKind kind);

// Audio packets are assembled into a caller's buffer: header, audio
// sub-header and the encoded OpusAudioWrapper. Returns the packet size, or 0
// when it would not fit the buffer or the 15-bit length.
constexpr size_t kAudioSubHeaderSize = 3;
size_t assembleAudioPacket(uint8_t* buf, size_t capacity, int priority, int rateCode,
                           std::string_view encodedMessage);

// The 4-bit code of a sample rate; kInvalidRateCode for rates without one.
constexpr int kInvalidRateCode = 15;
int sampleRateCode(int rateHz);

} // namespace pelzo
