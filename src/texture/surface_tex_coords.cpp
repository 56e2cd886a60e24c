#include "texture/surface_tex_coords.h"

#include "core/scalar_maths.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::size_t MinTablePieces = 5;  // four uniform steps and the piece at the threshold

// A point seen from the surface's polar axis: its coordinates p, q across the axis with the
// semi-axes along them, and w along the axis with its semi-axis.
struct CrossPoint {
    double p = 0;
    double q = 0;
    double w = 0;
    double ap = 0;
    double bq = 0;
    double cw = 0;
};

// The polar axis is z for code 0, y for code 1 and x for code 2; the two axes across it follow
// in cyclic order, so (p, q, w) is a right-handed frame in every case.
CrossPoint ToCross(const Vec3& v, const SurfaceMappingEntry& e, int axisCode) {
    switch (axisCode) {
        case 1:
            return {v.z, v.x, v.y, e.c, e.a, e.b};
        case 2:
            return {v.y, v.z, v.x, e.b, e.c, e.a};
        default:
            return {v.x, v.y, v.z, e.a, e.b, e.c};
    }
}

Vec3 FromCross(double p, double q, double w, int axisCode) {
    switch (axisCode) {
        case 1:
            return {q, w, p};
        case 2:
            return {w, p, q};
        default:
            return {p, q, w};
    }
}

// The cross-section in the angle's own frame: u across, v along the larger semi-axis B, from
// whose end the angle starts. The swap flag says the larger semi-axis lies along p.
struct AngleFrame {
    double u = 0;
    double v = 0;
    double a = 0;
    double b = 0;
    bool swap = false;
};

AngleFrame MakeAngleFrame(double p, double q, double ap, double bq, bool swap) {
    if (swap) return {q, -p, bq, ap, true};
    return {p, q, ap, bq, false};
}

bool TableUsable(std::span<const CubicPiece> table) { return table.size() >= MinTablePieces; }

// The angle of (u, v) on its ellipse. t is the tangent of half the parametric angle from the
// v axis; of the two ways to get its sine the better conditioned one is taken (|u| / A near
// the v axis, sqrt(1 - (v / B)^2) near the u axis).
double AngleInFrame(const AngleFrame& f, const SurfaceMappingEntry& e,
                    std::span<const CubicPiece> table, double perLength) {
    const double au = std::fabs(f.u);
    const double av = std::fabs(f.v);
    const double vb = av / f.b;
    double w = 0;
    if (av * f.a * f.a <= au * f.b * f.b) {
        w = std::sqrt(std::max(0.0, 1 - vb * vb));
    } else {
        w = au / f.a;
    }
    const double t = w / (1 + vb);
    double phi = EvalPiecewiseCubic(static_cast<std::int32_t>(e.indexBias0), table,
                                    static_cast<float>(t)) *
                 perLength;
    if (f.v < 0) phi = PI - phi;
    if (f.u < 0) phi = TWO_PI - phi;
    if (f.swap) {
        phi -= PI / 2;
        if (phi < 0) phi += TWO_PI;
    }
    // Rounding at the seam may give exactly 2 pi.
    if (!(phi < TWO_PI) || !(phi >= 0)) phi = 0;
    return phi;
}

bool SemiAxesUsable(double a, double b) {
    return a > 0 && b > 0 && std::isfinite(a) && std::isfinite(b);
}

// Unit tangent of the angle direction, d(angle) > 0, on the ellipse through (u, v): the
// gradient (u / A^2, v / B^2) turned a quarter, carried back to (p, q) and then to x, y, z.
Vec3 AngleTangent(const AngleFrame& f, int axisCode) {
    double tu = f.v / (f.b * f.b);
    double tv = -f.u / (f.a * f.a);
    const double length = std::sqrt(tu * tu + tv * tv);
    if (!(length > 0)) {
        tu = 1;
        tv = 0;
    } else {
        tu /= length;
        tv /= length;
    }
    // Swapped: u = q and v = -p, so p = -v and q = u.
    const double tp = f.swap ? -tv : tu;
    const double tq = f.swap ? tu : tv;
    return FromCross(tp, tq, 0, axisCode);
}

double Table1At(const SurfaceMappingEntry& e, std::span<const CubicPiece> table, double t) {
    return EvalPiecewiseCubic(static_cast<std::int32_t>(e.indexBias1), table,
                              static_cast<float>(t));
}

// The angle-preserving length along a meridian from the equator to the point at s = tan of
// its parametric latitude, on the ellipsoid of revolution of equatorial radius R and polar
// semi-axis c: the integral of sqrt(R^2 x^2 + c^2) / (R (1 + x^2)) from 0 to s. Splitting the
// numerator as R^2 (1 + x^2) + (c^2 - R^2) gives asinh(R s / c) plus (c^2 - R^2) / R times
// the integral of 1 / ((1 + x^2) sqrt(R^2 x^2 + c^2)), an arc tangent for a prolate shape and
// an area tangent for an oblate one, each over d = sqrt(|c^2 - R^2|). Near the pole it grows
// like ln(2 s), so the coordinate stays finite there.
double MeridianLength(double s, double R, double c) {
    const double d = std::sqrt(std::fabs(c * c - R * R));
    const double along = d * s / std::sqrt(R * R * s * s + c * c);
    double rest = 0;
    if (c > R) {
        rest = d * std::atan(along);
    } else if (c < R) {
        rest = -d * std::atanh(std::min(along, 1.0));
    }
    return std::asinh(R * s / c) + rest / R;
}

// Arc length of the unit parabola y = x^2 / 2 from its vertex to slope s, over s; 1 at s = 0.
double ParabolaArcRatio(double s) {
    if (s < 1e-4) return 1 + s * s / 6;
    const double root = std::sqrt(s * s + 1);
    return (s * root + std::log(s + root)) / (2 * s);
}

}  // namespace

double SurfaceAngleCoord(double p, double q, const SurfaceMappingEntry& entry) {
    const auto table = SurfaceMappingEntryTable0(entry);
    if (!SurfaceMapperKindKnown(entry) || !TableUsable(table) || !(entry.quarterMeasure > 0) || !SemiAxesUsable(entry.a, entry.b)) {
        return 0;
    }
    return AngleInFrame(MakeAngleFrame(p, q, entry.a, entry.b, entry.swapFlag != 0), entry, table,
                        PI / (2 * entry.quarterMeasure));
}

SurfaceTexCoords SpheroidTexCoords(const Vec3& point, const SurfaceMappingEntry& entry,
                                   Vec3* tangent) {
    SurfaceTexCoords out;
    const auto table0 = SurfaceMappingEntryTable0(entry);
    const auto table1 = SurfaceMappingEntryTable1(entry);
    if (SurfaceMappingEntryKind(entry) != SurfaceMapperKind::Hyperboloid ||
        !TableUsable(table0) || !TableUsable(table1) || !(entry.quarterMeasure > 0) ||
        !SemiAxesUsable(entry.a, entry.b) || !(entry.c > 0)) {
        if (tangent != nullptr) *tangent = X_AXIS;
        return out;
    }
    // The cross-section at height z is the waist ellipse scaled by n = cosh of the hyperbolic
    // parameter; the angle is read on the waist ellipse.
    const double s = point.z / entry.c;
    const double as = std::fabs(s);
    const double n = std::sqrt(s * s + 1);
    const double inverseN = 1 / n;
    const AngleFrame f = MakeAngleFrame(point.x * inverseN, point.y * inverseN, entry.a, entry.b,
                                        entry.swapFlag != 0);
    const double perLength = PI / (2 * entry.quarterMeasure);
    out.angle = AngleInFrame(f, entry, table0, perLength);
    const double length =
        (entry.axisTerm * std::log(n + as) - Table1At(entry, table1, as / (n + 1))) * perLength;
    out.length = s < 0 ? -length : length;
    const double k = entry.moduleRatio;
    const double along = k * f.v / f.b;
    out.angleScale = perLength / std::sqrt(std::max(n * n * (1 + k * k) - along * along, 1e-300));
    out.axisRatio = f.b / f.a;
    if (tangent != nullptr) *tangent = AngleTangent(f, 0);
    return out;
}

SurfaceTexCoords EllipsoidTexCoords(const Vec3& point, const SurfaceMappingEntry& entry,
                                    Vec3* tangent) {
    SurfaceTexCoords out;
    const auto table0 = SurfaceMappingEntryTable0(entry);
    const int axisCode = entry.axisCode <= 2 ? entry.axisCode : 0;
    const CrossPoint c = ToCross(point, entry, axisCode);
    if (SurfaceMappingEntryKind(entry) != SurfaceMapperKind::Ellipsoid || !TableUsable(table0) ||
        !(entry.quarterMeasure > 0) || !SemiAxesUsable(c.ap, c.bq) || !(c.cw > 0) ||
        !std::isfinite(c.cw)) {
        if (tangent != nullptr) *tangent = FromCross(1, 0, 0, axisCode);
        return out;
    }
    // rho = cos and wn = sin of the parametric latitude; s = tan of it. At the poles rho is
    // held off zero so the coordinate stays finite (about 28 there).
    const double np = c.p / c.ap;
    const double nq = c.q / c.bq;
    const double rho = std::max(std::sqrt(np * np + nq * nq), 1e-12);
    const double wn = std::fabs(c.w / c.cw);
    const double as = wn / rho;
    const double n = std::sqrt(as * as + 1);
    const double inverseRho = 1 / rho;
    const AngleFrame f = MakeAngleFrame(c.p * inverseRho, c.q * inverseRho, c.ap, c.bq,
                                        entry.swapFlag != 0);
    const double perLength = PI / (2 * entry.quarterMeasure);
    out.angle = AngleInFrame(f, entry, table0, perLength);
    const double length = MeridianLength(as, 1 / perLength, c.cw);
    out.length = c.w < 0 ? -length : length;
    // The parallel through the point is the cross ellipse scaled by 1 / n.
    const double k = entry.moduleRatio;
    const double along = k * f.v / f.b;
    out.angleScale =
        perLength * n / std::sqrt(std::max(1 + k * k - along * along, 1e-300));
    out.axisRatio = f.b / f.a;
    if (tangent != nullptr) *tangent = AngleTangent(f, axisCode);
    return out;
}

SurfaceTexCoords ParabolicStripTexCoords(const Vec3& point, const StripTexRecord& strip) {
    SurfaceTexCoords out;
    const StripArcRecord& arc = strip.arc;
    double u = strip.width > 0 ? 2 * point.z / strip.width : 0;
    u = std::isnan(u) ? 0 : std::clamp(u, -1.0, 1.0);
    const double halfWidth = ((1 - u) * arc.p0 + (1 + u) * arc.p1) / 2;
    const double g = std::fabs(arc.p2);
    if (!(halfWidth > 0) || !std::isfinite(halfWidth) || !std::isfinite(g)) return out;
    // Arc lengths across, from the vertex: x times the ratio at slope 2 g |x|.
    const double halfArc = halfWidth * ParabolaArcRatio(2 * g * halfWidth);
    const double ax = std::min(std::fabs(point.x), halfWidth);
    const double pointArc = ax * ParabolaArcRatio(2 * g * ax);
    const double fraction = std::min(pointArc / halfArc, 1.0);
    out.angle = PI * 0.5 * (1 + (point.x < 0 ? -fraction : fraction));
    if (strip.backFace != 0) out.angle += PI;
    if (!(out.angle < TWO_PI)) out.angle = 0;
    out.length = InverseArcLength(u, arc);
    out.angleScale = PI / (2 * halfArc);
    return out;
}
