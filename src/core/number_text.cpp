#include "core/number_text.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace {

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Whether the number that from_chars refused as out of range had a negative exponent (so it
// underflowed rather than overflowed). The text starts at the number's first digit.
bool ExponentIsNegative(std::string_view number, bool hexadecimal) {
    const char mark = hexadecimal ? 'p' : 'e';
    for (std::size_t i = 0; i < number.size(); ++i) {
        const char c = static_cast<char>(number[i] | 0x20);
        if (c == mark) return i + 1 < number.size() && number[i + 1] == '-';
        const bool partOfNumber = hexadecimal ? IsHexDigit(number[i]) : IsDigit(number[i]);
        if (!partOfNumber && number[i] != '.') return false;
    }
    return false;
}

}  // namespace

std::string IntToString(std::int32_t value) {
    char text[16];
    const std::to_chars_result result = std::to_chars(text, text + sizeof(text), value);
    if (result.ec != std::errc()) return "ERROR";
    return std::string(text, result.ptr);
}

std::int32_t TextToInt32(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    constexpr std::uint64_t Limit = std::uint64_t{1} << 63;
    std::uint64_t magnitude = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        // Saturate before the product can wrap round.
        magnitude = magnitude > (Limit - digit) / 10 ? Limit : magnitude * 10 + digit;
    }
    if (!negative && magnitude == Limit) magnitude = Limit - 1;
    const std::uint64_t bits = negative ? ~magnitude + 1 : magnitude;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits & 0xFFFFFFFFu));
}

double TextToDouble(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::string_view number = text.substr(i);
    // from_chars takes no sign, and reads hexadecimal digits only without their "0x".
    bool hexadecimal = false;
    if (number.size() > 2 && number[0] == '0' && (number[1] | 0x20) == 'x' &&
        (IsHexDigit(number[2]) ||
         (number[2] == '.' && number.size() > 3 && IsHexDigit(number[3])))) {
        hexadecimal = true;
        number.remove_prefix(2);
    }
    double value = 0.0;
    const std::chars_format format =
        hexadecimal ? std::chars_format::hex : std::chars_format::general;
    const std::from_chars_result result =
        std::from_chars(number.data(), number.data() + number.size(), value, format);
    if (result.ec == std::errc::result_out_of_range) {
        value =
            ExponentIsNegative(number, hexadecimal) ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (result.ec != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}
