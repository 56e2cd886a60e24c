#pragma once

// The texture image pyramid: a texture image's colour pixels (and optional 8-bit map, the
// bump map) as a stack of ever more blurred levels for textures seen from afar, and seven
// twice-magnified variants with different interpolation kernels for textures seen close up.
// The shader picks an entry by the pixel's footprint and builds a missing one on demand.
//
// Every entry stores a channel c (0..255) as s = c / 2 + 64: 0x40 is zero and 0xBF/0xC0 full,
// so blur and interpolation kernels may overshoot on either side without wrapping; the shader
// decodes 2 * (s - 64). A bordered image is surrounded by transparency (its edges do not
// wrap); an unbordered image tiles.
//
// All buffers live on the private heap. The builders report a refused allocation as -1 and
// leave the entry concerned null (a partly built entry is never kept), so the shader can retry.

#include <array>
#include <cstdint>

inline constexpr int TexPyramidLevelCount = 13;
inline constexpr int TexPyramidMagnifiedCount = 7;

// Margin added on each side of a bordered image at each level.
inline constexpr std::array<std::int32_t, TexPyramidLevelCount> TexPyramidLevelMargins = {
    3, 5, 6, 7, 10, 13, 15, 20, 25, 29, 40, 51, 59};

struct TexPyramid {
    TexPyramid() = default;
    ~TexPyramid();
    TexPyramid(const TexPyramid&) = delete;
    TexPyramid& operator=(const TexPyramid&) = delete;

    // Level k: levelWidths[k] x levelHeights[k] pixels in the channel form.
    std::array<std::uint32_t*, TexPyramidLevelCount> colourLevels = {};
    // Variant m: magnifiedWidth x magnifiedHeight pixels in the channel form.
    std::array<std::uint32_t*, TexPyramidMagnifiedCount> colourMagnified = {};
    // The blur's scratch: one row with wrapped pixels on both sides, and the rows the column
    // pass keeps aside while it overwrites the level in row order.
    std::uint32_t* rowScratch = nullptr;
    // paddedWidth x paddedHeight plain 0xAARRGGBB pixels.
    std::uint32_t* paddedSource = nullptr;

    // The map entries, one byte per pixel, same sizes as the colour entries.
    std::array<std::uint8_t*, TexPyramidLevelCount> mapLevels = {};
    std::array<std::uint8_t*, TexPyramidMagnifiedCount> mapMagnified = {};
    std::uint8_t* mapRowScratch = nullptr;
    std::uint8_t* paddedMapSource = nullptr;

    // Bordered images only: (height + 1) x (width + 1) corners, 0 when the four pixels around
    // a corner are all fully transparent, 3 when all are fully opaque, 2 otherwise.
    std::uint8_t* cornerMap = nullptr;

    // w1..w4 of the magnification built last.
    std::array<std::int32_t, 4> kernelWeights = {};
    std::array<std::int32_t, TexPyramidLevelCount> levelWidths = {};
    std::array<std::int32_t, TexPyramidLevelCount> levelHeights = {};
    std::int32_t paddedWidth = 0;
    std::int32_t paddedHeight = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t magnifiedWidth = 0;
    std::int32_t magnifiedHeight = 0;
    std::uint8_t bordered = 0;
    std::uint8_t borderedCopy = 0;
};

// Corner map values.
inline constexpr std::uint8_t TexCornerTransparent = 0;
inline constexpr std::uint8_t TexCornerMixed = 2;
inline constexpr std::uint8_t TexCornerOpaque = 3;

// Puts the pyramid into the empty state, freeing whatever it held.
void TexPyramidInit(TexPyramid& pyramid);

// Frees every buffer; the pyramid is empty afterwards.
void TexPyramidFree(TexPyramid& pyramid);

// Frees the map levels, map magnifications, map scratch and padded map source.
void TexPyramidDropMap(TexPyramid& pyramid);

// True when the pyramid holds an image (SetImage succeeded and nothing was freed since).
bool TexPyramidHasImage(const TexPyramid& pyramid);

// True when the pyramid holds a map beside its image.
bool TexPyramidHasMap(const TexPyramid& pyramid);

// Takes a new colour image of width x height 0xAARRGGBB pixels, rows rowPitch pixels apart,
// and builds level 0 (and the corner map when bordered). Returns 0 or -1. An unusable size
// (not positive, pitch below the width, buffers beyond 4 GB) gives -1 and leaves the pyramid
// as it was; a refused allocation gives -1 and leaves it without image or map.
int TexPyramidSetImage(TexPyramid& pyramid, const std::uint32_t* pixels, std::int32_t rowPitch,
                       std::int32_t width, std::int32_t height, bool bordered);

// Takes a new 8-bit map of the image's size, rows rowPitchBytes apart, and builds map level 0.
// Returns 0, or -1 when there is no image, the pitch is below the width, or an allocation is
// refused; after -1 the pyramid holds no map.
int TexPyramidSetMap(TexPyramid& pyramid, const std::uint8_t* pixels, std::int32_t rowPitchBytes);

// Builds colour level k (and map level k when a map is present), building missing lower levels
// first. Returns 0, or -1 when there is no image, k is outside 0..12 or an allocation is refused.
int TexPyramidBuildLevel(TexPyramid& pyramid, int k);

// Builds colour magnification m (and map magnification m when a map is present). Returns 0, or
// -1 when there is no image, m is outside 0..6 or an allocation is refused.
int TexPyramidBuildMagnified(TexPyramid& pyramid, int m);

// The kernel weights w1..w4 of magnification m (0..6); they sum to 64.
std::array<std::int32_t, 4> TexPyramidMagnifyWeights(int m);
