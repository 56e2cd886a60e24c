#pragma once

// Resize with a Gaussian kernel of the given radius.

#include "imaging/pl_filter_resize.h"

class PLFilterResizeGaussian : public PLFilterResize {
public:
    // The radius must be positive (checked).
    PLFilterResizeGaussian(std::int32_t newWidth, std::int32_t newHeight, double radius);

    // Throws PLTextException code 6 for sources of other than 32 bits: convert them first.
    void Apply(const PLBmp& source, PLBmp& dest) const override;

private:
    double radius = 0;
};
