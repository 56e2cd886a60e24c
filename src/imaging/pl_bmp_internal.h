#pragma once

// Row access shared by the bitmap conversions and the filters: any row the library can
// read is turned into 32-bit pixels (blue, green, red, alpha) and written back from them.

#include <cstdint>

// True for the depths PLReadRowBgra understands: 1, 8, 16, 24 and 32 bits.
bool PLCanReadRowBgra(std::uint32_t bitsPerPixel);

// Reads count pixels of row as 4 bytes each: 1 and 8 bits through the palette (whole
// entries, alpha included), 16 bits expanded from R5G6B5 with alpha 255, 24 bits with alpha
// 255, 32 bits as they are.
void PLReadRowBgra(const std::uint8_t* row, std::uint32_t bitsPerPixel,
                   const std::uint8_t* palette, std::int32_t count, std::uint8_t* bgra);

// Writes count 4-byte pixels into a row of 16 (packed to R5G6B5), 24 (alpha dropped) or 32
// bits.
void PLWriteRowFromBgra(const std::uint8_t* bgra, std::uint32_t bitsPerPixel,
                        std::int32_t count, std::uint8_t* row);

// Bytes per line of a packed row: width * bpp / 8, plus 1 for 1-bit rows whose width is not
// a multiple of 8, in 64 bits.
std::int64_t PLRowBytes(std::int64_t width, std::uint32_t bitsPerPixel);
