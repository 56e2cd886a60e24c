#include "geometry/revolution_builders.h"

#include "geometry/feature_table.h"
#include "geometry/part_shape_build.h"
#include "geometry/shape_builder_support.h"
#include "geometry/shape_forms.h"
#include "texture/curve_crossing.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace {

// Two rim circles of radius rb at y = -h and rt at y = h: their mean, half-difference (top
// minus bottom) and the smaller radius.
struct RimPair {
    double rb = 0;
    double rt = 0;
    double mean = 0;
    double halfDifference = 0;
    double smaller = 0;
};

RimPair RimPairOf(double rb, double rt) {
    return RimPair{rb, rt, (rb + rt) / 2, (rt - rb) / 2, std::min(rb, rt)};
}

// The square-root term of a cap of depth d through the rims.
double CapRoot(const RimPair& rim, double h, double d) {
    return std::sqrt(4 * rim.mean * rim.mean * rim.halfDifference * rim.halfDifference * d * d +
                     h * h * rim.rt * rim.rt * rim.rb * rim.rb);
}

// The quadric of revolution a (x^2 + z^2) + b y^2 + ... through both rim circles. Depth d > 0
// gives a waist (or bulge) of radius about d half-way: with rb = rt = R its radius at y = 0 is
// R^2 + b h^2 / a = d^2. Depth d <= 0 gives a cap through the axis. Inside (<= 0) is away
// from the axis for a waist, and towards it for a cap deeper than h.
Matrix4W RevolvedSurface(const RimPair& rim, double h, double d) {
    const double mm = rim.mean * rim.mean;
    double a = 0;
    double b = 0;
    if (d > 0) {
        a = -(rim.rb * rim.rt + d * d) * h * h;
        b = mm * rim.rt * rim.rb - d * d * d * d;
    } else {
        a = 2 * h * (d * d - h * h);
        b = CapRoot(rim, h, d) + (rim.halfDifference * rim.halfDifference + mm) * h;
    }
    Matrix4W form;
    form.m[0] = -(a * (rim.rt * rim.rt + rim.rb * rim.rb) / 2 + b * h * h);
    form.m[5] = form.m[15] = a;
    form.m[10] = b;
    FormSetLinear(form, FormAxis::Y, -a * rim.halfDifference * rim.mean / h);
    return form;
}

Matrix4W Negated(const Matrix4W& form) {
    Matrix4W out;
    for (std::size_t i = 0; i < out.m.size(); ++i) out.m[i] = -form.m[i];
    return out;
}

// True when the form's inside is a bounded ellipsoid of revolution holding a point.
bool IsClosedEllipsoid(const Matrix4W& form) {
    if (!(form.m[5] > 0 && form.m[10] > 0 && form.m[15] > 0)) return false;
    return form.m[0] - form.m[2] * form.m[2] / form.m[10] < 0;
}

// The ellipsoid of revolution through both rim circles,
//   rho^2 - rlin(y)^2 + (K + Dh^2/h^2)(y^2 - h^2) <= 0,
// rlin the radius of the straight line between the rims. A surface of the pair through the
// rims has rho^2 = rlin(y)^2 + (b/a + Dh^2/h^2)(h^2 - y^2), so between the rims it lies inside
// whenever K >= b/a; K >= (Dh^2 + Ma^2) / (2 h^2) > 0 holds every waist (b/a <= 0), and the
// caps and bulges (b/a > 0) are closed ellipsoids the builders take as the bound instead.
Matrix4W RimBound(const RimPair& rim, double h) {
    const double squares = rim.halfDifference * rim.halfDifference + rim.mean * rim.mean;
    const double difference = rim.rb * rim.rb - rim.rt * rim.rt;
    const double sum = rim.rb * rim.rb + rim.rt * rim.rt;
    const double q = std::sqrt(3 * difference * difference + sum * sum) / 4;
    const double k = (q + squares / 2) / (h * h);
    Matrix4W bound;
    bound.m[5] = bound.m[15] = 1.0;
    bound.m[10] = k;
    bound.m[0] = -squares - k * h * h;
    FormSetLinear(bound, FormAxis::Y, -rim.halfDifference * rim.mean / h);
    return bound;
}

// A capsule along y when the shape is at least as tall as wide, else a disc.
void SetUprightProxy(PartRenderRecord& part, double halfHeight, double radius,
                     double capsuleRadius) {
    if (radius <= halfHeight) {
        part.proxyKind = ProxyKind::Capsule;
        part.proxy = UprightCapsule(2 * halfHeight, capsuleRadius);
    } else {
        part.proxyKind = ProxyKind::Disc;
        part.proxy = ProxyDisc(Vec3{radius, 0, 0}, Vec3{-radius, 0, 0}, Z_AXIS, halfHeight);
    }
}

// Elements 5, 10, 2 and 0 of surfaces 0 and 1, kept for the dimension editors.
void KeepSurfaceTerms(PartRenderRecord& part) {
    for (std::size_t s = 0; s < 2; ++s) {
        const Matrix4W& form = part.Surfaces()[s];
        part.surfaceTerms[4 * s] = form.m[5];
        part.surfaceTerms[4 * s + 1] = form.m[10];
        part.surfaceTerms[4 * s + 2] = form.m[2];
        part.surfaceTerms[4 * s + 3] = form.m[0];
    }
}

// The heights where the profiles of two surfaces of revolution cross within range, lowest
// first.
std::array<double, 2> CrossingHeights(const Matrix4W& p, const Matrix4W& q, double range,
                                      std::int32_t& count) {
    std::array<double, 4> out{};
    count = SolveCurveCrossing(out, p, q, range);
    std::array<double, 2> heights{out[1], out[3]};
    if (count == 2 && heights[1] < heights[0]) std::swap(heights[0], heights[1]);
    return heights;
}

}  // namespace

std::int32_t BuildBowlShape(PartRenderRecord& part, double l, double r, double cutSteepness,
                            double cutRadius, double cutDepth, double planeOffset) {
    SetShape(part, 3, 3);
    SetUprightProxy(part, l, r, r);
    std::span<Matrix4W> surfaces = part.Surfaces();
    surfaces[0] = FormEllipsoid(r, l, r);
    Matrix4W cutout;
    const double steepSquare = cutSteepness * cutSteepness;
    cutout.m[0] = 1 - cutDepth * cutDepth / steepSquare;
    cutout.m[5] = cutout.m[15] = -1 / (cutRadius * cutRadius);
    cutout.m[10] = -1 / steepSquare;
    FormSetLinear(cutout, FormAxis::Y, cutDepth / steepSquare);
    surfaces[1] = cutout;
    Matrix4W plane;
    plane.m[0] = -planeOffset;
    FormSetLinear(plane, FormAxis::Y, 0.5);
    surfaces[2] = plane;

    // The kinds of cut: 2, the plane cuts spheroid and cutout alike; 1, the cutout takes the
    // spheroid's top below the plane, so the bowl ends where the two meet.
    double yc = std::clamp(planeOffset, -l, l);
    std::int32_t crossings = 0;
    const std::array<double, 2> c = CrossingHeights(surfaces[0], surfaces[1], 1.01 * l, crossings);
    const double cutBottom = cutDepth - cutSteepness;
    std::int32_t kind = 0;
    if (crossings == 0) {
        if (-l < cutDepth && cutDepth < l && cutBottom + 0.0001 * l < planeOffset &&
            planeOffset < cutDepth + cutSteepness - 0.0001 * l) {
            kind = 2;
        }
    } else if (cutBottom > -0.9999 * l && std::min(yc, c[0]) < 0.9999 * l &&
               planeOffset > cutBottom + 0.0001 * l && (crossings == 1 || planeOffset < c[1])) {
        kind = 2;
        if (c[0] < yc) {
            kind = 1;
            yc = c[0];
        }
    }

    if (yc >= l / 2) {
        part.boundQuadric = surfaces[0];
    } else {
        // Through the bottom pole and the axis point (4 yc + l)/3, wide enough for the
        // spheroid below yc.
        Matrix4W bound;
        bound.m[0] = -(4 * yc + l) * l / 3;
        FormSetLinear(bound, FormAxis::Y, (l - 2 * yc) / 3);
        bound.m[10] = 1.0;
        bound.m[5] = bound.m[15] = (yc + l) * l * l / (3 * (l - yc) * r * r);
        part.boundQuadric = bound;
    }

    if (kind == 2) {
        constexpr std::array<FeatureEdge, 2> edges{{
            {2, 0, FeatureCurve::PlaneCurved},
            {2, 1, FeatureCurve::PlaneCurved},
        }};
        FeatureTableFill(part.features, {}, edges);
    } else if (kind == 1) {
        const std::array<FeatureEdge, 1> edges{CircleEdge(1, 0, yc)};
        FeatureTableFill(part.features, {}, edges);
        part.cutHeight = yc;
    } else {
        FeatureTableFill(part.features, {}, {});
        return PartBuildUnbuildable;
    }
    return 0;
}

std::int32_t BuildRevolvedPairShape(PartRenderRecord& part, double h, double rb, double rt,
                                    double d0, double d1) {
    SetShape(part, 2, 3);
    const RimPair rim = RimPairOf(rb, rt);
    SetUprightProxy(part, h, rim.mean, rim.smaller);
    if (d1 < d0) std::swap(d0, d1);

    // A deep cap with a narrow neck: the two surfaces would cross between the rims.
    std::int32_t result = 0;
    const double mm = rim.mean * rim.mean;
    const double neckExcess = d1 * d1 * d1 * d1 - mm * rim.rt * rim.rb;
    if (d0 < -h && d1 > 0 && neckExcess > 0) {
        const double squares = rim.halfDifference * rim.halfDifference + mm;
        if ((rim.rb * rim.rt + d1 * d1) * (CapRoot(rim, h, d0) + squares * h) * h <
            neckExcess * 2 * (d0 * d0 - h * h)) {
            result = PartBuildUnbuildable;
        }
    }
    if (d1 < 0.001 * rim.smaller) result = PartBuildUnbuildable;

    // A first surface that is no cap is a waist, its inside turned towards the axis.
    const bool waist = d0 > -0.001 * rim.smaller;
    if (waist) d0 = std::max(d0, 0.001 * rim.smaller);
    std::span<Matrix4W> surfaces = part.Surfaces();
    surfaces[0] = RevolvedSurface(rim, h, d0);
    if (waist) surfaces[0] = Negated(surfaces[0]);
    surfaces[1] = result == 0 ? Negated(RevolvedSurface(rim, h, d1)) : surfaces[0];
    KeepSurfaceTerms(part);

    if (IsClosedEllipsoid(surfaces[1])) {
        part.boundQuadric = surfaces[1];
    } else if (IsClosedEllipsoid(surfaces[0])) {
        part.boundQuadric = surfaces[0];
    } else {
        part.boundQuadric = RimBound(rim, h);
    }
    const std::array<FeatureEdge, 2> edges{CircleEdge(1, 0, -h), CircleEdge(1, 0, h)};
    FeatureTableFill(part.features, {}, edges);
    return result;
}

void BuildTorusShape(PartRenderRecord& part, double smallR, double bigR) {
    // The torus stand-in has no invalid dimensions its editors need told of.
    static_cast<void>(
        BuildRevolvedPairShape(part, smallR, bigR, bigR, bigR - smallR, bigR + smallR));
}

std::int32_t BuildCoredSolidShape(PartRenderRecord& part, double h, double innerBottom,
                                  double outerBottom, double innerTop, double outerTop,
                                  double coreSize, double neckRadius) {
    SetShape(part, 4, 3);
    const RimPair inner = RimPairOf(innerBottom, innerTop);
    const RimPair outer = RimPairOf(outerBottom, outerTop);
    SetUprightProxy(part, h, inner.mean, inner.smaller);

    std::int32_t result = 0;
    if (coreSize < -0.99 * h) {
        coreSize = -0.99 * h;
        result = PartBuildUnbuildable;
    }
    // A core that is no cap runs through the whole solid as a waisted hole.
    if (coreSize > -0.001 * inner.smaller) coreSize = std::max(coreSize, 0.001 * inner.smaller);
    if (neckRadius < 0.001 * outer.smaller) result = PartBuildUnbuildable;

    std::span<Matrix4W> surfaces = part.Surfaces();
    surfaces[0] = RevolvedSurface(inner, h, coreSize);
    surfaces[1] = Negated(RevolvedSurface(outer, h, neckRadius));
    surfaces[2] = FormPlaneAbove(FormAxis::Y, 2 * h);
    surfaces[3] = FormPlaneBelow(FormAxis::Y, 2 * h);
    KeepSurfaceTerms(part);

    // The core must not break through the wall between the end planes.
    std::int32_t crossings = 0;
    const std::array<double, 2> c = CrossingHeights(surfaces[0], surfaces[1], 1.01 * h, crossings);
    for (std::int32_t i = 0; i < crossings; ++i) {
        if (std::abs(c[static_cast<std::size_t>(i)]) < h) result = PartBuildUnbuildable;
    }

    // The solid lies inside the wall and between the planes, so the bound follows the outer
    // rims (or is the wall itself when it bulges into an ellipsoid).
    part.boundQuadric =
        IsClosedEllipsoid(surfaces[1]) ? surfaces[1] : RimBound(outer, h);
    constexpr std::array<FeatureEdge, 4> edges{{
        {2, 0, FeatureCurve::PlaneCurved},
        {2, 1, FeatureCurve::PlaneCurved},
        {3, 0, FeatureCurve::PlaneCurved},
        {3, 1, FeatureCurve::PlaneCurved},
    }};
    FeatureTableFill(part.features, {}, edges);
    return result;
}
