#include "gizmo/collision_conics.h"

#include "gizmo/collision_maths_internal.h"
#include "support/quadric_parts.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

using collision_maths::SpacePoint;
using collision_maths::Value;
using quadric_parts::SphereForm;

// The unit circle -w^2 + x^2 + y^2 as the canonical conic, its reference point and sigma.
const Matrix3 UnitCircle{{-1, 0, 0, 0, 1, 0, 0, 0, 1}};
const Vec3 Reference{1, 1, 0};

// The circle of radius r about (cx, cy) in (w, x, y): x^2 + y^2 - 2 cx x w - 2 cy y w +
// (cx^2 + cy^2 - r^2) w^2.
Matrix3 Circle(double cx, double cy, double r) {
    return Matrix3{{cx * cx + cy * cy - r * r, -cx, -cy, -cx, 1, 0, -cy, 0, 1}};
}
Matrix3 Ellipse(double a, double b) { return Matrix3{{-1, 0, 0, 0, a, 0, 0, 0, b}}; }

// The arcs of the unit circle inside each clipping conic, with the interval ends as exact
// values: the circle of radius 1 about (1, 0) keeps the arc from 30 to 150 degrees.
TEST(CurvedEdgeIntervals, KeepsTheArcsInsideTheClippingConic) {
    const double inf = ConicParameterBound;
    const double r5 = std::sqrt(5.0);
    struct Case {
        const char* what;
        Matrix3 clip;
        std::vector<double> ends;
        std::uint8_t noCrossing;
    };
    const Case cases[] = {
        {"circle r 1 about (1, 0)", Circle(1, 0, 1),
         {std::tan(std::numbers::pi / 12), std::tan(5 * std::numbers::pi / 12)}, 0},
        {"circle r 2 about the origin", Circle(0, 0, 2), {-inf, inf}, 1},
        {"circle r 0.5 about the origin", Circle(0, 0, 0.5), {}, 1},
        {"circle r 0.5 about (0, 1)", Circle(0, 1, 0.5),
         {-inf, -std::sqrt(15.0), std::sqrt(15.0), inf}, 0},
        {"ellipse 0.25 x^2 + 4 y^2 = 1", Ellipse(0.25, 4),
         {-(1 + r5) / 2, -(r5 - 1) / 2, (r5 - 1) / 2, (1 + r5) / 2}, 0},
        {"ellipse 4 x^2 + 0.25 y^2 = 1", Ellipse(4, 0.25),
         {-inf, -(2 + r5), -(r5 - 2), r5 - 2, 2 + r5, inf}, 0},
        {"a multiple of the circle itself", Matrix3Scale(2.0, UnitCircle), {-inf, inf}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        IntervalList list = IntervalListWhole(inf);
        std::uint8_t noCrossing = 7;
        const std::int32_t count = CurvedEdgeIntervals(UnitCircle, c.clip, list, Reference,
                                                       &noCrossing, MaxAbsSymmetric3(c.clip, 1), 1);
        ASSERT_EQ(count, static_cast<std::int32_t>(c.ends.size() / 2));
        EXPECT_EQ(noCrossing, c.noCrossing);
        for (std::size_t i = 0; i < c.ends.size(); ++i) {
            EXPECT_NEAR(list.ends[i], c.ends[i], 1e-12 * std::max(1.0, std::abs(c.ends[i])));
        }
    }
}

// Roots are compared as products, so a root at infinity (denominator 0) clips nothing on its
// side; a split that finds no room leaves the list as it was.
TEST(ClipIntervalList, KeepsOrRemovesBetweenTheRoots) {
    IntervalList list = IntervalListWhole(LineParameterBound);
    EXPECT_EQ(ClipIntervalList(list, -1, 0, 3, 2), 1);  // keep (-inf, 1.5]
    EXPECT_EQ(list.ends[0], -LineParameterBound);
    EXPECT_EQ(list.ends[1], 1.5);
    EXPECT_EQ(ClipIntervalList(list, 1, 1, -1, 1), 2);  // remove (-1, 1)
    EXPECT_EQ(list.ends[1], -1.0);
    EXPECT_EQ(list.ends[2], 1.0);
    EXPECT_EQ(ClipIntervalList(list, 5, 1, 4, 1), 2);  // remove (4, 5): nothing there
    EXPECT_EQ(ClipIntervalList(list, 2, 1, 3, 1), 0);  // keep [2, 3]: nothing there

    IntervalList full;
    for (std::int32_t i = 0; i < IntervalRoom; ++i) {
        full.ends[static_cast<std::size_t>(2 * i)] = 2 * i;
        full.ends[static_cast<std::size_t>(2 * i + 1)] = 2 * i + 1;
    }
    full.count = IntervalRoom;
    EXPECT_EQ(ClipIntervalList(full, 0.6, 1, 0.4, 1), -1);
    EXPECT_EQ(full.count, IntervalRoom);
    EXPECT_EQ(full.ends[1], 1.0);
}

// The point of space of a homogeneous candidate.
Vec3 PointOf(const Vec4& v) {
    Vec3 p;
    EXPECT_TRUE(SpacePoint(v, p));
    return p;
}

// Two crossing spheres: the candidate lies on both spheres and on their circle, which lies in
// the plane x = (d^2 + r1^2 - r2^2) / 2d with radius sqrt(r1^2 - x^2).
TEST(CurvedPairContact, CrossingSpheresGiveAPointOfTheirCircle) {
    struct Case {
        double r1, r2, d;
        Vec3 axis;
    };
    const Case cases[] = {{1.0, 0.8, 1.2, {1, 0, 0}},
                          {1.0, 1.0, 1.0, {0, 1, 0}},
                          {0.5, 0.5, 0.2, {0.6, 0.8, 0}},
                          {2.0, 0.5, 1.9, {0.6, 0, 0.8}},
                          {1.0, 0.3, 0.9, {0, 0.8, -0.6}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.r2);
        const Matrix4W s1 = SphereForm(Vec3{}, c.r1);
        const Matrix4W s2 = SphereForm(Vec3Scale(c.axis, c.d), c.r2);
        std::array<Vec4, 2> points{};
        std::array<Contact, 2> contacts{};
        const std::int32_t count = CurvedPairContact(s1, s2, points, contacts, 1.0);
        ASSERT_GE(count, 1);
        const double along = (c.d * c.d + c.r1 * c.r1 - c.r2 * c.r2) / (2 * c.d);
        for (std::int32_t k = 0; k < count; ++k) {
            const Vec3 p = PointOf(points[static_cast<std::size_t>(k)]);
            EXPECT_NEAR(Value(s1, p), 0.0, 1e-6);
            EXPECT_NEAR(Value(s2, p), 0.0, 1e-6);
            EXPECT_NEAR(Vec3Dot(p, c.axis), along, 1e-6);
        }
    }
}

// Spheres apart or nested give no candidate; touching spheres give candidates only at the
// point where they touch (their common plane's line pair meets the conic there, to the
// precision of the pencil's double root).
TEST(CurvedPairContact, SpheresThatDoNotCrossGiveNoneAndTouchingOnesTheTouchingPoint) {
    std::array<Vec4, 2> points{};
    EXPECT_EQ(CurvedPairContact(SphereForm(Vec3{}, 1), SphereForm(Vec3{3, 0, 0}, 1), points, {}, 1),
              0);
    EXPECT_EQ(CurvedPairContact(SphereForm(Vec3{}, 1), SphereForm(Vec3{0.1, 0, 0}, 0.5), points, {},
                                1),
              0);
    const std::int32_t touching =
        CurvedPairContact(SphereForm(Vec3{}, 1), SphereForm(Vec3{0, 1.5, 0}, 0.5), points, {}, 1);
    ASSERT_GE(touching, 1);
    for (std::int32_t k = 0; k < touching; ++k) {
        const Vec3 p = PointOf(points[static_cast<std::size_t>(k)]);
        EXPECT_NEAR(p.x, 0.0, 1e-6);
        EXPECT_NEAR(p.y, 1.0, 1e-6);
        EXPECT_NEAR(p.z, 0.0, 1e-6);
    }
}

// Cylinders of radii 1 (about y) and 0.5 (about x) crossed at right angles meet in two loops,
// on either side of the thin one's way through the thick one: one candidate on each.
TEST(CurvedPairContact, CrossedCylindersGiveOneCandidatePerLoop) {
    Matrix4W thick;
    thick.m[0] = -1;
    thick.m[5] = thick.m[15] = 1;
    Matrix4W thin;
    thin.m[0] = -0.25;
    thin.m[10] = thin.m[15] = 1;
    std::array<Vec4, 2> points{};
    ASSERT_EQ(CurvedPairContact(thick, thin, points, {}, 1.0), 2);
    const Vec3 p0 = PointOf(points[0]);
    const Vec3 p1 = PointOf(points[1]);
    for (const Vec3& p : {p0, p1}) {
        EXPECT_NEAR(Value(thick, p), 0.0, 1e-9);
        EXPECT_NEAR(Value(thin, p), 0.0, 1e-9);
    }
    EXPECT_LT(p0.x * p1.x, 0.0);
}

}  // namespace
