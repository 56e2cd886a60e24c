#pragma once

// Turns a bitmap into 8-bit grey ("L8").

#include "imaging/pl_filter.h"

class PLFilterGrayscale : public PLFilter {
public:
    // A pure luminance source is copied as it is. Otherwise dest becomes "L8" of the same
    // size and resolution, grey = trunc(0.212671 red + 0.71516 green + 0.072169 blue).
    // Throws PLTextException code 6 for depths the library cannot read (48 bits).
    void Apply(const PLBmp& source, PLBmp& dest) const override;
};
