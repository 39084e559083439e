// Test-time audio fixtures: temp folders, generated WAV files, ffmpeg conversions and
// a few measurements on 16-bit PCM.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace audio_fixtures {

// A folder under the system temp dir, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "tesmo-audio-XXXXXX").string();
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data())) {
            path_ = buf.data();
        }
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, ec);
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool ok() const { return !path_.empty(); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline void putLe(std::string& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
}

// Writes a 16-bit PCM WAV with the same sine (amplitude `amp` of full scale) in every
// channel. Returns false when the file cannot be written.
inline bool writeSineWav(const std::string& path, int rate, int channels, double seconds,
                         double freq, double amp = 0.5) {
    const uint32_t frames = static_cast<uint32_t>(std::lround(rate * seconds));
    const uint32_t dataBytes = frames * static_cast<uint32_t>(channels) * 2;
    std::string out;
    out += "RIFF";
    putLe(out, 36 + dataBytes, 4);
    out += "WAVEfmt ";
    putLe(out, 16, 4);
    putLe(out, 1, 2);
    putLe(out, static_cast<uint32_t>(channels), 2);
    putLe(out, static_cast<uint32_t>(rate), 4);
    putLe(out, static_cast<uint32_t>(rate * channels * 2), 4);
    putLe(out, static_cast<uint32_t>(channels * 2), 2);
    putLe(out, 16, 2);
    out += "data";
    putLe(out, dataBytes, 4);
    for (uint32_t i = 0; i < frames; ++i) {
        double v = amp * std::sin(2 * M_PI * freq * i / rate);
        auto s = static_cast<int16_t>(std::lround(v * 32767));
        for (int c = 0; c < channels; ++c) {
            putLe(out, static_cast<uint16_t>(s), 2);
        }
    }
    std::ofstream f(path, std::ios::binary);
    f.write(out.data(), static_cast<std::streamsize>(out.size()));
    return static_cast<bool>(f);
}

// Runs the ffmpeg command line quietly with the given arguments; true on success.
inline bool ffmpeg(const std::string& args) {
    std::string cmd =
        "ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

inline std::vector<int16_t> samplesOf(const std::string& bytes) {
    std::vector<int16_t> s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

// Power of one frequency in a block of samples (Goertzel), normalised by the block's
// total power: close to 1 for a pure sine of that frequency.
inline double toneShare(const std::vector<int16_t>& s, int rate, double freq) {
    if (s.empty()) {
        return 0;
    }
    double coeff = 2 * std::cos(2 * M_PI * freq / rate);
    double q1 = 0, q2 = 0, energy = 0;
    for (int16_t v : s) {
        double x = v;
        double q0 = coeff * q1 - q2 + x;
        q2 = q1;
        q1 = q0;
        energy += x * x;
    }
    double power = q1 * q1 + q2 * q2 - coeff * q1 * q2;
    if (energy <= 0) {
        return 0;
    }
    return 2 * power / (energy * static_cast<double>(s.size()));
}

inline double rms(const std::vector<int16_t>& s) {
    double e = 0;
    for (int16_t v : s) {
        e += static_cast<double>(v) * v;
    }
    return s.empty() ? 0 : std::sqrt(e / static_cast<double>(s.size()));
}

} // namespace audio_fixtures
