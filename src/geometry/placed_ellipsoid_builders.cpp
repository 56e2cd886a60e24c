#include "geometry/placed_ellipsoid_builders.h"

#include "core/matrix3.h"
#include "core/matrix4.h"
#include "geometry/aux_mapping_profile.h"
#include "geometry/feature_table.h"
#include "geometry/shape_builder_support.h"
#include "geometry/shape_forms.h"

#include <array>
#include <cmath>
#include <limits>
#include <numbers>

namespace {

// A capsule along the part's y axis from -b to b, of no thickness.
void SetAxisProxy(PartRenderRecord& part, double b) {
    part.proxyKind = ProxyKind::Capsule;
    part.proxy = ProxyCapsule(Vec3{0, -b, 0}, Vec3{0, b, 0}, 0.0);
}

}  // namespace

void SetPlacementFromDirections(PartRenderRecord& part, const Vec3& origin, const Vec3& up,
                                const Vec3& across) {
    Vec3 u = up;
    const double upLength = Vec3Normalize(u);
    Vec3 v = Vec3Sub(across, Vec3Scale(u, Vec3Dot(across, u)));
    const double acrossLength = Vec3Normalize(v);
    if (upLength == 0.0 || acrossLength == 0.0) {
        // No frame: a placement of NaNs marks the part unbuildable.
        constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
        part.localFromWorld = Matrix4W{{1, NaN, NaN, NaN, NaN, NaN, NaN, NaN, NaN, NaN, NaN, NaN,
                                        NaN, NaN, NaN, NaN}};
        part.worldFromLocal = part.localFromWorld;
        return;
    }
    const Vec3 w = Vec3Cross(v, u);
    const Matrix3 rotation{{v.x, v.y, v.z, u.x, u.y, u.z, w.x, w.y, w.z}};
    const Vec3 t = Matrix3TransformVec3(rotation, Vec3Scale(origin, -1.0));
    Matrix4W localFromWorld = EmbedMatrix3(rotation, 0);
    localFromWorld.m[4] = t.x;
    localFromWorld.m[8] = t.y;
    localFromWorld.m[12] = t.z;
    part.localFromWorld = localFromWorld;
    part.worldFromLocal = InvertAffineWFirst(localFromWorld);
}

void BuildPlacedEllipsoidShape(PartRenderRecord& part, const Vec3& origin, const Vec3& up,
                               const Vec3& across, double a, double b, double c,
                               std::span<SurfaceMappingEntry> heads) {
    SetShape(part, 1, 1);
    SetAxisProxy(part, b);
    part.Surfaces()[0] = FormEllipsoid(a, b, c);
    part.boundQuadric = part.Surfaces()[0];
    FeatureTableFill(part.features, {}, {});
    SetPlacementFromDirections(part, origin, up, across);
    const SurfaceMappingEntry head = AuxMappingHead(SurfaceMapperKind::Ellipsoid, a, b, c);
    BuildPartAuxMapping(part, heads, {&head, 1}, 0, AuxMappingReferenceOf(part.outerFlag));
}

void BuildPlacedSolidShape(PartRenderRecord& part, const Vec3& origin, const Vec3& up,
                           const Vec3& across, double a, double b, double c, double f, double t,
                           std::span<SurfaceMappingEntry> heads) {
    SetShape(part, 2, 3);
    SetAxisProxy(part, b);
    part.halfAngleCos = (1 - t * t) / (1 + t * t);
    part.halfAngleSin = 2 * t / (1 + t * t);

    // -1 + 2(1 - f) x / ((2 - f) a) + f x^2 / ((2 - f) a^2) + y^2/b^2 + z^2/c^2: zero at x = a
    // and x = -(2 - f) a / f on the x axis.
    Matrix4W shaped;
    shaped.m[0] = -1.0;
    FormSetLinear(shaped, FormAxis::X, (1 - f) / ((2 - f) * a));
    shaped.m[5] = f / ((2 - f) * a * a);
    shaped.m[10] = 1 / (b * b);
    shaped.m[15] = 1 / (c * c);
    std::span<Matrix4W> surfaces = part.Surfaces();
    surfaces[0] = shaped;
    const double cosine = part.halfAngleCos;
    const double sine = part.halfAngleSin;
    const Matrix3 turn{{1, 0, 0, 0, cosine, sine, 0, -sine, cosine}};
    surfaces[1] = FormCarried(shaped, EmbedMatrix3(turn, 0));

    // Surface 0 is a closed ellipsoid for 0 < f < 2 and holds the part.
    part.boundQuadric = shaped;
    FeatureTableFill(part.features, {}, {});
    SetPlacementFromDirections(part, origin, up, across);

    // Completing the square in x: surface 0 is the ellipsoid of semi-axes a / f,
    // b / sqrt(f (2 - f)) and c / sqrt(f (2 - f)) about x = -(1 - f) a / f, and surface 1 the
    // same turned about x. Each entry frame moves that centre to the origin.
    const double spread = std::sqrt(f * (2 - f));
    SurfaceMappingEntry body =
        AuxMappingHead(SurfaceMapperKind::Ellipsoid, a / f, b / spread, c / spread);
    const Vec3 toCentre{(1 - f) * a / f, 0, 0};
    AuxMappingHeadSetAffine(body, toCentre, Matrix3{{1, 0, 0, 0, 1, 0, 0, 0, 1}});
    SurfaceMappingEntry turned = body;
    AuxMappingHeadSetAffine(turned, toCentre, turn);
    // The band ends at the point where the shape's own outline takes over from the ellipsoid
    // of its widest section, when that point lies on the section at all.
    const double m = std::max(b, c);
    const double y0 = 2 / std::numbers::pi * m;
    const double z0 = a * std::sqrt(1 - 4 * f * (2 - f) / (std::numbers::pi * std::numbers::pi)) / f;
    AuxMappingReference reference;
    if (f * z0 / (1 - t * t) > (2 - f) * y0 / (m * m)) {
        reference = {AuxMappingReference::Kind::Point, y0, z0};
    }
    const std::array<SurfaceMappingEntry, 2> pair{body, turned};
    BuildPartAuxMapping(part, heads, pair, 0, reference);
}

void BuildCutEllipsoidShape(PartRenderRecord& part, double p0, double p1, double p2, double p3,
                            double p4, double p5, double p6, double p7,
                            std::span<SurfaceMappingEntry> heads) {
    SetShape(part, 2, 3);
    part.proxyKind = ProxyKind::Sphere;
    part.proxy = ProxySphere(Vec3{}, p6);
    std::span<Matrix4W> surfaces = part.Surfaces();
    surfaces[0] = FormEllipsoid(p0, p1, p6);

    const double t1 = p2;
    const double t2 = p3;
    const double h = (1.5 - 0.5 * p5 * p5) * p5;
    const double k = p4 / (1 - p4);
    const double g = std::sqrt((1 + t1 * t1) * (1 + t2 * t2)) * (1 + t1 * t2);
    Matrix4W cut;
    cut.m[0] = 1.0;
    cut.m[5] = -(1 - (1 - h * (1 - t1 * t2) * (1 - t1 * t2) / g) * k) / (p0 * p0);
    cut.m[10] = -(1 - (1 + h * (t1 + t2) * (t1 + t2) / g) * k) / (p1 * p1);
    cut.m[15] = -((p7 / (1 - p7 * p7) - 1) * k + 1) / (p6 * p6);

    // The linear terms make the cut pass through the two points of the xy ellipse at the
    // half-angle tangents t1 and t2: ex x_i + ey y_i = -(1 + e5 x_i^2 + e10 y_i^2) / 2.
    const auto ellipsePoint = [&](double ti) {
        return std::array<double, 2>{p0 * (1 - ti * ti) / (1 + ti * ti), 2 * p1 * ti / (1 + ti * ti)};
    };
    const auto [x1, y1] = ellipsePoint(t1);
    const auto [x2, y2] = ellipsePoint(t2);
    const double r1 = -(1 + cut.m[5] * x1 * x1 + cut.m[10] * y1 * y1) / 2;
    const double r2 = -(1 + cut.m[5] * x2 * x2 + cut.m[10] * y2 * y2) / 2;
    const double d = x1 * y2 - x2 * y1;
    FormSetLinear(cut, FormAxis::X, (r1 * y2 - r2 * y1) / d);
    FormSetLinear(cut, FormAxis::Y, (r2 * x1 - r1 * x2) / d);
    surfaces[1] = cut;

    // The cut only takes from the ellipsoid, which is the bound.
    part.boundQuadric = surfaces[0];
    FeatureTableFill(part.features, {}, {});

    // The cut about its centre (-e1 / e5, -e2 / e10, 0) reads e5 X^2 + e10 Y^2 + e15 z^2 = K,
    // K = e1^2 / e5 + e2^2 / e10 - e0: an ellipsoid when e15 has the sign of e5 and e10, a
    // hyperboloid of one sheet about z when it has the other, a cylinder when it is nearly 0.
    const SurfaceMappingEntry body = AuxMappingHead(SurfaceMapperKind::Ellipsoid, p0, p1, p6);
    const double e1 = cut.m[1];
    const double e2 = cut.m[2];
    const double e5 = cut.m[5];
    const double e10 = cut.m[10];
    const double e15 = cut.m[15];
    const double k2 = e1 * e1 / e5 + e2 * e2 / e10 - cut.m[0];
    const double m = std::max(e5, e10);
    SurfaceMapperKind kind = SurfaceMapperKind::Hyperboloid;
    if (e15 < 0.0016 * m) {
        kind = SurfaceMapperKind::Ellipsoid;
    } else if (e15 <= -0.0016 * m) {
        kind = SurfaceMapperKind::EllipticCylinder;
    }
    const double third =
        kind == SurfaceMapperKind::EllipticCylinder ? 0.0 : std::sqrt(std::fabs(k2 / e15));
    SurfaceMappingEntry cutHead = AuxMappingHead(kind, std::sqrt(std::fabs(k2 / e5)),
                                                 std::sqrt(std::fabs(k2 / e10)), third);
    AuxMappingHeadSetAffine(cutHead, Vec3{e1 / e5, e2 / e10, 0},
                            Matrix3{{1, 0, 0, 0, 1, 0, 0, 0, -1}});
    const std::array<SurfaceMappingEntry, 2> pair{body, cutHead};
    BuildPartAuxMapping(part, heads, pair, 0, AuxMappingReferenceOf(part.outerFlag));
}
