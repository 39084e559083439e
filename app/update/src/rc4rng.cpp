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
    i_ = (i_ + 1) & 0xFF;
    const quint32 a = s_[i_];
    j_ = (j_ + a) & 0xFF;
    const quint32 b = s_[j_];
    s_[i_] = b;
    s_[j_] = a;
    return quint8(s_[(a + b) & 0xFF]);
}

void RC4RNG::apply(const char* in, char* out, size_t n) {
    quint32 i = i_, j = j_;
    for (size_t k = 0; k < n; ++k) {
        i = (i + 1) & 0xFF;
        const quint32 a = s_[i];
        j = (j + a) & 0xFF;
        const quint32 b = s_[j];
        s_[i] = b;
        s_[j] = a;
        out[k] = char(quint8(in[k]) ^ quint8(s_[(a + b) & 0xFF]));
    }
    i_ = i;
    j_ = j;
}

} // namespace tesmo
