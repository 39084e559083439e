// Opus encoding and packet grouping of a context's outgoing audio. Independent of
// sockets: finished packets go to a send callback (the context sends each one to all
// of its terminals).
#pragma once

#include "pelzo-sdk/pelzo-messages.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>

struct OpusEncoder;

namespace pelzo {

class PelzoAudioEncoder {
public:
    using SendFn = std::function<void(const uint8_t* packet, size_t size)>;

    // Limit on the summed Opus frame sizes of one packet.
    static constexpr size_t kMaxPacketBytes = 1400;
    // Every packet is assembled in a buffer of this size.
    static constexpr size_t kPacketBufferBytes = 2048;
    // One encoded Opus frame never exceeds this.
    static constexpr size_t kMaxOpusFrameBytes = 1024;
    static constexpr int kOpusApplicationAudio = 2049;
    static constexpr int kAutoBitrate = -1;
    static constexpr int kMinBitrate = 500;
    static constexpr int kMaxBitrate = 512000;

    explicit PelzoAudioEncoder(SendFn send);
    ~PelzoAudioEncoder();
    PelzoAudioEncoder(const PelzoAudioEncoder&) = delete;
    PelzoAudioEncoder& operator=(const PelzoAudioEncoder&) = delete;

    // Sample rate implied by a 20 ms frame of 16-bit mono PCM, 0 for other lengths.
    static int rateForFrameLength(int bytes);

    // Encodes one 20 ms frame and queues it; full packets are sent at once.
    void playFrame(const void* pcm, int length);

    // 1 when the value is above 0 and outside 500..512000; otherwise stores it (negative
    // means automatic) and applies a change to every existing encoder.
    int setBitrate(int bitsPerSecond);
    int setPackSize(int frames);
    int setJitter(int jitter1, int jitter2);
    int setPriority(int priority);

    int bitrate() const { return bitrate_; }
    int packSize() const { return packSize_; }
    int priority() const { return priority_; }
    int framesSent() const { return framesSent_; }
    // Returns the frames sent since the last call and starts counting again.
    int takeFramesSent();

    // Builds the audio packet for a rate's message and hands it to the send callback.
    void doSendAudioWrapper(int rate, OpusAudioWrapper& message);

private:
    struct EncoderDeleter {
        void operator()(OpusEncoder* e) const;
    };
    using EncoderPtr = std::unique_ptr<OpusEncoder, EncoderDeleter>;

    // A rate's message being filled, with the sizes that decide when it must go.
    struct Pending {
        OpusAudioWrapper message;
        size_t frameBytes = 0;   // summed Opus frame sizes
        size_t encodedBytes = 0; // what the frames take in the encoded message
    };

    OpusEncoder* encoderFor(int rate);
    void queue(int rate, const uint8_t* frame, size_t size);
    void flush(int rate, Pending& pending);

    SendFn send_;
    std::map<int, EncoderPtr> encoders_;
    std::set<int> failedRates_;
    std::map<int, Pending> pending_;
    int packSize_ = 4;
    int bitrate_ = kAutoBitrate;
    int jitter1_ = 0;
    int jitter2_ = 0;
    int priority_ = 3;
    int framesSent_ = 0;
    std::array<uint8_t, kMaxOpusFrameBytes> encodeBuffer_{};
    std::array<uint8_t, kPacketBufferBytes> packetBuffer_{};
};

} // namespace pelzo
