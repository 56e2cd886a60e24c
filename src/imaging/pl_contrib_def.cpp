#include "imaging/pl_contrib_def.h"

#include <cmath>
#include <numbers>

double PLBilinearContribDef::Filter(double x) const {
    const double distance = std::fabs(x);
    return distance < GetWidth() ? GetWidth() - distance : 0.0;
}

double PLGaussianContribDef::Filter(double x) const {
    if (std::fabs(x) > GetWidth()) return 0.0;
    return std::exp(-x * x / GetWidth() - 1.0) / std::sqrt(2.0 * std::numbers::pi);
}
