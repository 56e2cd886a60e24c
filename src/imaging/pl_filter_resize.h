#pragma once

// Base of the resize filters: the new size and the two-pass scale both kinds share.

#include "imaging/pl_filter.h"

#include <cstdint>

class PLContribDef;

class PLFilterResize : public PLFilter {
public:
    PLFilterResize(std::int32_t newWidth, std::int32_t newHeight);

protected:
    // dest becomes newWidth x newHeight in source's format and resolution, scaled with
    // the kernel. 32-bit sources scale 4 bytes a pixel, 24-bit ones 3 when allow24 is set.
    // Throws PLTextException code 6 for any other depth, 10 for sizes too large to hold.
    void Resize(const PLBmp& source, PLBmp& dest, const PLContribDef& kernel,
                bool allow24) const;

private:
    std::int32_t newWidth = 0;
    std::int32_t newHeight = 0;
};
