#include "gizmo/collision_pair.h"

#include "core/crt_random.h"
#include "core/rotation.h"
#include "gizmo/collision_test_support.h"
#include "support/quadric_parts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

namespace {

using collision_test::Box;
using collision_test::Cylinder;
using collision_test::InsidePart;
using collision_test::PartLayout;
using collision_test::Scene;
using collision_test::Sphere;
using quadric_parts::Uniform;

Vec3 RandomUnit() {
    for (;;) {
        const Vec3 v{Uniform(-1, 1), Uniform(-1, 1), Uniform(-1, 1)};
        const double l = Vec3Length(v);
        if (l > 0.1 && l <= 1.0) return Vec3Scale(v, 1.0 / l);
    }
}

// A point given in the part frame of a part placed at position, turned by rotation.
Vec3 ToLocal(const Vec3& world, const Vec3& position, const Vec3& rotation) {
    const double angle = Vec3Length(rotation);
    const Vec3 d = Vec3Sub(world, position);
    if (angle == 0.0) return d;
    const Matrix3 r = Matrix3FromAxisAngle(Vec3Scale(rotation, 1.0 / angle), angle);
    return Matrix3TransformVec3(Matrix3Transpose(r), d);
}

bool Collide(const Scene& scene, std::int32_t a, std::int32_t b) {
    return CollidePair(nullptr, scene.Part(a), scene.Part(b), false);
}

// Two smooth parts are their own bounding ellipsoids: spheres collide exactly when their
// centres are nearer than the sum of the radii, and spheres that just touch collide.
TEST(CollidePair, SpheresOverlapExactlyBelowTheSumOfRadii) {
    const double distances[] = {0.2, 1.2, 1.49, 1.4999999, 1.5, 1.5000001, 1.51, 2.0, 40.0};
    for (double d : distances) {
        SCOPED_TRACE(d);
        const PartLayout parts[] = {Sphere(1.0, Vec3{0, 0, 0}), Sphere(0.5, Vec3{d, 0, 0})};
        const Scene scene(parts);
        EXPECT_EQ(Collide(scene, 0, 1), d <= 1.5);
        EXPECT_EQ(Collide(scene, 1, 0), d <= 1.5);
    }
    CrtSrand(7);
    for (int i = 0; i < 200; ++i) {
        SCOPED_TRACE(i);
        const double r1 = Uniform(0.05, 3.0), r2 = Uniform(0.05, 3.0);
        const Vec3 at{Uniform(-50, 50), Uniform(-50, 50), Uniform(-50, 50)};
        const double factor = (i % 2 == 0) ? 1.0 - 1e-6 : 1.0 + 1e-6;
        const Vec3 other = Vec3Add(at, Vec3Scale(RandomUnit(), (r1 + r2) * factor));
        const PartLayout parts[] = {Sphere(r1, at), Sphere(r2, other)};
        const Scene scene(parts);
        EXPECT_EQ(Collide(scene, 0, 1), factor < 1.0);
    }
}

// The distance from a point in the part frame to a box of half sides h, and to an upright
// cylinder of radius r and half height h.
double BoxDistance(const Vec3& p, const Vec3& h) {
    const Vec3 d{std::max(std::abs(p.x) - h.x, 0.0), std::max(std::abs(p.y) - h.y, 0.0),
                 std::max(std::abs(p.z) - h.z, 0.0)};
    return Vec3Length(d);
}
double CylinderDistance(const Vec3& p, double r, double h) {
    return std::hypot(std::max(std::hypot(p.x, p.z) - r, 0.0), std::max(std::abs(p.y) - h, 0.0));
}

// A sphere meets a box or a cylinder exactly when its centre is nearer to the solid than its
// radius, whichever part comes first and wherever the sphere touches (face, edge, corner,
// rim, or inside).
TEST(CollidePair, SphereAgainstBoxAndCylinderAgreesWithTheDistance) {
    CrtSrand(11);
    const Vec3 sides{2.0, 1.0, 3.0};
    const double radius = 1.2, height = 2.5;
    int hits = 0;
    for (int i = 0; i < 400; ++i) {
        SCOPED_TRACE(i);
        const Vec3 rotation = Vec3Scale(RandomUnit(), Uniform(0, 3));
        const Vec3 position{Uniform(-5, 5), Uniform(-5, 5), Uniform(-5, 5)};
        const double r = Uniform(0.05, 1.0);
        const Vec3 centre = Vec3Add(position, Vec3Scale(RandomUnit(), Uniform(0, 3.5)));
        const Vec3 local = ToLocal(centre, position, rotation);
        const bool isBox = i % 2 == 0;
        const double distance = isBox ? BoxDistance(local, Vec3Scale(sides, 0.5))
                                      : CylinderDistance(local, radius, height / 2);
        if (std::abs(distance - r) < 1e-6) continue;
        const PartLayout parts[] = {isBox ? Box(sides, position, rotation)
                                        : Cylinder(radius, height, position, rotation),
                                  Sphere(r, centre)};
        const Scene scene(parts);
        const bool expected = distance < r;
        hits += expected ? 1 : 0;
        EXPECT_EQ(Collide(scene, 0, 1), expected) << "distance " << distance << " radius " << r;
        EXPECT_EQ(Collide(scene, 1, 0), expected) << "distance " << distance << " radius " << r;
    }
    EXPECT_GT(hits, 100);
    EXPECT_LT(hits, 300);
}

// A part grown or shrunk about its own centre by the factor.
PartLayout Resized(const PartLayout& layout, double factor) {
    PartLayout resized = layout;
    for (double& p : resized.params) p *= factor;
    return resized;
}

// Whether random points find the two parts sharing space: samples drawn from the box where
// the boxes about the two bounding spheres meet.
bool SampledOverlap(const Scene& scene) {
    const PartRenderRecord& a = scene.Part(0);
    const PartRenderRecord& b = scene.Part(1);
    const auto range = [&](double ca, double cb) {
        return std::array<double, 2>{std::max(ca - a.boundRadius, cb - b.boundRadius),
                                     std::min(ca + a.boundRadius, cb + b.boundRadius)};
    };
    const std::array<std::array<double, 2>, 3> box{range(a.boundCentre.x, b.boundCentre.x),
                                                   range(a.boundCentre.y, b.boundCentre.y),
                                                   range(a.boundCentre.z, b.boundCentre.z)};
    for (const auto& r : box) {
        if (!(r[0] < r[1])) return false;
    }
    for (int i = 0; i < 40000; ++i) {
        const Vec3 p{Uniform(box[0][0], box[0][1]), Uniform(box[1][0], box[1][1]),
                     Uniform(box[2][0], box[2][1])};
        if (InsidePart(a, p) && InsidePart(b, p)) return true;
    }
    return false;
}

// Random boxes and cylinders: when the parts shrunk by 3 % still share sampled points the
// pair collides; when the parts grown by 6 % share none it does not. Pairs between the two
// are the thin band where the sampling cannot decide.
TEST(CollidePair, BoxAndCylinderPairsAgreeWithSampling) {
    CrtSrand(23);
    int decided = 0, overlapping = 0;
    for (int i = 0; i < 120; ++i) {
        SCOPED_TRACE(i);
        const auto make = [&](int kind) {
            const Vec3 at{Uniform(-1.5, 1.5), Uniform(-1.5, 1.5), Uniform(-1.5, 1.5)};
            const Vec3 rotation = Vec3Scale(RandomUnit(), Uniform(0, 3));
            return kind == 0 ? Box(Vec3{Uniform(0.3, 2), Uniform(0.3, 2), Uniform(0.3, 2)}, at,
                                   rotation)
                             : Cylinder(Uniform(0.2, 1), Uniform(0.3, 2), at, rotation);
        };
        const PartLayout first = make(i % 2);
        const PartLayout second = make((i / 2) % 2);
        const PartLayout nominal[] = {first, second};
        const PartLayout shrunk[] = {Resized(first, 0.97), Resized(second, 0.97)};
        const PartLayout grown[] = {Resized(first, 1.06), Resized(second, 1.06)};
        const auto nominalScene = std::make_unique<Scene>(nominal);
        const bool collides = Collide(*nominalScene, 0, 1);
        EXPECT_EQ(Collide(*nominalScene, 1, 0), collides);
        const bool shrunkOverlap = SampledOverlap(*std::make_unique<Scene>(shrunk));
        const bool grownOverlap = SampledOverlap(*std::make_unique<Scene>(grown));
        if (shrunkOverlap) {
            ++decided;
            ++overlapping;
            EXPECT_TRUE(collides);
        } else if (!grownOverlap) {
            ++decided;
            EXPECT_FALSE(collides);
        }
    }
    EXPECT_GT(decided, 90);
    EXPECT_GT(overlapping, 20);
}

// With skipBounds only the cascade runs; a nested sphere is found by its centre alone,
// which gives no contact: the contact keeps the values it was set to first.
TEST(CollidePair, ACentreFoundInsideLeavesTheFirstContact) {
    const PartLayout parts[] = {Sphere(1.0, Vec3{5, 5, 5}), Sphere(0.25, Vec3{5.1, 5, 5})};
    const Scene scene(parts);
    Contact contact{Vec3{9, 9, 9}, Vec3{9, 9, 9}};
    EXPECT_TRUE(CollidePair(&contact, scene.Part(0), scene.Part(1), true));
    EXPECT_EQ(contact.point.x, 0.0);
    EXPECT_EQ(contact.point.y, 0.0);
    EXPECT_EQ(contact.point.z, 0.0);
    EXPECT_EQ(contact.normal.x, 0.0);
    EXPECT_EQ(contact.normal.y, 0.0);
    EXPECT_EQ(contact.normal.z, 1.0);
}

// A box corner dipping into another box gives that corner as the contact, with the normal of
// the face it went through, pointing out of the second part toward the first.
TEST(CollidePair, ACornerInsideGivesItsPointAndTheFaceNormal) {
    const double s = 1.0 / std::sqrt(3.0);
    // A unit cube stood on its corner just above the top face of a wide box.
    const Vec3 turn = Vec3Scale(Vec3UnitCross(Vec3{1, 1, 1}, Vec3{0, 1, 0}),
                                std::acos(s));
    const double lift = std::sqrt(3.0) / 2 - 0.05;
    const PartLayout parts[] = {Box(Vec3{1, 1, 1}, Vec3{0, 0.5 + lift, 0}, turn),
                              Box(Vec3{4, 1, 4}, Vec3{0, 0, 0})};
    const Scene scene(parts);
    Contact contact;
    ASSERT_TRUE(CollidePair(&contact, scene.Part(0), scene.Part(1), false));
    EXPECT_NEAR(contact.point.x, 0.0, 1e-9);
    EXPECT_NEAR(contact.point.y, 0.45, 1e-9);
    EXPECT_NEAR(contact.point.z, 0.0, 1e-9);
    Vec3 n = contact.normal;
    Vec3Normalize(n);
    EXPECT_NEAR(n.y, 1.0, 1e-9);

    // The same pair the other way round: the normal points out of the cube, downward there.
    ASSERT_TRUE(CollidePair(&contact, scene.Part(1), scene.Part(0), false));
    n = contact.normal;
    Vec3Normalize(n);
    EXPECT_LT(n.y, -0.5);
}

}  // namespace

namespace {

// Degenerate parts, described directly: every pair of them, in both orders and with and
// without the bounds, answers without a contact value that is not a number.
TEST(CollidePair, DegeneratePairsGiveNoNonNumberContact) {
    const double nan = std::nan("");
    const Matrix4W zero;
    Matrix4W nanForm;
    nanForm.m.fill(nan);
    const Matrix4W ball = quadric_parts::SphereForm(Vec3{}, 1.0);
    Matrix4W point = ball;  // a ball of radius 0
    point.m[0] = 0.0;
    Matrix4W cone;
    cone.m[5] = cone.m[15] = 1.0;
    cone.m[10] = -1.0;
    const Matrix4W up = quadric_parts::PlaneForm(Vec3{0, 1, 0}, 0.5);
    const Matrix4W alsoUp = quadric_parts::PlaneForm(Vec3{0, 2, 0}, 1.0);  // the same plane
    const Matrix4W side = quadric_parts::PlaneForm(Vec3{1, 0, 0}, 0.5);
    static const std::array<FeatureEdge, 3> edges{FeatureEdge{1, 0, FeatureCurve::TwoPlanes},
                                                  FeatureEdge{2, 0, FeatureCurve::PlaneCurved},
                                                  FeatureEdge{2, 1, FeatureCurve::TwoCurved}};
    static const std::array<Vec3, 2> corners{Vec3{0, 0.5, 0}, Vec3{nan, 0, 0}};

    struct Shape {
        const char* what;
        std::vector<Matrix4W> surfaces;
        std::uint32_t curved;
        bool withFeatures;
        Matrix4W bound;
    };
    const std::vector<Shape> shapes{
        {"zero forms", {zero, zero, zero}, 0b111, true, zero},
        {"not a number", {nanForm, nanForm, nanForm}, 0b111, true, nanForm},
        {"a point", {point}, 1, false, point},
        {"a ball", {ball}, 1, false, ball},
        {"coincident planes and a cone", {up, alsoUp, cone}, 0b100, true, ball},
        {"parallel planes and a ball", {up, side, ball}, 0b100, true, ball},
        {"a cone alone", {cone}, 1, false, cone},
    };
    const auto view = [&](const Shape& s, const Vec3& at) {
        CollisionShape v;
        v.surfaces = s.surfaces;
        v.curvedMask = s.curved;
        if (s.withFeatures) {
            v.edges = edges;
            v.corners = corners;
        }
        v.boundQuadric = s.bound;
        v.centre = at;
        v.radius = 1.0;
        v.level = 10;
        return v;
    };
    const auto finite = [](const Contact& c) {
        return std::isfinite(c.point.x) && std::isfinite(c.point.y) && std::isfinite(c.point.z) &&
               std::isfinite(c.normal.x) && std::isfinite(c.normal.y) &&
               std::isfinite(c.normal.z);
    };
    for (const Shape& a : shapes) {
        for (const Shape& b : shapes) {
            SCOPED_TRACE(std::string(a.what) + " / " + b.what);
            for (bool skipBounds : {false, true}) {
                Contact contact;
                CollidePair(&contact, view(a, Vec3{}), view(b, Vec3{0.1, 0.2, 0}), skipBounds);
                EXPECT_TRUE(finite(contact));
            }
        }
    }
}

}  // namespace

namespace {

// Every kind of edge the builders write (lines, plane sections either way round, curves of
// two curved surfaces in a plane, the rounded frustum's rim), against a ball anywhere about
// the part: the contact is always a number, a ball whose centre is inside the part always
// collides, and a ball beyond the part's bounding sphere never does.
TEST(CollidePair, BallsAboutEveryKindOfPartAnswerSoundly) {
    const std::vector<std::pair<ShapeType, std::vector<double>>> shapes{
        {ShapeType::Cylinder, {2, 0.8}},
        {ShapeType::Frustum, {2, 1, 0.4}},
        {ShapeType::Torus, {2.5, 0.8}},
        {ShapeType::SphereZone, {1.5, 1.5, 0.3}},
        {ShapeType::FlatSidedCylinder, {1.5, 1}},
        {ShapeType::RoundedCylinder, {2, 0.8}},
        {ShapeType::RoundedBox, {1.5, 2, 1}},
        {ShapeType::RoundedFrustum, {2, 1, 0.4}},
        {ShapeType::RoundedOctagon, {3, 1}},
        {ShapeType::Bowl, {1.5, 1.5, 0.8, 0.8, 0.4, 0.8}},
        {ShapeType::RevolvedPair, {0.8, 0.8, 1.2, -1.5, 0.7}},
        {ShapeType::CoredSolid, {0.8, 0.4, 0.8, 0.4, 0.8, 0.2, 0.7}},
        {ShapeType::HoledSolid, {2.5, 0.8, 0.2, 0.3, 0.4, 3}},
        {ShapeType::CornerRod,
         {0, 0, 0, 6, 0, 0, 1, 1, 0, 0, 1, 0.3, 0, 1, 0.2, 0.5, 1.5, 1, 0.3}},
    };
    CrtSrand(41);
    for (const auto& [type, params] : shapes) {
        SCOPED_TRACE(static_cast<int>(type));
        std::vector<PartLayout> parts{{type, params, {}, Vec3{0.3, -0.2, 0.5}}, Sphere(0.3, {})};
        const Scene alone(parts);
        ASSERT_TRUE(alone.built[0]);
        const PartRenderRecord& part = alone.Part(0);
        int inside = 0;
        for (int k = 0; k < 60; ++k) {
            SCOPED_TRACE(k);
            const Vec3 at = Vec3Add(part.boundCentre,
                                    Vec3Scale(RandomUnit(), Uniform(0, part.boundRadius + 0.6)));
            parts[1] = Sphere(0.3, at);
            const Scene scene(parts);
            Contact a, b;
            const bool ab = CollidePair(&a, scene.Part(0), scene.Part(1), false);
            const bool ba = CollidePair(&b, scene.Part(1), scene.Part(0), false);
            for (const Contact& c : {a, b}) {
                EXPECT_TRUE(std::isfinite(c.point.x) && std::isfinite(c.point.y) &&
                            std::isfinite(c.point.z) && std::isfinite(c.normal.x) &&
                            std::isfinite(c.normal.y) && std::isfinite(c.normal.z));
            }
            if (InsidePart(scene.Part(0), at)) {
                ++inside;
                EXPECT_TRUE(ab);
                EXPECT_TRUE(ba);
            }
            if (Vec3Length(Vec3Sub(at, part.boundCentre)) > part.boundRadius + 0.3 + 1e-9) {
                EXPECT_FALSE(ab);
                EXPECT_FALSE(ba);
            }
        }
        EXPECT_GT(inside, 0);
    }
}

}  // namespace
