#pragma once

// The two-pass separable scaler behind the resize filters: rows are scaled horizontally
// into an intermediate image, whose columns are then scaled vertically into the
// destination. Each output pixel is a weighted sum of source pixels, channel by channel,
// with integer weights that add up to 256: (sum of source * weight + 128) / 256.
//
// The pixel policy fixes the bytes per pixel at compile time, so the inner loops carry no
// dispatch.

#include <cstdint>
#include <vector>

class PLContribDef;

// 4 bytes a pixel (32-bit bitmaps).
struct CDataRGBA_UBYTE {
    static constexpr int BytesPerPixel = 4;
};

// 3 bytes a pixel (24-bit bitmaps).
struct CDataRGB_UBYTE {
    static constexpr int BytesPerPixel = 3;
};

// The weights of one output pixel: weights[0] applies to source index left.
struct PLContribution {
    std::int32_t left = 0;
    std::int32_t right = -1;
    std::vector<std::int32_t> weights;
};

// The contribution table for outputCount pixels from inputCount with kernel contribDef.
// When shrinking the kernel widens by the inverse scale; weights of every entry with a
// positive sum are normalised to add up to exactly 256.
std::vector<PLContribution> PLBuildContributions(const PLContribDef& contribDef,
                                                 std::int32_t outputCount,
                                                 std::int32_t inputCount);

template <class DataClass>
class C2PassScale {
public:
    // The kernel must outlive the scaler.
    explicit C2PassScale(const PLContribDef& kernel) : contribDef(kernel) {}

    // Scales sourceWidth x sourceHeight pixels (row pointers) into destWidth x destHeight
    // (row pointers). Throws PLTextException code 10 when the intermediate image would be
    // too large to hold.
    void Scale(const std::uint8_t* const* sourceLines, std::int32_t sourceWidth,
               std::int32_t sourceHeight, std::uint8_t* const* destLines,
               std::int32_t destWidth, std::int32_t destHeight) const;

private:
    const PLContribDef& contribDef;
};

extern template class C2PassScale<CDataRGBA_UBYTE>;
extern template class C2PassScale<CDataRGB_UBYTE>;
