// The terminal's view of the Pelzo wire format: packet framing, the tagged
// field encoding and the four messages, written independently of the SDK.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace simpelzo {

constexpr uint16_t kPort = 21012;

enum Type : uint8_t {
    kStartCapture = 2,
    kStopCapture = 3,
    kHeartbeat = 4,
    kCaptureAudio = 8,
    kAudio = 9,
    kVolume = 11,
    kLogin = 15,
    kChallenge = 16,
};

struct Packet {
    uint8_t byte0 = 0; // type plus flag bits as received
    std::string payload;

    uint8_t type() const { return byte0 & 0x1F; }
    bool replyMark() const { return (byte0 & 0x80) != 0; }
};

// Frames a packet; byte0 carries the type and any flag bits.
std::string frame(uint8_t byte0, std::string_view payload);
// Unframes a datagram; false when it is short or its length field disagrees.
bool unframe(const uint8_t* data, size_t len, Packet& out);

// One decoded field: integers keep the sign given by their wire type.
struct Field {
    int number = 0;
    bool isBytes = false;
    int64_t value = 0;
    std::string bytes;
};

void putInt(std::string& out, int number, int64_t value);
void putBytes(std::string& out, int number, std::string_view bytes);
// Splits a message into its fields; false when a length runs past the end.
bool splitFields(std::string_view data, std::vector<Field>& out);

std::string encodeChallenge(uint32_t seed, uint16_t serial, std::string_view deviceId);
bool decodeLoginRequest(std::string_view payload, std::string& token);
std::string encodeLoginResponse(int32_t code, std::string_view message);

struct AudioPayload {
    int priority = 0;
    int rateCode = 0;
    std::vector<std::string> frames; // raw Opus frames in playing order
    int32_t jitter1 = 0;
    int32_t jitter2 = 0;
};
bool decodeAudio(std::string_view payload, AudioPayload& out);

// The token a terminal expects for its challenge and password.
std::string expectedToken(uint32_t seed, uint16_t serial, std::string_view password,
                          std::string_view deviceId);

} // namespace simpelzo
