#include "geometry/rounded_primitive_builders.h"

#include "core/scalar_maths.h"
#include "geometry/feature_table.h"
#include "geometry/shape_builder_support.h"
#include "geometry/shape_forms.h"
#include "geometry/solid_primitive_builders.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace {

// The rounding share of the octagonal bar.
constexpr double OctagonRounding = 0.1;

// The form -1 + radial (x^2 + z^2) + axial y^2.
Matrix4W RevolvedEllipsoid(double radial, double axial) {
    Matrix4W form;
    form.m[0] = -1.0;
    form.m[5] = form.m[15] = radial;
    form.m[10] = axial;
    return form;
}

}  // namespace

void BuildRoundedCylinderShape(PartRenderRecord& part, double r, double l, double a, double b,
                               std::span<Rtp> segments) {
    BuildCylinderShape(part, r, l, {});
    SetShape(part, 4, 9);
    const double d = std::min(1 / ((1 - a) * (1 - a) * r + l / 2), 1 / ((1 - b) * (1 - b) * l / 2 + r));
    part.Surfaces()[3] = RevolvedEllipsoid(d / r, 2 * d / l);
    const double h = std::sqrt((1 / d - r) * l / 2);
    const std::array<FeatureEdge, 4> edges{CircleEdge(3, 0, -h), CircleEdge(3, 0, h),
                                           FeatureEdge{3, 1, FeatureCurve::CurvedPlane},
                                           FeatureEdge{3, 2, FeatureCurve::CurvedPlane}};
    FeatureTableFill(part.features, {}, edges);

    // Outline: the end discs, the ellipsoid's two roundings and the straight side between them.
    if (segments.size() < 5) return;
    const double equator = std::sqrt(r / d);
    const double pole = std::sqrt(l / (2 * d));
    const double endRadius = std::sqrt(std::max(0.0, (1 - d * l / 2) * r / d));
    segments[0] = StraightProfile(-l / 2, -l / 2, 0.0, endRadius, endRadius, 1.0,
                                  ProfilePosition::BottomCap);
    segments[1] = EllipticProfile(0.0, -l / 2, -h, endRadius, r, r, equator, pole);
    segments[2] = StraightProfile(-h, h, r, r, r, 0.0, ProfilePosition::Side);
    segments[3] = EllipticProfile(0.0, h, l / 2, r, endRadius, r, equator, pole);
    segments[4] =
        StraightProfile(l / 2, l / 2, endRadius, 0.0, endRadius, -1.0, ProfilePosition::TopCap);
    BuildMapping(part, segments, 5);
}

void BuildRoundedBoxShape(PartRenderRecord& part, double w, double l, double d, double f) {
    BuildBoxShape(part, w, l, d);
    SetShape(part, 7, 0x40);
    const double m = std::min(w, d);
    const double fw = w < d ? w * f : 0.0;
    const double fd = w >= d ? d * f : 0.0;
    const double across = 4 / (w + d - m * f);
    const double ax = across / (w - fw);
    const double bz = across / (d - fd);
    Matrix4W chamfer;
    chamfer.m[0] = -1.0;
    chamfer.m[5] = ax;
    chamfer.m[10] = -1.0;
    chamfer.m[15] = bz;
    part.Surfaces()[6] = chamfer;

    // At the ends (y = +-l/2) the chamfer holds A x^2 + B z^2 <= 1 + l^2/4: it meets the face
    // x = w/2 at z = +-zf and the face z = d/2 at x = +-xf, each no wider than its face.
    const double level = 1 + l * l / 4;
    const double zf = std::min(d / 2, std::sqrt(std::max(0.0, (level - ax * w * w / 4) / bz)));
    const double xf = std::min(w / 2, std::sqrt(std::max(0.0, (level - bz * d * d / 4) / ax)));
    const std::array<std::array<double, 2>, 8> section{{{w / 2, zf},
                                                        {xf, d / 2},
                                                        {-xf, d / 2},
                                                        {-w / 2, zf},
                                                        {-w / 2, -zf},
                                                        {-xf, -d / 2},
                                                        {xf, -d / 2},
                                                        {w / 2, -zf}}};
    std::array<Vec3, 16> corners;
    for (std::size_t k = 0; k < 8; ++k) {
        corners[k] = Vec3{section[k][0], -l / 2, section[k][1]};
        corners[8 + k] = Vec3{section[k][0], l / 2, section[k][1]};
    }
    constexpr FeatureCurve Line = FeatureCurve::TwoPlanes;
    constexpr FeatureCurve Conic = FeatureCurve::CurvedPlane;
    constexpr std::array<FeatureEdge, 14> edges{{
        {2, 0, Line},
        {2, 1, Line},
        {3, 0, Line},
        {3, 1, Line},
        {4, 2, Line},
        {4, 3, Line},
        {5, 2, Line},
        {5, 3, Line},
        {6, 0, Conic},
        {6, 1, Conic},
        {6, 2, Conic},
        {6, 3, Conic},
        {6, 4, Conic},
        {6, 5, Conic},
    }};
    FeatureTableFill(part.features, corners, edges);

    if (part.wrapMap != nullptr) {
        part.wrapMap->values[0] = PI / ((std::numbers::sqrt2 - 1) * m * f + w + d);
        part.wrapMap->values[1] = m * f;
    }
}

void BuildRoundedFrustumShape(PartRenderRecord& part, double l, double r1, double r2, double a,
                              double b, std::span<Rtp> segments) {
    if (r1 < 0.001 * r2) r1 = 0.001 * r2;
    if (r2 < 0.001 * r1) r2 = 0.001 * r1;
    BuildFrustumShape(part, l, r1, r2, {});
    SetShape(part, 4, 9);

    // The chamfer cone leaves the bottom rim at radius r0 and meets the main cone t higher; its
    // radius grows by s per unit of height, steeper than the main cone by q.
    const double taper = (r2 - r1) / l;
    const double q = std::sqrt(1 + taper * taper);
    const double s = taper + q;
    double t = r1 * a / q;
    double r0 = (1 - a) * r1;
    if (l * b / 2 < t) {
        t = l * b / 2;
        r0 = r1 - t * q;
    }
    const double c = r0 + s * l / 2;
    Matrix4W chamfer;
    chamfer.m[0] = -c * c;
    chamfer.m[5] = chamfer.m[15] = 1.0;
    chamfer.m[10] = -s * s;
    FormSetLinear(chamfer, FormAxis::Y, -c * s);
    part.Surfaces()[3] = chamfer;

    const std::array<FeatureEdge, 3> edges{FeatureEdge{2, 0, FeatureCurve::FrustumTopRim},
                                           CircleEdge(3, 0, -l / 2 + t),
                                           FeatureEdge{3, 1, FeatureCurve::CurvedPlane}};
    FeatureTableFill(part.features, {}, edges);

    if (segments.size() < 4) return;
    const double meet = r1 + taper * t;
    const double sideSlope = (r2 - meet) / std::sqrt((r2 - meet) * (r2 - meet) + (l - t) * (l - t));
    segments[0] = StraightProfile(-l / 2, -l / 2, 0.0, r0, r0, 1.0, ProfilePosition::BottomCap);
    segments[1] = StraightProfile(-l / 2, -l / 2 + t, r0, meet, meet, s / std::sqrt(1 + s * s),
                                  ProfilePosition::Side);
    segments[2] = StraightProfile(-l / 2 + t, l / 2, meet, r2, std::max(meet, r2), sideSlope,
                                  ProfilePosition::Side);
    segments[3] = StraightProfile(l / 2, l / 2, r2, 0.0, r2, -1.0, ProfilePosition::TopCap);
    BuildMapping(part, segments, 4);
}

void BuildSmoothPlateShape(PartRenderRecord& part, double t, double l, double wb, double wt) {
    SetShape(part, 5, 0x1F);
    // The proxy kind is set here too, so a rebuild never keeps the kind of an earlier shape.
    part.proxyKind = ProxyKind::Sphere;
    part.proxy = ProxySphere(Vec3{}, std::min({t, l, wb, wt}) / 2);
    std::span<Matrix4W> surfaces = part.Surfaces();

    Matrix4W faces;
    faces.m[0] = -1.0;
    faces.m[5] = 4 / (t * t);
    faces.m[10] = faces.m[15] = 0.002 / (t * t);
    surfaces[0] = faces;

    Matrix4W ends;
    ends.m[0] = -1.0;
    ends.m[5] = ends.m[15] = 0.002 / (l * l);
    ends.m[10] = 4 / (l * l);
    surfaces[1] = ends;

    Matrix4W sides;
    sides.m[0] = -1.0;
    FormSetLinear(sides, FormAxis::Y, 0.75 / l);
    sides.m[10] = 0.15 / (wt * wt);
    sides.m[15] = 2 / (wb * wb);
    surfaces[2] = sides;

    constexpr double K = 0.04;
    const double x = std::max(1.001 * t, std::sqrt((t - K * l) * (t + (1 - 2 * K) * l)));
    const double y = std::max(1.001 * l, std::sqrt((1 - K) * l * (t + (1 - 2 * K) * l)));
    Matrix4W rim;
    rim.m[0] = -1.0;
    rim.m[5] = 4 / (x * x);
    rim.m[10] = 4 / (y * y);
    surfaces[3] = rim;

    Matrix4W shoulder;
    shoulder.m[0] = -1.0;
    FormSetLinear(shoulder, FormAxis::Y, 0.5 / l);
    shoulder.m[5] = 2.5 / (t * t);
    shoulder.m[10] = 0.3 / (wt * wt);
    shoulder.m[15] = 1 / (wb * wb);
    surfaces[4] = shoulder;

    // Inside, |x| <= t/2 and |y| <= l/2 (surfaces 0 and 1) and z^2 <= 7/8 wb^2 (surface 2 at
    // y = -l/2), so the bound's sum stays below 1/2 + 1/2 + 7/4.
    const double widest = std::max(wb, wt);
    Matrix4W bound;
    bound.m[0] = -3.0;
    bound.m[5] = 2 / (t * t);
    bound.m[10] = 2 / (l * l);
    bound.m[15] = 2 / (widest * widest);
    part.boundQuadric = bound;
    FeatureTableFill(part.features, {}, {});
}

double RoundedOctagonMinLength(double r) {
    const double k = (1 - OctagonRounding) * std::cos(PI / 8);
    return r * 2.02 * (1 / k - k) / 1.7;
}

void BuildRoundedOctagonShape(PartRenderRecord& part, double r, double l) {
    // A shorter bar leaves the ellipsoid no room to meet the side.
    l = std::max(l, RoundedOctagonMinLength(r));
    BuildFlatSidedCylinderShape(part, r, l);
    SetShape(part, 8, 0x81);

    const double k = (1 - OctagonRounding) * std::cos(PI / 8);
    const double b = k * r;
    const double c = 0.85 * l + b;
    part.Surfaces()[7] = RevolvedEllipsoid(1 / (c * b), 1.7 / (c * l / 2));

    // The ellipsoid meets the side at y = +-h, where the flats' corners end.
    const double h = std::sqrt((l / 2 - r * (1 / k - k) / 1.7) * l / 2);
    std::array<Vec3, 16> corners;
    for (std::size_t j = 0; j < 8; ++j) {
        const double angle = static_cast<double>(2 * j + 1) * PI / 8;
        corners[j] = Vec3{r * std::cos(angle), -h, r * std::sin(angle)};
        corners[8 + j] = Vec3{corners[j].x, h, corners[j].z};
    }
    constexpr FeatureCurve Conic = FeatureCurve::PlaneCurved;
    constexpr FeatureCurve Curved = FeatureCurve::CurvedPlane;
    const std::array<FeatureEdge, 12> edges{{
        {1, 0, Conic},
        {2, 0, Conic},
        {3, 0, Conic},
        {4, 0, Conic},
        CircleEdge(7, 0, -h),
        CircleEdge(7, 0, h),
        {7, 1, Curved},
        {7, 2, Curved},
        {7, 3, Curved},
        {7, 4, Curved},
        {7, 5, Curved},
        {7, 6, Curved},
    }};
    FeatureTableFill(part.features, corners, edges);
}
