#include "gizmo/collision_stages.h"

#include "gizmo/collision_maths_internal.h"
#include "gizmo/collision_test_support.h"
#include "support/quadric_parts.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using collision_test::Box;
using collision_test::PartLayout;
using collision_test::Scene;

// The top rim of a rounded frustum is the circle where its top plane meets its cone. A thin
// upright plate standing across the rim, with no corner inside the frustum, is entered by
// that circle: the contact lies on the circle inside the plate. With the rim's piece marked
// skipped, no other edge reaches the plate.
TEST(EdgeInPart, TheRimOfAConeIsACircle) {
    const PartLayout parts[] = {{ShapeType::RoundedFrustum, {2.0, 1.0, 0.6}, {}, {}},
                              Box(Vec3{0.02, 0.3, 2.0}, Vec3{0.6, 1.0, 0.0})};
    Scene scene(parts);
    const CollisionShape frustum = CollisionShapeOf(scene.Part(0));
    const CollisionShape plate = CollisionShapeOf(scene.Part(1));
    ASSERT_EQ(frustum.edges[0].curve, FeatureCurve::FrustumTopRim);
    EXPECT_FALSE(VertexInPart(plate, frustum, nullptr));

    Contact contact;
    ASSERT_TRUE(EdgeInPart(frustum, plate, &contact));
    const Vec3& p = contact.point;
    EXPECT_NEAR(p.y, 1.0, 1e-9);
    EXPECT_NEAR(std::hypot(p.x, p.z), 0.6, 1e-9);
    EXPECT_NEAR(p.x, 0.6, 0.01 + 1e-9);
    // The normal leaves the plate through one of its broad faces.
    Vec3 n = contact.normal;
    ASSERT_GT(Vec3Normalize(n), 0.0);
    EXPECT_NEAR(std::abs(n.x), 1.0, 1e-6);

    FeatureTableEdges(*scene.Part(0).features)[0].reserved = 1;
    EXPECT_FALSE(EdgeInPart(CollisionShapeOf(scene.Part(0)), plate, nullptr));
}

// A plane that cuts a sphere gives the section circle's extreme point as candidate and its
// centre with the plane's unit normal as contact; a plane that misses or only touches gives
// none.
TEST(PlaneSectionContact, OnlyARealEllipseGivesACandidate) {
    const Matrix4W ball = quadric_parts::SphereForm(Vec3{}, 1.0);
    const Vec3 up{0, 2, 0};  // 2 y - 2 h <= 0: the plane y = h
    EXPECT_FALSE(PlaneSectionContact(-4.0, up, ball).has_value());
    EXPECT_FALSE(PlaneSectionContact(-2.0, up, ball).has_value());
    const std::optional<PlaneSection> section = PlaneSectionContact(-1.0, up, ball);
    ASSERT_TRUE(section.has_value());
    EXPECT_NEAR(section->candidate.y, 0.5, 1e-12);
    EXPECT_NEAR(collision_maths::Value(ball, section->candidate), 0.0, 1e-12);
    EXPECT_NEAR(section->contact.point.x, 0.0, 1e-12);
    EXPECT_NEAR(section->contact.point.y, 0.5, 1e-12);
    EXPECT_NEAR(section->contact.point.z, 0.0, 1e-12);
    EXPECT_NEAR(section->contact.normal.y, 1.0, 1e-12);
}

}  // namespace

namespace {

// A corner lying exactly on a surface of the other part is not inside it, while the same
// point counts as inside for the point test; a part without edges shows corners its bounding
// quadric, and the contact's normal is the nearest surface's half-gradient.
TEST(VertexInPart, ACornerOnASurfaceIsOutsideButThePointIsIn) {
    const std::array<Matrix4W, 2> slab{quadric_parts::PlaneForm(Vec3{0, 1, 0}, 1.0),
                                       quadric_parts::PlaneForm(Vec3{0, -1, 0}, 1.0)};
    const std::array<FeatureEdge, 1> edge{FeatureEdge{1, 0, FeatureCurve::TwoPlanes}};
    CollisionShape into;
    into.surfaces = slab;
    into.edges = edge;
    into.boundQuadric = quadric_parts::SphereForm(Vec3{}, 10.0);

    const std::array<Vec3, 2> onFace{Vec3{0, 1, 0}, Vec3{5, -1, 0}};
    CollisionShape from;
    from.corners = onFace;
    EXPECT_FALSE(VertexInPart(from, into, nullptr));
    EXPECT_TRUE(PointInPart(onFace[0], into));

    const std::array<Vec3, 2> oneIn{Vec3{0, 3, 0}, Vec3{2, 0.75, 0}};
    from.corners = oneIn;
    Contact contact;
    ASSERT_TRUE(VertexInPart(from, into, &contact));
    EXPECT_EQ(contact.point.y, 0.75);
    EXPECT_EQ(contact.normal.y, 0.5);  // y <= 1 is -1 + y: half-gradient (0, 1/2, 0)

    // Without edges only the bounding quadric counts: far inside the slab, outside the ball.
    into.edges = {};
    const std::array<Vec3, 1> far{Vec3{20, 0, 0}};
    from.corners = far;
    EXPECT_FALSE(VertexInPart(from, into, nullptr));
}

}  // namespace
