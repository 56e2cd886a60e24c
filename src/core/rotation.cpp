#include "core/rotation.h"

#include "core/maths_internal.h"
#include "core/scalar_maths.h"

#include <algorithm>
#include <cmath>

namespace {

Matrix3 RotationX(double t) {
    const double c = std::cos(t);
    const double s = std::sin(t);
    return Matrix3{{1.0, 0.0, 0.0, 0.0, c, -s, 0.0, s, c}};
}

Matrix3 RotationY(double t) {
    const double c = std::cos(t);
    const double s = std::sin(t);
    return Matrix3{{c, 0.0, s, 0.0, 1.0, 0.0, -s, 0.0, c}};
}

Matrix3 RotationZ(double t) {
    const double c = std::cos(t);
    const double s = std::sin(t);
    return Matrix3{{c, -s, 0.0, s, c, 0.0, 0.0, 0.0, 1.0}};
}

// [w]x, so that [w]x v = w x v.
Matrix3 CrossMatrix(const Vec3& w) {
    return Matrix3{{0.0, -w.z, w.y, w.z, 0.0, -w.x, -w.y, w.x, 0.0}};
}

// The axial vector (m7 - m5, m2 - m6, m3 - m1) of R - R^T.
Vec3 AntisymmetricAxis(const Matrix3& r) {
    return Vec3{r.m[7] - r.m[5], r.m[2] - r.m[6], r.m[3] - r.m[1]};
}

double ClampUnit(double v) { return std::min(1.0, std::max(-1.0, v)); }

// The angle whose sine and cosine are sinPart/s and cosPart/s. asin is used on the smaller
// of the two ratios and acos on the other, since each is well conditioned only away from
// +-1, and the quadrant is then fixed from the signs.
double AngleFromSinCos(double sinPart, double cosPart, double s) {
    if (std::fabs(sinPart) < std::fabs(cosPart)) {
        const double angle = std::asin(ClampUnit(sinPart / s));
        if (cosPart < 0.0) return (sinPart >= 0.0 ? PI : -PI) - angle;
        return angle;
    }
    const double angle = std::acos(ClampUnit(cosPart / s));
    return sinPart < 0.0 ? -angle : angle;
}

double WrapToHalfOpenPi(double angle) {
    if (angle > PI) return angle - 2.0 * PI;
    if (angle <= -PI) return angle + 2.0 * PI;
    return angle;
}

}  // namespace

Matrix3 Matrix3FromAxisAngle(const Vec3& axis, double angle) {
    return Matrix3FromAxisCosSin(axis, std::cos(angle), std::sin(angle));
}

Matrix3 Matrix3FromAxisCosSin(const Vec3& axis, double c, double s) {
    const double t = 1.0 - c;
    const double a[3] = {axis.x, axis.y, axis.z};
    const Matrix3 cross = CrossMatrix(axis);
    Matrix3 result;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            const double diagonal = row == col ? c : 0.0;
            result.m[3 * row + col] = t * a[row] * a[col] + diagonal + s * cross.m[3 * row + col];
        }
    }
    return result;
}

Matrix3 RotationFromVector(const Vec3& w) {
    const double t = Vec3Length(w);
    double c1 = 1.0;
    double c2 = 0.5;
    if (t > 1e-16) {
        c1 = std::sin(t) / t;
        const double half = std::sin(t * 0.5) / t;
        c2 = 2.0 * (half * half);
    }
    const Matrix3 k = CrossMatrix(w);
    const Matrix3 kk = Matrix3Product(k, k);
    Matrix3 result;
    for (int i = 0; i < 9; ++i) {
        const double identity = (i % 4 == 0) ? 1.0 : 0.0;
        result.m[i] = identity + c1 * k.m[i] + c2 * kk.m[i];
    }
    return result;
}

Vec3 RotationToVector(const Matrix3& r) {
    const double c = (r.m[0] + r.m[4] + r.m[8] - 1.0) / 2.0;
    double t;
    if (c * c < 0.5) {
        t = std::acos(c);
    } else {
        // acos loses precision near +-1; the sine from the antisymmetric part does not.
        const Matrix3 a = Matrix3Scale(0.5, Matrix3Sub(r, Matrix3Transpose(r)));
        const Matrix3 aa = Matrix3Product(a, a);
        const double s =
            std::min(1.0, std::sqrt(std::max(0.0, -0.5 * (aa.m[0] + aa.m[4] + aa.m[8]))));
        t = std::asin(s);
        if (c < 0.0) t = PI - t;
    }
    const Vec3 axial = AntisymmetricAxis(r);
    if (t <= 2.356194490192345) {
        const double f = t > 1e-16 ? t / std::sin(t) : 1.0;
        return Vec3Scale(axial, f * 0.5);
    }
    // Above three quarters of a turn sin t is small and the axis is read from
    // S = (sym(R) - cos t I) * t^2 / (1 - cos t) = t^2 a a^T instead.
    const double cosT = std::cos(t);
    const Matrix3 symmetric = Matrix3Scale(0.5, Matrix3Add(r, Matrix3Transpose(r)));
    const Matrix3 s =
        Matrix3Scale(t * t / (1.0 - cosT), Matrix3Sub(symmetric, Matrix3SetDiagonal(cosT)));
    int k = 0;
    double largest = std::max(0.0, s.m[0]);
    for (int i = 1; i < 3; ++i) {
        if (std::max(0.0, s.m[4 * i]) > largest) {
            largest = std::max(0.0, s.m[4 * i]);
            k = i;
        }
    }
    const double axialK[3] = {axial.x, axial.y, axial.z};
    double wk = std::sqrt(largest);
    if (axialK[k] < 0.0) wk = -wk;
    double w[3];
    for (int j = 0; j < 3; ++j) w[j] = j == k ? wk : s.m[3 * k + j] / wk;
    return Vec3{w[0], w[1], w[2]};
}

void Matrix3ToAxisAngle(const Matrix3& r, Vec3& axis, double& angle) {
    const double c = (r.m[0] + r.m[4] + r.m[8] - 1.0) / 2.0;
    double t;
    if (c <= -1.0) {
        t = PI;
    } else if (c >= 1.0) {
        t = 0.0;
    } else {
        t = std::acos(c);
    }
    angle = t;
    if (t <= 0.0) {
        axis = X_AXIS;
        return;
    }
    if (t < PI) {
        axis = AntisymmetricAxis(r);
        Vec3Normalize(axis);
        return;
    }
    // A half turn: R = 2 a a^T - I, so the diagonal gives a_i^2 and the off-diagonal a_i a_j.
    const auto& m = r.m;
    int i = 0;
    if (m[4] > m[0]) i = 1;
    if (m[8] > m[4 * i]) i = 2;
    double a[3];
    if (i == 0) {
        a[0] = 0.5 * std::sqrt(1.0 + m[0] - m[4] - m[8]);
        a[1] = m[1] * 0.5 / a[0];
        a[2] = m[2] * 0.5 / a[0];
    } else if (i == 1) {
        a[1] = 0.5 * std::sqrt(1.0 + m[4] - m[0] - m[8]);
        a[0] = m[1] * 0.5 / a[1];
        a[2] = m[5] * 0.5 / a[1];
    } else {
        a[2] = 0.5 * std::sqrt(1.0 + m[8] - m[0] - m[4]);
        a[0] = m[2] * 0.5 / a[2];
        a[1] = m[5] * 0.5 / a[2];
    }
    axis = Vec3{a[0], a[1], a[2]};
}

Matrix3 Matrix3FromEulerZYX(double a, double b, double c) {
    return Matrix3Product(Matrix3Product(RotationZ(a), RotationY(b)), RotationX(c));
}

Matrix3 RotationFromEulerXYZ(double x, double y, double z) {
    return Matrix3Product(Matrix3Product(RotationX(x), RotationY(y)), RotationZ(z));
}

int Matrix3ToEulerXYZ(const Matrix3& r, Vec3& angles) {
    const auto& m = r.m;
    if (m[2] >= 1.0) {
        angles = Vec3{std::atan2(m[3], m[4]), HALF_PI, 0.0};
        return 0;
    }
    if (m[2] <= -1.0) {
        angles = Vec3{-std::atan2(m[3], m[4]), -HALF_PI, 0.0};
        return 0;
    }
    angles = Vec3{std::atan2(-m[5], m[8]), std::asin(m[2]), std::atan2(-m[1], m[0])};
    return 1;
}

Matrix3 RotationFromEulerYZY(const std::array<double, 3>& angles) {
    return Matrix3Product(Matrix3Product(RotationY(angles[2]), RotationZ(angles[1])),
                          RotationY(angles[0]));
}

std::array<double, 3> EulerYZYFromRotation(const Matrix3& r) {
    // R = Ry(a2) Rz(a1) Ry(a0) has m4 = cos a1, (m7, m1) = sin a1 (sin a2, -cos a2) and
    // (m5, m3) = sin a1 (sin a0, cos a0).
    const auto& m = r.m;
    double a0;
    double a1;
    double a2;
    if (m[4] * m[4] < 0.5) {
        a1 = std::acos(m[4]);
        const double s = std::sqrt(1.0 - m[4] * m[4]);
        a2 = AngleFromSinCos(m[7], -m[1], s);
        a0 = AngleFromSinCos(m[5], m[3], s);
    } else {
        // Near the poles sin a1 is small, so a1 comes from its sine and the well-conditioned
        // quantity is a0 + a2 (cos a1 > 0) or a2 - a0 (cos a1 < 0):
        // m8 + m0 = (1 + c1) cos(a0 + a2), m2 - m6 = (1 + c1) sin(a0 + a2),
        // m8 - m0 = (1 - c1) cos(a2 - a0), m6 + m2 = (1 - c1) sin(a2 - a0).
        const double sine = std::sqrt(m[1] * m[1] + m[7] * m[7]);
        a1 = std::asin(std::min(1.0, sine));
        const bool isSouth = m[4] < 0.0;
        if (isSouth) a1 = PI - a1;
        const double combined =
            isSouth ? AngleOfVector2((m[8] - m[0]) / (1.0 - m[4]), (m[6] + m[2]) / (1.0 - m[4]))
                    : AngleOfVector2((m[8] + m[0]) / (1.0 + m[4]), (m[2] - m[6]) / (1.0 + m[4]));
        // sin a1 is taken from m1 and m7 rather than as sqrt(1 - m4^2): within 1e-8 of a pole
        // m4 rounds to +-1, and a sine from it would misplace a2 (and so the rebuilt
        // rotation) by up to the size of a1 itself.
        if (DoubleExponentField(sine) == 0) {
            a2 = combined * 0.5;
            a0 = isSouth ? -a2 : a2;
        } else {
            a2 = AngleFromSinCos(m[7], -m[1], sine);
            a0 = isSouth ? a2 - combined : combined - a2;
        }
    }
    return {WrapToHalfOpenPi(a0), a1, WrapToHalfOpenPi(a2)};
}

Matrix3 BasisFromAxis(double x, double y, double z) {
    // The second axis is built against the coordinate axis most nearly perpendicular to the
    // given one; a later axis wins a tie.
    const double squares[3] = {x * x, y * y, z * z};
    int chosen = 0;
    for (int i = 1; i < 3; ++i) {
        if (squares[i] <= squares[chosen]) chosen = i;
    }
    Vec3 second;
    if (chosen == 0) {
        second = Vec3{0.0, -z, y};
    } else if (chosen == 1) {
        second = Vec3{z, 0.0, -x};
    } else {
        second = Vec3{-y, x, 0.0};
    }
    Vec3Normalize(second);
    const Vec3 third{x, y, z};
    const Vec3 first = Vec3Cross(second, third);
    return Matrix3{
        {first.x, second.x, third.x, first.y, second.y, third.y, first.z, second.z, third.z}};
}

Matrix3 RotationFromYAxis(const Vec3& d) {
    const double a = d.x;
    const double b = d.y;
    const double c = d.z;
    // The shortest-arc formula divides by 1 + b. Below the horizon 1 + b is taken as
    // (a^2 + c^2) / (1 - b), its value for a unit vector, because the plain sum cancels
    // there and a direction close to -y would get a visibly skewed matrix. Straight down
    // every arc is equally short and the formula has no value, so the half turn about x is
    // used: sliders and drags may well point along -y.
    const double onePlusB = b < 0.0 ? (a * a + c * c) / (1.0 - b) : 1.0 + b;
    if (!(onePlusB > 0.0)) return Matrix3{{1.0, 0.0, 0.0, 0.0, -1.0, 0.0, 0.0, 0.0, -1.0}};
    const double ac = a * c / onePlusB;
    return Matrix3{{1.0 - a * a / onePlusB, a, -ac, -a, 1.0 - (a * a + c * c) / onePlusB, -c, -ac,
                    c, 1.0 - c * c / onePlusB}};
}
