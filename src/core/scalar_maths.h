#pragma once

// Angle constants and the scalar helpers of the maths layer.
//
// The angle constants are fixed at compile time with the bits of atan(1.0) * 4.0,
// pi * 0.5 and pi / 180.0, so they hold their values before any start-up code runs.

#include <cstdint>

inline constexpr double PI = 3.141592653589793;
inline constexpr double HALF_PI = PI * 0.5;
inline constexpr double TWO_PI = PI * 2.0;
inline constexpr double DEG_TO_RAD = PI / 180.0;

// Rounds half away from zero; above 1879048192.0 gives 0x70000000 and below -1879048192.0
// gives 0x90000000, so the result always leaves headroom for small integer sums. NaN gives
// INT32_MIN.
std::int32_t RoundToIntClamped(double x);

// Square root taken in double and rounded to float.
float SqrtFloat(float x);

// |x| in single precision; -0.0 gives 0.0 and a NaN stays a NaN.
float AbsFloat(float x);

// The angle of (x, y) in [-pi, pi], as atan2(y, x), built from asin or acos of whichever
// coordinate is better conditioned. (0, 0) gives 0.
double AngleOfVector2(double x, double y);
