#include "texture/surface_tex_coords.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <new>
#include <numbers>
#include <vector>

namespace {

constexpr double Pi = std::numbers::pi;

using Density = std::function<double(double)>;

// Octave number of a table whose first level ends near modulus / 4, as the shape builder
// chooses it.
int OctaveNumber(double modulus) {
    const double e = -std::log(std::max(modulus, 1e-6)) / std::log(2.0);
    const int n = e >= 0 ? static_cast<int>(e) : static_cast<int>(e) - 1;
    return n + 2;
}

// A surface mapping entry buffer with the builder's tables: each table the running integral
// of its density over the quarter-octave layout up to t = 2.
class EntryBuffer {
public:
    EntryBuffer(const Density& f0, double modulus0, const Density& f1, double modulus1) {
        const int n0 = OctaveNumber(modulus0);
        const int n1 = OctaveNumber(modulus1);
        const std::size_t l0 = static_cast<std::size_t>(4 * (n0 + 2));
        const std::size_t l1 = f1 ? static_cast<std::size_t>(4 * (n1 + 2)) : 0;
        storage.resize(2 * (23 + l0 + l1));
        entry = new (storage.data()) SurfaceMappingEntry;
        entry->byteSize = static_cast<std::uint32_t>(16 * (23 + l0 + l1));
        entry->pieceCount0 = static_cast<std::uint32_t>(l0);
        entry->indexBias0 = static_cast<std::uint32_t>(CubicTableBaseCode(n0));
        entry->indexBias1 = static_cast<std::uint32_t>(CubicTableBaseCode(n1));
        auto* pieces = reinterpret_cast<CubicPiece*>(entry + 1);
        Fill({pieces, l0}, n0, f0);
        if (f1) Fill({pieces + l0, l1}, n1, f1);
        entry->quarterMeasure =
            EvalPiecewiseCubic(static_cast<std::int32_t>(entry->indexBias0),
                               SurfaceMappingEntryTable0(*entry), 1.0f);
    }

    EntryBuffer(EntryBuffer&&) = default;
    EntryBuffer(const EntryBuffer&) = delete;
    EntryBuffer& operator=(const EntryBuffer&) = delete;

    SurfaceMappingEntry* entry = nullptr;

private:
    static void Fill(std::span<CubicPiece> table, int octave, const Density& f) {
        CubicTableIntegrate(table, std::ldexp(1.0, -octave), 0.0, [&](double t) {
            const double h = 1e-5 * std::max(t, 1e-2);
            return CubicTableSample{f(t), (f(t + h) - f(t - h)) / (2 * h)};
        });
    }

    std::vector<double> storage;
};

// Arc length of the ellipse (a sin phi, b cos phi) from phi = 0 (Simpson's rule).
double EllipseArc(double a, double b, double phi) {
    const int steps = 4000;
    const double h = phi / steps;
    double sum = 0;
    for (int i = 0; i <= steps; ++i) {
        const double x = i * h;
        const double w = (i == 0 || i == steps) ? 1 : (i % 2 == 1 ? 4 : 2);
        sum += w * std::hypot(a * std::cos(x), b * std::sin(x));
    }
    return sum * h / 3;
}

// Integral of f over [0, s] by Simpson's rule.
double Integral(const Density& f, double s) {
    const int steps = 4000;
    const double h = s / steps;
    double sum = 0;
    for (int i = 0; i <= steps; ++i) {
        const double w = (i == 0 || i == steps) ? 1 : (i % 2 == 1 ? 4 : 2);
        sum += w * f(i * h);
    }
    return sum * h / 3;
}

double Wrap(double angle) {
    angle = std::fmod(angle, 2 * Pi);
    return angle < 0 ? angle + 2 * Pi : angle;
}

// Kind 2: the elliptic cylinder's arc-length density in the half-angle tangent.
EntryBuffer CylinderEntry(double a, double b) {
    const double p = std::min(a, b);
    const double q = std::max(a, b);
    const double e = std::sqrt(q * q - p * p);
    EntryBuffer buffer(
        [=](double t) {
            const double A = 1 + t * t;
            return 2 * std::sqrt(p * p * A * A + 4 * e * e * t * t) / (A * A);
        },
        p / (q + e), nullptr, 1.0);
    buffer.entry->a = a;
    buffer.entry->b = b;
    buffer.entry->kindWord = static_cast<std::uint32_t>(SurfaceMapperKind::EllipticCylinder);
    buffer.entry->swapFlag = b <= a ? 1 : 0;
    return buffer;
}

TEST(SurfaceAngleCoord, AngleGrowsWithArcLengthFromTheLargerAxis) {
    struct Case {
        double a;
        double b;
    };
    // Circle, both orders of unequal axes, and a flat ellipse.
    for (const Case c : {Case{1, 1}, Case{0.5, 2}, Case{3, 1.2}, Case{0.05, 1}}) {
        SCOPED_TRACE(testing::Message() << c.a << " x " << c.b);
        EntryBuffer buffer = CylinderEntry(c.a, c.b);
        const SurfaceMappingEntry& e = *buffer.entry;
        EXPECT_NEAR(e.quarterMeasure, EllipseArc(c.a, c.b, Pi / 2),
                    5e-6 * e.quarterMeasure);
        for (int i = 0; i < 64; ++i) {
            const double phi = (i + 0.37) * 2 * Pi / 64;
            SCOPED_TRACE(phi);
            // The angle starts at +y and turns toward +x whichever axis is longer. Quarter-
            // octave pieces of single-precision floats hold the arc to a few parts in 1e5.
            const double reference = EllipseArc(c.a, c.b, phi) * Pi / (2 * e.quarterMeasure);
            EXPECT_NEAR(SurfaceAngleCoord(c.a * std::sin(phi), c.b * std::cos(phi), e),
                        reference, 5e-5);
        }
        EXPECT_EQ(SurfaceAngleCoord(0, c.b, e), 0.0);
    }
}

TEST(SurfaceAngleCoord, RecordsWithoutTablesGiveZero) {
    EntryBuffer buffer = CylinderEntry(1, 2);
    SurfaceMappingEntry& e = *buffer.entry;
    e.byteSize = 16 * 23 + 16 * 4;  // too short for a table
    EXPECT_EQ(SurfaceAngleCoord(1, 0, e), 0.0);
    e.byteSize = 212;
    EXPECT_EQ(SurfaceAngleCoord(1, 0, e), 0.0);
}

// Kind 1 with the builder's densities: around the waist ellipse, and along the generators.
EntryBuffer HyperboloidEntry(double a, double b, double c) {
    const double p = std::min(a, b);
    const double q = std::max(a, b);
    const double e1 = std::sqrt(q * q - p * p);
    const double e2 = std::sqrt(c * c + q * q);
    const double e3 = std::sqrt(p * p + c * c);
    EntryBuffer buffer(
        [=](double t) {
            const double A = 1 + t * t;
            return 2 * e3 * std::sqrt(1 / (A * A) - c * c / (e3 * e3 * A * A + 4 * e1 * e1 * t * t));
        },
        p / (e1 + q),
        [=](double t) {
            const double B = 1 - t * t;
            const double h3 = e3 * e3 * B * B + 4 * e2 * e2 * t * t;
            const double hc = c * c * B * B + 4 * e2 * e2 * t * t;
            return 2 * p * p * e3 * B / (h3 + std::sqrt(h3 * hc));
        },
        c / (q + e2));
    SurfaceMappingEntry& e = *buffer.entry;
    e.a = a;
    e.b = b;
    e.c = c;
    e.kindWord = static_cast<std::uint32_t>(SurfaceMapperKind::Hyperboloid);
    e.swapFlag = b <= a ? 1 : 0;
    e.axisTerm = e3;
    e.moduleRatio = e1 / e3;
    return buffer;
}

TEST(SpheroidTexCoords, HyperboloidOfRevolutionGetsItsConformalCoordinates) {
    const double r = 1.5;
    for (const double c : {0.4, 1.0, 3.0}) {
        SCOPED_TRACE(c);
        EntryBuffer buffer = HyperboloidEntry(r, r, c);
        const SurfaceMappingEntry& e = *buffer.entry;
        // ds / radius along a generator: integral of sqrt(m^2 s^2 + c^2) / (r (1 + s^2)), with
        // m^2 = r^2 + c^2, in closed form.
        const double m = std::sqrt(r * r + c * c);
        auto reference = [&](double s) {
            return (m * std::asinh(m * s / c) -
                    r * std::atanh(r * s / std::sqrt(m * m * s * s + c * c))) / r;
        };
        for (const double s : {-4.0, -0.7, 0.0, 0.01, 0.3, 1.0, 2.5, 12.0}) {
            for (const double phi : {0.2, 1.9, 3.5, 5.6}) {
                SCOPED_TRACE(testing::Message() << s << " " << phi);
                const double n = std::sqrt(s * s + 1);
                const Vec3 point{r * n * std::sin(phi), r * n * std::cos(phi), c * s};
                Vec3 tangent;
                const SurfaceTexCoords coords = SpheroidTexCoords(point, e, &tangent);
                EXPECT_NEAR(coords.angle, phi, 1e-5);
                EXPECT_NEAR(coords.length, reference(s), 1e-5 * (1 + std::fabs(reference(s))));
                EXPECT_NEAR(coords.angleScale, 1 / (r * n), 5e-6 / (r * n));
                EXPECT_NEAR(tangent.x, std::cos(phi), 1e-9);
                EXPECT_NEAR(tangent.y, -std::sin(phi), 1e-9);
                EXPECT_EQ(tangent.z, 0.0);
            }
        }
    }
}

TEST(SpheroidTexCoords, EllipticWaistTurnsOnceAndTheTangentAdvancesTheAngle) {
    for (const bool swapped : {false, true}) {
        SCOPED_TRACE(swapped);
        const double a = swapped ? 2.0 : 1.0;
        const double b = swapped ? 1.0 : 2.0;
        EntryBuffer buffer = HyperboloidEntry(a, b, 0.8);
        const SurfaceMappingEntry& e = *buffer.entry;
        double previous = -1;
        for (int i = 0; i < 40; ++i) {
            const double phi = (i + 0.5) * 2 * Pi / 40;
            const double n = std::cosh(0.6);
            const Vec3 point{a * n * std::sin(phi), b * n * std::cos(phi), 0.8 * std::sinh(0.6)};
            Vec3 tangent;
            const SurfaceTexCoords coords = SpheroidTexCoords(point, e, &tangent);
            EXPECT_GT(coords.angle, previous);
            EXPECT_LT(coords.angle, 2 * Pi);
            previous = coords.angle;
            // The tangent lies in the surface and along the angle's growth.
            EXPECT_NEAR(tangent.x * point.x / (a * a) + tangent.y * point.y / (b * b), 0, 1e-12);
            const Vec3 ahead{point.x + 1e-4 * tangent.x, point.y + 1e-4 * tangent.y, point.z};
            EXPECT_GT(Wrap(SpheroidTexCoords(ahead, e, nullptr).angle - coords.angle), 0);
            EXPECT_LT(Wrap(SpheroidTexCoords(ahead, e, nullptr).angle - coords.angle), 1e-3);
        }
    }
}

// Kind 0 about its largest axis: the cross-section's arc length (a circle of radius r).
EntryBuffer SpheroidEntry(double r, double big, std::uint16_t axisCode) {
    EntryBuffer buffer([=](double t) { return 2 * r / (1 + t * t); }, 1.0, nullptr, 1.0);
    SurfaceMappingEntry& e = *buffer.entry;
    e.a = axisCode == 2 ? big : r;
    e.b = axisCode == 1 ? big : r;
    e.c = axisCode == 0 ? big : r;
    e.axisCode = axisCode;
    e.swapFlag = 1;  // equal cross axes: the builder's tie rule
    e.kindWord = static_cast<std::uint32_t>(SurfaceMapperKind::Ellipsoid);
    return buffer;
}

TEST(EllipsoidTexCoords, SpheroidsGetMercatorLatitudeOfTheirShape) {
    const double r = 1.2;
    for (const double big : {1.2, 2.0, 7.0}) {
        for (const std::uint16_t axisCode : {0, 1, 2}) {
            SCOPED_TRACE(testing::Message() << big << " axis " << axisCode);
            EntryBuffer buffer = SpheroidEntry(r, big, axisCode);
            const SurfaceMappingEntry& e = *buffer.entry;
            for (const double beta : {-1.4, -0.5, 0.0, 0.2, 1.0, 1.5}) {
                SCOPED_TRACE(beta);
                const double s = std::tan(beta);
                const double reference =
                    Integral([&](double x) {
                        return std::sqrt(r * r * x * x + big * big) / (r * (1 + x * x));
                    }, std::fabs(s)) * (s < 0 ? -1 : 1);
                const double phi = 2.2;
                // (p, q, w) across and along the polar axis, placed by the axis code.
                const double p = r * std::cos(beta) * std::sin(phi);
                const double q = r * std::cos(beta) * std::cos(phi);
                const double w = big * std::sin(beta);
                const Vec3 point = axisCode == 0   ? Vec3{p, q, w}
                                   : axisCode == 1 ? Vec3{q, w, p}
                                                   : Vec3{w, p, q};
                Vec3 tangent;
                const SurfaceTexCoords coords = EllipsoidTexCoords(point, e, &tangent);
                EXPECT_NEAR(coords.angle, phi, 1e-5);
                // The length is in closed form; only the radius read from the table's quarter
                // measure carries the single-precision pieces' error.
                EXPECT_NEAR(coords.length, reference, 5e-6 * (1 + std::fabs(reference)));
                EXPECT_NEAR(coords.angleScale, 1 / (r * std::cos(beta)), 5e-6 / (r * std::cos(beta)));
                EXPECT_DOUBLE_EQ(coords.axisRatio, 1.0);
                // Tangent of the parallel: perpendicular to the polar axis and to the radius.
                const double along = axisCode == 0 ? tangent.z : axisCode == 1 ? tangent.y : tangent.x;
                EXPECT_NEAR(along, 0, 1e-12);
                EXPECT_NEAR(std::hypot(std::hypot(tangent.x, tangent.y), tangent.z), 1, 1e-12);
            }
        }
    }
}

TEST(EllipsoidTexCoords, PolesAndBadRecordsStayFinite) {
    EntryBuffer buffer = SpheroidEntry(1, 1, 0);
    SurfaceMappingEntry& e = *buffer.entry;
    const SurfaceTexCoords pole = EllipsoidTexCoords({0, 0, 1}, e, nullptr);
    EXPECT_TRUE(std::isfinite(pole.length));
    EXPECT_GT(pole.length, 20);
    EXPECT_LT(EllipsoidTexCoords({0, 0, -1}, e, nullptr).length, -20);
    e.axisCode = 7;  // unknown selector: the z axis
    EXPECT_TRUE(std::isfinite(EllipsoidTexCoords({0.6, 0, 0.8}, e, nullptr).length));
    e.quarterMeasure = 0;
    Vec3 tangent;
    const SurfaceTexCoords none = EllipsoidTexCoords({0.6, 0, 0.8}, e, &tangent);
    EXPECT_EQ(none.angle, 0.0);
    EXPECT_EQ(none.length, 0.0);
    EXPECT_EQ(tangent.x, 1.0);
}

TEST(ParabolicStripTexCoords, AngleFollowsTheArcAcrossAndLengthTheInverseMeasure) {
    StripTexRecord strip;
    strip.arc.p0 = 1.0;  // half widths at the two ends
    strip.arc.p1 = 2.0;
    strip.arc.p2 = 0.75;  // y = 0.75 x^2
    strip.arc.scale = 1.0;
    strip.arc.norm = 1.0;
    strip.width = 4.0;
    InverseArcLengthReference(strip.arc);
    const double g = strip.arc.p2;
    auto arc = [&](double x) {
        return Integral([&](double v) { return std::sqrt(1 + 4 * g * g * v * v); }, x);
    };
    for (const double z : {-2.0, -0.5, 1.0, 2.0}) {
        SCOPED_TRACE(z);
        const double u = z / 2;
        const double half = ((1 - u) * 1.0 + (1 + u) * 2.0) / 2;
        for (const double x : {-half, -0.3 * half, 0.0, 0.8 * half, half}) {
            SCOPED_TRACE(x);
            const double expected = Pi * 0.5 * (1 + std::copysign(arc(std::fabs(x)), x) / arc(half));
            const SurfaceTexCoords coords = ParabolicStripTexCoords({x, g * x * x, z}, strip);
            EXPECT_NEAR(coords.angle, expected, 1e-9);
            EXPECT_NEAR(coords.angleScale, Pi / (2 * arc(half)), 1e-9);
            EXPECT_DOUBLE_EQ(coords.length, InverseArcLength(u, strip.arc));
        }
    }
    strip.backFace = 1;
    EXPECT_NEAR(ParabolicStripTexCoords({0, 0, 0}, strip).angle, 1.5 * Pi, 1e-12);
    // Beyond the ends and the edges: clamped; no width or half width: zero coordinates.
    EXPECT_DOUBLE_EQ(ParabolicStripTexCoords({9, 0, 9}, strip).length,
                     InverseArcLength(1.0, strip.arc));
    strip.width = 0;
    EXPECT_DOUBLE_EQ(ParabolicStripTexCoords({0, 0, 5}, strip).length,
                     InverseArcLength(0.0, strip.arc));
    strip.arc.p0 = strip.arc.p1 = 0;
    EXPECT_EQ(ParabolicStripTexCoords({0.1, 0, 0}, strip).angleScale, 0.0);
}

}  // namespace
