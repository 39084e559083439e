// A small MD5 (RFC 1321) of the simulated terminal, kept apart from the
// product's so that the terminal checks the product's login digest on its own.
#pragma once

#include <string>
#include <string_view>

namespace simpelzo {

// Digest of the bytes as 32 lower-case hexadecimal digits.
std::string md5Hex(std::string_view bytes);

} // namespace simpelzo
