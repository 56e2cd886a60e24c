#include "texture/rev_tex.h"

#include "core/private_heap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>

namespace {

struct RecordDeleter {
    void operator()(RevTex* r) const { RevTexFree(r); }
};
using RecordPtr = std::unique_ptr<RevTex, RecordDeleter>;

RecordPtr Record(ProfileKind kind, double a, double b, std::int32_t lType) {
    RevTex* r = RevTexAlloc();
    r->profile.type = static_cast<std::int16_t>(kind);
    r->profile.a = a;
    r->profile.b = b;
    r->lType = lType;
    return RecordPtr(r);
}

// Arc length of a parametric curve from t0 to t1 by Simpson's rule.
template <typename Speed>
double ArcLength(Speed speed, double t0, double t1) {
    const int steps = 4000;
    const double h = (t1 - t0) / steps;
    double sum = 0;
    for (int i = 0; i <= steps; ++i) {
        const double w = (i == 0 || i == steps) ? 1 : (i % 2 == 1 ? 4 : 2);
        sum += w * speed(t0 + i * h);
    }
    return sum * h / 3;
}

TEST(RevTex, LayoutAndGrowthKeepTheFields) {
    RevTex* r = RevTexAlloc();
    EXPECT_EQ(r->size, RevTexPlainSize);
    r->profile.y2 = 7.5;
    r->start = 2.0;
    RevTexGrow(r, RevTexSlopeSize);
    EXPECT_EQ(r->size, RevTexSlopeSize);
    EXPECT_EQ(r->profile.y2, 7.5);
    EXPECT_EQ(r->start, 2.0);
    EXPECT_TRUE(RevTexFirstTable(*r).empty());
    const std::size_t before = PrivateHeapBlockCount();
    PrivateHeapRefuseNext(2);
    EXPECT_THROW(RevTexGrow(r, 4000, 200), KVOutOfMemoryException);
    PrivateHeapRefuseNext(0);
    EXPECT_EQ(r->size, RevTexSlopeSize);
    EXPECT_EQ(PrivateHeapBlockCount(), before);
    RevTexFree(r);
}

TEST(RevTex, EllipticArcLengthMatchesIntegrationAndInvertsToTheRadius) {
    struct Case {
        ProfileKind kind;
        double a, b;
    };
    const Case cases[] = {{ProfileKind::Elliptic, 2.0, 1.0},     {ProfileKind::Elliptic, 1.0, 3.0},
                          {ProfileKind::Elliptic, 5.0, 0.05},    {ProfileKind::EllipticPolar, 2.0, 1.0},
                          {ProfileKind::EllipticPolar, 0.5, 4.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.kind) << " " << c.a << " " << c.b);
        RevTex* raw = Record(c.kind, c.a, c.b, 0).release();
        ASSERT_TRUE(RevTexBuildEllipticTables(raw));
        RecordPtr r(raw);
        for (double phi = 0.05; phi < std::numbers::pi / 2; phi += 0.1) {
            // Point at angle phi from the equator: (a cos phi, b sin phi).
            const double x = c.a * std::cos(phi);
            const double y = c.b * std::sin(phi);
            auto speed = [&](double t) { return std::hypot(c.a * std::sin(t), c.b * std::cos(t)); };
            // Kind 0 measures from the equator; kind 1 from the pole, counted from the equator
            // end so that both grow toward the pole.
            const double quarter = ArcLength(speed, 0, std::numbers::pi / 2);
            const double fromPole = ArcLength(speed, phi, std::numbers::pi / 2);
            const double expected =
                c.kind == ProfileKind::Elliptic ? ArcLength(speed, 0, phi) : quarter - fromPole;
            const double measured = ProfileCurveMeasure(x, y, *r);
            EXPECT_NEAR(measured, expected, 2e-4 * std::max(c.a, c.b)) << phi;
            EXPECT_NEAR(ProfileCurveMeasure(x, -y, *r), -measured, 1e-12);
            // The radius function inverts the measure to the tables' resolution (quarter steps
            // of the half-angle tangent near the equator); Build pins the surface ends exactly.
            EXPECT_NEAR(ProfileRadiusElliptic(measured, *r), x, 3e-3 * std::max(c.a, c.b)) << phi;
        }
    }
}

TEST(RevTex, AnglePreservingMeasuresFollowDsOverRadius) {
    // A sphere's angle-preserving measure is atanh(sin latitude).
    const RecordPtr sphere = Record(ProfileKind::Elliptic, 1.0, 1.0, 1);
    for (double phi : {0.0, 0.3, 0.9, 1.4}) {
        EXPECT_NEAR(ProfileCurveMeasure(std::cos(phi), std::sin(phi), *sphere), std::atanh(std::sin(phi)),
                    1e-9);
    }
    EXPECT_EQ(ProfileCurveMeasure(0.0, 1.0, *sphere), 30.0);

    // Prolate and oblate spheroids against integration of ds / x.
    for (double b : {0.4, 2.5}) {
        const RecordPtr r = Record(ProfileKind::Elliptic, 1.0, b, 1);
        for (double phi : {0.2, 0.7, 1.2}) {
            const double expected = ArcLength(
                [&](double t) { return std::hypot(std::sin(t), b * std::cos(t)) / std::cos(t); }, 0,
                phi);
            EXPECT_NEAR(ProfileCurveMeasure(std::cos(phi), b * std::sin(phi), *r), expected, 1e-6)
                << b << " " << phi;
        }
    }
}

TEST(RevTex, ParabolicMeasuresAndRadius) {
    // y = p x^2 / 2 with p = 0.8.
    const double p = 0.8;
    const RecordPtr arc = Record(ProfileKind::Parabolic, p, 0, 0);
    const RecordPtr log = Record(ProfileKind::Parabolic, p, 0, 1);
    for (double x : {0.1, 0.9, 2.0, 5.0}) {
        SCOPED_TRACE(x);
        const double y = p * x * x / 2;
        const double expected = ArcLength([&](double t) { return std::sqrt(1 + p * p * t * t); }, 0, x);
        EXPECT_NEAR(ProfileCurveMeasureParabolic(x, y, *arc), expected, 1e-9 * (1 + expected));
        // The radius is an approximation good to about 1%; Build pins the surface ends exactly.
        EXPECT_NEAR(ProfileRadiusParabolic(expected, *arc), x, 1e-2 * x);
    }
    // m <= 1 only at the vertex: the logarithmic measure bottoms out at -30.
    EXPECT_EQ(ProfileCurveMeasureParabolic(0.0, 0.0, *log), -30.0);
    EXPECT_LT(ProfileCurveMeasureParabolic(0.5, 0.1, *log), ProfileCurveMeasureParabolic(1.5, 0.9, *log));
}

// A point of the hyperbola at parameter tau: kind 4 meets the axis, kind 3 has its waist there.
struct HyperbolaPoint {
    double x = 0;
    double y = 0;
};

HyperbolaPoint PointAt(ProfileKind kind, double a, double b, double tau) {
    if (kind == ProfileKind::Hyperbolic) return {a * std::sinh(tau), b * std::cosh(tau)};
    return {a * std::cosh(tau), b * std::sinh(tau)};
}

TEST(RevTex, HyperbolicNumericPathFollowsTheCurve) {
    // The direct evaluation is the reference for the tables: check it against Simpson's rule.
    for (ProfileKind kind : {ProfileKind::Hyperbolic, ProfileKind::HyperbolicPolar}) {
        SCOPED_TRACE(static_cast<int>(kind));
        const RecordPtr r = Record(kind, 1.5, 0.7, 0);
        const bool meetsAxis = kind == ProfileKind::Hyperbolic;
        for (double tau : {0.1, 0.8, 2.0}) {
            const HyperbolaPoint p = PointAt(kind, 1.5, 0.7, tau);
            const double arc = ProfileCurveMeasureHyperbolicNumeric(p.x, p.y, *r);
            const double expected = ArcLength(
                [&](double t) {
                    return meetsAxis ? std::hypot(1.5 * std::cosh(t), 0.7 * std::sinh(t))
                                     : std::hypot(1.5 * std::sinh(t), 0.7 * std::cosh(t));
                },
                0, tau);
            EXPECT_NEAR(arc, expected, 1e-8 * (1 + expected));
            EXPECT_NEAR(ProfileRadiusHyperbolicNumeric(arc, *r), p.x, 1e-6 * (1 + p.x));
        }
    }
}

struct HyperbolaCase {
    ProfileKind kind;
    double a, b;
};

// Sharp and flat vertices, narrow and wide waists, to the ratio limit of the tables.
constexpr HyperbolaCase HyperbolaCases[] = {
    {ProfileKind::Hyperbolic, 1.0, 1.0},         {ProfileKind::Hyperbolic, 1.5, 0.7},
    {ProfileKind::Hyperbolic, 0.02, 3.0},        {ProfileKind::Hyperbolic, 1e-3, 1e3},
    {ProfileKind::Hyperbolic, 50.0, 0.1},        {ProfileKind::HyperbolicPolar, 1.0, 1.0},
    {ProfileKind::HyperbolicPolar, 1.5, 0.7},    {ProfileKind::HyperbolicPolar, 2.0, 0.01},
    {ProfileKind::HyperbolicPolar, 1e3, 1e-3},   {ProfileKind::HyperbolicPolar, 0.3, 40.0},
};

TEST(RevTex, HyperbolicTablesMatchTheNumericPathOverTheRange) {
    for (const HyperbolaCase& c : HyperbolaCases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.kind) << " " << c.a << " " << c.b);
        RevTex* raw = Record(c.kind, c.a, c.b, 0).release();
        ASSERT_TRUE(RevTexBuildHyperbolicTables(raw));
        RecordPtr r(raw);
        const int pieces = r->tablePieceCount;
        EXPECT_LE(pieces, RevTexMaxPieces);
        EXPECT_EQ(r->size, static_cast<std::int32_t>(RevTexTableOffset) + 16 * pieces);
        EXPECT_EQ(RevTexFirstTable(*r).size() + RevTexSecondTable(*r).size(),
                  static_cast<std::size_t>(pieces));
        // From next to the vertex or waist to far beyond the tables' ends (sinh tau = 2^17).
        for (double tau = 1e-6; tau < 12.5; tau *= 1.07) {
            const HyperbolaPoint p = PointAt(c.kind, c.a, c.b, tau);
            const double arc = ProfileCurveMeasureHyperbolic(p.x, p.y, *r);
            const double reference = ProfileCurveMeasureHyperbolicNumeric(p.x, p.y, *r);
            ASSERT_NEAR(arc, reference, 3e-6 * reference) << tau;
            EXPECT_EQ(ProfileCurveMeasureHyperbolic(p.x, -p.y, *r), -arc);
            // The radius function inverts the measure, and agrees with bisection on the curve.
            ASSERT_NEAR(ProfileRadiusHyperbolic(arc, *r), p.x, 2e-6 * p.x) << tau;
            ASSERT_NEAR(ProfileRadiusHyperbolic(-arc, *r), p.x, 2e-6 * p.x) << tau;
            ASSERT_NEAR(ProfileRadiusHyperbolic(reference, *r),
                        ProfileRadiusHyperbolicNumeric(reference, *r), 2e-6 * p.x)
                << tau;
        }
        // The vertex or waist itself.
        const HyperbolaPoint apex = PointAt(c.kind, c.a, c.b, 0);
        EXPECT_EQ(ProfileCurveMeasureHyperbolic(apex.x, apex.y, *r), 0.0);
        EXPECT_NEAR(ProfileRadiusHyperbolic(0, *r), apex.x, 1e-12);
    }
}

TEST(RevTex, HyperbolicAnglePreservingMeasureIsTheIntegralOfDsOverRadius) {
    for (const HyperbolaCase& c : HyperbolaCases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.kind) << " " << c.a << " " << c.b);
        const RecordPtr r = Record(c.kind, c.a, c.b, 1);
        auto measureAt = [&](double tau) {
            const HyperbolaPoint p = PointAt(c.kind, c.a, c.b, tau);
            return ProfileCurveMeasureHyperbolic(p.x, p.y, *r);
        };
        auto speedOverRadius = [&](double tau) {
            const HyperbolaPoint p = PointAt(c.kind, c.a, c.b, tau);
            const double speed = c.kind == ProfileKind::Hyperbolic
                                     ? std::hypot(c.a * std::cosh(tau), c.b * std::sinh(tau))
                                     : std::hypot(c.a * std::sinh(tau), c.b * std::cosh(tau));
            return speed / p.x;
        };
        // Off the vertex, where ds / x is smooth enough for Simpson's rule.
        const double from = 0.05;
        for (double tau : {0.06, 0.4, 1.0, 2.5, 6.0}) {
            const double expected = ArcLength(speedOverRadius, from, tau);
            EXPECT_NEAR(measureAt(tau) - measureAt(from), expected, 1e-8 * (1 + expected)) << tau;
            const HyperbolaPoint p = PointAt(c.kind, c.a, c.b, tau);
            EXPECT_EQ(ProfileCurveMeasureHyperbolic(p.x, -p.y, *r), -measureAt(tau));
        }
        // Right at the vertex of the kind that meets the axis, ds / x tends to dtau / tau: the
        // measure follows ln tanh(tau / 2), as the direct evaluation takes it.
        if (c.kind == ProfileKind::Hyperbolic) {
            const double tiny = 1e-5 * std::min(1.0, c.a / c.b);
            EXPECT_NEAR(measureAt(tiny), std::log(std::tanh(tiny / 2)), 1e-6);
        }
    }
    // On the axis the measure bottoms out; at the waist it starts from 0.
    const RecordPtr vertex = Record(ProfileKind::Hyperbolic, 1.0, 2.0, 1);
    EXPECT_EQ(ProfileCurveMeasureHyperbolic(0.0, 2.0, *vertex), -30.0);
    EXPECT_EQ(ProfileCurveMeasureHyperbolic(1e-30, 2.0, *vertex), -30.0);
    const RecordPtr waist = Record(ProfileKind::HyperbolicPolar, 1.0, 2.0, 1);
    EXPECT_EQ(ProfileCurveMeasureHyperbolic(1.0, 0.0, *waist), 0.0);
}

TEST(RevTex, HyperbolicTablesRefuseUnusableAxesAndKeepTheRecordOnFailure) {
    const double bad[][2] = {{0.0, 1.0}, {1.0, -1.0}, {std::nan(""), 1.0}, {1.0, INFINITY},
                             {1e-7, 1.0}, {1.0, 2e6}};
    for (const auto& ab : bad) {
        SCOPED_TRACE(testing::Message() << ab[0] << " " << ab[1]);
        RevTex* r = Record(ProfileKind::HyperbolicPolar, ab[0], ab[1], 0).release();
        EXPECT_FALSE(RevTexBuildHyperbolicTables(r));
        EXPECT_EQ(r->size, RevTexPlainSize);
        EXPECT_TRUE(RevTexSecondTable(*r).empty());
        EXPECT_EQ(ProfileCurveMeasureHyperbolic(0.5, 0.5, *r), 0.0);
        EXPECT_EQ(ProfileRadiusHyperbolic(0.5, *r), 0.0);
        RevTexFree(r);
    }
    // A refused allocation throws and leaves the record as it was.
    RevTex* r = Record(ProfileKind::Hyperbolic, 1.0, 2.0, 0).release();
    const std::size_t before = PrivateHeapBlockCount();
    PrivateHeapRefuseNext(2);
    EXPECT_THROW(RevTexBuildHyperbolicTables(r), KVOutOfMemoryException);
    PrivateHeapRefuseNext(0);
    EXPECT_EQ(r->size, RevTexPlainSize);
    EXPECT_EQ(r->tablePieceCount, 0);
    EXPECT_EQ(PrivateHeapBlockCount(), before);
    RevTexFree(r);
}

TEST(RevTex, UnusableProfilesGiveNoTablesAndNoCrash) {
    const double bad[] = {0.0, -1.0, std::nan(""), INFINITY, 1e-300};
    for (double a : bad) {
        SCOPED_TRACE(a);
        RevTex* r = Record(ProfileKind::Elliptic, a, 1.0, 0).release();
        EXPECT_FALSE(RevTexBuildEllipticTables(r));
        EXPECT_TRUE(std::isfinite(ProfileCurveMeasure(0.5, 0.5, *r)));
        EXPECT_TRUE(std::isfinite(ProfileRadiusElliptic(0.5, *r)));
        r->profile.type = static_cast<std::int16_t>(ProfileKind::Hyperbolic);
        EXPECT_TRUE(std::isfinite(ProfileRadiusHyperbolic(0.5, *r)));
        r->profile.type = 9;
        EXPECT_EQ(ProfileRadiusAt(1.0, *r, 4.25), 4.25);
        RevTexFree(r);
    }
}

}  // namespace
