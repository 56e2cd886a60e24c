#pragma once

// Base of the image filters: a filter reads one bitmap and writes another.

#include "imaging/pl_object.h"

class PLBmp;

class PLFilter : public PLObject {
public:
    // Applies the filter into a temporary bitmap and copies the result back into bmp.
    // Throws what Apply throws; bmp is unchanged then.
    virtual void ApplyInPlace(PLBmp& bmp) const;

    // Makes dest the filtered image of source. Source and dest may be the same bitmap.
    // Throws PLTextException for bitmaps the filter cannot handle.
    virtual void Apply(const PLBmp& source, PLBmp& dest) const = 0;
};
