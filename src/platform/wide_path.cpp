#include "platform/wide_path.h"

#include <cstdint>

namespace {

constexpr char32_t ReplacementCharacter = 0xFFFD;

bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit < 0xDC00; }
bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit < 0xE000; }

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The text as UTF-8, each surrogate without its pair written as U+FFFD; isWhole is cleared
// when there was one.
std::string ConvertUtf16(std::u16string_view text, bool& isWhole) {
    isWhole = true;
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (IsHighSurrogate(cp) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (IsHighSurrogate(cp) || IsLowSurrogate(cp)) {
            cp = ReplacementCharacter;
            isWhole = false;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

}  // namespace

std::optional<std::string> WidePathToUtf8(std::u16string_view path) {
    bool isWhole = true;
    std::string converted = ConvertUtf16(path, isWhole);
    if (!isWhole) return std::nullopt;
    return converted;
}

std::string WidePathForDisplay(std::u16string_view path) {
    bool isWhole = true;
    return ConvertUtf16(path, isWhole);
}
