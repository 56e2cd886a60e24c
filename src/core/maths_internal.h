#pragma once

// Helpers shared by the maths units of core; nothing outside src/core includes this.

#include "core/matrix3.h"

#include <bit>
#include <cstdint>

// The biased binary exponent of a double: 0 for zero and subnormals, 0x7FF for
// infinities and NaN.
inline int DoubleExponentField(double v) {
    return static_cast<int>((std::bit_cast<std::uint64_t>(v) >> 52) & 0x7FF);
}

// det(M) expanded along the first row with the cofactors of Matrix3Adjugate, the same
// value that Matrix3Inverse divides by.
double Matrix3Determinant(const Matrix3& m);

// (1 - c) a a^T + c I + s [a]x: the rotation about the unit axis a whose angle has cosine c
// and sine s.
Matrix3 Matrix3FromAxisCosSin(const Vec3& axis, double c, double s);

// The largest root of t^3 - 3t - r = 0 for r in [0, 2] (it lies in [sqrt(3), 2]): a
// rational start that is already close over the whole range, then four Newton steps.
double NormalisedCubicLargestRoot(double r);
