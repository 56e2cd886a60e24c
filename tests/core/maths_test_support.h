#pragma once

// Seeded random inputs for the maths tests, drawn from the project generator so that a
// failing case repeats; each test reseeds and reports the case index on failure.

#include "core/crt_random.h"
#include "core/matrix3.h"
#include "core/rotation.h"
#include "core/vec3.h"

#include <bit>
#include <cmath>
#include <cstdint>

// Uniform in [-1, 1] with 30 bits of resolution.
inline double RandomSigned() {
    const double high = CrtRand();
    const double low = CrtRand();
    return ((high * 32768.0 + low) / (32768.0 * 32768.0 - 1.0)) * 2.0 - 1.0;
}

// A value whose magnitude spans 10^-range .. 10^range, with a random sign.
inline double RandomWideValue(double range) {
    return std::copysign(std::pow(10.0, RandomSigned() * range), RandomSigned());
}

inline Vec3 RandomVec3() { return Vec3{RandomSigned(), RandomSigned(), RandomSigned()}; }

inline Vec3 RandomUnitVec3() {
    for (;;) {
        Vec3 v = RandomVec3();
        const double length = Vec3Length(v);
        if (length > 0.1 && length <= 1.0) return Vec3Scale(v, 1.0 / length);
    }
}

// A rotation by an angle in (-pi, pi) about a random axis.
inline Matrix3 RandomRotation() {
    return Matrix3FromAxisAngle(RandomUnitVec3(), RandomSigned() * 3.14159);
}

inline Matrix3 RandomSymmetric(double scale) {
    Matrix3 m;
    for (int row = 0; row < 3; ++row) {
        for (int col = row; col < 3; ++col) {
            m.m[3 * row + col] = RandomSigned() * scale;
            m.m[3 * col + row] = m.m[3 * row + col];
        }
    }
    return m;
}

inline double MaxAbsDifference(const Matrix3& a, const Matrix3& b) {
    double worst = 0.0;
    for (int i = 0; i < 9; ++i) worst = std::fmax(worst, std::fabs(a.m[i] - b.m[i]));
    return worst;
}

// Largest deviation of R R^T from the identity.
inline double OrthonormalityError(const Matrix3& r) {
    return MaxAbsDifference(Matrix3Product(r, Matrix3Transpose(r)), Matrix3SetDiagonal(1.0));
}

inline std::uint64_t Bits(double v) { return std::bit_cast<std::uint64_t>(v); }
