// Public: keystream generators of the file-transfer protocol.
#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace tesmo {

// A source of keystream bytes.
class RNG {
public:
    virtual ~RNG() = default;
    virtual quint8 next() = 0;
    // Writes n bytes from in, XORed with the next n keystream bytes, to out (which may
    // be in itself).
    virtual void apply(const char* in, char* out, size_t n);
    void apply(char* data, size_t n) { apply(data, data, n); }
};

// RC4: the standard key schedule over the key bytes and the standard output.
// One generator per direction; not thread-safe.
class RC4RNG final : public RNG {
public:
    explicit RC4RNG(const QByteArray& key);
    quint8 next() override;
    using RNG::apply;
    void apply(const char* in, char* out, size_t n) override;

private:
    quint8 step(quint32& i, quint32& j) {
        i = (i + 1) & 0xFF;
        const quint32 a = s_[i];
        j = (j + a) & 0xFF;
        const quint32 b = s_[j];
        s_[i] = b;
        s_[j] = a;
        return quint8(s_[(a + b) & 0xFF]);
    }
    // Words rather than bytes: byte-wide swaps stall on store forwarding.
    quint32 s_[256];
    quint32 i_ = 0;
    quint32 j_ = 0;
};

} // namespace tesmo
