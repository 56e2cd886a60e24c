#include "core/number_text.h"

#include <algorithm>
#include <charconv>

std::string IntToString(std::int32_t value) {
    char text[16];
    const std::to_chars_result result = std::to_chars(text, text + sizeof(text), value);
    if (result.ec != std::errc()) return "ERROR";
    return std::string(text, result.ptr);
}

std::int32_t DecimalTextToInt32(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    constexpr std::uint64_t Limit = std::uint64_t{1} << 63;
    std::uint64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = std::min(magnitude * 10 + static_cast<std::uint64_t>(text[i] - '0'), Limit);
    }
    if (!negative && magnitude == Limit) magnitude = Limit - 1;
    const std::uint64_t bits = negative ? ~magnitude + 1 : magnitude;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits & 0xFFFFFFFFu));
}
