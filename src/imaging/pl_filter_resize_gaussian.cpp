#include "imaging/pl_filter_resize_gaussian.h"

#include "core/check.h"
#include "imaging/pl_contrib_def.h"

PLFilterResizeGaussian::PLFilterResizeGaussian(std::int32_t width, std::int32_t height,
                                               double kernelRadius)
    : PLFilterResize(width, height), radius(kernelRadius) {
    ORBELLE_CHECK(radius > 0);
}

void PLFilterResizeGaussian::Apply(const PLBmp& source, PLBmp& dest) const {
    const PLGaussianContribDef kernel(radius);
    Resize(source, dest, kernel, false);
}
