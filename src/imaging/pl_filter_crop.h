#pragma once

// Keeps the columns x1 to x2 - 1 and rows y1 to y2 - 1 of a bitmap.

#include "imaging/pl_filter.h"

#include <cstdint>

class PLFilterCrop : public PLFilter {
public:
    PLFilterCrop(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2);

    // dest becomes the region in source's format, palette and resolution. Throws
    // PLTextException code 6 when the region is not inside source.
    void Apply(const PLBmp& source, PLBmp& dest) const override;

private:
    std::int32_t x1 = 0;
    std::int32_t x2 = 0;
    std::int32_t y1 = 0;
    std::int32_t y2 = 0;
};
