#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The decimal text of the value.
std::string IntToString(std::int32_t value);

// Decimal text as the C library's atoi reads it: leading blanks, a sign, digits up to the
// first other character; empty or non-numeric text gives 0. Values beyond the 64-bit range
// saturate and the low 32 bits are kept, so "4294967295" reads as -1 and an unsigned word
// written either as "%d" or as "%u" comes back with the same bits.
std::int32_t DecimalTextToInt32(std::string_view text);
