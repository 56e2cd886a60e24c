#include "imaging/pl_filter_resize_bilinear.h"

#include "imaging/pl_contrib_def.h"

void PLFilterResizeBilinear::Apply(const PLBmp& source, PLBmp& dest) const {
    const PLBilinearContribDef kernel(0.64);
    Resize(source, dest, kernel, true);
}
