#pragma once

// The CRC-32 that identifies texture pixels and bump maps: the reflected form of polynomial
// 0x04C11DB7 (table constant 0xEDB88320), initial value 0xFFFFFFFF and a final complement, so
// the values agree with zlib's. The table is computed at compile time.

#include <array>
#include <cstddef>
#include <cstdint>

// The 256-entry table: entry i is the bit-reversed MSB-first remainder of the bit-reversed i.
constexpr std::array<std::uint32_t, 256> BuildCrc32Table() {
    // Reverses the low `bits` bits of v.
    auto reflect = [](std::uint32_t v, int bits) {
        std::uint32_t r = 0;
        for (int i = 0; i < bits; ++i) {
            r = (r << 1) | ((v >> i) & 1u);
        }
        return r;
    };
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = reflect(i, 8) << 24;
        for (int step = 0; step < 8; ++step) {
            c = (c & 0x80000000u) != 0 ? (c << 1) ^ 0x04C11DB7u : c << 1;
        }
        table[i] = reflect(c, 32);
    }
    return table;
}

inline constexpr std::array<std::uint32_t, 256> Crc32Table = BuildCrc32Table();

// Runs the table-driven update over count bytes; crc carries the running value (no initial
// value or final complement is applied here). A null pointer with a zero count does nothing.
void Crc32Update(std::uint32_t& crc, const void* bytes, std::size_t count);

// The CRC-32 of count bytes; 0 for a null pointer or a zero count.
std::uint32_t Crc32(const void* bytes, std::size_t count);
