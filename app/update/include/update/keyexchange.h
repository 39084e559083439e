// Public: the key agreement of the file-transfer protocol. Diffie-Hellman over the
// integers modulo p = 2^128 - 159 with generator 5; values travel as 16 bytes,
// little-endian (byte 0 least significant). Pure functions, except secretExponent.
#pragma once

#include <QByteArray>

namespace murlo {

using U128 = unsigned __int128;

constexpr int kKeyBytes = 16;
constexpr U128 kPrime = ~U128(0) - 158; // 2^128 - 159
constexpr unsigned kGenerator = 5;

U128 mulMod(U128 a, U128 b);
U128 powMod(U128 base, U128 exponent);

// 16 little-endian bytes to a number and back; fromKeyBytes needs exactly 16 bytes.
U128 fromKeyBytes(const QByteArray& bytes);
QByteArray toKeyBytes(U128 value);

struct KeyAgreement {
    QByteArray reply;      // 5^x mod p, sent to the terminal
    QByteArray sessionKey; // (terminal's value)^x mod p, keys both RC4 generators
};
// The server's half for a terminal's 16-byte value and the private exponent x (16 bytes).
KeyAgreement agree(const QByteArray& terminalValue, const QByteArray& exponent);

// 16 bytes from the system's random source (never a seeded generator); empty when
// the system cannot provide them.
QByteArray secretExponent();

} // namespace murlo
