#include "pelzo-sdk/pelzo-audio.h"

#include "pelzo-sdk/pelzo-wire.h"

#include <lumo/logger.h>

#include <opus/opus.h>

namespace pelzo {

namespace {

constexpr const char* kSendTag = "PelzoContext::do_send_audio_wrapper";

// Room the two jitter fields may take in an encoded message (key plus a 5-byte
// varint each), reserved up front so that a later setJitter cannot overflow a
// message that is already queued.
constexpr size_t kJitterFieldsMax = 2 * (1 + 5);
// What the frame fields of one message may take so that the packet fits its buffer.
constexpr size_t kMaxFrameFieldBytes =
    PelzoAudioEncoder::kPacketBufferBytes - kHeaderSize - kAudioSubHeaderSize - kJitterFieldsMax;

// Bytes one frame of `size` bytes takes in the encoded message: key, length, data.
size_t frameFieldBytes(size_t size) {
    std::string prefix;
    pakx::appendKey(prefix, 1, pakx::kBytes);
    pakx::appendVarint(prefix, size);
    return prefix.size() + size;
}

} // namespace

void PelzoAudioEncoder::EncoderDeleter::operator()(OpusEncoder* e) const {
    opus_encoder_destroy(e);
}

PelzoAudioEncoder::PelzoAudioEncoder(SendFn send) : send_(std::move(send)) {}

PelzoAudioEncoder::~PelzoAudioEncoder() = default;

int PelzoAudioEncoder::rateForFrameLength(int bytes) {
    switch (bytes) {
    case 320:
        return 8000;
    case 640:
        return 16000;
    case 960:
        return 24000;
    case 1280:
        return 32000;
    case 1640:
        return 40000;
    case 1920:
        return 48000;
    default:
        return 0;
    }
}

OpusEncoder* PelzoAudioEncoder::encoderFor(int rate) {
    auto it = encoders_.find(rate);
    if (it != encoders_.end()) {
        return it->second.get();
    }
    if (failedRates_.count(rate)) {
        return nullptr;
    }
    int err = OPUS_OK;
    EncoderPtr enc(opus_encoder_create(rate, 1, kOpusApplicationAudio, &err));
    if (!enc || err != OPUS_OK) {
        // Opus has no mode for some rates of the length table (32 and 40 kHz); their
        // frames are dropped, and the failure is reported once per rate.
        failedRates_.insert(rate);
        LUMO_LOG_WARN("opus encoder for %d Hz not available: %s", rate, opus_strerror(err));
        return nullptr;
    }
    if (bitrate_ > 0) {
        LUMO_LOG_INFO("set bit rate %d", bitrate_);
        opus_encoder_ctl(enc.get(), OPUS_SET_BITRATE(bitrate_));
    }
    return encoders_.emplace(rate, std::move(enc)).first->second.get();
}

void PelzoAudioEncoder::playFrame(const void* pcm, int length) {
    const int rate = rateForFrameLength(length);
    if (rate == 0 || !pcm) {
        return;
    }
    OpusEncoder* enc = encoderFor(rate);
    if (!enc) {
        return;
    }
    const int n = opus_encode(enc, static_cast<const opus_int16*>(pcm), length / 2,
                              encodeBuffer_.data(), static_cast<opus_int32>(encodeBuffer_.size()));
    if (n <= 0) {
        return;
    }
    queue(rate, encodeBuffer_.data(), static_cast<size_t>(n));
}

void PelzoAudioEncoder::queue(int rate, const uint8_t* frame, size_t size) {
    Pending& p = pending_[rate];
    const size_t field = frameFieldBytes(size);
    if (field > kMaxFrameFieldBytes) {
        LUMO_LOG_WARN("opus frame of %zu bytes does not fit an audio packet, dropped", size);
        return;
    }
    if (!p.message.frames.empty() &&
        (p.frameBytes + size > kMaxPacketBytes || p.encodedBytes + field > kMaxFrameFieldBytes)) {
        flush(rate, p);
    }
    p.message.frames.emplace_back(reinterpret_cast<const char*>(frame), size);
    p.frameBytes += size;
    p.encodedBytes += field;
    if (static_cast<int>(p.message.frames.size()) >= packSize_) {
        flush(rate, p);
    }
}

void PelzoAudioEncoder::flush(int rate, Pending& pending) {
    doSendAudioWrapper(rate, pending.message);
    pending.message.frames.clear();
    pending.frameBytes = 0;
    pending.encodedBytes = 0;
}

void PelzoAudioEncoder::doSendAudioWrapper(int rate, OpusAudioWrapper& message) {
    if (message.frames.empty()) {
        LUMO_LOG_INFO("%s empty data", kSendTag);
        return;
    }
    message.jitter1 = jitter1_;
    message.jitter2 = jitter2_;
    const std::string encoded = message.encode();
    const size_t size = assembleAudioPacket(packetBuffer_.data(), packetBuffer_.size(), priority_,
                                            sampleRateCode(rate), encoded);
    if (size == 0) {
        LUMO_LOG_ERROR("%s: message of %zu bytes exceeds the packet buffer", kSendTag,
                       encoded.size());
        return;
    }
    if (send_) {
        send_(packetBuffer_.data(), size);
    }
    framesSent_ += static_cast<int>(message.frames.size());
}

int PelzoAudioEncoder::setBitrate(int bitsPerSecond) {
    if (bitsPerSecond > 0 && (bitsPerSecond < kMinBitrate || bitsPerSecond > kMaxBitrate)) {
        return 1;
    }
    const int value = bitsPerSecond < 0 ? kAutoBitrate : bitsPerSecond;
    if (value == bitrate_) {
        return 0;
    }
    bitrate_ = value;
    const int applied = value == kAutoBitrate ? OPUS_AUTO : value;
    for (auto& entry : encoders_) {
        opus_encoder_ctl(entry.second.get(), OPUS_SET_BITRATE(applied));
    }
    return 0;
}

int PelzoAudioEncoder::setPackSize(int frames) {
    packSize_ = frames;
    return 0;
}

int PelzoAudioEncoder::setJitter(int jitter1, int jitter2) {
    jitter1_ = jitter1;
    jitter2_ = jitter2;
    return 0;
}

int PelzoAudioEncoder::setPriority(int priority) {
    priority_ = priority;
    return 0;
}

int PelzoAudioEncoder::takeFramesSent() {
    const int n = framesSent_;
    framesSent_ = 0;
    return n;
}

} // namespace pelzo
