#include "geometry/corner_rod_builder.h"

#include "core/matrix3.h"
#include "core/matrix4.h"
#include "core/scalar_maths.h"
#include "geometry/corner_rod_wrap.h"
#include "geometry/feature_table.h"
#include "geometry/shape_builder_support.h"
#include "geometry/shape_forms.h"
#include "geometry/solid_primitive_builders.h"

#include <algorithm>
#include <cmath>

namespace {

// Passes of the construction at most, each lessening the bend a little less.
constexpr int CornerRodPasses = 6;

struct RodFrame {
    double length = 0;
    Vec3 chord;   // u
    Vec3 bendX;   // the frame's x direction in scene coordinates
    Vec3 normal;  // x cross u, the frame's z
    double sigma = 0;
    double kappa = 1;
    double curvature = 0;
    double sag = 0;
    Matrix4W localFromWorld;
};

RodFrame MakeFrame(const CornerRodParams& rod, double bendSine) {
    RodFrame f;
    const Vec3 chord = Vec3Sub(rod.b, rod.a);
    f.length = Vec3Length(chord);
    f.chord = Vec3Scale(chord, 1 / f.length);
    Vec3 across = Vec3Sub(rod.c, Vec3Scale(f.chord, Vec3Dot(f.chord, rod.c)));
    Vec3Normalize(across);
    f.bendX = bendSine >= 0 ? Vec3Scale(across, -1.0) : across;
    f.normal = Vec3Cross(f.bendX, f.chord);
    f.sigma = std::min(std::abs(bendSine), 1.0);
    f.kappa = std::sqrt(1 - f.sigma * f.sigma);
    f.curvature = 2 * f.sigma / f.length;
    f.sag = f.length / 2 * f.sigma / (1 + f.kappa);
    // local = R (p - A) + (-sag, -L/2, 0), R's rows the frame axes.
    const Matrix3 rotation{{f.bendX.x, f.bendX.y, f.bendX.z, f.chord.x, f.chord.y, f.chord.z,
                            f.normal.x, f.normal.y, f.normal.z}};
    const Vec3 moved = Matrix3TransformVec3(rotation, Vec3Scale(rod.a, -1.0));
    f.localFromWorld = EmbedMatrix3(rotation, 0);
    f.localFromWorld.m[4] = moved.x - f.sag;
    f.localFromWorld.m[8] = moved.y - f.length / 2;
    f.localFromWorld.m[12] = moved.z;
    return f;
}

// A section direction made square to the rod's tangent, its slope out of the bend plane held
// to 45 degrees: local components and the (limited) slope.
struct Section {
    Vec3 local;
    Vec3 scene;
    double slope = 0;
    bool limited = false;
};

Section SectionAt(const RodFrame& f, const Vec3& direction, const Vec3& tangentLocal) {
    const Vec3 tangent = Vec3Add(Vec3Scale(f.bendX, tangentLocal.x), Vec3Scale(f.chord, tangentLocal.y));
    const Vec3 square = Vec3Sub(direction, Vec3Scale(tangent, Vec3Dot(direction, tangent)));
    const double x = Vec3Dot(square, f.bendX);
    const double y = Vec3Dot(square, f.chord);
    const double z = Vec3Dot(square, f.normal);
    const double sign = x < 0 ? -1.0 : 1.0;
    const double planar = std::sqrt(x * x + y * y);
    Section s;
    s.slope = sign * z / planar;
    if (s.slope > 1 || s.slope < -1) {
        s.slope = std::clamp(s.slope, -1.0, 1.0);
        s.limited = true;
    }
    s.local = Vec3{x, y, sign * s.slope * planar};
    s.scene = Vec3Add(Vec3Add(Vec3Scale(f.bendX, x), Vec3Scale(f.chord, y)),
                      Vec3Scale(f.normal, s.local.z));
    return s;
}

struct Walls {
    Matrix4W outer;
    Matrix4W inner;
    // The terms the wrap map keeps.
    double omega = 0;
    double phi = 0;
    double sectionA = 0;
    double sectionB = 0;
    double theta = 0;
    double meanSlope = 0;
    double slopeStep = 0;
};

Walls MakeWalls(const RodFrame& f, const CornerRodParams& rod, double a, double b) {
    const double k = f.curvature;
    const double sigma = f.sigma;
    const double l = f.length;
    const double x = rod.wall;
    const double ca = rod.sizeA / std::sqrt(1 + a * a);
    const double cb = rod.sizeB / std::sqrt(1 + b * b);
    const double h = l / 2;
    const double hh = sigma * h;
    const double e0 = -2 * x * (1 + k * x / 2);
    const double tilt = (a * ca + b * cb) * k;
    const double spread = (a + b) * k * ca * cb;
    const double omega = (4 - tilt * tilt) * e0 / ((ca + cb) * (ca + cb) - spread * spread);
    const double pa2 = rod.sizeA * rod.sizeA;
    const double pb2 = rod.sizeB * rod.sizeB;
    const double pA = sigma * sigma * a * b * pa2 + (1 + a * a) * l * l / 4;
    const double qA = sigma * k * a * (a + b) * pa2 - (1 + a * a) * l;
    const double sA = (1 + a * a) * e0 - omega * pa2;
    const double pB = sigma * sigma * a * b * pb2 + (1 + b * b) * l * l / 4;
    const double qB = (1 + b * b) * l - sigma * k * b * (a + b) * pb2;
    const double sB = (1 + b * b) * e0 - omega * pb2;
    const double delta = qB * pA - pB * qA;
    const double beta = (qA * sB - qB * sA) / delta;
    const double alpha = (sA * pB - pA * sB) / delta;
    const double m = (a + b) / 2;
    const double j = (b - a) / l;
    const double theta = sigma * h * j * j - k * m * m;

    Walls w;
    Matrix4W& o = w.outer;
    o.m[0] = e0;
    FormSetLinear(o, FormAxis::X, 1.0);
    FormSetLinear(o, FormAxis::Y, alpha);
    FormSetLinear(o, FormAxis::Z, (j * alpha + beta * m) * hh + m);
    o.m[5] = k;
    o.m[10] = beta + k;
    FormSetQuadratic(o, FormAxis::Y, FormAxis::Z, (beta * hh + 1) * j + k * m * alpha);
    o.m[15] = theta - omega;

    const double phi = (1 - k * x / 2) / (1 + k * x / 2);
    const double betaI = beta * phi;
    const double alphaI = alpha * phi;
    Matrix4W& i = w.inner;
    i.m[0] = phi * e0;
    FormSetLinear(i, FormAxis::X, -1.0);
    FormSetLinear(i, FormAxis::Y, alphaI);
    FormSetLinear(i, FormAxis::Z, (j * alphaI + betaI * m) * hh - m);
    i.m[5] = -k;
    i.m[10] = betaI - k;
    FormSetQuadratic(i, FormAxis::Y, FormAxis::Z, k * m * alphaI + (hh * betaI - 1) * j);
    i.m[15] = -omega * phi - theta;
    w.omega = omega;
    w.phi = phi;
    w.sectionA = ca;
    w.sectionB = cb;
    w.theta = theta;
    w.meanSlope = m;
    w.slopeStep = j;
    return w;
}

// The inner wall's crossing of the x axis nearest x = -X: where the wall lies X inside the
// arc's midpoint.
double InnerWallCrossing(const Matrix4W& inner, double curvature, double wall) {
    // -K x^2 - 2 x + c = 0.
    const double c = inner.m[0];
    if (curvature == 0.0) return c / 2;
    const double root = std::sqrt(std::max(0.0, 1 + curvature * c));
    const double near = (-1 + root) / curvature;
    const double far = (-1 - root) / curvature;
    return std::abs(near + wall) <= std::abs(far + wall) ? near : far;
}

// The corner rod's wrap map (corner_rod_wrap.h): the wall and end terms, the section slopes
// and which way each section direction points along the outward radius at its end.
void FillCornerRodWrap(PartRenderRecord& part, const RodFrame& f, const CornerRodParams& rod,
                       const Section& sa, const Section& sb, const Walls& walls) {
    const double h = f.length / 2;
    // The axis' arc length: the chord over the sine of the half bend times the half bend.
    const double axisLength = f.sigma > 0 ? f.length * std::asin(f.sigma) / f.sigma : f.length;
    const double sum = rod.sizeA + rod.sizeB;
    const double spread = std::abs(rod.sizeA - rod.sizeB);
    // The outward radius at A is (kappa, -sigma) and at B (kappa, sigma) in the bend plane.
    std::uint32_t flags = 0;
    if (sa.local.x * f.kappa - sa.local.y * f.sigma < 0) flags |= CornerRodInwardA;
    if (sb.local.x * f.kappa + sb.local.y * f.sigma < 0) flags |= CornerRodInwardB;
    std::array<double, 17> values{};
    values[CornerRodNegOmega] = -walls.omega;
    values[CornerRodNegOmegaPhi] = -walls.omega * walls.phi;
    values[CornerRodSlopeA] = sa.slope;
    values[CornerRodSlopeB] = sb.slope;
    values[CornerRodOffsetA] = -(h + f.sigma * sa.slope * walls.sectionA);
    values[CornerRodOffsetB] = -(h + f.sigma * sb.slope * walls.sectionB);
    values[CornerRodSectionA] = walls.sectionA;
    values[CornerRodTheta] = walls.theta;
    values[CornerRodMeanSlope] = walls.meanSlope;
    values[CornerRodSlopeStep] = walls.slopeStep;
    values[CornerRodSizeA] = rod.sizeA;
    values[CornerRodSizeB] = rod.sizeB;
    values[CornerRodWallRatio] = 4 * rod.wall / (sum * sum);
    values[CornerRodQuarterSpan] = PI / 2 * std::sqrt(spread * spread + axisLength * axisLength);
    values[CornerRodAxisLength] = axisLength;
    values[CornerRodSizeSpread] = spread;
    values[CornerRodCurvature] = f.curvature;
    WrapMapRecord& wrap = WrapMapOf(part);
    CornerRodWrapFill(wrap, values, flags);
    wrap.texParams = part.texParams;
}

}  // namespace

CornerRodParams CornerRodParamsFrom(const std::array<double, 19>& p) {
    return CornerRodParams{Vec3{p[0], p[1], p[2]},    Vec3{p[3], p[4], p[5]},
                           Vec3{p[6], p[7], p[8]},    Vec3{p[9], p[10], p[11]},
                           Vec3{p[12], p[13], p[14]}, p[15],
                           p[16],                     p[17],
                           p[18]};
}

double CircleOffset(double k, double a, double b) {
    if (k * a > -1) {
        return (2 * a + k * (a * a + b * b)) / (std::sqrt((k * a + 1) * (k * a + 1) + k * k * b * b) + 1);
    }
    return -(std::sqrt((a + 1 / k) * (a + 1 / k) + b * b) + 1 / k);
}

Matrix4W BoxCornerQuadric(double x0, double x1, double y0, double y1, double z0, double z1) {
    const double dx = 1 / ((x1 - x0) * (x1 - x0));
    const double dy = 1 / ((y1 - y0) * (y1 - y0));
    const double dz = 1 / ((z1 - z0) * (z1 - z0));
    Matrix4W form;
    form.m[5] = dx;
    form.m[10] = dy;
    form.m[15] = dz;
    FormSetLinear(form, FormAxis::X, -(x0 + x1) / 2 * dx);
    FormSetLinear(form, FormAxis::Y, -(y0 + y1) / 2 * dy);
    FormSetLinear(form, FormAxis::Z, -(z0 + z1) / 2 * dz);
    form.m[0] = x0 * x1 * dx + y0 * y1 * dy + z0 * z1 * dz;
    return form;
}

std::int32_t BuildCornerRodShape(PartRenderRecord& part, const CornerRodParams& rod) {
    SetShape(part, 4, 3);
    std::int32_t result = 0;
    double bendSine = rod.bendSine;
    for (int pass = 0; pass < CornerRodPasses; ++pass) {
        const RodFrame f = MakeFrame(rod, bendSine);
        const double l = f.length;
        const Vec3 tangentA{f.sigma, f.kappa, 0};
        const Vec3 tangentB{-f.sigma, f.kappa, 0};
        const Section sa = SectionAt(f, rod.sectionA, tangentA);
        const Section sb = SectionAt(f, rod.sectionB, tangentB);
        if (sa.limited || sb.limited) result = 1;
        const Walls walls = MakeWalls(f, rod, sa.slope, sb.slope);

        // The seam corners: in each end plane, the rod's size away from the end point across
        // the section direction, corner 0 (and 2) on the side of negative z.
        const auto seamEnds = [](const Vec3& end, const Vec3& tangent, const Vec3& section,
                                 double size) {
            Vec3 across = Vec3Cross(tangent, section);
            Vec3Normalize(across);
            if (across.z > 0) across = Vec3Scale(across, -1.0);
            return std::array<Vec3, 2>{Vec3Add(end, Vec3Scale(across, size)),
                                       Vec3Sub(end, Vec3Scale(across, size))};
        };
        const auto endsA = seamEnds(Vec3{-f.sag, -l / 2, 0}, tangentA, sa.local, rod.sizeA);
        const auto endsB = seamEnds(Vec3{-f.sag, l / 2, 0}, tangentB, sb.local, rod.sizeB);
        const std::array<Vec3, 4> corners{endsA[0], endsA[1], endsB[0], endsB[1]};

        double smallest = CircleOffset(f.curvature, corners[0].x, corners[0].y);
        for (const Vec3& corner : corners) {
            smallest = std::min(smallest, CircleOffset(f.curvature, corner.x, corner.y));
        }
        smallest = std::min(smallest, CircleOffset(f.curvature,
                                                   InnerWallCrossing(walls.inner, f.curvature, rod.wall), 0));
        const double limit = (0.9 + pass * 0.1 / 6) * (-l / 2) / smallest;
        const bool done = pass == CornerRodPasses - 1 || (-limit <= bendSine && bendSine <= limit);
        if (!done) {
            bendSine = bendSine < -limit ? -limit : limit;
            result = 1;
            continue;
        }

        std::span<Matrix4W> surfaces = part.Surfaces();
        surfaces[0] = walls.outer;
        surfaces[1] = walls.inner;
        Matrix4W endA;
        endA.m[0] = -l;
        FormSetLinear(endA, FormAxis::X, -f.sigma);
        FormSetLinear(endA, FormAxis::Y, -f.kappa);
        surfaces[2] = endA;
        FormSetLinear(endA, FormAxis::Y, f.kappa);
        surfaces[3] = endA;

        part.proxyKind = ProxyKind::Arc;
        Matrix4W proxy = ProxyCapsule(Vec3{0, -l / 2, 0}, Vec3{0, l / 2, 0}, rod.wall);
        proxy.m[6] = f.sigma;
        proxy.m[10] = f.kappa;
        part.proxy = proxy;

        // The arc keeps within x in [-sag, 0] and y in [-L/2, L/2]; the section reaches at
        // most its size and a half and the wall offset from it.
        const double reach = 1.5 * std::max(rod.sizeA, rod.sizeB) + std::abs(rod.wall);
        part.boundQuadric = BoxCornerQuadric(-f.sag - reach, reach, -l / 2 - reach, l / 2 + reach,
                                             -reach, reach);

        // Seam planes c0 + cy y + cz z = 0 through corners 0 and 2, and 1 and 3.
        std::array<FeatureEdge, 6> edges{};
        for (std::size_t s = 0; s < 2; ++s) {
            const Vec3& p = corners[s];
            const Vec3& q = corners[s + 2];
            const double c0 = p.z * q.y - p.y * q.z;
            const double cy = q.z - p.z;
            const double cz = p.y - q.y;
            edges[s] = FeatureEdge{1, 0, FeatureCurve::TwoCurved};
            edges[s].plane = {c0, 0, cy, cz};
            part.seamPlanes[3 * s] = c0;
            part.seamPlanes[3 * s + 1] = cy;
            part.seamPlanes[3 * s + 2] = cz;
        }
        edges[2] = FeatureEdge{2, 0, FeatureCurve::PlaneCurved};
        edges[3] = FeatureEdge{2, 1, FeatureCurve::PlaneCurved};
        edges[4] = FeatureEdge{3, 0, FeatureCurve::PlaneCurved};
        edges[5] = FeatureEdge{3, 1, FeatureCurve::PlaneCurved};
        FeatureTableFill(part.features, corners, edges);

        part.sectionDirA = sa.scene;
        part.sectionDirB = sb.scene;
        part.bendSine = bendSine;
        part.halfChord = l / 2;
        part.localFromWorld = f.localFromWorld;
        part.worldFromLocal = InvertAffineWFirst(f.localFromWorld);
        if (PartHasTextureImage(part)) FillCornerRodWrap(part, f, rod, sa, sb, walls);
        break;
    }
    return result;
}
