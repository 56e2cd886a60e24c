#pragma once

// Float-to-integer conversions with defined results. The system was built where a
// conversion of NaN or an out-of-range value gives 0x80000000 (the x86 "integer
// indefinite"); C++ leaves those cases undefined, so every such conversion goes through here.

#include <cmath>
#include <cstdint>

// Truncates toward zero; NaN and values outside the int32 range give INT32_MIN.
inline std::int32_t TruncToInt32(double v) {
    if (!(v > -2147483649.0 && v < 2147483648.0)) return INT32_MIN;
    return static_cast<std::int32_t>(v);
}

// Rounds to nearest with ties to even, as the hardware's conversion does in the default
// rounding mode; NaN and out-of-range values give INT32_MIN.
inline std::int32_t RoundToInt32(double v) {
    if (!(v > -2147483648.5 && v < 2147483647.5)) return INT32_MIN;
    return static_cast<std::int32_t>(std::nearbyint(v));
}

// Rounds half away from zero: x + 0.5 truncated for x >= 0, x - 0.5 truncated otherwise;
// NaN and values whose rounding leaves the int32 range give INT32_MIN.
inline std::int32_t RoundToInt(double x) { return TruncToInt32(x >= 0.0 ? x + 0.5 : x - 0.5); }

// floor() as an int32; NaN and out-of-range values give INT32_MIN.
inline std::int32_t FloorToInt32(double v) { return TruncToInt32(std::floor(v)); }
