#include "geometry/aux_mapping_profile.h"

#include "core/private_heap.h"
#include "core/vec3.h"
#include "texture/piecewise_cubic.h"
#include "texture/surface_tex_coords.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <numbers>
#include <vector>

namespace {

constexpr double Pi = std::numbers::pi;

// A surface mapping list the test owns, built from its heads.
class MappingList {
public:
    MappingList() = default;
    MappingList(const MappingList&) = delete;
    MappingList& operator=(const MappingList&) = delete;
    ~MappingList() { FreeBufferArray(list); }

    const SurfaceMappingEntry& Build(const std::vector<SurfaceMappingEntry>& heads,
                                     AuxMappingReference reference = {}) {
        list.count = static_cast<std::int32_t>(heads.size());
        BuildAuxMappingProfile(list, heads, reference);
        return AuxMappingEntry(list, 0);
    }

    const SurfaceMappingEntry& Build(const SurfaceMappingEntry& head,
                                     AuxMappingReference reference = {}) {
        return Build(std::vector<SurfaceMappingEntry>{head}, reference);
    }

    BufferArray list;
};

SurfaceMappingEntry Head(SurfaceMapperKind kind, double a, double b, double c) {
    SurfaceMappingEntry head;
    head.a = a;
    head.b = b;
    head.c = c;
    head.kindWord = static_cast<std::uint32_t>(kind);
    return head;
}

// Complete elliptic integral of the second kind, E(m) = integral of sqrt(1 - m sin^2) over a
// quarter turn, by the arithmetic-geometric mean: E = K (1 - sum 2^(n-1) c_n^2), K = pi /
// (2 AGM(1, sqrt(1 - m))).
double CompleteEllipticE(double m) {
    double a = 1;
    double b = std::sqrt(1 - m);
    double c = std::sqrt(m);
    double sum = c * c / 2;
    double weight = 0.5;
    for (int i = 0; i < 40 && std::fabs(c) > 1e-16; ++i) {
        const double next = (a + b) / 2;
        c = (a - b) / 2;
        b = std::sqrt(a * b);
        a = next;
        weight *= 2;
        sum += weight * c * c;
    }
    return Pi / (2 * a) * (1 - sum);
}

std::span<const CubicPiece> Table0(const SurfaceMappingEntry& e) {
    return SurfaceMappingEntryTable0(e);
}

std::span<const CubicPiece> Table1(const SurfaceMappingEntry& e) {
    const auto all = SurfaceMappingEntryTable1(e);
    const std::size_t octave = 127 - e.indexBias1 / 4;
    return all.first(std::min(all.size(), 4 * (octave + 2)));
}

double At0(const SurfaceMappingEntry& e, double t) {
    return EvalPiecewiseCubic(static_cast<std::int32_t>(e.indexBias0), Table0(e),
                              static_cast<float>(t));
}

double At1(const SurfaceMappingEntry& e, double t) {
    return EvalPiecewiseCubic(static_cast<std::int32_t>(e.indexBias1), Table1(e),
                              static_cast<float>(t));
}

// The width of piece i of a table with base code `base`: four uniform steps of a quarter of
// the threshold, then quarter octaves.
double PieceWidth(std::int32_t base, std::size_t i) {
    const int octave = 127 - base / 4;
    const double threshold = std::ldexp(1.0, -octave);
    if (i < 4) return threshold / 4;
    return threshold * std::ldexp(1.0, static_cast<int>((i - 4) / 4)) / 4;
}

// Every piece ends where the next begins, in value and in slope.
void ExpectPiecesJoin(std::span<const CubicPiece> table, std::int32_t base) {
    double scale = 0;
    for (const CubicPiece& p : table) scale = std::max({scale, std::fabs(double{p.c0}), std::fabs(double{p.c1})});
    for (std::size_t i = 0; i + 1 < table.size(); ++i) {
        SCOPED_TRACE(i);
        const CubicPiece& p = table[i];
        const double h = PieceWidth(base, i);
        const double end = p.c0 + h * (p.c1 + h * (p.c2 + h * p.c3));
        const double slope = p.c1 + h * (2 * p.c2 + 3 * h * p.c3);
        EXPECT_NEAR(end, table[i + 1].c0, 2e-6 * scale);
        EXPECT_NEAR(slope, table[i + 1].c1, 1e-4 * std::max(scale, 1.0));
    }
}

struct Shape {
    SurfaceMapperKind kind;
    double a;
    double b;
    double c;
};

// The surfaces the builders hand over: spheres, spheroids both ways, triaxial ellipsoids of
// either branch, hyperboloids and cylinders, with near-degenerate ones among them.
const Shape Shapes[] = {
    {SurfaceMapperKind::Ellipsoid, 1, 1, 1},      {SurfaceMapperKind::Ellipsoid, 2, 2, 5},
    {SurfaceMapperKind::Ellipsoid, 3, 3, 1},      {SurfaceMapperKind::Ellipsoid, 1, 2, 3},
    {SurfaceMapperKind::Ellipsoid, 1, 2.8, 3},    {SurfaceMapperKind::Ellipsoid, 3, 1, 1.1},
    {SurfaceMapperKind::Ellipsoid, 1, 1e-4, 2},   {SurfaceMapperKind::Ellipsoid, 5, 0.01, 5.2},
    {SurfaceMapperKind::Hyperboloid, 1, 1, 1},    {SurfaceMapperKind::Hyperboloid, 2, 0.5, 0.3},
    {SurfaceMapperKind::Hyperboloid, 1, 1, 1e-5}, {SurfaceMapperKind::EllipticCylinder, 1, 1, 0},
    {SurfaceMapperKind::EllipticCylinder, 0.3, 4, 0},
};

TEST(BuildAuxMappingProfile, QuarterMeasureOfACylinderIsTheCompleteEllipticIntegral) {
    const double sides[][2] = {{1, 1}, {2, 1}, {1, 3}, {0.5, 0.45}, {1, 0.01}, {1e-7, 1}};
    for (const auto& s : sides) {
        SCOPED_TRACE(testing::Message() << s[0] << " x " << s[1]);
        MappingList list;
        const SurfaceMappingEntry& e =
            list.Build(Head(SurfaceMapperKind::EllipticCylinder, s[0], s[1], 0));
        const double p = std::min(s[0], s[1]);
        const double q = std::max(s[0], s[1]);
        const double expected = q * CompleteEllipticE(1 - p * p / (q * q));
        // Cubic steps of a quarter octave hold the integral to a few single-precision units.
        EXPECT_NEAR(e.quarterMeasure, expected, 5e-6 * expected);
        EXPECT_NEAR(At0(e, 1.0), expected, 5e-6 * expected);
        EXPECT_EQ(e.swapFlag, s[1] <= s[0] ? 1 : 0);
    }
}

TEST(BuildAuxMappingProfile, ConsecutivePiecesJoin) {
    for (const Shape& s : Shapes) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(s.kind) << ": " << s.a << ", " << s.b
                                        << ", " << s.c);
        MappingList list;
        const SurfaceMappingEntry& e = list.Build(Head(s.kind, s.a, s.b, s.c));
        ASSERT_GE(Table0(e).size(), 16u);
        ExpectPiecesJoin(Table0(e), static_cast<std::int32_t>(e.indexBias0));
        if (s.kind != SurfaceMapperKind::EllipticCylinder) {
            ASSERT_GE(Table1(e).size(), 16u);
            // Beyond the quarter turn the far branch's measure is complete and its slope
            // jumps to zero there; the values still join.
            auto table1 = Table1(e);
            if (e.branchFlag == 1) table1 = table1.first(table1.size() - 4);
            ExpectPiecesJoin(table1, static_cast<std::int32_t>(e.indexBias1));
        }
    }
}

TEST(BuildAuxMappingProfile, StatedValues) {
    const double R = 1.7;
    MappingList sphere;
    const SurfaceMappingEntry& s = sphere.Build(Head(SurfaceMapperKind::Ellipsoid, R, R, R));
    EXPECT_EQ(s.branchFlag, 0);
    EXPECT_EQ(s.moduleRatio, 0.0);
    EXPECT_EQ(s.pieceCount0, 16u);
    EXPECT_EQ(s.indexBias0, 4u * 125);
    EXPECT_EQ(s.indexBias1, 4u * 125);
    EXPECT_EQ(s.byteSize, 16u * (16 + 16 + 23));
    EXPECT_NEAR(s.quarterMeasure, R * Pi / 2, 1e-7);
    EXPECT_NEAR(s.turnScale, 1 / R, 1e-7);
    EXPECT_NEAR(s.ellipticity, 0, 1e-12);
    EXPECT_NEAR(s.logProduct, 0, 1e-12);
    EXPECT_EQ(s.fadeRatio, -1.0f);
    // On a sphere the second table's density is asinh(t): its integral is known.
    for (const double t : {0.05, 0.3, 0.7, 1.0, 1.6}) {
        SCOPED_TRACE(t);
        EXPECT_NEAR(At1(s, t), t * std::asinh(t) - std::sqrt(1 + t * t) + 1, 1e-4);
    }
    EXPECT_NEAR(s.sectionMeasure1, std::asinh(1.0) - std::sqrt(2.0) + 1, 1e-4);

    MappingList circle;
    const SurfaceMappingEntry& c =
        circle.Build(Head(SurfaceMapperKind::EllipticCylinder, R, R, 0));
    EXPECT_EQ(c.pieceCount0, 16u);
    EXPECT_EQ(c.byteSize, 16u * (16 + 23));
    EXPECT_NEAR(c.quarterMeasure, R * Pi / 2, 1e-7);

    // A modulus at or below 1e-6 gives the deepest table: 23 levels, 92 pieces.
    for (const double p : {2e-6, 1e-9}) {
        SCOPED_TRACE(p);
        MappingList thin;
        const SurfaceMappingEntry& t =
            thin.Build(Head(SurfaceMapperKind::EllipticCylinder, 1, p, 0));
        EXPECT_EQ(t.pieceCount0, 92u);
        EXPECT_EQ(t.indexBias0, 4u * (127 - 21));
        EXPECT_EQ(t.byteSize, 16u * (92 + 23));
    }
}

// The semi-axis p of a cylinder of q = 1 whose modulus p / (q + e) is x.
double CylinderSideFor(double x) { return 2 * x / (1 + x * x); }

// The axial scale c of a hyperboloid of q = 1 whose generator modulus c / (q + e2) is x.
double HyperboloidAxisFor(double x) { return 2 * x / (1 - x * x); }

TEST(BuildAuxMappingProfile, TablesChangeContinuouslyAsTheModulusCrossesAPowerOfTwo) {
    for (const int power : {3, 6, 12}) {
        const double x = std::ldexp(1.0, -power);
        SCOPED_TRACE(power);
        MappingList below;
        MappingList above;
        const SurfaceMappingEntry& lo = below.Build(
            Head(SurfaceMapperKind::EllipticCylinder, 1, CylinderSideFor(x * (1 - 1e-9)), 0));
        const SurfaceMappingEntry& hi = above.Build(
            Head(SurfaceMapperKind::EllipticCylinder, 1, CylinderSideFor(x * (1 + 1e-9)), 0));
        ASSERT_EQ(lo.pieceCount0, hi.pieceCount0 + 4);  // one level more below
        MappingList hypLo;
        MappingList hypHi;
        const SurfaceMappingEntry& hlo = hypLo.Build(
            Head(SurfaceMapperKind::Hyperboloid, 1, 1, HyperboloidAxisFor(x * (1 - 1e-9))));
        const SurfaceMappingEntry& hhi = hypHi.Build(
            Head(SurfaceMapperKind::Hyperboloid, 1, 1, HyperboloidAxisFor(x * (1 + 1e-9))));
        ASSERT_EQ(hlo.indexBias1 + 4, hhi.indexBias1);
        for (int i = 0; i <= 400; ++i) {
            const double t = 2.0 * i / 400 * (i < 40 ? x : 1.0);
            SCOPED_TRACE(t);
            EXPECT_NEAR(At0(lo, t), At0(hi, t), 1e-6);
            EXPECT_NEAR(At1(hlo, t), At1(hhi, t), 1e-6);
        }
    }
}

// A point of the ellipsoid at parametric longitude phi and latitude beta about its polar
// axis (the entry's axisCode), with phi = 0 at the end of the second axis across it and
// phi = pi / 2 at the end of the first, the cross axes in cyclic order after the polar one.
Vec3 EllipsoidPoint(const SurfaceMappingEntry& e, double phi, double beta) {
    const double across = std::cos(beta);
    const double along = std::sin(beta);
    switch (e.axisCode) {
        case 1:  // polar y; across it z, then x
            return {e.a * across * std::cos(phi), e.b * along, e.c * across * std::sin(phi)};
        case 2:  // polar x; across it y, then z
            return {e.a * along, e.b * across * std::sin(phi), e.c * across * std::cos(phi)};
        default:
            return {e.a * across * std::sin(phi), e.b * across * std::cos(phi), e.c * along};
    }
}

TEST(BuildAuxMappingProfile, OneTurnOfTheEllipsoidAngleIsTwoPiThroughTheMapper) {
    for (const Shape& s : Shapes) {
        if (s.kind != SurfaceMapperKind::Ellipsoid) continue;
        SCOPED_TRACE(testing::Message() << s.a << ", " << s.b << ", " << s.c);
        MappingList list;
        const SurfaceMappingEntry& e = list.Build(Head(s.kind, s.a, s.b, s.c));
        for (const double beta : {0.0, 0.4, -1.1}) {
            SCOPED_TRACE(beta);
            // Quarter turns of the parametric angle are quarter turns of the mapped angle.
            for (int quarter = 0; quarter < 4; ++quarter) {
                const double angle =
                    EllipsoidTexCoords(EllipsoidPoint(e, quarter * Pi / 2, beta), e, nullptr).angle;
                // At the seam the angle may come out just below 2 pi.
                EXPECT_NEAR(std::remainder(angle - quarter * Pi / 2, 2 * Pi), 0, 1e-5);
            }
            // Between them the angle only grows, and the steps add up to one turn.
            double turned = 0;
            double previous = 0;
            for (int i = 1; i <= 720; ++i) {
                const double phi = i * 2 * Pi / 720;
                double angle = EllipsoidTexCoords(EllipsoidPoint(e, phi, beta), e, nullptr).angle;
                if (i == 720 && angle < Pi) angle += 2 * Pi;  // back at the start
                ASSERT_GT(angle, previous) << i;
                turned += angle - previous;
                previous = angle;
            }
            EXPECT_NEAR(turned, 2 * Pi, 1e-5);
        }
    }
}

// The angle-preserving length along a meridian of an ellipsoid of revolution (Simpson's
// rule over the parametric latitude).
double MeridianLength(double R, double c, double beta) {
    const int steps = 4000;
    const double h = beta / steps;
    double sum = 0;
    for (int i = 0; i <= steps; ++i) {
        const double x = i * h;
        const double w = (i == 0 || i == steps) ? 1 : (i % 2 == 1 ? 4 : 2);
        sum += w * std::hypot(R * std::sin(x), c * std::cos(x)) / (R * std::cos(x));
    }
    return sum * h / 3;
}

// The builder's entries read by the texture mappers: the coordinates each mapper gives on the
// built tables are the surface's own.
TEST(BuildAuxMappingProfile, EntriesReadBackThroughTheirMappers) {
    // Ellipsoids of revolution about their longest axis, whichever it is: the angle around
    // and the conformal length.
    const double spheroids[][3] = {{1.2, 1.2, 3}, {0.5, 1.5, 0.5}, {4, 1, 1}, {1, 1, 1}};
    for (const auto& axes : spheroids) {
        SCOPED_TRACE(testing::Message() << axes[0] << ", " << axes[1] << ", " << axes[2]);
        MappingList list;
        const SurfaceMappingEntry& e =
            list.Build(Head(SurfaceMapperKind::Ellipsoid, axes[0], axes[1], axes[2]));
        const double polar = e.axisCode == 0 ? e.c : e.axisCode == 1 ? e.b : e.a;
        const double R = e.axisCode == 0 ? e.a : e.axisCode == 1 ? e.c : e.b;
        for (const double beta : {-1.3, -0.2, 0.0, 0.6, 1.45}) {
            for (const double phi : {0.3, 2.0, 4.4}) {
                SCOPED_TRACE(testing::Message() << beta << " " << phi);
                const SurfaceTexCoords coords =
                    EllipsoidTexCoords(EllipsoidPoint(e, phi, beta), e, nullptr);
                EXPECT_NEAR(coords.angle, phi, 1e-5);
                const double length = MeridianLength(R, polar, beta);
                EXPECT_NEAR(coords.length, length, 5e-6 * (1 + std::fabs(length)));
            }
        }
    }

    // A hyperboloid of revolution: the conformal length along its generators.
    for (const double c : {0.4, 1.0, 3.0}) {
        SCOPED_TRACE(c);
        const double r = 1.5;
        MappingList list;
        const SurfaceMappingEntry& e = list.Build(Head(SurfaceMapperKind::Hyperboloid, r, r, c));
        const double m = std::sqrt(r * r + c * c);
        for (const double s : {-4.0, 0.0, 0.3, 2.5}) {
            const double length =
                (m * std::asinh(m * s / c) - r * std::atanh(r * s / std::sqrt(m * m * s * s + c * c))) /
                r;
            const double n = std::sqrt(s * s + 1);
            const SurfaceTexCoords coords =
                SpheroidTexCoords({r * n * std::sin(1.0), r * n * std::cos(1.0), c * s}, e, nullptr);
            EXPECT_NEAR(coords.angle, 1.0, 1e-5);
            EXPECT_NEAR(coords.length, length, 1e-5 * (1 + std::fabs(length)));
        }
    }

    // A flat elliptic cylinder: the angle grows with arc length, a quarter at each axis end.
    MappingList list;
    const SurfaceMappingEntry& e = list.Build(Head(SurfaceMapperKind::EllipticCylinder, 0.2, 3, 0));
    EXPECT_NEAR(SurfaceAngleCoord(0.2, 0, e), Pi / 2, 1e-5);
    EXPECT_NEAR(SurfaceAngleCoord(0, -3, e), Pi, 1e-5);
    EXPECT_NEAR(SurfaceAngleCoord(-0.2, 0, e), 1.5 * Pi, 1e-5);
}

// The mapper's angle and length on an ellipsoid with three unequal axes, by the parametric
// longitude phi and latitude beta of EllipsoidPoint.
std::array<double, 2> MappedAt(const SurfaceMappingEntry& e, double phi, double beta) {
    const SurfaceTexCoords coords = EllipsoidTexCoords(EllipsoidPoint(e, phi, beta), e, nullptr);
    return {coords.angle, coords.length};
}

// Central differences with steps h at the parametric point (phi, beta): the columns of J, the
// derivatives of the mapped (angle, length) by phi and by beta, and of the surface point.
struct ParametricDerivatives {
    std::array<double, 2> jPhi;
    std::array<double, 2> jBeta;
    Vec3 tPhi;
    Vec3 tBeta;
};

ParametricDerivatives DerivativesAt(const SurfaceMappingEntry& e, double phi, double beta,
                                    double h) {
    const auto mapped = [&](double dphi, double dbeta) {
        const auto ahead = MappedAt(e, phi + dphi, beta + dbeta);
        const auto behind = MappedAt(e, phi - dphi, beta - dbeta);
        return std::array<double, 2>{std::remainder(ahead[0] - behind[0], 2 * Pi) / (2 * h),
                                     (ahead[1] - behind[1]) / (2 * h)};
    };
    const auto along = [&](double dphi, double dbeta) {
        const Vec3 a = EllipsoidPoint(e, phi + dphi, beta + dbeta);
        const Vec3 b = EllipsoidPoint(e, phi - dphi, beta - dbeta);
        return Vec3{(a.x - b.x) / (2 * h), (a.y - b.y) / (2 * h), (a.z - b.z) / (2 * h)};
    };
    return {mapped(h, 0), mapped(0, h), along(h, 0), along(0, h)};
}

// Ellipsoids whose three axes differ keep angles: at each point the mapped coordinates'
// derivatives along the surface, taken by central differences, have the metric's shape
// (J^T J = lambda G for the metric G of (phi, beta)), at the scale the mapper reports. The
// equator has length 0, the halves are mirror images, and the poles are points: about a pole
// the length grows by ln 10 when the distance falls tenfold, whichever way one comes. So for
// both branches: the two smaller axes the closer pair (flag 0), and the two larger ones (flag
// 1), down to two equal larger axes.
TEST(BuildAuxMappingProfile, EllipsoidsWithThreeUnequalAxesMapKeepingAngles) {
    struct Axes {
        double a, b, c;
        std::uint8_t branchFlag;
    };
    const Axes shapes[] = {{1, 1.5, 2, 0},  {0.6, 0.8, 2.5, 0}, {2, 1, 1.5, 0},    {0.9, 3, 0.5, 0},
                           {1, 1.75, 2, 1}, {1, 2.8, 3, 1},     {3, 0.4, 2.95, 1}, {2.9, 3, 0.7, 1},
                           {2, 2, 1, 1},    {1, 2.999, 3, 1}};
    for (const Axes& shape : shapes) {
        const double axes[] = {shape.a, shape.b, shape.c};
        SCOPED_TRACE(testing::Message() << axes[0] << ", " << axes[1] << ", " << axes[2]);
        MappingList list;
        const SurfaceMappingEntry& e =
            list.Build(Head(SurfaceMapperKind::Ellipsoid, axes[0], axes[1], axes[2]));
        ASSERT_EQ(e.branchFlag, shape.branchFlag);
        const double h = 1e-3;
        for (const double beta : {-1.2, -0.5, 0.05, 0.4, 0.9, 1.3}) {
            for (const double phi : {0.2, 1.0, 1.9, 2.8, 4.0, 5.5}) {
                SCOPED_TRACE(testing::Message() << beta << " " << phi);
                // Columns of J: d(angle, length) / dphi and / dbeta.
                const auto [jPhi, jBeta, tPhi, tBeta] = DerivativesAt(e, phi, beta, h);
                const double gPhi = Vec3Dot(tPhi, tPhi);
                const double gBeta = Vec3Dot(tBeta, tBeta);
                const double gCross = Vec3Dot(tPhi, tBeta);
                const double jPhi2 = jPhi[0] * jPhi[0] + jPhi[1] * jPhi[1];
                const double jBeta2 = jBeta[0] * jBeta[0] + jBeta[1] * jBeta[1];
                const double jCross = jPhi[0] * jBeta[0] + jPhi[1] * jBeta[1];
                const double lambda = (jPhi2 + jBeta2) / (gPhi + gBeta);
                const double tolerance = 2e-3 * lambda * (gPhi + gBeta);
                EXPECT_NEAR(jPhi2, lambda * gPhi, tolerance);
                EXPECT_NEAR(jBeta2, lambda * gBeta, tolerance);
                EXPECT_NEAR(jCross, lambda * gCross, tolerance);
                const SurfaceTexCoords coords =
                    EllipsoidTexCoords(EllipsoidPoint(e, phi, beta), e, nullptr);
                EXPECT_NEAR(coords.angleScale, std::sqrt(lambda), 2e-3 * std::sqrt(lambda));
                // The mirror image across the equator.
                const SurfaceTexCoords mirrored =
                    EllipsoidTexCoords(EllipsoidPoint(e, phi, -beta), e, nullptr);
                EXPECT_NEAR(mirrored.length, -coords.length, 1e-9);
                EXPECT_NEAR(std::remainder(mirrored.angle - coords.angle, 2 * Pi), 0, 1e-9);
            }
        }
        for (const double phi : {0.0, 0.7, 2.0, 3.9}) {
            EXPECT_NEAR(MappedAt(e, phi, 0)[1], 0, 1e-9);
        }
        // Round the pole: the pole lies at the end of the polar axis.
        const double polar = e.axisCode == 0 ? e.c : e.axisCode == 1 ? e.b : e.a;
        std::vector<double> offsets;
        for (int i = 0; i < 12; ++i) {
            const double phi = (i + 0.3) * 2 * Pi / 12;
            const auto near = MappedAt(e, phi, Pi / 2 - 1e-3);
            const auto nearer = MappedAt(e, phi, Pi / 2 - 1e-4);
            EXPECT_NEAR(nearer[1] - near[1], std::log(10.0), 1e-3) << phi;
            // The length and ln of the distance add up to the same constant on every side.
            const Vec3 point = EllipsoidPoint(e, phi, Pi / 2 - 1e-4);
            const Vec3 pole = EllipsoidPoint(e, 0, Pi / 2);
            const Vec3 d{point.x - pole.x, point.y - pole.y, point.z - pole.z};
            offsets.push_back(nearer[1] + std::log(Vec3Length(d) / polar));
        }
        for (const double offset : offsets) EXPECT_NEAR(offset, offsets[0], 2e-3);
    }
}

// The bump tangent of an ellipsoid with three unequal axes is the direction in which its own
// angle grows at fixed length: it lies in the surface (across the normal) and along the
// direction that central differences of the mapped coordinates give, on both halves, on all
// sides of the polar axis and beside the arc between the umbilics, where the cross ellipse's
// tangent leans far off it. So for entries that read table 0 (flag 0), and for those with the
// two larger axes the closer pair (flag 1), through the products in z and the transformed ones,
// down to two equal larger axes.
TEST(BuildAuxMappingProfile, EllipsoidTangentFollowsTheAngleOfItsThreeAxisMap) {
    const double shapes[][3] = {{1, 1.5, 2},   {0.6, 0.8, 2.5}, {2, 1, 1.5},
                                {0.9, 3, 0.5}, {1, 1.75, 2},    {1, 2.8, 3},
                                {2.9, 3, 0.7}, {1, 2.999, 3},   {3, 3, 1}};
    double largestLean = 0;  // of the direction from the parallel across the polar axis
    std::array<int, 3> served{};  // table 0, the products in z, the transformed products
    for (const auto& axes : shapes) {
        SCOPED_TRACE(testing::Message() << axes[0] << ", " << axes[1] << ", " << axes[2]);
        MappingList list;
        const SurfaceMappingEntry& e =
            list.Build(Head(SurfaceMapperKind::Ellipsoid, axes[0], axes[1], axes[2]));
        if (e.branchFlag == 0) {
            ++served[0];
        } else {
            const EllipsoidQuarterMeasures m = EllipsoidQuarterMeasuresOf(e);
            ++served[Pi / 2 * m.latitude / m.longitude >= Pi / 4 ? 1 : 2];
        }
        const double h = 1e-3;
        const double nearArc[] = {Pi / 2 - 0.03, Pi / 2 + 0.03, 1.5 * Pi - 0.03, 1.5 * Pi + 0.03};
        for (const double beta : {-1.3, -0.7, -0.2, 0.1, 0.6, 1.1, 1.35}) {
            for (const double phi : {0.3, 1.2, 2.1, 2.9, 3.8, 4.7, 5.6, nearArc[0], nearArc[1],
                                     nearArc[2], nearArc[3]}) {
                SCOPED_TRACE(testing::Message() << beta << " " << phi);
                // J (dphi, dbeta) = (1, 0): the step that moves the angle and not the length.
                const auto [jPhi, jBeta, tPhi, tBeta] = DerivativesAt(e, phi, beta, h);
                const double det = jPhi[0] * jBeta[1] - jBeta[0] * jPhi[1];
                ASSERT_GT(std::fabs(det), 0);
                const double dPhi = jBeta[1] / det;
                const double dBeta = -jPhi[1] / det;
                Vec3 expected{dPhi * tPhi.x + dBeta * tBeta.x, dPhi * tPhi.y + dBeta * tBeta.y,
                              dPhi * tPhi.z + dBeta * tBeta.z};
                expected = Vec3Scale(expected, 1 / Vec3Length(expected));

                const Vec3 point = EllipsoidPoint(e, phi, beta);
                Vec3 tangent;
                EllipsoidTexCoords(point, e, &tangent);
                EXPECT_NEAR(Vec3Length(tangent), 1, 1e-12);
                const Vec3 normal{point.x / (e.a * e.a), point.y / (e.b * e.b),
                                  point.z / (e.c * e.c)};
                EXPECT_NEAR(Vec3Dot(tangent, normal) / Vec3Length(normal), 0, 1e-9);
                EXPECT_GT(Vec3Dot(tangent, expected), std::cos(3e-3));
                // How far the true direction leans out of the plane across the polar axis.
                const double polar = e.axisCode == 0   ? expected.z
                                     : e.axisCode == 1 ? expected.y
                                                       : expected.x;
                largestLean = std::max(largestLean, std::fabs(polar));
            }
        }
    }
    // The points tried include ones where a tangent of the cross ellipse (which has no part
    // along the polar axis) would be far wrong.
    EXPECT_GT(largestLean, 0.3);
    EXPECT_GT(served[0], 0);
    EXPECT_GT(served[1], 0);
    EXPECT_GT(served[2], 0);
}

// The map is one function of the shape, whichever way an entry works it out: shapes on either
// side of k = 1/2 (products of the first branch, transformed ones of the second) map alike,
// and as the two larger semi-axes come together the map tends to the one of two equal ones.
TEST(BuildAuxMappingProfile, ThreeAxisMapIsContinuousAcrossItsBranchesAndAtEqualLargerAxes) {
    const auto compare = [](const Vec3& near, const Vec3& far, double tolerance) {
        MappingList nearList;
        MappingList farList;
        const SurfaceMappingEntry& a =
            nearList.Build(Head(SurfaceMapperKind::Ellipsoid, near.x, near.y, near.z));
        const SurfaceMappingEntry& b =
            farList.Build(Head(SurfaceMapperKind::Ellipsoid, far.x, far.y, far.z));
        for (const double beta : {-1.5, -0.7, 0.0, 0.3, 1.0, 1.56}) {
            for (int i = 0; i < 16; ++i) {
                const double phi = (i + 0.25) * 2 * Pi / 16;
                SCOPED_TRACE(testing::Message() << beta << " " << phi);
                const auto ma = MappedAt(a, phi, beta);
                const auto mb = MappedAt(b, phi, beta);
                EXPECT_NEAR(std::remainder(ma[0] - mb[0], 2 * Pi), 0, tolerance);
                EXPECT_NEAR(ma[1], mb[1], tolerance * (1 + std::fabs(ma[1])));
            }
        }
        return std::array<int, 2>{a.branchFlag, b.branchFlag};
    };
    // k = (q^2 - p^2) / (r^2 - p^2) = 1/2 at q^2 = (p^2 + r^2) / 2.
    for (const auto& [p, r] : {std::array<double, 2>{1, 2}, std::array<double, 2>{0.3, 2.5}}) {
        SCOPED_TRACE(testing::Message() << p << " " << r);
        const double q = std::sqrt((p * p + r * r) / 2);
        // The first branch reads xi' from table 0, good to some millionths.
        const auto flags = compare({p, q * (1 - 1e-9), r}, {p, q * (1 + 1e-9), r}, 5e-5);
        EXPECT_EQ(flags[0], 0);
        EXPECT_EQ(flags[1], 1);
    }
    // Where H' = pi/2 H / Xi passes pi / 4 the second branch changes from the products in z to
    // the transformed ones: shapes on either side map alike.
    const auto scaledLatitude = [](double gap) {
        MappingList list;
        const EllipsoidQuarterMeasures m = EllipsoidQuarterMeasuresOf(
            list.Build(Head(SurfaceMapperKind::Ellipsoid, 3, 3 * (1 - gap), 1)));
        return Pi / 2 * m.latitude / m.longitude;
    };
    double low = 1e-12;
    double high = 0.1;
    ASSERT_LT(scaledLatitude(low), Pi / 4);
    ASSERT_GT(scaledLatitude(high), Pi / 4);
    for (int i = 0; i < 60; ++i) {
        const double middle = std::sqrt(low * high);
        (scaledLatitude(middle) < Pi / 4 ? low : high) = middle;
    }
    compare({3, 3 * (1 - low * (1 - 1e-7)), 1}, {3, 3 * (1 - high * (1 + 1e-7)), 1}, 1e-6);
    // Larger axes a little apart against equal ones (a tie makes a the polar axis).
    compare({3, 3 * (1 - 1e-4), 1}, {3, 3, 1}, 1e-3);
    compare({3, 3 * (1 - 1e-8), 1}, {3, 3, 1}, 1e-6);
    compare({2.5, 2.5 * (1 - 1e-13), 0.5}, {2.5, 2.5, 0.5}, 1e-9);
}

// The map's quarter measures are worked out once per shape and kept by the shape's semi-axes:
// coordinates read through the kept ones are bit for bit those read through measures worked
// out afresh, while more entries take turns than are kept and after an entry is rebuilt in
// place with other axes. The measures are the integrals of the separated metric.
TEST(BuildAuxMappingProfile, ThreeAxisMapKeepsItsQuarterMeasuresPerShape) {
    const double shapes[][3] = {{1, 1.5, 2},  {0.6, 0.8, 2.5}, {2, 1, 1.5},    {0.9, 3, 0.5},
                                {1, 1.75, 2}, {1, 2.8, 3},     {3, 0.4, 2.95}, {2.9, 3, 0.7},
                                {2, 2, 1},    {1, 2.999, 3},   {0.2, 1, 4},    {1.1, 0.9, 1.3}};
    std::vector<std::unique_ptr<MappingList>> lists;
    std::vector<const SurfaceMappingEntry*> entries;
    for (const auto& axes : shapes) {
        lists.push_back(std::make_unique<MappingList>());
        entries.push_back(
            &lists.back()->Build(Head(SurfaceMapperKind::Ellipsoid, axes[0], axes[1], axes[2])));
    }
    const auto sameAsFresh = [](const SurfaceMappingEntry& e, double phi, double beta) {
        const Vec3 point = EllipsoidPoint(e, phi, beta);
        const SurfaceTexCoords kept = EllipsoidTexCoords(point, e, nullptr);
        const SurfaceTexCoords fresh =
            EllipsoidTexCoords(point, e, EllipsoidQuarterMeasuresOf(e), nullptr);
        EXPECT_EQ(kept.angle, fresh.angle);
        EXPECT_EQ(kept.length, fresh.length);
        EXPECT_EQ(kept.angleScale, fresh.angleScale);
    };
    for (int i = 0; i < 200; ++i) {
        const double phi = i * 0.731;
        const double beta = 1.5 * std::sin(i * 0.377);
        for (std::size_t j = 0; j < entries.size(); ++j) {
            SCOPED_TRACE(testing::Message() << j << " " << phi << " " << beta);
            sameAsFresh(*entries[j], phi, beta);
        }
    }

    // Rebuilt in place: the same buffer, other axes, its own measures.
    MappingList list;
    const SurfaceMappingEntry& first = list.Build(Head(SurfaceMapperKind::Ellipsoid, 1, 1.5, 2));
    const double before =
        EllipsoidTexCoords(EllipsoidPoint(first, 0.5, 0.8), first, nullptr).length;
    const SurfaceMappingEntry& again = list.Build(Head(SurfaceMapperKind::Ellipsoid, 1, 1.8, 2));
    ASSERT_EQ(&first, &again);
    for (int i = 0; i < 50; ++i) sameAsFresh(again, i * 0.4, 1.4 * std::cos(i * 0.9));
    EXPECT_NE(EllipsoidTexCoords(EllipsoidPoint(again, 0.5, 0.8), again, nullptr).length, before);

    // H = the integral of sqrt((q^2 + e2^2 sin^2 chi) / (e1^2 + e2^2 sin^2 chi)) over a quarter
    // turn of chi, Xi that of sqrt((p^2 + e1^2 sin^2 t) / (e3^2 - e1^2 sin^2 t)).
    const auto simpson = [](const std::function<double(double)>& f) {
        const int steps = 20000;
        const double h = Pi / 2 / steps;
        double sum = 0;
        for (int i = 0; i <= steps; ++i) {
            sum += (i == 0 || i == steps ? 1 : i % 2 == 1 ? 4 : 2) * f(i * h);
        }
        return sum * h / 3;
    };
    for (const auto& [p, q, r] :
         {std::array<double, 3>{1, 1.5, 2}, std::array<double, 3>{1, 2.8, 3},
          std::array<double, 3>{0.2, 1, 4}}) {
        SCOPED_TRACE(testing::Message() << p << " " << q << " " << r);
        MappingList sorted;
        const EllipsoidQuarterMeasures m =
            EllipsoidQuarterMeasuresOf(sorted.Build(Head(SurfaceMapperKind::Ellipsoid, p, q, r)));
        const double e1 = q * q - p * p;
        const double e2 = r * r - q * q;
        const double e3 = r * r - p * p;
        const double latitude = simpson([&](double x) {
            const double s = std::sin(x);
            return std::sqrt((q * q + e2 * s * s) / (e1 + e2 * s * s));
        });
        const double longitude = simpson([&](double x) {
            const double s = std::sin(x);
            return std::sqrt((p * p + e1 * s * s) / (e3 - e1 * s * s));
        });
        EXPECT_NEAR(m.latitude, latitude, 1e-8 * latitude);
        EXPECT_NEAR(m.longitude, longitude, 1e-8 * longitude);
    }
    MappingList equal;
    EXPECT_EQ(EllipsoidQuarterMeasuresOf(equal.Build(Head(SurfaceMapperKind::Ellipsoid, 1, 3, 3)))
                  .longitude,
              std::numeric_limits<double>::infinity());
}

// As the cross semi-axes come together, the map of three axes becomes the ellipsoid of
// revolution's: the angle the longitude and the length the conformal latitude of its shape.
TEST(BuildAuxMappingProfile, NearlyRoundCrossSectionsJoinTheRevolutionsMap) {
    const double R = 1.0;
    const double polar = 2.2;
    MappingList list;
    const SurfaceMappingEntry& e =
        list.Build(Head(SurfaceMapperKind::Ellipsoid, R, R * (1 + 1e-5), polar));
    for (const double beta : {-1.3, 0.3, 1.1, 1.5}) {
        for (const double phi : {0.4, 3.0}) {
            SCOPED_TRACE(testing::Message() << beta << " " << phi);
            const auto mapped = MappedAt(e, phi, beta);
            EXPECT_NEAR(std::remainder(mapped[0] - phi, 2 * Pi), 0, 1e-4);
            const double length = MeridianLength(R, polar, beta);
            EXPECT_NEAR(mapped[1], length, 1e-4 * (1 + std::fabs(length)));
        }
    }
}

TEST(BuildAuxMappingProfile, BandHalfHeightIsTheLengthAtTheReferencePoint) {
    struct Case {
        AuxMappingReference reference;
        double tangent;  // of the parametric latitude of the point on a sphere
    };
    const Case cases[] = {
        {{AuxMappingReference::Kind::Diagonal}, 1.0},
        {{AuxMappingReference::Kind::Outer}, 0.75},
        {{AuxMappingReference::Kind::Point, 0.6, 0.8}, 0.8 / 0.6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.reference.kind));
        MappingList list;
        const SurfaceMappingEntry& e =
            list.Build(Head(SurfaceMapperKind::Ellipsoid, 1, 1, 1), c.reference);
        EXPECT_NEAR(e.bandHalfHeight, std::asinh(c.tangent), 1e-7);
    }

    // The head comes back in the builder's order after the band is measured on sorted axes.
    MappingList list;
    SurfaceMappingEntry head = Head(SurfaceMapperKind::Ellipsoid, 3, 1, 2);
    head.kindWord |= 0x10100;  // warp bits above the kind are the renderer's
    head.warp[2] = 0.25;
    const SurfaceMappingEntry& e = list.Build(head);
    EXPECT_EQ(e.a, 3.0);
    EXPECT_EQ(e.b, 1.0);
    EXPECT_EQ(e.c, 2.0);
    EXPECT_EQ(e.axisCode, 2);
    EXPECT_EQ(e.swapFlag, 0);
    EXPECT_EQ(e.kindWord, head.kindWord);
    EXPECT_EQ(e.warp[2], 0.25);
    EXPECT_EQ(e.fadeRatio, -1.0f);
    // The band is measured on the sorted axes: the same as for the head that comes sorted,
    // at the diagonal point of its section through q = 2 and r = 3.
    MappingList sortedList;
    const SurfaceMappingEntry& sorted = sortedList.Build(Head(SurfaceMapperKind::Ellipsoid, 1, 2, 3));
    ASSERT_EQ(sorted.axisCode, 0);
    ASSERT_EQ(sorted.swapFlag, 0);
    const double S = std::sqrt(4.0 + 9.0);
    EXPECT_EQ(e.bandHalfHeight, sorted.bandHalfHeight);
    EXPECT_EQ(e.bandHalfHeight, EllipsoidTexCoords({0, 4 / S, 9 / S}, sorted, nullptr).length);
    EXPECT_GT(e.bandHalfHeight, 0);
}

TEST(BuildAuxMappingProfile, AxisOrderAndBranch) {
    struct Case {
        double a, b, c;
        std::uint16_t axisCode;
        std::uint8_t swapFlag;
        std::uint8_t branchFlag;
    };
    const Case cases[] = {
        {1, 2, 3, 0, 0, 0}, {2, 1, 3, 0, 1, 0}, {1, 3, 2, 1, 1, 0}, {2, 3, 1, 1, 0, 0},
        {3, 1, 2, 2, 0, 0}, {3, 2, 1, 2, 1, 0}, {2, 2, 2, 2, 0, 0}, {1, 2.9, 3, 0, 0, 1},
        {2, 2, 1, 2, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.a << ", " << c.b << ", " << c.c);
        MappingList list;
        const SurfaceMappingEntry& e = list.Build(Head(SurfaceMapperKind::Ellipsoid, c.a, c.b, c.c));
        EXPECT_EQ(e.axisCode, c.axisCode);
        EXPECT_EQ(e.swapFlag, c.swapFlag);
        EXPECT_EQ(e.branchFlag, c.branchFlag);
        EXPECT_GT(e.turnScale, 0);
        EXPECT_GE(e.ellipticity, 0);
        EXPECT_LE(e.ellipticity, 1);
        EXPECT_NEAR(e.moduleNorm, std::sqrt(1 + e.moduleRatio * e.moduleRatio), 1e-15);
    }
}

TEST(BuildAuxMappingProfile, UnknownKindsAndBadAxesLeaveAnEntryNoReaderMeasures) {
    MappingList list;
    list.Build(Head(SurfaceMapperKind::Ellipsoid, 1, 2, 3));
    void* const buffer = list.list.buffers[0];
    const std::uint32_t size = AuxMappingEntry(list.list, 0).byteSize;

    SurfaceMappingEntry unknown = Head(SurfaceMapperKind::Ellipsoid, 1, 2, 3);
    unknown.kindWord = 7;
    const double nan = std::nan("");
    const SurfaceMappingEntry heads[] = {
        unknown,
        Head(SurfaceMapperKind::Ellipsoid, 1, 0, 3),
        Head(SurfaceMapperKind::Hyperboloid, 1, 2, -1),
        Head(SurfaceMapperKind::EllipticCylinder, nan, 1, 0),
        Head(SurfaceMapperKind::Ellipsoid, 1, 2, std::numeric_limits<double>::infinity()),
    };
    for (const SurfaceMappingEntry& head : heads) {
        SCOPED_TRACE(testing::Message() << head.kindWord << ": " << head.a << ", " << head.b
                                        << ", " << head.c);
        const SurfaceMappingEntry& e = list.Build(head);
        // The buffer is kept (never shrunk) but holds no tables a reader could take.
        EXPECT_EQ(list.list.buffers[0], buffer);
        EXPECT_EQ(e.byteSize, size);
        EXPECT_EQ(e.pieceCount0, 0u);
        EXPECT_EQ(e.quarterMeasure, 0.0);
        EXPECT_EQ(e.kindWord, head.kindWord);
        EXPECT_EQ(SurfaceMapperKindKnown(e), head.kindWord != 7);
        EXPECT_EQ(SurfaceAngleCoord(0.5, 0.5, e), 0.0);
        EXPECT_EQ(EllipsoidTexCoords({0.5, 0.5, 0.5}, e, nullptr).length, 0.0);
        EXPECT_EQ(SpheroidTexCoords({0.5, 0.5, 0.5}, e, nullptr).length, 0.0);
    }
}

TEST(BuildAuxMappingProfile, ListGrowsToItsCountAndBuffersOnlyGrow) {
    // A fresh buffer, never built, is no entry a reader may take.
    EXPECT_EQ(SurfaceMappingEntryOf(nullptr), nullptr);
    std::vector<std::byte> head(SurfaceMappingEntryFreshBytes);
    const std::uint32_t freshSize = SurfaceMappingEntryFreshBytes;
    std::memcpy(head.data() + offsetof(SurfaceMappingEntry, byteSize), &freshSize, 4);
    EXPECT_EQ(SurfaceMappingEntryOf(head.data()), nullptr);

    MappingList list;
    list.Build(Head(SurfaceMapperKind::EllipticCylinder, 1, 1, 0));
    void* const first = list.list.buffers[0];
    const std::vector<SurfaceMappingEntry> heads = {
        Head(SurfaceMapperKind::EllipticCylinder, 1, 0.9, 0),
        Head(SurfaceMapperKind::Hyperboloid, 1, 2, 0.5),
        Head(SurfaceMapperKind::Ellipsoid, 1e-3, 1, 2),
    };
    list.Build(heads);
    ASSERT_EQ(list.list.capacity, 3);
    EXPECT_NE(SurfaceMappingEntryOf(list.list.buffers[2]), nullptr);
    EXPECT_EQ(list.list.buffers[0], first);  // still large enough
    for (std::int32_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const SurfaceMappingEntry& e = AuxMappingEntry(list.list, i);
        const std::size_t pieces1 = i == 0 ? 0 : 4 * (127 - e.indexBias1 / 4 + 2);
        EXPECT_EQ(e.byteSize, 16 * (e.pieceCount0 + pieces1 + 23));
        EXPECT_EQ(e.kindWord, heads[static_cast<std::size_t>(i)].kindWord);
    }

    // A smaller entry in a larger buffer keeps the buffer; entries past the count are kept.
    const SurfaceMappingEntry third = AuxMappingEntry(list.list, 2);
    const std::uint32_t size = AuxMappingEntry(list.list, 1).byteSize;
    list.list.count = 2;
    const std::vector<SurfaceMappingEntry> fewer = {
        Head(SurfaceMapperKind::EllipticCylinder, 1, 1, 0),
        Head(SurfaceMapperKind::EllipticCylinder, 1, 1, 0),
    };
    list.Build(fewer);
    EXPECT_EQ(AuxMappingEntry(list.list, 1).byteSize, size);
    EXPECT_EQ(AuxMappingEntry(list.list, 1).pieceCount0, 16u);
    EXPECT_EQ(AuxMappingEntry(list.list, 2).quarterMeasure, third.quarterMeasure);
}

// Whatever request the heap refuses, the list stays one FreeBufferArray can release, and a
// later build completes it.
TEST(BuildAuxMappingProfile, RefusedBufferLeavesTheListConsistent) {
    const std::vector<SurfaceMappingEntry> heads = {
        Head(SurfaceMapperKind::Ellipsoid, 1, 2, 3),
        Head(SurfaceMapperKind::Hyperboloid, 1, 2, 0.5),
        Head(SurfaceMapperKind::EllipticCylinder, 1, 0.5, 0),
    };
    MappingList reference;
    reference.Build(heads);
    const std::size_t blocks = PrivateHeapBlockCount();
    bool completed = false;
    int refusals = 0;
    for (std::size_t budget = 0; !completed; budget += 256) {
        SCOPED_TRACE(budget);
        ASSERT_LT(budget, 64u * 1024);
        {
            MappingList list;
            list.list.count = 3;
            PrivateHeapSetCeiling(PrivateHeapBytesInUse() + budget + 1);
            try {
                BuildAuxMappingProfile(list.list, heads, {});
                completed = true;
            } catch (const KVOutOfMemoryException&) {
                ++refusals;
            }
            PrivateHeapSetCeiling(0);
            BuildAuxMappingProfile(list.list, heads, {});
            for (std::int32_t i = 0; i < 3; ++i) {
                EXPECT_EQ(AuxMappingEntry(list.list, i).quarterMeasure,
                          AuxMappingEntry(reference.list, i).quarterMeasure);
            }
        }
        EXPECT_EQ(PrivateHeapBlockCount(), blocks);
    }
    EXPECT_GT(refusals, 4);  // the array and several buffers were refused on the way
}

}  // namespace
