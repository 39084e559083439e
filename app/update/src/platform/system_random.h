// Internal: the operating system's cryptographic random source.
#pragma once

#include <cstddef>

namespace murlo::platform {

// Fills n bytes; false when the system source fails.
bool systemRandom(char* out, size_t n);

} // namespace murlo::platform
