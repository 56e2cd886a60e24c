#include "gizmo/collision_quadric_overlap.h"

#include "core/sym_eigen3.h"
#include "gizmo/collision_maths_internal.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr double TouchingBand = 1e-12;

using collision_maths::Block;
using collision_maths::Column;
using collision_maths::HalfGradient;
using collision_maths::Linear;

// The two forms along the contact curve, in the frame where the second is the unit-scaled
// ball: z(s) = a + s d_i / e_i with e_0 = 1, e_i = rho_i + (1 - rho_i) s.
struct ContactCurve {
    double rho1 = 1.0;
    double rho2 = 1.0;
    std::array<double, 3> dd{};  // d_i^2
    double g = 0.0;              // minus the first form's value at its centre, over mu0
    double r = 0.0;              // the ball's squared radius

    double E1(double s) const { return rho1 + (1.0 - rho1) * s; }
    double E2(double s) const { return rho2 + (1.0 - rho2) * s; }
    // The first form over mu0.
    double FA(double s) const {
        const double e1 = E1(s), e2 = E2(s);
        return s * s * (dd[0] + rho1 * dd[1] / (e1 * e1) + rho2 * dd[2] / (e2 * e2)) - g;
    }
    // The second form.
    double FB(double s) const {
        const double e1 = E1(s), e2 = E2(s);
        return (1.0 - s) * (1.0 - s) *
                   (dd[0] + rho1 * rho1 * dd[1] / (e1 * e1) + rho2 * rho2 * dd[2] / (e2 * e2)) -
               r;
    }
    double K(double s) const {
        const double e1 = E1(s), e2 = E2(s);
        return dd[0] + rho1 * rho1 * dd[1] / (e1 * e1 * e1) + rho2 * rho2 * dd[2] / (e2 * e2 * e2);
    }
    // H = (1 - s0) FA - s0 FB crosses zero between the two forms' zeros; its derivative.
    double H(double s, double s0) const { return (1.0 - s0) * FA(s) - s0 * FB(s); }
    double DH(double s, double s0) const {
        return 2.0 * K(s) * (s * (1.0 - s0) + (1.0 - s) * s0);
    }
};

}  // namespace

bool BoundingQuadricsOverlap(const Matrix4W& first, const Matrix4W& second, const Vec3* centre,
                             Contact* contact) {
    // Split both forms into k + 2 b.x + x^T C x, measured from the centre when one is given.
    double k1 = first.m[0], k2 = second.m[0];
    Vec3 b1 = Linear(first), b2 = Linear(second);
    const Matrix3 c1 = Block(first), c2 = Block(second);
    if (centre != nullptr) {
        const Vec3 c1c = Matrix3TransformVec3(c1, *centre);
        const Vec3 c2c = Matrix3TransformVec3(c2, *centre);
        k1 += Vec3Dot(Vec3Add(c1c, Vec3Scale(b1, 2.0)), *centre);
        k2 += Vec3Dot(Vec3Add(c2c, Vec3Scale(b2, 2.0)), *centre);
        b1 = Vec3Add(b1, c1c);
        b2 = Vec3Add(b2, c2c);
    }

    // T takes the second block to the identity; W turns the first, seen through T, to its
    // axes with mu0 >= mu1 >= mu2. Anything not positive (or not a number) is no ellipsoid.
    std::array<double, 3> l{};
    Matrix3 v;
    SymEigen3(c2, false, l, v);
    if (!(l[0] > 0.0 && l[1] > 0.0 && l[2] > 0.0)) return false;
    const Matrix3 t = Matrix3Product(
        v, Matrix3{{1.0 / std::sqrt(l[0]), 0, 0, 0, 1.0 / std::sqrt(l[1]), 0, 0, 0,
                    1.0 / std::sqrt(l[2])}});
    const Matrix3 c1t = Matrix3Product(Matrix3Transpose(t), Matrix3Product(c1, t));
    std::array<double, 3> mu{};
    Matrix3 w;
    SymEigen3(c1t, true, mu, w);
    if (!(mu[0] > 0.0 && mu[1] > 0.0 && mu[2] > 0.0)) return false;
    const Matrix3 m = Matrix3Product(t, w);
    const Matrix3 mt = Matrix3Transpose(m);
    const Vec3 beta1 = Matrix3TransformVec3(mt, b1);
    const Vec3 beta2 = Matrix3TransformVec3(mt, b2);

    // In z (x = M z): the first centre a, the second q, their difference d, the first form's
    // value gA at its centre and the ball's squared radius R = |q|^2 - k2.
    const std::array<double, 3> be1{beta1.x, beta1.y, beta1.z};
    const std::array<double, 3> q{-beta2.x, -beta2.y, -beta2.z};
    std::array<double, 3> a{};
    std::array<double, 3> d{};
    double gA = k1;
    double dd = 0.0, muDd = 0.0, qq = 0.0;
    for (std::size_t i = 0; i < 3; ++i) {
        a[i] = -be1[i] / mu[i];
        gA -= be1[i] * be1[i] / mu[i];
        d[i] = q[i] - a[i];
        dd += d[i] * d[i];
        muDd += mu[i] * d[i] * d[i];
        qq += q[i] * q[i];
    }
    const double r = qq - k2;
    if (-gA > muDd) return true;  // the second centre lies inside the first ellipsoid
    if (dd < r) return true;      // the first centre lies inside the ball

    ContactCurve curve;
    curve.rho1 = mu[1] / mu[0];
    curve.rho2 = mu[2] / mu[0];
    curve.dd = {d[0] * d[0], d[1] * d[1], d[2] * d[2]};
    curve.g = -gA / mu[0];
    curve.r = r;

    // Values within a relative 1e-12 of zero count as inside, so that surfaces that touch
    // collide whatever the rounding of the last bits decides.
    const double bandA = TouchingBand * std::abs(curve.g);
    const double bandB = TouchingBand * std::abs(curve.r);

    const auto finish = [&](bool answer, double s) {
        if (contact != nullptr) {
            const std::array<double, 3> e{1.0, curve.E1(s), curve.E2(s)};
            Vec3 z{a[0] + s * d[0] / e[0], a[1] + s * d[1] / e[1], a[2] + s * d[2] / e[2]};
            Vec3 x = Matrix3TransformVec3(m, z);
            if (centre != nullptr) x = Vec3Add(x, *centre);
            contact->point = x;
            contact->normal = HalfGradient(second, x);
        }
        return answer;
    };

    // Bracket the crossing of the two forms between powers of two: the thinner the first
    // ellipsoid in the ball's frame, the closer to 0 the curve turns.
    std::int32_t bias = 0;
    if (curve.rho2 <= 2.0 / 3.0) {
        int exponent = 0;
        const double ratio = (1.0 - curve.rho2) / curve.rho2;
        if (std::isfinite(ratio)) {
            std::frexp(ratio, &exponent);
            bias = exponent - 1 + 2;
        } else {
            bias = 1100;  // rho2 below every normal number: s runs down to 0
        }
    }
    std::int32_t lo = 0;
    std::int32_t hi = bias + 1;
    while (hi - lo > 1) {
        const std::int32_t mid = (lo + hi) / 2;
        const double s = std::ldexp(1.0, mid - bias - 1);
        const double fa = curve.FA(s);
        const double fb = curve.FB(s);
        if (fa < bandA && fb < bandB) return finish(true, s);
        if (fa >= bandA && fb >= bandB) return finish(false, s);
        if (fa < bandA) {
            lo = mid;
        } else {
            hi = mid;
        }
    }

    // A start value inside the bracket [sa, sb].
    const double sb = std::ldexp(1.0, hi - bias - 1);
    double sa = 0.0;
    double s0 = 0.0;
    if (lo == 0) {
        s0 = std::sqrt(curve.g / (curve.dd[0] + curve.dd[1] / curve.rho1 + curve.dd[2] / curve.rho2));
    } else if (lo == bias) {
        sa = std::ldexp(1.0, lo - bias - 1);
        s0 = 1.0 - std::sqrt(r / (curve.dd[0] + curve.rho1 * curve.rho1 * curve.dd[1] +
                                  curve.rho2 * curve.rho2 * curve.dd[2]));
    } else {
        sa = std::ldexp(1.0, lo - bias - 1);
        s0 = 1.5 * sa;
    }
    // An empty first ellipsoid or coincident centres leave no sensible start: take the middle.
    if (!std::isfinite(s0)) s0 = 0.5 * (sa + sb);

    // One interpolation step on H from both bracket ends, then Newton on H.
    const double ha = curve.H(sa, s0), hb = curve.H(sb, s0);
    const double da = curve.DH(sa, s0), db = curve.DH(sb, s0);
    const double width = sb - sa;
    const double p = 4.0 * (ha + hb) + (da - db) * width;
    const double slope = 4.0 * (hb - ha) / width;
    double s = 0.0;
    if (p <= 0.0) {
        s = sb - 2.0 * hb / (db + std::sqrt(db * db + 2.0 * hb * (slope - 3.0 * db - da) / width));
    } else {
        s = sa - 2.0 * ha / (da + std::sqrt(da * da - 2.0 * ha * (slope - 3.0 * da - db) / width));
    }
    if (!std::isfinite(s)) s = s0;

    for (int step = 0; step < 4; ++step) {
        const double fa = curve.FA(s);
        const double fb = curve.FB(s);
        if (fa >= bandA && fb >= bandB) return finish(false, s);
        if (fa < bandA && fb < bandB) return finish(true, s);
        const double next = s - curve.H(s, s0) / curve.DH(s, s0);
        // A flat H gives no next step: the search stays undecided.
        if (!std::isfinite(next)) return finish(true, s);
        s = next;
    }
    return finish(true, s);
}
