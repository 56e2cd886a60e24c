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

TEST(RevTex, HyperbolicMeasuresInvertToTheRadius) {
    for (ProfileKind kind : {ProfileKind::Hyperbolic, ProfileKind::HyperbolicPolar}) {
        SCOPED_TRACE(static_cast<int>(kind));
        const RecordPtr r = Record(kind, 1.5, 0.7, 0);
        const bool meetsAxis = kind == ProfileKind::Hyperbolic;
        for (double tau : {0.1, 0.8, 2.0}) {
            const double x = meetsAxis ? 1.5 * std::sinh(tau) : 1.5 * std::cosh(tau);
            const double y = meetsAxis ? 0.7 * std::cosh(tau) : 0.7 * std::sinh(tau);
            const double arc = ProfileCurveMeasureHyperbolic(x, y, *r);
            const double expected = ArcLength(
                [&](double t) {
                    return meetsAxis ? std::hypot(1.5 * std::cosh(t), 0.7 * std::sinh(t))
                                     : std::hypot(1.5 * std::sinh(t), 0.7 * std::cosh(t));
                },
                0, tau);
            EXPECT_NEAR(arc, expected, 1e-8 * (1 + expected));
            EXPECT_NEAR(ProfileRadiusHyperbolic(arc, *r), x, 1e-6 * (1 + x));
        }
    }
    const RecordPtr log = Record(ProfileKind::Hyperbolic, 1.0, 1.0, 1);
    EXPECT_EQ(ProfileCurveMeasureHyperbolic(0.0, 1.0, *log), -30.0);
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
