#include "render/shading_maths.h"

#include "core/float_convert.h"
#include "core/scalar_maths.h"

#include <algorithm>
#include <cmath>

float AtanF(float x) { return static_cast<float>(std::atan(static_cast<double>(x))); }

double FastAtan(double x) {
    double a = std::fabs(x);
    const bool inverted = a > 1.0;
    if (inverted) a = 1.0 / a;
    const double a2 = a * a;
    double y = a * (1.0 + (0.07190275490382758 * a2 - 0.2865045915063793) * a2);
    if (inverted) y = PI / 2.0 - y;
    return std::signbit(x) && !std::isnan(x) ? -y : y;
}

double SymEigenMax3(const Matrix4W& quadric) {
    const auto& q = quadric.m;
    const double s11 = q[5], s12 = q[6], s13 = q[7], s22 = q[10], s23 = q[11], s33 = q[15];
    const double det = s11 * (s22 * s33 - s23 * q[14]) - s12 * (q[9] * s33 - s23 * q[13]) +
                       s13 * (q[9] * q[14] - s22 * q[13]);
    // lambda^3 + a2 lambda^2 + a1 lambda + a0, depressed to t^3 + p t + q by lambda = t - a2/3.
    const double a2 = -(s11 + s22 + s33);
    const double a1 = s11 * s22 + s11 * s33 + s22 * s33 - s12 * s12 - s13 * s13 - s23 * s23;
    const double a0 = -det;
    const double p = a1 - a2 * a2 / 3.0;
    const double qq = 2.0 * a2 * a2 * a2 / 27.0 - a1 * a2 / 3.0 + a0;
    const double d = p * p * p / 27.0 + qq * qq / 4.0;
    const double m = std::sqrt(std::max(0.0, -d));
    const double r = std::sqrt(std::max(0.0, -p / 3.0));
    double theta;
    if (m != 0.0) {
        theta = PI / 2.0 + std::atan((qq / 2.0) / m);
    } else {
        theta = qq >= 0.0 ? PI : 0.0;
    }
    double largest = 0.0;
    for (int i = 0; i < 3; ++i) {
        const double lambda = 2.0 * r * std::cos(theta / 3.0 + 2.0 * PI * i / 3.0) - a2 / 3.0;
        largest = std::max(largest, std::fabs(lambda));
    }
    return largest;
}

double SurfaceCurvatureAt(const Matrix4W& quadric, const Vec3& p) {
    const auto& e = quadric.m;
    const Vec3 g{e[1] + e[5] * p.x + e[6] * p.y + e[7] * p.z,
                 e[2] + e[9] * p.x + e[10] * p.y + e[11] * p.z,
                 e[3] + e[13] * p.x + e[14] * p.y + e[15] * p.z};
    return SymEigenMax3(quadric) / std::sqrt(Vec3Dot(g, g));
}

double HighlightBroadening(double q) {
    if (q <= 0.4) return 0.0;
    if (q < 0.6) return (q - 0.4) / 0.4;
    return 0.5;
}

double FilteredLobeExponent(const Matrix4W& quadric, double& amplitude, double sigma, double g,
                            double h, const Vec3& a, const Vec3& b, const Vec3& c) {
    const auto& q = quadric.m;
    const auto applyH = [&q](const Vec3& v) {
        return Vec3{q[5] * v.x + q[6] * v.y + q[7] * v.z, q[9] * v.x + q[10] * v.y + q[11] * v.z,
                    q[13] * v.x + q[14] * v.y + q[15] * v.z};
    };
    // The screen axes projected along b onto the footprint's plane, seen through H.
    const Vec3 u1{1.0 - a.x / g * b.x, -a.x / g * b.y, -a.x / g * b.z};
    const Vec3 u2{-a.y / g * b.x, 1.0 - a.y / g * b.y, -a.y / g * b.z};
    const Vec3 h1 = applyH(u1);
    const Vec3 h2 = applyH(u2);
    // M = s I - (b c^T + c b^T), so v^T M w = s v.w - (v.b)(c.w) - (v.c)(b.w).
    const double s = 1.0 + Vec3Dot(b, c);
    const auto form = [&](const Vec3& v, const Vec3& w) {
        return s * Vec3Dot(v, w) - Vec3Dot(v, b) * Vec3Dot(c, w) - Vec3Dot(v, c) * Vec3Dot(b, w);
    };
    const double g11 = form(h1, h1);
    const double g12 = form(h1, h2);
    const double g22 = form(h2, h2);
    const double det = (1.0 + sigma * g11) * (1.0 + sigma * g22) - (sigma * g12) * (sigma * g12);
    amplitude = 1.0 / std::sqrt(det);
    const Vec3 d{s * a.x - h * b.x - g * c.x, s * a.y - h * b.y - g * c.y,
                 s * a.z - h * b.z - g * c.z};
    const double t1 = Vec3Dot(h1, d);
    const double t2 = Vec3Dot(h2, d);
    return sigma *
           ((1.0 + sigma * g22) * t1 * t1 - 2.0 * sigma * g12 * t1 * t2 +
            (1.0 + sigma * g11) * t2 * t2) /
           det;
}

bool RotateByQuarterTurnAngle(double& x, double& y, std::int32_t angle) {
    double turn = angle * (1.0 / 16384.0);
    if (turn > 2.0) {
        turn -= 4.0;
    } else if (turn < -2.0) {
        turn += 4.0;
    }
    const bool isPositive = turn >= 0.0;
    turn = std::fabs(turn);
    const bool isBack = turn > 1.0;
    if (isBack) turn = 2.0 - turn;
    double cosine = 1.0 + (0.8584073464102069 * turn - 2.858407346410207) * turn * turn * 0.5;
    double sine = turn * (PI / 2.0 - (0.42920367320510344 * turn + 0.14159265358979312) * turn);
    if (isBack) cosine = -cosine;
    if (!isPositive) sine = -sine;
    const double nx = cosine * x - sine * y;
    const double ny = cosine * y + sine * x;
    x = nx;
    y = ny;
    return isBack;
}

std::int32_t RoundScaledByPow2(double v, std::int32_t shift) {
    const double scaled = std::ldexp(v, shift);
    return TruncToInt32(scaled + (scaled < 0.0 ? -0.5 : 0.5));
}
