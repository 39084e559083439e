// FileAudioReader: opening, decoding and resampling real files made at test time.
#include "audio_fixtures.h"

#include "vo_pelzo_sdk_core/audio_reader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <future>
#include <memory>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace audio_fixtures;

namespace {

struct Decoded {
    int frames = 0;
    bool allFullFrames = true;
    std::string pcm;
};

Decoded decodeAll(AudioReader& reader) {
    Decoded d;
    for (int guard = 0; guard < 10000; ++guard) {
        AudioFrame f = reader.read(false);
        if (f.empty()) {
            break;
        }
        ++d.frames;
        d.allFullFrames = d.allFullFrames && f.size == 1920 && f.sampleRate == 48000;
        d.pcm.append(f.data, static_cast<size_t>(f.size));
    }
    return d;
}

class AudioReaderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.ok()); }
    TempDir dir;
};

struct FormatCase {
    const char* name;
    int rate;
    int channels;
    const char* convertTo; // extension of an ffmpeg copy, or nullptr for the WAV itself
    int minFrames;
};

class AudioReaderFormats : public AudioReaderTest,
                           public ::testing::WithParamInterface<FormatCase> {};

// One second of a 1 kHz sine in several containers and layouts: every format comes out
// as 20 ms frames of 48 kHz mono with the tone intact, never more than the input holds.
TEST_P(AudioReaderFormats, DecodesOneSecondToMonoFrames) {
    const FormatCase& c = GetParam();
    std::string wav = dir.file("in.wav");
    ASSERT_TRUE(writeSineWav(wav, c.rate, c.channels, 1.0, 1000));
    std::string path = wav;
    if (c.convertTo) {
        path = dir.file(std::string("in.") + c.convertTo);
        ASSERT_TRUE(ffmpeg("-i " + wav + " " + path)) << path;
    }

    FileAudioReader reader(path, 48000);
    ASSERT_FALSE(reader.failed());
    EXPECT_EQ(reader.frameBytes(), 1920);
    Decoded d = decodeAll(reader);

    EXPECT_TRUE(d.allFullFrames);
    EXPECT_GE(d.frames, c.minFrames);
    // Lossy codecs pad their last block; still at most a frame or two beyond 1 s.
    EXPECT_LE(d.frames, c.convertTo ? 53 : 50);
    EXPECT_EQ(reader.position(), d.frames * 20);
    auto s = samplesOf(d.pcm);
    // Skip the codec's start-up, then the 1 kHz tone must carry nearly all the power.
    std::vector<int16_t> middle(s.begin() + 4800, s.begin() + 4800 + 24000);
    EXPECT_GT(toneShare(middle, 48000, 1000), 0.95);
    EXPECT_GT(rms(middle), 0.3 * 32767 * 0.5);
}

INSTANTIATE_TEST_SUITE_P(Files, AudioReaderFormats,
                         ::testing::Values(FormatCase{"wav44k_stereo", 44100, 2, nullptr, 49},
                                           FormatCase{"wav8k_mono", 8000, 1, nullptr, 49},
                                           FormatCase{"wav48k_6ch", 48000, 6, nullptr, 49},
                                           FormatCase{"mp3", 44100, 2, "mp3", 48},
                                           FormatCase{"ogg", 44100, 2, "ogg", 48},
                                           FormatCase{"flac", 22050, 1, "flac", 49}),
                         [](const ::testing::TestParamInfo<FormatCase>& i) {
                             return i.param.name;
                         });

TEST_F(AudioReaderTest, MissingFileFailsWithEmptyFrames) {
    ::testing::internal::CaptureStderr();
    FileAudioReader reader(dir.file("nope.wav"), 48000);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(reader.failed());
    EXPECT_NE(err.find("avformat_open_input failed for " + dir.file("nope.wav")),
              std::string::npos);
    AudioFrame f = reader.read(true);
    EXPECT_TRUE(f.empty());
    EXPECT_EQ(f.sampleRate, 0);
    EXPECT_EQ(reader.url(), dir.file("nope.wav"));
}

TEST_F(AudioReaderTest, VideoOnlyFileHasNoAudioStream) {
    std::string path = dir.file("video.mp4");
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=64x48:rate=10:duration=1 -c:v mpeg4 " + path));
    ::testing::internal::CaptureStderr();
    FileAudioReader reader(path, 48000);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(reader.failed());
    EXPECT_NE(err.find("No audio stream in file " + path), std::string::npos);
}

TEST_F(AudioReaderTest, TextFileIsNotAudio) {
    std::string path = dir.file("notes.wav");
    {
        std::ofstream f(path);
        f << "this is not a wave file\n";
    }
    ::testing::internal::CaptureStderr();
    FileAudioReader reader(path, 48000);
    ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(reader.failed());
    EXPECT_TRUE(reader.read(false).empty());
}

// The audio stream is picked even when a video stream comes first in the container.
TEST_F(AudioReaderTest, VideoFilePlaysItsAudioStream) {
    std::string path = dir.file("movie.mp4");
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=64x48:rate=10:duration=1 "
                       "-f lavfi -i sine=frequency=600:sample_rate=44100:duration=1 "
                       "-map 0:v -map 1:a -c:v mpeg4 -c:a aac -shortest " +
                       path));
    FileAudioReader reader(path, 48000);
    ASSERT_FALSE(reader.failed());
    EXPECT_GT(reader.duration(), 900);
    Decoded d = decodeAll(reader);
    EXPECT_GE(d.frames, 45);
    auto s = samplesOf(d.pcm);
    std::vector<int16_t> middle(s.begin() + 4800, s.begin() + 4800 + 24000);
    EXPECT_GT(toneShare(middle, 48000, 600), 0.95);
}

// After the end, a rewinding read starts over with the very first frame; a plain read
// keeps reporting the end.
TEST_F(AudioReaderTest, RewindRestartsAtTheFirstFrame) {
    std::string path = dir.file("short.wav");
    ASSERT_TRUE(writeSineWav(path, 48000, 1, 0.1, 440));
    FileAudioReader reader(path, 48000);
    ASSERT_FALSE(reader.failed());
    AudioFrame first = reader.read(false);
    ASSERT_FALSE(first.empty());
    std::string firstBytes(first.data, static_cast<size_t>(first.size));
    Decoded rest = decodeAll(reader);
    EXPECT_EQ(rest.frames, 4);
    EXPECT_TRUE(reader.read(false).empty());

    AudioFrame again = reader.read(true);
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(std::string(again.data, static_cast<size_t>(again.size)), firstBytes);
    EXPECT_EQ(decodeAll(reader).frames, 4);
}

// A blocking FFmpeg step that outlives the watchdog is aborted: the clock jumps past
// 10 s right after the watchdog starts, so opening gives up instead of hanging.
TEST_F(AudioReaderTest, WatchdogAbortsSlowOpen) {
    std::string path = dir.file("in.wav");
    ASSERT_TRUE(writeSineWav(path, 48000, 1, 0.2, 440));
    int64_t now = 1000;
    int calls = 0;
    auto clock = [&] {
        // First call starts the watchdog; every later one is 10.001 s on.
        return calls++ == 0 ? now : now + FileAudioReader::kWatchdogMs + 1;
    };
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    FileAudioReader reader(path, 48000, clock);
    std::string out = ::testing::internal::GetCapturedStdout();
    ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(reader.failed());
    EXPECT_NE(out.find("ffmpeg operation timeout"), std::string::npos);
}

// A FIFO without a writer or a terminal blocks open(2) or read(2) for as long as nobody
// writes, and the watchdog cannot interrupt a system call: such files are refused before
// FFmpeg sees them, at once, whatever form the name has. A regular file behind a link
// still plays.
TEST_F(AudioReaderTest, SpecialFilesAreRefusedWithoutBlocking) {
    const std::string fifo = dir.file("fifo.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string terminal = ::ptsname(master);
    const std::string wav = dir.file("in.wav");
    ASSERT_TRUE(writeSineWav(wav, 48000, 1, 0.2, 440));
    const std::string link = dir.file("link.wav");
    ASSERT_EQ(::symlink(wav.c_str(), link.c_str()), 0);

    // What releases a reader stuck on the file, so a fault fails instead of hanging.
    auto releaseFifo = [&] { ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK)); };
    auto releaseTerminal = [&] {
        const ssize_t n = ::write(master, "\x04", 1); // end of file for a terminal
        (void)n;
    };
    struct Case {
        const char* what;
        std::string name;
        std::function<void()> release;
        bool plays;
    };
    const Case cases[] = {
        {"FIFO", fifo, releaseFifo, false},
        {"FIFO as a file: URL", "file:" + fifo, releaseFifo, false},
        {"terminal", terminal, releaseTerminal, false},
        {"/dev/zero", "/dev/zero", [] {}, false},
        {"folder", dir.file(""), [] {}, false},
        {"link to a WAV file", link, [] {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ::testing::internal::CaptureStderr();
        auto opening = std::async(std::launch::async,
                                  [&] { return std::make_unique<FileAudioReader>(c.name, 48000); });
        const bool prompt = opening.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        while (opening.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
            c.release();
        std::unique_ptr<FileAudioReader> reader = opening.get();
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_TRUE(prompt) << "opening blocked";
        EXPECT_EQ(reader->failed(), !c.plays);
        if (c.plays) {
            EXPECT_EQ(decodeAll(*reader).frames, 10);
        } else {
            EXPECT_NE(err.find("not a regular file: " + c.name), std::string::npos) << err;
        }
    }
    ::close(master);
}

// Exactly at the limit the operation may still go on.
TEST_F(AudioReaderTest, WatchdogAllowsTenSeconds) {
    std::string path = dir.file("in.wav");
    ASSERT_TRUE(writeSineWav(path, 48000, 1, 0.2, 440));
    int calls = 0;
    auto clock = [&]() -> int64_t { return calls++ == 0 ? 0 : FileAudioReader::kWatchdogMs; };
    FileAudioReader reader(path, 48000, clock);
    EXPECT_FALSE(reader.failed());
    EXPECT_EQ(decodeAll(reader).frames, 10);
}

TEST_F(AudioReaderTest, SeekBackToStart) {
    std::string path = dir.file("in.wav");
    ASSERT_TRUE(writeSineWav(path, 48000, 1, 0.5, 440));
    FileAudioReader reader(path, 48000);
    AudioFrame f = reader.read(false);
    std::string firstBytes(f.data, static_cast<size_t>(f.size));
    decodeAll(reader);
    EXPECT_TRUE(reader.endOfInput());
    EXPECT_GE(reader.seek(0, 0), 0);
    EXPECT_FALSE(reader.endOfInput());
    EXPECT_EQ(reader.position(), 0);
    AudioFrame again = reader.read(false);
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(std::string(again.data, static_cast<size_t>(again.size)), firstBytes);
}

} // namespace
