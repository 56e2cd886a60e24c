#include "app/string_key_table.h"

namespace {

// One third of a mix round: x -= y; x -= z; x ^= z shifted right (or left).
inline std::uint32_t MixRight(std::uint32_t x, std::uint32_t y, std::uint32_t z, int shift) {
    return (x - y - z) ^ (z >> shift);
}
inline std::uint32_t MixLeft(std::uint32_t x, std::uint32_t y, std::uint32_t z, int shift) {
    return (x - y - z) ^ (z << shift);
}

// The reversible mix of lookup2: every bit of a, b and c affects every bit of c.
inline void Mix(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c) {
    a = MixRight(a, b, c, 13);
    b = MixLeft(b, c, a, 8);
    c = MixRight(c, a, b, 13);
    a = MixRight(a, b, c, 12);
    b = MixLeft(b, c, a, 16);
    c = MixRight(c, a, b, 5);
    a = MixRight(a, b, c, 3);
    b = MixLeft(b, c, a, 10);
    c = MixRight(c, a, b, 15);
}

// The little-endian word of up to four bytes starting at p (missing high bytes are zero).
inline std::uint32_t Word(const unsigned char* p, std::size_t n) {
    std::uint32_t w = 0;
    for (std::size_t i = 0; i < n && i < 4; ++i) w |= std::uint32_t{p[i]} << (8 * i);
    return w;
}

}  // namespace

std::uint32_t HashKey(std::string_view key) {
    const auto* k = reinterpret_cast<const unsigned char*>(key.data());
    std::size_t remaining = key.size();
    std::uint32_t a = 0x9e3779b9u;
    std::uint32_t b = 0x9e3779b9u;
    std::uint32_t c = 0;
    while (remaining >= 12) {
        a += Word(k, 4);
        b += Word(k + 4, 4);
        c += Word(k + 8, 4);
        Mix(a, b, c);
        k += 12;
        remaining -= 12;
    }
    // The last block: a and b take up to four bytes each, c up to three above its low byte,
    // which holds the length.
    c += static_cast<std::uint32_t>(key.size());
    a += Word(k, remaining);
    if (remaining > 4) b += Word(k + 4, remaining - 4);
    if (remaining > 8) c += Word(k + 8, remaining - 8) << 8;
    Mix(a, b, c);
    return c;
}
