#include "imaging/pl_filter.h"

#include "imaging/pl_any_bmp.h"

void PLFilter::ApplyInPlace(PLBmp& bmp) const {
    PLAnyBmp result;
    Apply(bmp, result);
    bmp.CreateCopy(result);
}
