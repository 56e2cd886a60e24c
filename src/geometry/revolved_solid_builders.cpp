#include "geometry/revolved_solid_builders.h"

#include "core/check.h"
#include "geometry/aux_mapping_profile.h"
#include "geometry/feature_table.h"
#include "geometry/rounded_primitive_builders.h"
#include "geometry/shape_builder_support.h"
#include "geometry/shape_forms.h"
#include "geometry/shape_surface_count.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace {

void SetDiscProxy(PartRenderRecord& part, double radius, double halfHeight) {
    part.proxyKind = ProxyKind::Disc;
    part.proxy = ProxyDisc(Vec3{radius, 0, 0}, Vec3{-radius, 0, 0}, Z_AXIS, halfHeight);
}

// Inside x^2/a^2 + y^2/b^2 + flare z^2 <= 1 (outside it for a hole): an ellipsoid of third
// semi-axis 1 / sqrt(flare) for a clearly positive flare, a hyperboloid of one sheet of axial
// scale 1 / sqrt(-flare) for a clearly negative one, else an elliptic cylinder along z.
// `m` is the larger of a and b, by which "clearly" is judged.
SurfaceMappingEntry FlaredHead(double a, double b, double flare, double m) {
    const double limit = 0.0016 / (m * m);
    if (flare > limit) {
        return AuxMappingHead(SurfaceMapperKind::Ellipsoid, a, b, 1 / std::sqrt(flare));
    }
    if (flare < -limit) {
        return AuxMappingHead(SurfaceMapperKind::Hyperboloid, a, b, 1 / std::sqrt(-flare));
    }
    return AuxMappingHead(SurfaceMapperKind::EllipticCylinder, a, b, 0);
}

}  // namespace

void BuildFlaredSolidShape(PartRenderRecord& part, double flare, double k, double r, double rn,
                           double h, std::span<SurfaceMappingEntry> heads) {
    SetShape(part, 3, 7);
    SetDiscProxy(part, r, h);
    const double g = flare >= 0 ? 1 + flare * flare : 1 - flare * flare;
    std::span<Matrix4W> surfaces = part.Surfaces();
    surfaces[0] = FormEllipsoid(r, h / k, r);

    // -1 + y^2/h^2 + (u^2 - g w^2)/rn^2 with u = (x + z)/sqrt(2) and w = (x - z)/sqrt(2):
    // u^2 - g w^2 = (1 - g)(x^2 + z^2)/2 + (1 + g) x z.
    Matrix4W neck;
    neck.m[0] = -1.0;
    neck.m[10] = 1 / (h * h);
    neck.m[5] = neck.m[15] = (1 - g) / (2 * rn * rn);
    FormSetQuadratic(neck, FormAxis::X, FormAxis::Z, (1 + g) / (2 * rn * rn));
    surfaces[1] = neck;
    FormSetQuadratic(neck, FormAxis::X, FormAxis::Z, -(1 + g) / (2 * rn * rn));
    surfaces[2] = neck;

    part.boundQuadric = surfaces[0];
    FeatureTableFill(part.features, {}, {});

    // Each neck in its own frame, turned 45 degrees about y so that u lies on x and the neck's
    // axis w on z (the first neck turned one way, the second the other): u^2/rn^2 + y^2/h^2 -
    // g w^2/rn^2 <= 1, flared by -g / rn^2 along its axis.
    const double half = std::sqrt(0.5);
    SurfaceMappingEntry first = FlaredHead(rn, h, -g / (rn * rn), std::max(rn, h));
    SurfaceMappingEntry second = first;
    AuxMappingHeadSetAffine(first, Vec3{}, Matrix3{{half, 0, half, 0, 1, 0, -half, 0, half}});
    AuxMappingHeadSetAffine(second, Vec3{}, Matrix3{{half, 0, -half, 0, 1, 0, half, 0, half}});
    const std::array<SurfaceMappingEntry, 2> necks{first, second};
    BuildPartAuxMapping(part, heads, necks, 1, AuxMappingReferenceOf(part.outerFlag));
}

void BuildRingShape(PartRenderRecord& part, double outerR, double innerR, double outerH,
                    double flare, double offset) {
    SetShape(part, 2, 3);
    SetDiscProxy(part, outerR, outerH);
    std::span<Matrix4W> surfaces = part.Surfaces();
    surfaces[0] = FormEllipsoid(outerR, outerH, outerR);
    // x^2 + (z - offset)^2 >= innerR^2 + flare^2 y^2.
    Matrix4W hole;
    hole.m[0] = innerR * innerR - offset * offset;
    hole.m[5] = hole.m[15] = -1.0;
    hole.m[10] = flare * flare;
    FormSetLinear(hole, FormAxis::Z, offset);
    surfaces[1] = hole;

    // The hole only takes from the body, so the body holds the ring: an ellipsoid about the
    // body's box (sqrt(2) times its half-sides) is never smaller, and the body is the bound.
    part.boundQuadric = surfaces[0];
    FeatureTableFill(part.features, {}, {});
}

void BuildHoledSolidShape(PartRenderRecord& part, double r, double l, double flare, double holeR,
                          double holeH, std::int32_t holeCount, std::span<Rtp> segments,
                          std::span<SurfaceMappingEntry> heads) {
    BuildRoundedCylinderShape(part, r, l, 0.1, 0.1, segments);
    const std::uint32_t holeBits = ((std::uint64_t{1} << holeCount) - 1) << 4;
    SetShape(part, 4 + holeCount, static_cast<std::int32_t>(9 | holeBits));

    // Hole i runs through the axis along (s, 0, c) at theta = i pi / n: outside it
    // 1 - y^2/hh^2 + f (s x + c z)^2 - (c x - s z)^2 / hr^2 <= 0.
    const double f = flare / (r * r);
    const double across = 1 / (holeR * holeR);
    std::span<Matrix4W> surfaces = part.Surfaces();
    for (std::int32_t i = 0; i < holeCount; ++i) {
        const double theta = i * std::numbers::pi / holeCount;
        const double s = std::sin(theta);
        const double c = std::cos(theta);
        Matrix4W hole;
        hole.m[0] = 1.0;
        hole.m[10] = -1 / (holeH * holeH);
        hole.m[5] = s * s * f - c * c * across;
        hole.m[15] = c * c * f - s * s * across;
        FormSetQuadratic(hole, FormAxis::X, FormAxis::Z, c * s * (across + f));
        surfaces[static_cast<std::size_t>(4 + i)] = hole;
    }

    // Hole i in its own frame x' = c x - s z, y' = -y, z' = s x + c z, its axis on z'.
    if (part.auxTex == nullptr || heads.empty()) return;
    ORBELLE_CHECK(holeCount >= 0 && holeCount <= HoledSolidMaxHoles);
    std::array<SurfaceMappingEntry, HoledSolidMaxHoles> holeHeads;
    const auto count = static_cast<std::size_t>(holeCount);
    for (std::size_t i = 0; i < count; ++i) {
        const double theta = static_cast<double>(i) * std::numbers::pi / holeCount;
        const double s = std::sin(theta);
        const double c = std::cos(theta);
        holeHeads[i] = FlaredHead(holeR, holeH, -f, std::max(holeR, holeH));
        AuxMappingHeadSetAffine(holeHeads[i], Vec3{}, Matrix3{{c, 0, -s, 0, -1, 0, s, 0, c}});
    }
    BuildPartAuxMapping(part, heads, std::span(holeHeads).first(count), 4, {});
}
