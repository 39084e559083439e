// Public header of the lumo library: MD5 message digest (RFC 1321).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lumo {

/// Incremental MD5 digest. Not thread-safe per object; distinct objects may be used
/// on distinct threads.
class Md5 {
public:
    Md5();

    /// Appends `len` bytes at `data` to the message. Must not be called after finish().
    void update(const void* data, std::size_t len);

    /// Pads the message and returns the 16-byte digest. The object must not be
    /// updated after this call.
    std::array<std::uint8_t, 16> finish();

    /// Same as finish(), as 32 lower-case hexadecimal digits.
    std::string finishHex();

private:
    void transform(const std::uint8_t* block);

    std::uint32_t state_[4];
    std::uint64_t length_ = 0; // bytes seen so far
    std::uint8_t buffer_[64];
    std::size_t buffered_ = 0;
};

/// Digest of `len` bytes at `data` as 32 lower-case hexadecimal digits. Thread-safe.
std::string md5Hex(const void* data, std::size_t len);

/// Digest of `text` as 32 lower-case hexadecimal digits. Thread-safe.
std::string md5Hex(std::string_view text);

} // namespace lumo
