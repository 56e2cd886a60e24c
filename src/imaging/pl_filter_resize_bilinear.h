#pragma once

// Resize with a narrow tent kernel (width 0.64): same-size copies exactly, halving averages
// neighbour pairs.

#include "imaging/pl_filter_resize.h"

class PLFilterResizeBilinear : public PLFilterResize {
public:
    using PLFilterResize::PLFilterResize;

    // Throws PLTextException code 6 for sources of other than 24 or 32 bits.
    void Apply(const PLBmp& source, PLBmp& dest) const override;
};
