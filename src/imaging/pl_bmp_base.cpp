#include "imaging/pl_bmp_base.h"

#include <algorithm>

void PLBmpBase::SetGreyRamp() {
    const int entryCount = GetPixelFormat().GetPaletteSize();
    if (palette.empty() || entryCount < 2) return;
    const int step = 255 / (entryCount - 1);
    for (int i = 0; i < entryCount; ++i) {
        std::uint8_t* entry = palette.data() + 4 * i;
        const auto grey = static_cast<std::uint8_t>(i * step);
        entry[0] = grey;
        entry[1] = grey;
        entry[2] = grey;
        entry[3] = 255;
    }
}

void PLBmpBase::CopyPalette(const std::uint8_t* entries) {
    if (palette.empty()) return;
    std::copy_n(entries, palette.size(), palette.begin());
}

void PLBmpBase::SetQuantizationMode(int dither, int paletteType) {
    ditherType = dither;
    ditherPaletteType = paletteType;
}

void PLBmpBase::InitHeader(std::int32_t width, std::int32_t height,
                           const PLPixelFormat& pixelFormat) {
    SetInfo({width, height}, {0, 0}, pixelFormat);
    SetGreyRamp();
}
