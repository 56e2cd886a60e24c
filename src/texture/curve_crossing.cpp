#include "texture/curve_crossing.h"

#include <cmath>

std::int32_t SolveCurveCrossing(std::array<double, 4>& out, const Matrix4W& p, const Matrix4W& q,
                                double range) {
    const auto& P = p.m;
    const auto& Q = q.m;
    out = {-1.0, 0.0, -1.0, 0.0};
    // Eliminating x^2 between the two conics leaves A y^2 + 2 B y + C = 0.
    const double a = P[5] * Q[10] - P[10] * Q[5];
    const double b = Q[2] * P[5] - P[2] * Q[5];
    const double c = Q[0] * P[5] - P[0] * Q[5];
    // |A y^2 + 2 B y| < range (range |A| + 2 |B|) for |y| < range, so no root can lie there
    // when |C| reaches that bound. NaN coefficients end here too.
    if (!(std::fabs(c) < range * (range * std::fabs(a) + 2 * std::fabs(b)))) return 0;
    const double d = b * b - a * c;
    if (!(d > 0)) return 0;
    // The roots (-B -+ sqrt D) / A without cancellation: one from q / A, the other from C / q,
    // their product being C / A. With A = 0 the first is infinite and the second the root of
    // the linear equation.
    const double root = std::sqrt(d) + std::fabs(b);
    const double signedRoot = b < 0 ? root : -root;
    const double heights[2] = {signedRoot / a, c / signedRoot};
    out[1] = heights[0];
    out[3] = heights[1];
    // x^2 from the conic whose x^2 coefficient is better conditioned for |y| < range.
    const double pSide = std::fabs(Q[5]) * (std::fabs(P[0]) + range * (2 * std::fabs(P[2]) + range * std::fabs(P[10])));
    const double qSide = std::fabs(P[5]) * (std::fabs(Q[0]) + range * (2 * std::fabs(Q[2]) + range * std::fabs(Q[10])));
    const auto& conic = pSide <= qSide ? P : Q;
    std::int32_t count = 0;
    for (int k = 0; k < 2; ++k) {
        const double y = heights[k];
        if (!(std::fabs(y) < range) || conic[5] == 0) continue;
        const double x2 = -(conic[0] + y * (2 * conic[2] + conic[10] * y)) / conic[5];
        if (!(x2 >= 0)) continue;
        out[static_cast<std::size_t>(2 * k)] = std::sqrt(x2);
        ++count;
    }
    if (count == 1 && out[0] < 0) {
        out[0] = out[2];
        out[1] = out[3];
        out[2] = -1.0;
    }
    return count;
}
