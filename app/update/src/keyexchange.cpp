#include "update/keyexchange.h"

#include "platform/system_random.h"

namespace murlo {

namespace {

// a * b as a 256-bit value hi * 2^128 + lo.
void mulWide(U128 a, U128 b, U128* hi, U128* lo) {
    const quint64 a0 = quint64(a), a1 = quint64(a >> 64);
    const quint64 b0 = quint64(b), b1 = quint64(b >> 64);
    const U128 p00 = U128(a0) * b0, p01 = U128(a0) * b1;
    const U128 p10 = U128(a1) * b0, p11 = U128(a1) * b1;
    const U128 mid = (p00 >> 64) + quint64(p01) + quint64(p10);
    *lo = (mid << 64) | quint64(p00);
    *hi = p11 + (p01 >> 64) + (p10 >> 64) + (mid >> 64);
}

// hi * 2^128 + lo modulo p, using 2^128 = 159 (mod p).
U128 reduce(U128 hi, U128 lo) {
    while (hi != 0) {
        U128 h, l;
        mulWide(hi, 159, &h, &l);
        const U128 sum = lo + l;
        hi = h + (sum < lo ? 1 : 0);
        lo = sum;
    }
    return lo >= kPrime ? lo - kPrime : lo;
}

} // namespace

U128 mulMod(U128 a, U128 b) {
    U128 hi, lo;
    mulWide(a, b, &hi, &lo);
    return reduce(hi, lo);
}

U128 powMod(U128 base, U128 exponent) {
    U128 result = 1;
    base = reduce(0, base);
    while (exponent != 0) {
        if (exponent & 1)
            result = mulMod(result, base);
        base = mulMod(base, base);
        exponent >>= 1;
    }
    return result;
}

U128 fromKeyBytes(const QByteArray& bytes) {
    U128 v = 0;
    for (int i = qMin(bytes.size(), kKeyBytes) - 1; i >= 0; --i)
        v = (v << 8) | quint8(bytes[i]);
    return v;
}

QByteArray toKeyBytes(U128 value) {
    QByteArray out(kKeyBytes, '\0');
    for (int i = 0; i < kKeyBytes; ++i) {
        out[i] = char(quint8(value & 0xFF));
        value >>= 8;
    }
    return out;
}

KeyAgreement agree(const QByteArray& terminalValue, const QByteArray& exponent) {
    const U128 x = fromKeyBytes(exponent);
    return KeyAgreement{toKeyBytes(powMod(kGenerator, x)),
                        toKeyBytes(powMod(fromKeyBytes(terminalValue), x))};
}

QByteArray secretExponent() {
    QByteArray x(kKeyBytes, '\0');
    if (!platform::systemRandom(x.data(), size_t(x.size())))
        return {};
    return x;
}

} // namespace murlo
