#pragma once

// The wrap map of a prismatic part: how the shader wraps a texture image around a box, a
// flat-sided cylinder or a corner rod. The part's builder makes one on the private heap when
// the part's material carries an image and the record has none; the record owns it, and the
// shape build frees it before every rebuild.

#include <array>
#include <cstdint>

struct TextureParams;

enum class WrapMapKind : std::uint32_t {
    CornerRod = 0,
    Box = 1,
    FlatSidedCylinder = 2,
};

struct WrapMapRecord {
    WrapMapKind kind = WrapMapKind::Box;
    std::uint32_t flags = 0;      // corner rod: which section directions point inwards
    std::int32_t levelIndex = 0;  // corner rod: 0..160, from the exponent of scaledWidth
    float fraction = 0;           // corner rod
    float scaledWidth = 0;        // corner rod: 2 p16 g, held to 2^-20..2^20
    // Per kind, in order:
    //   box: scale pi / (a + c), 0, a/2, b/2, c/2;
    //   flat-sided cylinder: scale, half the width of a flat, r, h/2;
    //   corner rod: its wall and end terms, in the order of CornerRodWrapValue
    //   (corner_rod_wrap.h).
    std::array<double, 17> values{};
    TextureParams* texParams = nullptr;  // not owned: the part's material
};
