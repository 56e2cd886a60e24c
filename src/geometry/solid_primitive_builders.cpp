#include "geometry/solid_primitive_builders.h"

#include "core/private_heap.h"
#include "core/scalar_maths.h"
#include "geometry/aux_mapping_profile.h"
#include "geometry/feature_table.h"
#include "geometry/shape_builder_support.h"
#include "geometry/shape_forms.h"
#include "geometry/wrap_map_record.h"
#include "texture/object_tex.h"
#include "texture/tex_pyramid.h"
#include "texture/texture_params.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

namespace {


}  // namespace

bool PartHasTextureImage(const PartRenderRecord& part) {
    return part.texParams != nullptr && part.texParams->image != nullptr &&
           TexPyramidHasImage(*part.texParams->image);
}

void BuildSphereShape(PartRenderRecord& part, double r, std::span<Rtp> segments) {
    SetShape(part, 1, 1);
    part.proxyKind = ProxyKind::Sphere;
    part.proxy = ProxySphere(Vec3{}, r);
    part.Surfaces()[0] = FormEllipsoid(r, r, r);
    part.boundQuadric = part.Surfaces()[0];
    FeatureTableFill(part.features, {}, {});
    if (!segments.empty()) {
        segments[0] = EllipticProfile(0.0, -r, r, 0.0, 0.0, r, r, r);
        BuildMapping(part, segments, 1);
    }
}

void BuildCylinderShape(PartRenderRecord& part, double r, double h, std::span<Rtp> segments) {
    SetShape(part, 3, 1);
    if (2 * r <= h) {
        part.proxyKind = ProxyKind::Capsule;
        part.proxy = UprightCapsule(h, r);
    } else {
        part.proxyKind = ProxyKind::Disc;
        part.proxy = ProxyDisc(Vec3{r, 0, 0}, Vec3{-r, 0, 0}, Z_AXIS, h / 2);
    }
    std::span<Matrix4W> surfaces = part.Surfaces();
    surfaces[0] = FormCylinderSide(r);
    surfaces[1] = FormPlaneAbove(FormAxis::Y, h);
    surfaces[2] = FormPlaneBelow(FormAxis::Y, h);
    part.boundQuadric = FormCylinderBound(r, h);
    FeatureTableFill(part.features, {}, RimEdges);
    BuildClosedMapping(part, segments, h, r, r, 0.0);
}

void BuildBoxShape(PartRenderRecord& part, double a, double b, double c) {
    SetShape(part, 6, 0);
    const std::array<double, 3> sides{a, b, c};
    const FormAxis longest = LongestAxis(a, b, c);
    const auto along = static_cast<std::size_t>(longest);
    const double across = std::min(sides[(along + 1) % 3], sides[(along + 2) % 3]);
    part.proxyKind = ProxyKind::Capsule;
    part.proxy = ProxyCapsule(AlongAxis(longest, -sides[along] / 2),
                              AlongAxis(longest, sides[along] / 2), across / 2);

    std::span<Matrix4W> surfaces = part.Surfaces();
    for (std::size_t i = 0; i < 3; ++i) {
        const auto axis = static_cast<FormAxis>(i);
        surfaces[2 * i] = FormPlaneAbove(axis, sides[i]);
        surfaces[2 * i + 1] = FormPlaneBelow(axis, sides[i]);
    }
    part.boundQuadric = FormBoxBound(a, b, c);

    // Corners with x outermost, then y, then z, minus before plus; each plane meets the four
    // planes of the other two axes below it.
    std::array<Vec3, 8> corners;
    for (std::size_t k = 0; k < 8; ++k) {
        corners[k] = Vec3{(k & 4) != 0 ? a / 2 : -a / 2, (k & 2) != 0 ? b / 2 : -b / 2,
                          (k & 1) != 0 ? c / 2 : -c / 2};
    }
    constexpr FeatureCurve Line = FeatureCurve::TwoPlanes;
    constexpr std::array<FeatureEdge, 12> edges{{
        {2, 0, Line},
        {2, 1, Line},
        {3, 0, Line},
        {3, 1, Line},
        {4, 0, Line},
        {4, 1, Line},
        {4, 2, Line},
        {4, 3, Line},
        {5, 0, Line},
        {5, 1, Line},
        {5, 2, Line},
        {5, 3, Line},
    }};
    FeatureTableFill(part.features, corners, edges);

    if (PartHasTextureImage(part)) {
        WrapMapRecord& wrap = WrapMapOf(part);
        wrap.kind = WrapMapKind::Box;
        wrap.values = {};
        wrap.values[0] = PI / (a + c);
        wrap.values[2] = a / 2;
        wrap.values[3] = b / 2;
        wrap.values[4] = c / 2;
        wrap.texParams = part.texParams;
    }
}

void BuildFrustumShape(PartRenderRecord& part, double h, double r1, double r2,
                       std::span<Rtp> segments) {
    // Neither end may close to a point: the cone's apex stays outside the slab.
    if (r1 < 0.001 * r2) r1 = 0.001 * r2;
    if (r2 < 0.001 * r1) r2 = 0.001 * r1;
    SetShape(part, 3, 1);
    const double largest = std::max(r1, r2);
    const double smallest = std::min(r1, r2);
    if (2 * largest <= h) {
        part.proxyKind = ProxyKind::Capsule;
        part.proxy = UprightCapsule(h, smallest);
    } else {
        part.proxyKind = ProxyKind::Disc;
        part.proxy = ProxyDisc(Vec3{largest, 0, 0}, Vec3{-largest, 0, 0}, Z_AXIS, h / 2);
    }

    // The cone x^2 + z^2 = rho(y)^2 with rho linear from r1 at y = -h/2 to r2 at y = h/2:
    // rho^2 = (r1 + r2)^2 / 4 + (r2^2 - r1^2) y / h + (r1 - r2)^2 y^2 / h^2.
    Matrix4W cone;
    cone.m[0] = -(r1 + r2) * (r1 + r2) / 4;
    cone.m[5] = cone.m[15] = 1.0;
    cone.m[10] = -(r1 - r2) * (r1 - r2) / (h * h);
    FormSetLinear(cone, FormAxis::Y, (r1 * r1 - r2 * r2) / (2 * h));
    std::span<Matrix4W> surfaces = part.Surfaces();
    surfaces[0] = cone;
    surfaces[1] = FormPlaneAbove(FormAxis::Y, h);
    surfaces[2] = FormPlaneBelow(FormAxis::Y, h);

    // The ellipsoid of revolution through both rim circles whose height term K is the
    // smallest that keeps the whole frustum inside it: with S = r1^2 + r2^2 and
    // D = r1^2 - r2^2, K = (S + sqrt(S^2 + 3 D^2)) / h^2.
    const double s = r1 * r1 + r2 * r2;
    const double d = r1 * r1 - r2 * r2;
    const double k = (s + std::sqrt(s * s + 3 * d * d)) / (h * h);
    Matrix4W bound;
    bound.m[0] = -s / 2 - k * h * h / 4;
    bound.m[5] = bound.m[15] = 1.0;
    bound.m[10] = k;
    FormSetLinear(bound, FormAxis::Y, d / (2 * h));
    part.boundQuadric = bound;

    FeatureTableFill(part.features, {}, RimEdges);
    BuildClosedMapping(part, segments, h, r1, r2,
                       (r2 - r1) / std::sqrt((r2 - r1) * (r2 - r1) + h * h));
}

void BuildTaperedPrismShape(PartRenderRecord& part, double t, double l, double d2, double d1) {
    SetShape(part, 6, 0);
    part.proxyKind = ProxyKind::Sphere;
    part.proxy = ProxySphere(Vec3{}, std::min({t, l, d1, d2}) / 2);
    std::span<Matrix4W> surfaces = part.Surfaces();
    surfaces[0] = FormPlaneAbove(FormAxis::X, t);
    surfaces[1] = FormPlaneBelow(FormAxis::X, t);
    surfaces[2] = FormPlaneAbove(FormAxis::Y, l);
    surfaces[3] = FormPlaneBelow(FormAxis::Y, l);
    // |z| <= (d1 + d2) / 4 - (d1 - d2) y / (2 l), scaled by 2l: the half-depth is d1/2 at
    // y = -l/2 and d2/2 at y = l/2.
    for (std::size_t k = 0; k < 2; ++k) {
        Matrix4W face;
        face.m[0] = -l * (d1 + d2) / 2;
        FormSetLinear(face, FormAxis::Y, (d1 - d2) / 2);
        FormSetLinear(face, FormAxis::Z, k == 0 ? -l : l);
        surfaces[4 + k] = face;
    }
    part.boundQuadric = FormBoxBound(t, l, std::max(d1, d2));
    FeatureTableFill(part.features, {}, {});
}

void BuildSphereZoneShape(PartRenderRecord& part, double r, double h, double d,
                          std::span<Rtp> segments) {
    SetShape(part, 3, 1);
    part.proxyKind = ProxyKind::Sphere;
    part.proxy = ProxySphere(Vec3{}, h / 2);
    Matrix4W sphere;
    sphere.m[0] = d * d - r * r;
    sphere.m[5] = sphere.m[10] = sphere.m[15] = 1.0;
    FormSetLinear(sphere, FormAxis::Y, -d);
    std::span<Matrix4W> surfaces = part.Surfaces();
    surfaces[0] = sphere;
    surfaces[1] = FormPlaneAbove(FormAxis::Y, h);
    surfaces[2] = FormPlaneBelow(FormAxis::Y, h);

    // An ellipsoid of revolution about the sphere's centre height that holds both the sphere
    // and the slab's rims: with G = 2r^2 - 2d^2 - h^2/2, K = max(1, (G + sqrt(G^2 +
    // 12 d^2 h^2)) / h^2).
    const double g = 2 * r * r - 2 * d * d - h * h / 2;
    const double k = std::max(1.0, (g + std::sqrt(g * g + 12 * d * d * h * h)) / (h * h));
    Matrix4W bound;
    bound.m[0] = -g / 2 - k * h * h / 4;
    bound.m[5] = bound.m[15] = 1.0;
    bound.m[10] = k;
    FormSetLinear(bound, FormAxis::Y, -d);
    part.boundQuadric = bound;

    // A plane that cuts the sphere leaves a rim edge and a cap.
    const double lowerSquare = r * r - (h / 2 + d) * (h / 2 + d);
    const double upperSquare = r * r - (h / 2 - d) * (h / 2 - d);
    const bool lowerCuts = lowerSquare > 0;
    const bool upperCuts = upperSquare > 0;
    std::array<FeatureEdge, 2> edges{};
    std::size_t edgeCount = 0;
    if (lowerCuts) edges[edgeCount++] = RimEdges[0];
    if (upperCuts) edges[edgeCount++] = RimEdges[1];
    FeatureTableFill(part.features, {}, std::span<const FeatureEdge>(edges).first(edgeCount));

    // A slab that misses the sphere leaves nothing to map.
    if (!lowerCuts && !upperCuts && (d >= h / 2 || d <= -h / 2)) {
        std::unique_ptr<ObjectTex>(std::exchange(part.objectTex, nullptr)).reset();
        return;
    }
    if (segments.size() < 3) return;
    const double lowerRadius = lowerCuts ? std::sqrt(lowerSquare) : 0.0;
    const double upperRadius = upperCuts ? std::sqrt(upperSquare) : 0.0;
    std::size_t count = 0;
    if (lowerCuts) {
        segments[count++] = StraightProfile(-h / 2, -h / 2, 0.0, lowerRadius, lowerRadius, 1.0,
                                            ProfilePosition::BottomCap);
    }
    const double largest = d < -h / 2 ? lowerRadius : d > h / 2 ? upperRadius : r;
    segments[count++] = EllipticProfile(d, lowerCuts ? -h / 2 : d - r, upperCuts ? h / 2 : d + r,
                                        lowerRadius, upperRadius, largest, r, r);
    if (upperCuts) {
        segments[count++] = StraightProfile(h / 2, h / 2, upperRadius, 0.0, upperRadius, -1.0,
                                            ProfilePosition::TopCap);
    }
    BuildMapping(part, segments, count);
}

void BuildFlatSidedCylinderShape(PartRenderRecord& part, double r, double h) {
    SetShape(part, 7, 1);
    part.proxyKind = ProxyKind::Capsule;
    part.proxy = UprightCapsule(h, r);

    // Each flat at r cos(pi/8) from the axis cuts away a 45-degree arc, so the section
    // alternates flats and arcs of 45 degrees.
    const double flat = r * std::cos(PI / 8);
    std::span<Matrix4W> surfaces = part.Surfaces();
    surfaces[0] = FormCylinderSide(r);
    for (std::size_t k = 0; k < 4; ++k) {
        const FormAxis axis = k < 2 ? FormAxis::X : FormAxis::Z;
        Matrix4W form;
        form.m[0] = -2.0;
        FormSetLinear(form, axis, (k % 2 == 0 ? -1.0 : 1.0) / flat);
        surfaces[1 + k] = form;
    }
    surfaces[5] = FormPlaneAbove(FormAxis::Y, h);
    surfaces[6] = FormPlaneBelow(FormAxis::Y, h);
    part.boundQuadric = FormCylinderBound(r, h);

    // The corners where flats and arcs meet, at the odd multiples of pi/8, bottom rim first.
    std::array<Vec3, 16> corners;
    for (std::size_t j = 0; j < 8; ++j) {
        const double angle = static_cast<double>(2 * j + 1) * PI / 8;
        corners[j] = Vec3{r * std::cos(angle), -h / 2, r * std::sin(angle)};
        corners[8 + j] = Vec3{corners[j].x, h / 2, corners[j].z};
    }
    constexpr FeatureCurve Conic = FeatureCurve::PlaneCurved;
    constexpr FeatureCurve Line = FeatureCurve::TwoPlanes;
    constexpr std::array<FeatureEdge, 14> edges{{
        {1, 0, Conic},
        {2, 0, Conic},
        {3, 0, Conic},
        {4, 0, Conic},
        {5, 0, Conic},
        {5, 1, Line},
        {5, 2, Line},
        {5, 3, Line},
        {5, 4, Line},
        {6, 0, Conic},
        {6, 1, Line},
        {6, 2, Line},
        {6, 3, Line},
        {6, 4, Line},
    }};
    FeatureTableFill(part.features, corners, edges);

    if (PartHasTextureImage(part)) {
        WrapMapRecord& wrap = WrapMapOf(part);
        const double halfFlat = r * std::sin(PI / 8);
        wrap.kind = WrapMapKind::FlatSidedCylinder;
        wrap.values = {};
        wrap.values[0] = PI / (r * PI / 2 + 4 * halfFlat);
        wrap.values[1] = halfFlat;
        wrap.values[2] = r;
        wrap.values[3] = h / 2;
        wrap.texParams = part.texParams;
    }
}

void BuildEllipsoidShape(PartRenderRecord& part, double a, double b, double c,
                         std::span<Rtp> segments, std::span<SurfaceMappingEntry> heads) {
    SetShape(part, 1, 1);
    const FormAxis longest = LongestAxis(a, b, c);
    const double semiAxis = longest == FormAxis::X ? a : longest == FormAxis::Y ? b : c;
    part.proxyKind = ProxyKind::Capsule;
    part.proxy = ProxyCapsule(AlongAxis(longest, -semiAxis), AlongAxis(longest, semiAxis), 0.0);
    part.Surfaces()[0] = FormEllipsoid(a, b, c);
    part.boundQuadric = part.Surfaces()[0];
    FeatureTableFill(part.features, {}, {});

    if (!segments.empty()) {
        segments[0] = EllipticProfile(0.0, -b, b, 0.0, 0.0, a, a, b);
        BuildMapping(part, segments, 1);
    }
    // The surface mapping list's one entry: the ellipsoid itself, in part coordinates.
    const SurfaceMappingEntry head = AuxMappingHead(SurfaceMapperKind::Ellipsoid, a, b, c);
    BuildPartAuxMapping(part, heads, {&head, 1}, 0, AuxMappingReferenceOf(part.outerFlag));
}

void BuildSpheroidShape(PartRenderRecord& part, const Vec3& centre, const Vec3& axis, double l,
                        double r) {
    SetShape(part, 1, 1);
    // Q(p) = |p - A|^2 / r^2 + k (u.(p - A))^2 - 1 with u the unit axis and k = 1/l^2 - 1/r^2,
    // written out over (1, x, y, z). A zero axis gives no direction: its NaNs make the part
    // unbuildable.
    const double length = Vec3Length(axis);
    const Vec3 u{axis.x / length, axis.y / length, axis.z / length};
    const double k = 1.0 / (l * l) - 1.0 / (r * r);
    const double inverseSquare = 1.0 / (r * r);
    const double ua = Vec3Dot(u, centre);
    const std::array<double, 3> uc{u.x, u.y, u.z};
    const std::array<double, 3> ac{centre.x, centre.y, centre.z};
    Matrix4W form;
    form.m[0] = k * ua * ua + Vec3Dot(centre, centre) * inverseSquare - 1.0;
    for (std::size_t i = 0; i < 3; ++i) {
        const auto ai = static_cast<FormAxis>(i);
        FormSetLinear(form, ai, -k * ua * uc[i] - ac[i] * inverseSquare);
        for (std::size_t j = i; j < 3; ++j) {
            FormSetQuadratic(form, ai, static_cast<FormAxis>(j),
                             k * uc[i] * uc[j] + (i == j ? inverseSquare : 0.0));
        }
    }
    part.Surfaces()[0] = form;
    part.boundQuadric = form;
    part.proxyKind = ProxyKind::Capsule;
    part.proxy =
        ProxyCapsule(Vec3Sub(centre, Vec3Scale(u, l)), Vec3Add(centre, Vec3Scale(u, l)), 0.0);
    FeatureTableFill(part.features, {}, {});
    // Written in scene coordinates, so the part's placement is the identity.
    part.worldFromLocal = Matrix4W{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
    part.localFromWorld = part.worldFromLocal;
}

void BuildFacetedCylinderShape(PartRenderRecord& part, std::int32_t facetCount, double r, double h,
                               double facetAngle) {
    const std::int32_t n = std::max(facetCount, 0);
    SetShape(part, 2 * n + 3, 1);
    part.proxyKind = ProxyKind::Capsule;
    part.proxy = UprightCapsule(h, r);
    std::span<Matrix4W> surfaces = part.Surfaces();
    surfaces[0] = FormCylinderSide(r);
    surfaces[1] = FormPlaneAbove(FormAxis::Y, h);
    surfaces[2] = FormPlaneBelow(FormAxis::Y, h);
    // Facet i is the plane cos(a) x + y + sin(a) z <= r cos(T/2) + h/2 at a = 2 pi i / n
    // (y negated for the bottom rim): it cuts the rim between the angles a - T/2 and a + T/2.
    const double c = 0.5 / (r * std::cos(facetAngle / 2) + h / 2);
    for (std::int32_t i = 0; i < n; ++i) {
        const double angle = 2 * PI * i / n;
        Matrix4W facet;
        facet.m[0] = -1.0;
        FormSetLinear(facet, FormAxis::X, c * std::cos(angle));
        FormSetLinear(facet, FormAxis::Y, c);
        FormSetLinear(facet, FormAxis::Z, c * std::sin(angle));
        surfaces[static_cast<std::size_t>(3 + i)] = facet;
        FormSetLinear(facet, FormAxis::Y, -c);
        surfaces[static_cast<std::size_t>(3 + n + i)] = facet;
    }
    part.boundQuadric = FormCylinderBound(r, h);
    FeatureTableFill(part.features, {}, {});
}
