#include "core/number_text.h"

#include <charconv>

std::string IntToString(std::int32_t value) {
    char text[16];
    const std::to_chars_result result = std::to_chars(text, text + sizeof(text), value);
    if (result.ec != std::errc()) return "ERROR";
    return std::string(text, result.ptr);
}
