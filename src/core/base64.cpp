#include "core/base64.h"

#include "core/check.h"

#include <cstring>

namespace {

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

std::uint32_t Reverse(char c) { return Base64ReverseTable[static_cast<std::uint8_t>(c)]; }

}  // namespace

std::string Base64Encode(std::span<const std::uint8_t> bytes) {
    const std::size_t n = bytes.size();
    const std::size_t groupCount = (n + 2) / 3;
    std::string out;
    out.reserve(groupCount * 4 + (groupCount / (Base64LineLength / 4)) * 2);
    std::size_t lineCount = 0;
    std::size_t i = 0;
    auto emitGroup = [&](char c0, char c1, char c2, char c3) {
        const char group[4] = {c0, c1, c2, c3};
        out.append(group, 4);
        lineCount += 4;
        if (lineCount == Base64LineLength) {
            out.append("\r\n", 2);
            lineCount = 0;
        }
    };
    for (; i + 3 <= n; i += 3) {
        const std::uint32_t b0 = bytes[i], b1 = bytes[i + 1], b2 = bytes[i + 2];
        emitGroup(Base64Alphabet[b0 >> 2], Base64Alphabet[((b0 & 3) << 4) | (b1 >> 4)],
                  Base64Alphabet[((b1 & 15) << 2) | (b2 >> 6)], Base64Alphabet[b2 & 63]);
    }
    if (n - i == 1) {
        const std::uint32_t b0 = bytes[i];
        emitGroup(Base64Alphabet[b0 >> 2], Base64Alphabet[(b0 & 3) << 4], '=', '=');
    } else if (n - i == 2) {
        const std::uint32_t b0 = bytes[i], b1 = bytes[i + 1];
        emitGroup(Base64Alphabet[b0 >> 2], Base64Alphabet[((b0 & 3) << 4) | (b1 >> 4)],
                  Base64Alphabet[(b1 & 15) << 2], '=');
    }
    return out;
}

std::string BytesToBase64(const void* bytes, std::size_t count) {
    if (bytes == nullptr) return {};
    return Base64Encode(std::span(static_cast<const std::uint8_t*>(bytes), count));
}

std::vector<std::uint8_t> Base64Decode(std::string_view text) {
    const std::size_t n = text.size();
    std::vector<std::uint8_t> out;
    out.reserve(n / 4 * 3 + 3);
    std::size_t i = 0;
    while (i < n) {
        if (IsLineBreak(text[i])) {
            ++i;
            continue;
        }
        // A whole group with no break or padding inside is the common case.
        if (i + 4 <= n) {
            const std::uint32_t d0 = Reverse(text[i]), d1 = Reverse(text[i + 1]);
            const std::uint32_t d2 = Reverse(text[i + 2]), d3 = Reverse(text[i + 3]);
            if (((d0 | d1 | d2 | d3) & 0xFFFFFFC0u) == 0) {
                out.push_back(static_cast<std::uint8_t>((d0 << 2) | (d1 >> 4)));
                out.push_back(static_cast<std::uint8_t>((d1 << 4) | (d2 >> 2)));
                out.push_back(static_cast<std::uint8_t>((d2 << 6) | d3));
                i += 4;
                continue;
            }
        }
        // A group needs two characters to yield its first byte; a lone trailing one yields
        // nothing rather than a byte made up from past the end of the text.
        if (n - i < 2) break;
        const std::uint32_t d0 = Reverse(text[i]);
        const std::uint32_t d1 = Reverse(text[i + 1]);
        i += 2;
        out.push_back(static_cast<std::uint8_t>((d0 << 2) | ((d1 >> 4) & 3)));
        if (i < n && IsLineBreak(text[i])) ++i;
        if (i >= n || text[i] == '=') break;
        const std::uint32_t d2 = Reverse(text[i]);
        ++i;
        out.push_back(static_cast<std::uint8_t>((d1 << 4) | ((d2 >> 2) & 15)));
        if (i < n && IsLineBreak(text[i])) ++i;
        if (i >= n || text[i] == '=') break;
        const std::uint32_t d3 = Reverse(text[i]);
        ++i;
        out.push_back(static_cast<std::uint8_t>((d2 << 6) | d3));
    }
    return out;
}

std::size_t Base64ToBytes(std::string_view text, void* destination, std::size_t capacityBytes,
                          std::size_t elementSize) {
    ORBELLE_CHECK(elementSize > 0);
    if (text.empty()) return 0;
    const std::vector<std::uint8_t> bytes = Base64Decode(text);
    std::size_t count = bytes.size() < capacityBytes ? bytes.size() : capacityBytes;
    count -= count % elementSize;
    if (count > 0) std::memcpy(destination, bytes.data(), count);
    return count;
}
