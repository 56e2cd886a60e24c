#pragma once

// The name order of groups and bots, and the numeric suffixes that keep their names unique.
// Two names compare by their lower-case copies, byte by byte, with only A to Z lowered (the
// C locale), so the order never depends on the user's locale; names equal except for case
// are equivalent.

#include <cstdint>
#include <string>
#include <string_view>

// Negative, zero or positive as a sorts before, with or after b.
int CompareNamesNoCase(std::string_view a, std::string_view b);

// True when a sorts before b in CompareNamesNoCase order.
inline bool NameLess(std::string_view a, std::string_view b) {
    return CompareNamesNoCase(a, b) < 0;
}

// Cuts name before its last "-" when everything after that "-" is decimal digits (or
// nothing); other names are left alone.
void CutNumericSuffix(std::string& name);

// base, "-" and n (not negative) with at least `digits` digits, zero-padded ("%04d" for 4).
std::string NameWithSuffix(std::string_view base, std::int32_t n, int digits);
