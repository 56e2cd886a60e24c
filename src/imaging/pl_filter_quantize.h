#pragma once

// Reduces a 32-bit bitmap to an 8-bit paletted one ("I8"). The palette comes from a
// histogram of 5-bit-per-channel colour cells, by median cut or by popularity, or is the
// fixed palette; every pixel then goes to its nearest palette entry, optionally ordered or
// Floyd-Steinberg dithered. The nearest entry is searched once per occupied cell, so all
// colours of one cell share an index.

#include "imaging/pl_filter.h"

#include <array>
#include <cstdint>

class PLFilterQuantize : public PLFilter {
public:
    // Palette types; 4 and above keep the palette the destination is created with (the grey
    // ramp). The caller's palette of type 3 is never set, so type 3 gives the fixed palette.
    static constexpr int MedianCutPalette = 0;
    static constexpr int PopularityPalette = 1;
    static constexpr int FixedPalette = 2;
    static constexpr int UserPalette = 3;

    // Dither types.
    static constexpr int NoDither = 0;
    static constexpr int OrderedDither = 1;
    static constexpr int FloydSteinbergDither = 2;

    PLFilterQuantize(int paletteType, int ditherType);

    // Makes dest an "I8" bitmap of source's size and resolution holding the palette and the
    // mapped pixels. Throws PLTextException code 6 for a source other than 32 bits per pixel,
    // 10 ("Out of memory.") when the working tables cannot be allocated.
    void Apply(const PLBmp& source, PLBmp& dest) const override;

    // The fixed palette: 256 entries of blue, green, red and 0. Entries 0 to 9 and 246 to
    // 255 are the static colours of the Windows system palette, 10 to 15 half-intensity
    // colours, 16 to 231 the cube of the levels 0, 81, 133, 177, 217 and 255 (blue fastest),
    // 232 to 245 greys from 196 in steps of 3.
    static const std::array<std::uint8_t, 1024>& GetFixedPalette();

private:
    int paletteType = MedianCutPalette;
    int ditherType = OrderedDither;
};

// The quantiser that bitmaps register (PLRegisterQuantizer): PLFilterQuantize with the
// target bitmap's palette and dither types. Throws as PLFilterQuantize::Apply.
void PLFilterQuantizeBitmap(int paletteType, int ditherType, const PLBmp& source, PLBmp& dest);
