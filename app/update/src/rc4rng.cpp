#include "update/rc4rng.h"

namespace tesmo {

void RNG::apply(const char* in, char* out, size_t n) {
    for (size_t k = 0; k < n; ++k)
        out[k] = char(quint8(in[k]) ^ next());
}

RC4RNG::RC4RNG(const QByteArray& key) {
    for (quint32 k = 0; k < 256; ++k)
        s_[k] = k;
    if (key.isEmpty())
        return;
    quint32 j = 0;
    for (quint32 k = 0; k < 256; ++k) {
        j = (j + s_[k] + quint8(key[int(k % quint32(key.size()))])) & 0xFF;
        const quint32 t = s_[k];
        s_[k] = s_[j];
        s_[j] = t;
    }
}

quint8 RC4RNG::next() {
    return step(i_, j_);
}

void RC4RNG::apply(const char* in, char* out, size_t n) {
    // The indices stay in registers for the whole run.
    quint32 i = i_, j = j_;
    for (size_t k = 0; k < n; ++k)
        out[k] = char(quint8(in[k]) ^ step(i, j));
    i_ = i;
    j_ = j;
}

} // namespace tesmo
