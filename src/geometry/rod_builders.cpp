#include "geometry/rod_builders.h"

#include "core/matrix3.h"
#include "core/matrix4.h"
#include "geometry/feature_table.h"
#include "geometry/shape_builder_support.h"
#include "geometry/shape_forms.h"

#include <algorithm>
#include <cmath>

namespace {

// The rod's frame and measures.
struct RodFrame {
    double length = 0;         // L = |B - A|
    Vec3 chord;                // u, unit
    Vec3 across;               // v, the frame's x: in the bend plane, away from the centre
    double sine = 0;           // of the angle between C and the chord
    double cosine = 1;
    double curvature = 0;      // K = 2 sin / L
    double sag = 0;            // the arc's midpoint from the chord
    double meanRadius = 0;     // X
    double taper = 0;          // T = (rB - rA) / 0.75
    Matrix4W frameFromScene;   // scene point to frame coordinates
};

RodFrame MakeRodFrame(const Vec3& a, const Vec3& b, const Vec3& c, double radiusA,
                      double radiusB) {
    RodFrame f;
    const Vec3 chord = Vec3Sub(b, a);
    f.length = Vec3Length(chord);
    f.chord = Vec3Scale(chord, 1 / f.length);
    const double along = Vec3Dot(f.chord, c);
    f.across = Vec3Sub(c, Vec3Scale(f.chord, along));
    if (Vec3Normalize(f.across) == 0.0) {
        // C along the chord: a straight rod, whose bend plane may be any plane through it.
        const Vec3 helper = std::abs(f.chord.x) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
        f.across = Vec3Cross(helper, f.chord);
        Vec3Normalize(f.across);
    }
    const double t = std::min(1.0, along * along / Vec3Dot(c, c));
    f.sine = std::sqrt(1 - t);
    f.cosine = std::sqrt(t);
    f.curvature = 2 * f.sine / f.length;
    f.sag = f.length / 2 * f.sine / (1 + f.cosine);
    f.meanRadius = (radiusA + radiusB) / 2;
    f.taper = (radiusB - radiusA) / 0.75;

    // frame = R (p - midpoint), R's rows the frame axes v, u and v x u.
    const Vec3 normal = Vec3Cross(f.across, f.chord);
    const Vec3 midpoint =
        Vec3Add(Vec3Scale(Vec3Add(a, b), 0.5), Vec3Scale(f.across, f.sag));
    const Matrix3 rotation{{f.across.x, f.across.y, f.across.z, f.chord.x, f.chord.y, f.chord.z,
                            normal.x, normal.y, normal.z}};
    const Vec3 t0 = Matrix3TransformVec3(rotation, Vec3Scale(midpoint, -1.0));
    f.frameFromScene = EmbedMatrix3(rotation, 0);
    f.frameFromScene.m[4] = t0.x;
    f.frameFromScene.m[8] = t0.y;
    f.frameFromScene.m[12] = t0.z;
    return f;
}

// A wall of the rod in frame coordinates: side +1 the outer wall, -1 the inner. Without taper
// its section z = 0 is the circle of radius 1/K + side X about (-1/K, 0), and it reaches
// |z| <= X at the origin.
Matrix4W RodWall(const RodFrame& f, double side) {
    const double k = f.curvature;
    const double x = f.meanRadius;
    const double g = 2 + side * k * x;
    Matrix4W wall;
    wall.m[0] = -g * x;
    FormSetLinear(wall, FormAxis::X, side);
    FormSetLinear(wall, FormAxis::Y, -g * f.taper / (2 * f.length));
    wall.m[5] = wall.m[10] = side * k;
    wall.m[15] = g / x;
    return wall;
}

// The end plane sin x -+ cos y >= -L/2 through the centre of curvature: side -1 at A, +1 at B.
Matrix4W RodEnd(const RodFrame& f, double side) {
    Matrix4W end;
    end.m[0] = -f.length;
    FormSetLinear(end, FormAxis::X, -f.sine);
    FormSetLinear(end, FormAxis::Y, side * f.cosine);
    return end;
}

// The extreme points of the outer and inner walls at the rod's ends, in the section z = 0.
struct RodExtremes {
    double xTop = 0;
    double x1 = 0, y1 = 0;  // outer
    double x2 = 0, y2 = 0;  // inner
};

RodExtremes RodExtremesOf(const RodFrame& f) {
    const double k = f.curvature;
    const double x = f.meanRadius;
    const double taper = std::abs(f.taper);
    RodExtremes e;
    const double g1 = 2 + k * x;
    const double a1 = g1 * g1 * f.taper * f.taper / 16;
    const double r1 = std::sqrt(k * k * a1 + (1 + k * x) * (1 + k * x));
    const double j1 = taper * g1 / 4;
    e.xTop = k * a1 / (r1 + 1 + k * x) + j1 + x;
    e.x1 = e.xTop * f.cosine - f.sag;
    e.y1 = (r1 + j1 * k) * f.length / 2;
    const double g2 = 2 - k * x;
    const double a2 = g2 * g2 * f.taper * f.taper / 16;
    const double r2 = std::sqrt((1 - k * x) * (1 - k * x) + k * k * a2);
    const double j2 = taper * g2 / 4;
    e.x2 = (k * a2 / (r2 + 1 - k * x) - j2 - x) * f.cosine - f.sag;
    e.y2 = (r2 - j2 * k) * f.length / 2;
    return e;
}

// The ellipsoid whose section z = 0 passes through the walls' extreme points and reaches
// x_top, and which passes through (-sag, -+L/2, -+sqrt(X (X + |T|/2))).
Matrix4W RodBound(const RodFrame& f, const RodExtremes& e) {
    const double xt = e.xTop;
    const double s1 = e.y1 * e.y1;
    const double s2 = e.y2 * e.y2;
    const double dx = e.x1 - e.x2;
    const double q1 = (xt - e.x1) * (xt - e.x2) * dx / ((xt - e.x2) * s1 - (xt - e.x1) * s2);
    const double q2 = dx * dx / (std::sqrt((s1 + s2) * (s1 + s2) + 3 * (s1 - s2) * (s1 - s2)) + s1 + s2);
    const double q = std::max(q1, q2);
    const double c = (e.x1 + e.x2) / 2 + q * (s1 - s2) / (2 * dx);
    Matrix4W bound;
    bound.m[0] = e.x1 * e.x2 - q * (e.x1 * s2 - e.x2 * s1) / dx;
    FormSetLinear(bound, FormAxis::X, -c);
    bound.m[5] = 1.0;
    bound.m[10] = q;
    const double atChord = f.sag * f.sag + 2 * c * f.sag + bound.m[0];
    bound.m[15] = -(atChord + q * f.length * f.length / 4) /
                  (f.meanRadius * (f.meanRadius + std::abs(f.taper) / 2));
    return bound;
}

// The rod's four surfaces, its bound and its proxy, in scene coordinates.
RodFrame BuildRodCore(PartRenderRecord& part, const Vec3& a, const Vec3& b, const Vec3& c,
                      double radiusA, double radiusB) {
    const RodFrame f = MakeRodFrame(a, b, c, radiusA, radiusB);
    part.proxyKind = ProxyKind::Arc;
    Matrix4W proxy = ProxyCapsule(a, b, std::max(0.0, std::min(radiusA, radiusB) -
                                                         std::abs(radiusA - radiusB) / 6));
    proxy.m[6] = c.x;
    proxy.m[10] = c.y;
    proxy.m[14] = c.z;
    part.proxy = proxy;
    std::span<Matrix4W> surfaces = part.Surfaces();
    surfaces[0] = FormCarried(RodWall(f, 1.0), f.frameFromScene);
    surfaces[1] = FormCarried(RodWall(f, -1.0), f.frameFromScene);
    surfaces[2] = FormCarried(RodEnd(f, -1.0), f.frameFromScene);
    surfaces[3] = FormCarried(RodEnd(f, 1.0), f.frameFromScene);
    Matrix4W bound = RodBound(f, RodExtremesOf(f));
    if (!FormIsFinite(bound)) {
        // A half circle puts both walls' end points on the chord line, where the ellipse
        // through them is undefined: the ball about the chord's midpoint holds the rod, as
        // no point of an arc up to a half circle lies farther than L/2 from it.
        const double reach = f.length / 2 + f.meanRadius + std::abs(f.taper);
        bound = FormEllipsoid(reach, reach, reach);
        FormSetLinear(bound, FormAxis::X, f.sag / (reach * reach));
        bound.m[0] += f.sag * f.sag / (reach * reach);
    }
    part.boundQuadric = FormCarried(bound, f.frameFromScene);
    FeatureTableFill(part.features, {}, {});
    // Written in scene coordinates, so the part's placement is the identity.
    part.worldFromLocal = Matrix4W{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
    part.localFromWorld = part.worldFromLocal;
    return f;
}

// The hyperboloid of revolution about the line through p along n (any length) of waist
// radius waist: radial^2 <= waist^2 + (g - 1) axial^2.
Matrix4W FlaredEnd(const Vec3& p, const Vec3& n, double waist, double g) {
    const double d = Vec3Dot(n, n);
    const double np = Vec3Dot(n, p);
    const std::array<double, 3> nc{n.x, n.y, n.z};
    const std::array<double, 3> pc{p.x, p.y, p.z};
    Matrix4W form;
    form.m[0] = d * (Vec3Dot(p, p) - waist * waist) - g * np * np;
    for (std::size_t i = 0; i < 3; ++i) {
        const auto ai = static_cast<FormAxis>(i);
        FormSetLinear(form, ai, g * np * nc[i] - d * pc[i]);
        for (std::size_t j = i; j < 3; ++j) {
            FormSetQuadratic(form, ai, static_cast<FormAxis>(j),
                             (i == j ? d : 0.0) - g * nc[i] * nc[j]);
        }
    }
    return form;
}

}  // namespace

void BuildRodShape(PartRenderRecord& part, const Vec3& a, const Vec3& b, const Vec3& c,
                   double radiusA, double radiusB) {
    SetShape(part, 4, 3);
    BuildRodCore(part, a, b, c, radiusA, radiusB);
}

void BuildCutRodShape(PartRenderRecord& part, const Vec3& a, const Vec3& b, const Vec3& c,
                      double radiusA, double radiusB, double waistA, double slopeA,
                      double waistB, double slopeB) {
    SetShape(part, 6, 0x33);
    const RodFrame f = BuildRodCore(part, a, b, c, radiusA, radiusB);

    // The inner wall's extreme point, resolved along and across the tangent at A: with small
    // slopes each end surface passes through it.
    const RodExtremes e = RodExtremesOf(f);
    const double along = (e.y2 + f.length / 2) * f.cosine + (e.x2 + f.sag) * f.sine;
    const double off = (e.x2 + f.sag) * f.cosine - (e.y2 + f.length / 2) * f.sine;
    // On a half circle the point lies square to the tangent (along = 0), where no flare
    // reaches it: the least slope alone shapes the end.
    const auto flare = [&](double waist, double slope) {
        if (along == 0.0) return 1 + slope * slope;
        return 1 + std::max((off * off - waist * waist) / (along * along), slope * slope);
    };
    const Vec3 mirrored = Vec3Sub(c, Vec3Scale(f.chord, 2 * Vec3Dot(f.chord, c)));
    std::span<Matrix4W> surfaces = part.Surfaces();
    surfaces[4] = FlaredEnd(a, c, waistA, flare(waistA, slopeA));
    surfaces[5] = FlaredEnd(b, mirrored, waistB, flare(waistB, slopeB));
}
