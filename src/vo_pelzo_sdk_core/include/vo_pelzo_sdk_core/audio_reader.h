// PCM producers for file sources: the reader interface and its FFmpeg implementation.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

// One frame handed out by a reader. `data` stays valid until the next read; an empty
// frame (size 0) means end of input.
struct AudioFrame {
    const char* data = nullptr;
    int size = 0;
    int sampleRate = 0;

    bool empty() const { return size <= 0; }
};

class AudioReader {
public:
    virtual ~AudioReader() = default;
    virtual int sampleRate() const = 0;
    virtual AudioFrame read(bool rewind) = 0;
    virtual bool failed() const = 0;
    // Parameter hook used by live readers; files ignore it.
    virtual void control(int /*what*/, int /*value*/) {}
    virtual std::string url() const = 0;
    virtual int position() const = 0;
    virtual bool seekable() const = 0;
    virtual int64_t duration() const = 0;
    virtual int outputSampleRate() const = 0;
    virtual int seek(int64_t timestamp, int flags) = 0;
};

// Decodes anything FFmpeg can open and resamples it to mono signed 16-bit at the
// requested rate, cut into 20 ms frames. Construction opens the input once.
class FileAudioReader : public AudioReader {
public:
    using Clock = std::function<int64_t()>;

    // Blocking FFmpeg operations are aborted once they run this long.
    static constexpr int64_t kWatchdogMs = 10000;
    static constexpr int kConvertBufferBytes = 88200;

    // `clock` returns milliseconds; it drives the watchdog (defaults to the SDK clock).
    FileAudioReader(const std::string& url, int outputRate, Clock clock = Clock());
    ~FileAudioReader() override;

    FileAudioReader(const FileAudioReader&) = delete;
    FileAudioReader& operator=(const FileAudioReader&) = delete;

    int sampleRate() const override { return outputRate_; }
    AudioFrame read(bool rewind) override;
    bool failed() const override { return openTried_ && !opened_; }
    std::string url() const override { return url_; }
    int position() const override { return position_; }
    bool seekable() const override { return true; }
    int64_t duration() const override { return duration_; }
    int outputSampleRate() const override { return outputRate_; }
    int seek(int64_t timestamp, int flags) override;

    int frameBytes() const { return frameBytes_; }
    bool endOfInput() const { return endOfInput_; }

private:
    bool open();
    // Decodes up to `packets` audio packets into the PCM buffer; returns how many were
    // consumed (0 at end of input).
    int refill(int packets);
    bool convert(const AVFrame* frame);
    void restartWatchdog();
    static int interruptCallback(void* opaque);

    std::string url_;
    int outputRate_;
    int frameBytes_;
    Clock clock_;

    AVFormatContext* format_ = nullptr;
    int streamIndex_ = -1;
    AVCodecContext* decoder_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwrContext* resampler_ = nullptr;

    std::vector<uint8_t> convertBuffer_;
    std::vector<char> pcm_;
    std::vector<char> frameBuffer_;

    int position_ = 0;
    int64_t duration_ = 0;
    bool opened_ = false;
    bool openTried_ = false;
    bool endOfInput_ = false;
    int64_t watchdogStart_ = 0;
    bool timeoutLogged_ = false;
};
