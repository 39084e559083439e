// Number conversions of the JSON mapping: a floating-point JSON number is
// truncated toward zero into the member's integer type. A value whose truncation does not
// fit the target (and NaN) becomes the target's most negative value (0 for the unsigned
// 64-bit target) by an explicit range check, never by an out-of-range cast.
#pragma once

#include <cstdint>
#include <limits>

namespace vo {

// Truncates toward zero; outside (-2^31 - 1, 2^31) or NaN gives INT32_MIN.
inline std::int32_t truncToInt32(double d) {
    if (d > -2147483649.0 && d < 2147483648.0) {
        return static_cast<std::int32_t>(d);
    }
    return std::numeric_limits<std::int32_t>::min();
}

// Truncates toward zero; outside [-2^63, 2^63) or NaN gives INT64_MIN.
inline std::int64_t truncToInt64(double d) {
    if (d >= -9223372036854775808.0 && d < 9223372036854775808.0) {
        return static_cast<std::int64_t>(d);
    }
    return std::numeric_limits<std::int64_t>::min();
}

// Truncates toward zero; outside (-1, 2^64) or NaN gives 0, the unsigned minimum.
inline std::uint64_t truncToUint64(double d) {
    if (d > -1.0 && d < 18446744073709551616.0) {
        return static_cast<std::uint64_t>(d);
    }
    return 0;
}

} // namespace vo
