#include "geometry/rod_builders.h"

#include "shape_build_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace shape_build_test;

constexpr double Pi = std::numbers::pi;

std::vector<double> RodParams(const Vec3& a, const Vec3& b, const Vec3& c, double ra, double rb) {
    return {a.x, a.y, a.z, b.x, b.y, b.z, c.x, c.y, c.z, ra, rb};
}

// The circle through A and B leaving A along C, computed on its own: its centre lies across C
// from A towards B at the radius |AB|^2 / (2 AB.m).
struct Arc {
    Vec3 centre;
    Vec3 tangent;  // unit C
    Vec3 inward;   // unit, from A towards the centre
    double radius = 0;
    double sweep = 0;

    Vec3 At(double fraction) const {
        const double phi = fraction * sweep;
        return Vec3Add(centre, Vec3Add(Vec3Scale(inward, -radius * std::cos(phi)),
                                       Vec3Scale(tangent, radius * std::sin(phi))));
    }
};

Arc ArcOf(const Vec3& a, const Vec3& b, const Vec3& c) {
    Arc arc;
    arc.tangent = Vec3Scale(c, 1 / Vec3Length(c));
    const Vec3 ab = Vec3Sub(b, a);
    arc.inward = Vec3Sub(ab, Vec3Scale(arc.tangent, Vec3Dot(ab, arc.tangent)));
    arc.inward = Vec3Scale(arc.inward, 1 / Vec3Length(arc.inward));
    arc.radius = Vec3Dot(ab, ab) / (2 * Vec3Dot(ab, arc.inward));
    arc.centre = Vec3Add(a, Vec3Scale(arc.inward, arc.radius));
    const Vec3 cb = Vec3Sub(b, arc.centre);
    arc.sweep = std::atan2(Vec3Dot(cb, arc.tangent), -Vec3Dot(cb, arc.inward));
    if (arc.sweep < 0) arc.sweep += 2 * Pi;
    return arc;
}

struct RodCase {
    std::string name;
    ShapeType type;
    Vec3 a, b, c;
    double ra, rb;
};

std::vector<RodCase> RodCases() {
    return {
        {"half circle", ShapeType::Rod, {0, 0, 0}, {4, 0, 0}, {0, 1, 0}, 0.3, 0.3},
        {"tapered slant arc", ShapeType::Rod, {1, 2, 3}, {4, -1, 2}, {1, 0, 0}, 0.2, 0.4},
        {"nearly a half circle", ShapeType::Rod, {0, 0, 0}, {4, 0, 0}, {0.05, 1, 0}, 0.3, 0.4},
        {"gentle bend", ShapeType::Rod, {-1, 0, 2}, {3, 1, -1}, {2, 0.2, -1}, 0.3, 0.25},
        {"cut gentle bend", ShapeType::CutRod, {-1, 0, 2}, {3, 1, -1}, {2, 0.2, -1}, 0.3, 0.25},
        {"cut tapered arc", ShapeType::CutRod, {1, 2, 3}, {4, -1, 2}, {1, 0, 0}, 0.2, 0.4},
    };
}

std::vector<double> CaseParams(const RodCase& c) {
    std::vector<double> params = RodParams(c.a, c.b, c.c, c.ra, c.rb);
    if (c.type == ShapeType::CutRod) params.insert(params.end(), {0.3, 0.1, 0.3, 0.1});
    return params;
}

// Points near the arc's centreline lie inside every surface; the end planes pass through A
// and B; every interior sample lies inside the bound.
TEST(RodBuilders, CentrelineIsInsideAndEndsPassThroughTheEndPoints) {
    for (const RodCase& c : RodCases()) {
        SCOPED_TRACE(c.name);
        OnePart rod;
        ASSERT_EQ(rod.Build(Working(c.type, CaseParams(c), {5, 5, 5}, {1, 0, 0})), 0);
        const PartRenderRecord& part = rod.Part();
        const Arc arc = ArcOf(c.a, c.b, c.c);
        for (int i = 1; i < 50; ++i) {
            const Vec3 point = arc.At(i / 50.0);
            EXPECT_TRUE(InsideSurfaces(part, point)) << i;
            EXPECT_LE(FormAt(part.boundQuadric, point), 0.0) << i;
        }
        EXPECT_NEAR(FormAt(part.Surfaces()[2], c.a), 0.0, 1e-9);
        EXPECT_NEAR(FormAt(part.Surfaces()[3], c.b), 0.0, 1e-9);
        // Just past either end is outside.
        EXPECT_FALSE(InsideSurfaces(part, Vec3Sub(c.a, Vec3Scale(arc.tangent, 0.01))));

        std::mt19937_64 random(1011);
        const Vec3 middle = Vec3Scale(Vec3Add(c.a, c.b), 0.5);
        const double reach = Vec3Length(Vec3Sub(c.b, c.a)) + 0.5;
        int inside = 0;
        for (int i = 0; i < SampleCount; ++i) {
            const Vec3 point = Vec3Add(middle, SampleInBox(random, {reach, reach, reach}));
            if (!InsideSurfaces(part, point)) continue;
            ++inside;
            ASSERT_LE(FormAt(part.boundQuadric, point), 1e-9);
        }
        EXPECT_GT(inside, 0);
    }
}

// A straight rod of radius r and length L has the bound x^2 + (4 r^2 / L^2) y^2 + z^2 <= 2 r^2
// about its middle, whatever direction it runs in.
TEST(RodBuilders, StraightRodBoundIsTheEllipsoidThroughItsEndRims) {
    const double r = 0.5;
    OnePart rod;
    ASSERT_EQ(rod.Build(Working(ShapeType::Rod, RodParams({0, -2, 1}, {0, 2, 1}, {0, 3, 0}, r, r))),
              0);
    const Matrix4W& bound = rod.Part().boundQuadric;
    const auto expected = [r](const Vec3& p) {
        const Vec3 q{p.x, p.y, p.z - 1};
        return q.x * q.x + 4 * r * r / 16 * q.y * q.y + q.z * q.z - 2 * r * r;
    };
    for (const Vec3& p : {Vec3{0.5, 2, 1}, Vec3{0, 0, 1 + r * std::sqrt(2.0)}, Vec3{0.3, -1, 0.2},
                          Vec3{0, 0, 1}}) {
        EXPECT_NEAR(FormAt(bound, p), expected(p), 1e-12);
    }
    EXPECT_EQ(rod.Part().proxyKind, ProxyKind::Arc);
    EXPECT_DOUBLE_EQ(ReadProxy(rod.Part().proxy).radius, r);
}

TEST(RodBuilders, ProxyRadiusShrinksWithTheTaper) {
    OnePart rod;
    ASSERT_EQ(rod.Build(Working(ShapeType::Rod, RodParams({0, 0, 0}, {4, 0, 0}, {0, 1, 0}, 0.1, 1))),
              0);
    EXPECT_EQ(ReadProxy(rod.Part().proxy).radius, 0.0);
    const ProxyParts proxy = ReadProxy(rod.Part().proxy);
    EXPECT_EQ(proxy.b.x, 4.0);
    EXPECT_EQ(proxy.c.y, 1.0);
    EXPECT_EQ(rod.Part().worldFromLocal.m[4], 0.0);
}

}  // namespace
