#include "vo_pelzo_sdk_core/audio_reader.h"

#include <lumo/clock.h>
#include <lumo/logger.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <system_error>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libswresample/swresample.h>
}

namespace {

// Layout assumed for decoders that report only a channel count.
void defaultLayout(AVChannelLayout* layout, int channels) {
    switch (channels) {
    case 1:
        *layout = AV_CHANNEL_LAYOUT_MONO;
        break;
    case 3:
        *layout = AV_CHANNEL_LAYOUT_2POINT1;
        break;
    case 4:
        *layout = AV_CHANNEL_LAYOUT_3POINT1;
        break;
    case 0:
    case 2:
        *layout = AV_CHANNEL_LAYOUT_STEREO;
        break;
    default:
        // A stereo layout would make the resampler misread wider streams.
        av_channel_layout_default(layout, channels);
        break;
    }
}

// True when `name`, as a path or as a "file:" URL, names something on the local file
// system that is not a regular file: a FIFO, a device, a socket, a folder. Opening or
// reading those may block in a system call that FFmpeg's interrupt callback cannot end.
// Names that are no local path (network URLs, other protocols) are left to FFmpeg.
bool namesSpecialFile(const std::string& name) {
    auto special = [](const std::string& path) {
        std::error_code ec;
        const std::filesystem::file_status st = std::filesystem::status(path, ec);
        if (ec || !std::filesystem::exists(st)) {
            return false;
        }
        return !std::filesystem::is_regular_file(st);
    };
    static const std::string kFileScheme = "file:";
    return special(name) || (name.compare(0, kFileScheme.size(), kFileScheme) == 0 &&
                             special(name.substr(kFileScheme.size())));
}

} // namespace

FileAudioReader::FileAudioReader(const std::string& url, int outputRate, Clock clock)
    : url_(url), outputRate_(outputRate), frameBytes_(outputRate / 25),
      clock_(clock ? std::move(clock) : Clock(&lumo::currentTimeMs)) {
    frameBuffer_.resize(static_cast<size_t>(std::max(frameBytes_, 0)));
    openTried_ = true;
    opened_ = open();
}

FileAudioReader::~FileAudioReader() {
    swr_free(&resampler_);
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&decoder_);
    avformat_close_input(&format_);
}

void FileAudioReader::restartWatchdog() {
    watchdogStart_ = clock_();
    timeoutLogged_ = false;
}

int FileAudioReader::interruptCallback(void* opaque) {
    auto* self = static_cast<FileAudioReader*>(opaque);
    if (self->clock_() - self->watchdogStart_ <= kWatchdogMs) {
        return 0;
    }
    if (!self->timeoutLogged_) {
        self->timeoutLogged_ = true;
        LUMO_LOG_INFO("ffmpeg operation timeout");
    }
    return 1;
}

bool FileAudioReader::open() {
    if (frameBytes_ <= 0) {
        return false;
    }
    restartWatchdog();
    LUMO_LOG_INFO("open %s", url_.c_str());
    if (namesSpecialFile(url_)) {
        std::cerr << "not a regular file: " << url_ << std::endl;
        return false;
    }
    format_ = avformat_alloc_context();
    if (!format_) {
        return false;
    }
    format_->interrupt_callback.callback = &FileAudioReader::interruptCallback;
    format_->interrupt_callback.opaque = this;

    // On failure FFmpeg frees the context and clears the pointer.
    if (avformat_open_input(&format_, url_.c_str(), nullptr, nullptr) < 0) {
        std::cerr << "avformat_open_input failed for " << url_ << std::endl;
        return false;
    }

    const AVCodec* codec = nullptr;
    if (avformat_find_stream_info(format_, nullptr) >= 0) {
        streamIndex_ = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    }
    if (streamIndex_ < 0 || !codec) {
        streamIndex_ = -1;
        std::cerr << "No audio stream in file " << url_ << std::endl;
        return false;
    }
    AVStream* stream = format_->streams[streamIndex_];

    decoder_ = avcodec_alloc_context3(codec);
    if (!decoder_) {
        std::cerr << "avcodec_alloc_context3出错" << std::endl;
        return false;
    }
    decoder_->pkt_timebase = stream->time_base;
    if (avcodec_parameters_to_context(decoder_, stream->codecpar) < 0 ||
        avcodec_open2(decoder_, codec, nullptr) < 0) {
        std::cerr << "avcodec_open2出错" << std::endl;
        return false;
    }

    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!frame_ || !packet_) {
        return false;
    }

    AVChannelLayout inLayout{};
    if (decoder_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC ||
        decoder_->ch_layout.nb_channels == 0) {
        defaultLayout(&inLayout, decoder_->ch_layout.nb_channels);
    } else if (av_channel_layout_copy(&inLayout, &decoder_->ch_layout) < 0) {
        return false;
    }
    AVChannelLayout outLayout = AV_CHANNEL_LAYOUT_MONO;
    int rc = swr_alloc_set_opts2(&resampler_, &outLayout, AV_SAMPLE_FMT_S16, outputRate_, &inLayout,
                                 decoder_->sample_fmt, decoder_->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    if (rc < 0 || swr_init(resampler_) < 0) {
        std::cerr << "swr_init failed for " << url_ << std::endl;
        return false;
    }
    convertBuffer_.resize(kConvertBufferBytes);
    // An unknown container duration reads as 0 rather than a huge negative count.
    duration_ = format_->duration == AV_NOPTS_VALUE ? 0 : format_->duration / 1000;
    return true;
}

bool FileAudioReader::convert(const AVFrame* frame) {
    uint8_t* out = convertBuffer_.data();
    const int capacity = kConvertBufferBytes / 2; // mono 16-bit samples
    int samples = swr_convert(resampler_, &out, capacity,
                              const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    if (samples <= 0) {
        return samples == 0;
    }
    const auto* bytes = reinterpret_cast<const char*>(convertBuffer_.data());
    pcm_.insert(pcm_.end(), bytes, bytes + samples * 2);
    return true;
}

int FileAudioReader::refill(int packets) {
    if (!opened_ || endOfInput_ || packets < 1) {
        return 0;
    }
    int consumed = 0;
    while (consumed < packets) {
        if (av_read_frame(format_, packet_) < 0) {
            endOfInput_ = true;
            break;
        }
        if (packet_->stream_index != streamIndex_) {
            av_packet_unref(packet_);
            continue;
        }
        int rc = avcodec_send_packet(decoder_, packet_);
        av_packet_unref(packet_);
        if (rc < 0) {
            std::cerr << "avcodec_send_packet出错" << std::endl;
            endOfInput_ = true;
            break;
        }
        while (avcodec_receive_frame(decoder_, frame_) == 0) {
            convert(frame_);
            av_frame_unref(frame_);
        }
        ++consumed;
    }
    return consumed;
}

AudioFrame FileAudioReader::read(bool rewind) {
    if (!opened_) {
        return AudioFrame{};
    }
    const size_t need = static_cast<size_t>(frameBytes_);
    for (;;) {
        if (pcm_.size() < need) {
            restartWatchdog();
            // A packet may decode to nothing (decoder delay); only end of input stops us.
            while (pcm_.size() < need && refill(1) > 0) {
            }
        }
        if (pcm_.size() >= need) {
            std::memcpy(frameBuffer_.data(), pcm_.data(), need);
            pcm_.erase(pcm_.begin(), pcm_.begin() + static_cast<std::ptrdiff_t>(need));
            position_ += 20;
            return AudioFrame{frameBuffer_.data(), frameBytes_, outputRate_};
        }
        if (!rewind) {
            // End of input: a trailing partial frame stays buffered and is never played.
            return AudioFrame{nullptr, 0, outputRate_};
        }
        pcm_.clear();
        seek(0, 0);
        rewind = false;
    }
}

int FileAudioReader::seek(int64_t timestamp, int flags) {
    endOfInput_ = false;
    if (!opened_) {
        endOfInput_ = true;
        return -1;
    }
    // A seek may come long after the last read; it gets a full watchdog period of its own.
    restartWatchdog();
    int rc = av_seek_frame(format_, streamIndex_, timestamp, flags | AVSEEK_FLAG_BACKWARD);
    if (rc < 0) {
        std::cerr << "av_seek_frame出错" << std::endl;
        endOfInput_ = true;
    } else {
        // Samples decoded before the jump must not leak into the new position.
        avcodec_flush_buffers(decoder_);
    }
    AVRational tb = format_->streams[streamIndex_]->time_base;
    position_ = static_cast<int>(av_rescale_q(timestamp, tb, AVRational{1, 1000}));
    return rc;
}
