// The pakx messages of the Pelzo protocol and the login digest.
#pragma once

#include "pelzo-sdk/pakx.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelzo {

// Sent by a terminal (type 16) to start a login.
struct PelzoChallenge : pakx::MessageOf<PelzoChallenge> {
    uint32_t seed = 0;
    uint16_t serial = 0;
    std::string deviceId;

    static pakx::FieldTable describe() {
        return pakx::makeFieldTable(&PelzoChallenge::seed, &PelzoChallenge::serial,
                                    &PelzoChallenge::deviceId);
    }
};

// Our answer to a challenge (type 15).
struct PelzoLoginReq : pakx::MessageOf<PelzoLoginReq> {
    std::string token;

    static pakx::FieldTable describe() { return pakx::makeFieldTable(&PelzoLoginReq::token); }
};

// The terminal's verdict (type 15); an absent code means accepted.
struct PelzoLoginRes : pakx::MessageOf<PelzoLoginRes> {
    static constexpr int32_t kAccepted = 200;

    int32_t code = kAccepted;
    std::string message;

    static pakx::FieldTable describe() {
        return pakx::makeFieldTable(&PelzoLoginRes::code, &PelzoLoginRes::message);
    }
};

// Audio payload of a type 9 packet: Opus frames in playing order.
struct OpusAudioWrapper : pakx::MessageOf<OpusAudioWrapper> {
    std::vector<std::string> frames;
    int32_t jitter1 = 0;
    int32_t jitter2 = 0;

    static pakx::FieldTable describe() {
        return pakx::makeFieldTable(&OpusAudioWrapper::frames, &OpusAudioWrapper::jitter1,
                                    &OpusAudioWrapper::jitter2);
    }
};

// Password of terminals added without one.
constexpr const char* kDefaultPassword = "574213";

// The login token answering a challenge: MD5 hex of
// "seed|serial|md5hex(password)" plus "|deviceId" when the challenge had one.
std::string loginToken(const PelzoChallenge& challenge, std::string_view password);

} // namespace pelzo
