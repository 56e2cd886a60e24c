#pragma once

// Decimal text of numbers, and numbers read from text the way the C library's atoi and atof
// read them (the files of the system were written and read that way): whatever leading
// number the text holds, 0 when it holds none. Nothing here depends on the locale.

#include <cstdint>
#include <string>
#include <string_view>

// The decimal text of the value.
std::string IntToString(std::int32_t value);

// Decimal text as atoi reads it: leading blanks, a sign, digits up to the first other
// character; absent or empty text gives 0. Values beyond the 64-bit range saturate, and the
// result keeps the low 32 bits, so "4294967295" reads as -1 and an unsigned value written
// either way comes back with the same bits.
std::int32_t TextToInt32(std::string_view text);

// The leading number of the text as atof reads it: leading blanks, a sign, then a decimal
// number with an optional exponent, a hexadecimal one after "0x", or "inf", "infinity" or
// "nan" in any case; 0.0 when the text starts with none. A value too large for a double
// gives an infinity of its sign and one too small a zero of its sign.
double TextToDouble(std::string_view text);
