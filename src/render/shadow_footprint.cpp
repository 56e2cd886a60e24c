// The screen pixels on which a part's shadow can fall, for an incremental frame.
//
// Seen from the eye, a point p + t (p - L) of the shadow (p in the bound B, t >= 0) lies on the
// same ray as the point p - s L with s = t / (1 + t) in [0, 1). So the rays that meet the bound
// or its shadow are exactly those that meet K = B + [-L, 0], the bound swept by -L, and K holds
// the eye exactly when the segment from the eye to the light meets the bound (the eye is in
// the shadow). K is convex; its image is the union of the silhouette of B (conic 0), that of
// B - L (conic 1, the quadric Q1(p) = Q(p + L)) and the band between them: the image of the
// parallelogram a, a - L, b - L, b, where a and b touch B in the two planes through the eye
// that hold the direction L (the planes tangent to the swept cylinder through the eye).

#include "core/matrix3.h"
#include "core/private_heap.h"
#include "core/scalar_maths.h"
#include "render/part_order.h"
#include "render/shadow_pass.h"
#include "render/span_region.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace {

// Q(p) = p . M p + 2 b . p + q0 = (p - c) . M (p - c) - k, negative inside.
struct FootprintBound {
    Matrix3 m{};
    Vec3 b{};
    double q0 = 0.0;
    Matrix3 inverse{};   // M^-1
    Vec3 centre{};       // c = -M^-1 b
    double reach = 0.0;  // k = b . M^-1 b - q0, the square of the bound's radius in its metric
};

double FootprintQuadratic(const Matrix3& m, const Vec3& u, const Vec3& v) {
    return Vec3Dot(u, Matrix3TransformVec3(m, v));
}

// False when the second-order block is not positive definite (no ellipsoid) or the form is not
// finite.
bool ReadFootprintBound(const Matrix4W& q, FootprintBound& bound) {
    const auto& e = q.m;
    bound.m = Matrix3{{e[5], e[6], e[7], e[9], e[10], e[11], e[13], e[14], e[15]}};
    bound.b = Vec3{e[1], e[2], e[3]};
    bound.q0 = e[0];
    const Matrix3 adj = Matrix3Adjugate(bound.m);
    const double det = e[5] * adj.m[0] + e[6] * adj.m[3] + e[7] * adj.m[6];
    const double minor2 = e[5] * e[10] - e[6] * e[6];
    if (!(e[5] > 0.0 && minor2 > 0.0 && det > 0.0) || !std::isfinite(det) ||
        !std::isfinite(bound.q0)) {
        return false;
    }
    bound.inverse = Matrix3Scale(1.0 / det, adj);
    bound.centre = Vec3Scale(Matrix3TransformVec3(bound.inverse, bound.b), -1.0);
    bound.reach = FootprintQuadratic(bound.inverse, bound.b, bound.b) - bound.q0;
    return std::isfinite(bound.reach);
}

double FootprintBoundAt(const FootprintBound& bound, const Vec3& p) {
    return FootprintQuadratic(bound.m, p, p) + 2.0 * Vec3Dot(bound.b, p) + bound.q0;
}

// The view-space form of M, b and q0 (homogeneous coordinate first).
Matrix4W FootprintForm(const Matrix3& m, const Vec3& b, double q0) {
    Matrix4W q;
    q.m = {q0,  b.x,    b.y,    b.z,    b.x, m.m[0], m.m[1], m.m[2],
           b.y, m.m[3], m.m[4], m.m[5], b.z, m.m[6], m.m[7], m.m[8]};
    return q;
}

// Whether the ray through the image point (x, y) (relative to the centre) meets the ellipsoid q
// at a point in front of the eye: q0 + 2 t b . r + t^2 r . M r <= 0 for some t > 0.
bool FootprintRayMeets(const Matrix4W& q, double x, double y, double focal) {
    const auto& e = q.m;
    const Vec3 r{x, y, focal};
    const double a = r.x * (e[5] * r.x + e[6] * r.y + e[7] * r.z) +
                     r.y * (e[9] * r.x + e[10] * r.y + e[11] * r.z) +
                     r.z * (e[13] * r.x + e[14] * r.y + e[15] * r.z);
    const double b = e[1] * r.x + e[2] * r.y + e[3] * r.z;
    if (e[0] <= 0.0) return true;
    return b < 0.0 && b * b >= a * e[0];
}

// Adds to target the pixels of clip whose centre rays meet the ellipsoid q in front of the eye,
// through its silhouette conic. Rows and columns are narrowed to the conic's tangents in front
// of the eye and each row to its roots in front of the eye (the casting pass's solver). The
// part of an ellipsoid in front of the eye has a convex image bounded by the conic wherever
// the conic's points lie in front, so a row that no such root bounds is either wholly inside
// the image or wholly outside it: one ray of the row tells which. With the eye outside the
// ellipsoid, a row of the narrowed range that meets the image of a quadric reaching behind the
// eye (a conic that is no ellipse) crosses its front branch, rows along an axis of the conic
// included (their one root); so the ray decides only rows whose roots rounding lost next to a
// tangent.
void AddFootprintConic(QRender& render, const Matrix4W& q, const RegionRect& clip,
                       SpanRegion& target) {
    const RenderLevel& level = render.Level();
    const SilhouetteConic conic = SilhouetteOf(q, level.focal);
    if (SilhouetteKindOf(conic, q) == SilhouetteKind::Hidden) return;
    std::int32_t rowLow = clip.y0, rowHigh = clip.y1;
    std::int32_t columnLow = clip.x0, columnHigh = clip.x1;
    ClipSpanToConic(rowLow, rowHigh, conic, true, level.centreY);
    ClipSpanToConic(columnLow, columnHigh, conic, false, level.centreX);
    if (rowLow >= rowHigh || columnLow >= columnHigh) return;
    SpanList& list = render.outlineList;
    list.SetRows(rowLow, rowHigh);
    const double middle = (columnLow + columnHigh) / 2.0 - level.centreX;
    for (std::int32_t y = rowLow; y < rowHigh; ++y) {
        const double v = y - level.centreY + 0.5;
        std::int32_t spanLow = columnLow, spanHigh = columnHigh;
        if (!ClipRowToConic(spanLow, spanHigh, conic, v, level.centreX) &&
            !FootprintRayMeets(q, middle, v, level.focal)) {
            spanLow = spanHigh;
        }
        list.SetRun(y, spanLow, spanHigh);
    }
    RegionAddSpanList(list, target);
}

// One side of the band, from corner p to corner q (view space; corners that stand for
// directions are used as points, since a ray from the eye through a + s (a - L), s >= 0,
// passes through a point of the segment from a to a - L).
struct FootprintBandEdge {
    Vec3 p{};
    Vec3 q{};
    bool isLeft = false;  // the band lies to its right (larger x) on the rows it crosses
    bool isBounding = false;
};

// Where the edge crosses the plane y = v z through the eye, in front of the eye: x / z there.
bool FootprintEdgeCrossing(const FootprintBandEdge& edge, double v, double& u) {
    const Vec3& p = edge.p;
    const Vec3& q = edge.q;
    const double sp = v * p.z - p.y;
    const double sq = v * q.z - q.y;
    if ((sp > 0.0) == (sq > 0.0)) return false;
    if (!((q.y * p.z - q.z * p.y) * ((q.z - p.z) * v - (q.y - p.y)) < 0.0)) return false;
    const double s = sp / (sp - sq);
    const double x = p.x + s * (q.x - p.x);
    const double z = p.z + s * (q.z - p.z);
    if (!(z > 0.0)) return false;
    u = x / z;
    return true;
}

enum class FootprintBandResult { Band, NoBand, WholeFrame };

// The least discriminant of the touching planes' quadratic, relative to its larger term, for
// which the two planes are told apart: their orientations then differ by about 1e-5 of their
// size, well above the rounding of the quadratic's coefficients.
constexpr double GrazingDiscriminant = 1e-10;

// Adds the band of the part's shadow to target (the bound's light outside it and away from the
// eye), or tells that it has none or that the shadow's image is not bounded.
FootprintBandResult AddFootprintBand(QRender& render, const FootprintBound& bound,
                                     const Vec3& light, SpanRegion& target) {
    // Planes through the eye holding L: normals n = alpha e1 + e2 in the frame e3 = L / |L|,
    // e2 = the unit part of c across e3, e1 = e2 x e3. Such a plane touches the ellipsoid when
    // (n . c)^2 = k n . M^-1 n; with n . c = beta |c across e3| and W = M^-1 in that frame:
    //   k W11 alpha^2 + 2 k W12 alpha + (k W22 - c2^2) = 0.
    // A plane with beta = 0 holds the centre, so it never touches.
    Vec3 e3 = light;
    Vec3Normalize(e3);
    Vec3 e2 = Vec3Sub(bound.centre, Vec3Scale(e3, Vec3Dot(bound.centre, e3)));
    double c2 = Vec3Normalize(e2);
    if (!(c2 > 0.0)) {
        // The centre lies on the eye-light line: any perpendicular does, and nothing touches.
        e2 = std::fabs(e3.x) < 0.9 ? Vec3UnitCross(e3, Vec3{1, 0, 0})
                                   : Vec3UnitCross(e3, Vec3{0, 1, 0});
        c2 = 0.0;
    }
    const Vec3 e1 = Vec3Cross(e2, e3);
    const double k = bound.reach;
    const double a = k * FootprintQuadratic(bound.inverse, e1, e1);
    const double b = k * FootprintQuadratic(bound.inverse, e1, e2);
    const double c = k * FootprintQuadratic(bound.inverse, e2, e2) - c2 * c2;
    const double disc = b * b - a * c;
    // A line that passes the bound narrowly (a discriminant up to 0.0004 a^2) still has two
    // touching planes, close together: the band between them is thin, and where the two conics
    // nearly meet at the light's vanishing point it holds the pixels neither of them does. It
    // is built like any other. Only a discriminant lost in the rounding of b^2 - a c leaves the
    // planes untold.
    if (!(disc > GrazingDiscriminant * std::max(b * b, std::fabs(a * c)))) {
        // No touching planes: the eye-light line passes through the bound (or touches it). Along
        // it Q(s L) = s^2 L.M.L + 2 s b.L + q0; when it meets the bound outside the segment from
        // the eye to the light, the swept bound K lies in the cone of the eye over B or over
        // B - L, and the two conics alone hold its image. Otherwise the bound stands between
        // the eye and the light (the eye is in the shadow), or it is touched and the band cannot
        // be told: the whole frame.
        const double ll = FootprintQuadratic(bound.m, light, light);
        const double bl = Vec3Dot(bound.b, light);
        const bool meetsLine = bl * bl >= ll * bound.q0;
        const bool isBetween = -bl > 0.0 && -bl < ll;
        return meetsLine && !isBetween ? FootprintBandResult::NoBand
                                       : FootprintBandResult::WholeFrame;
    }
    const double root = std::sqrt(disc);
    std::array<Vec3, 2> touching{};
    for (std::size_t i = 0; i < 2; ++i) {
        const double alpha = (-b + (i == 0 ? -root : root)) / a;
        const Vec3 n = Vec3Add(Vec3Scale(e1, alpha), e2);
        // The point of the ellipsoid where n . p = 0 touches it: c + s M^-1 n, n . (that) = 0.
        const Vec3 wn = Matrix3TransformVec3(bound.inverse, n);
        touching[i] =
            Vec3Add(bound.centre, Vec3Scale(wn, -Vec3Dot(n, bound.centre) / Vec3Dot(n, wn)));
    }
    const std::array<Vec3, 4> corners{touching[0], touching[1], Vec3Sub(touching[0], light),
                                      Vec3Sub(touching[1], light)};
    if (std::all_of(corners.begin(), corners.end(), [](const Vec3& p) { return !(p.z > 0.0); })) {
        return FootprintBandResult::NoBand;
    }
    // The corners in the order 0, 2, 3, 1 go round the parallelogram. An edge's plane through
    // the eye has the band on one side; the band lies towards larger x on a row it crosses when
    // moving along x goes to the side where the band's centre lies: m.x (m . g) > 0, m the
    // plane's normal. This holds whether or not the rest of the band is in front of the eye.
    const Vec3 g =
        Vec3Scale(Vec3Add(Vec3Add(corners[0], corners[1]), Vec3Add(corners[2], corners[3])), 0.25);
    std::array<FootprintBandEdge, 4> edges{};
    constexpr std::array<std::size_t, 5> Cycle{0, 2, 3, 1, 0};
    for (std::size_t i = 0; i < 4; ++i) {
        FootprintBandEdge& edge = edges[i];
        edge.p = corners[Cycle[i]];
        edge.q = corners[Cycle[i + 1]];
        const Vec3 m = Vec3Cross(edge.p, edge.q);
        const double side = m.x * Vec3Dot(m, g);
        edge.isBounding = side != 0.0 && std::isfinite(side);
        edge.isLeft = side > 0.0;
    }
    const RenderLevel& level = render.Level();
    const double f = level.focal;
    const double vTop = (-1.0 - level.centreY) / f;
    const double vBottom = (level.height + 1.0 - level.centreY) / f;
    const auto crossesInFront = [&edges](double v) {
        double u = 0.0;
        return std::any_of(edges.begin(), edges.end(), [&](const FootprintBandEdge& edge) {
            return FootprintEdgeCrossing(edge, v, u);
        });
    };
    const bool crossesTop = crossesInFront(vTop);
    const bool crossesBottom = crossesInFront(vBottom);
    if (!crossesTop && !crossesBottom) {
        const Vec3& p = corners[0];
        if (!(p.z > 0.0) || !(p.y / p.z > vTop && p.y / p.z < vBottom)) {
            return FootprintBandResult::NoBand;
        }
    }
    double vLeast = vBottom, vMost = vTop;
    for (const Vec3& p : corners) {
        if (!(p.z > 0.0)) continue;
        vLeast = std::min(vLeast, p.y / p.z);
        vMost = std::max(vMost, p.y / p.z);
    }
    const std::int32_t rowLow =
        crossesTop
            ? -1
            : std::clamp(RoundToIntClamped(f * vLeast + level.centreY), -1, level.height + 1);
    const std::int32_t rowHigh =
        crossesBottom
            ? level.height + 1
            : std::clamp(RoundToIntClamped(f * vMost + level.centreY), -1, level.height + 1);
    if (rowLow >= rowHigh) return FootprintBandResult::NoBand;
    const double uLeft = (-1.0 - level.centreX) / f;
    const double uRight = (level.width + 1.0 - level.centreX) / f;
    SpanList& list = render.outlineList;
    list.SetRows(rowLow, rowHigh);
    for (std::int32_t y = rowLow; y < rowHigh; ++y) {
        const double v = (y - level.centreY + 0.5) / f;
        double start = uLeft, end = uRight;
        for (const FootprintBandEdge& edge : edges) {
            double u = 0.0;
            if (!edge.isBounding || !FootprintEdgeCrossing(edge, v, u)) continue;
            u = std::clamp(u, uLeft, uRight);
            if (edge.isLeft) {
                start = std::max(start, u);
            } else {
                end = std::min(end, u);
            }
        }
        const std::int32_t x0 = RoundToIntClamped(f * start + level.centreX);
        const std::int32_t x1 = RoundToIntClamped(f * end + level.centreX);
        list.SetRun(y, x0, std::max(x0, x1));
    }
    RegionAddSpanList(list, target);
    return FootprintBandResult::Band;
}

// Adds one part's shadow footprint to target; false when the target must be the whole frame.
bool AddPartShadowFootprint(QRender& render, const Matrix4W& form, const Vec3& light,
                            const RegionRect& clip, SpanRegion& target) {
    FootprintBound bound;
    // An eye inside or on the bound, or a bound that is no ellipsoid, leaves no bounded image.
    if (!(form.m[0] > 0.0) || !ReadFootprintBound(form, bound)) return false;
    const double atLight = FootprintBoundAt(bound, light);
    if (!(atLight > 0.0)) return false;
    if (FootprintQuadratic(bound.m, light, light) < 0.0009 * bound.reach) {
        // A light this near the eye throws the shadow straight behind the bound: its image is
        // the bound's own, grown by 3 % about the centre for the small offset.
        const double bMb = bound.reach + bound.q0;
        const double grown = 1.0609 * bound.q0 - 0.0609 * bMb;
        if (!(grown > 0.0) || !(atLight - bound.q0 + grown > 0.0)) return false;
        AddFootprintConic(render, FootprintForm(bound.m, bound.b, grown), clip, target);
        return true;
    }
    const FootprintBandResult band = AddFootprintBand(render, bound, light, target);
    if (band == FootprintBandResult::WholeFrame) return false;
    AddFootprintConic(render, form, clip, target);
    // Q1(p) = Q(p + L): linear terms b + M L, constant Q(L).
    const Vec3 moved = Vec3Add(bound.b, Matrix3TransformVec3(bound.m, light));
    AddFootprintConic(render, FootprintForm(bound.m, moved, atLight), clip, target);
    return true;
}

}  // namespace

void ProjectShadowFootprint(QRender& render, const std::int32_t* partList, SpanRegion& target,
                            const Vec3& lightPosition) {
    const RenderLevel& level = render.Level();
    const RegionRect clip{-1, -1, level.width + 1, level.height + 1};
    RegionSetEmpty(target, 0, 0);
    const RenderParts& parts = render.parts;
    TranslateBadAlloc([&] {
        for (const std::int32_t index : ListEntries(partList)) {
            if (index < 0 || index >= parts.Count()) continue;
            const RenderPart& part = parts.Part(index);
            if (part.visible == 0 || part.surfaceCount == 0) continue;
            if (!AddPartShadowFootprint(render, part.bound, lightPosition, clip, target)) {
                RegionSetRect(target, clip.x0, clip.y0, clip.x1, clip.y1);
                return;
            }
        }
    });
}
