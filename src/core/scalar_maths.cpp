#include "core/scalar_maths.h"

#include "core/float_convert.h"
#include "core/maths_internal.h"

#include <cmath>

std::int32_t RoundToIntClamped(double x) {
    if (x > 1879048192.0) return 0x70000000;
    if (x < -1879048192.0) return -0x70000000;  // 0x90000000
    if (x >= 0.0) return TruncToInt32(x + 0.5);
    return TruncToInt32(x - 0.5);
}

float SqrtFloat(float x) { return static_cast<float>(std::sqrt(static_cast<double>(x))); }

float AbsFloat(float x) { return std::fabs(x); }

double AngleOfVector2(double x, double y) {
    // Work in the upper half plane and mirror the result, so asin and acos only ever see
    // the quadrants they cover.
    const bool isLower = y < 0.0;
    if (isLower) y = -y;
    const double r = std::sqrt(x * x + y * y);
    double cosine = 1.0;
    double sine = 0.0;
    if (DoubleExponentField(r) != 0) {
        cosine = x / r;
        sine = y / r;
    }
    double angle;
    if (sine * sine < cosine * cosine) {
        angle = std::asin(sine);
        if (cosine < 0.0) angle = PI - angle;
    } else {
        angle = std::acos(cosine);
    }
    return isLower ? -angle : angle;
}
