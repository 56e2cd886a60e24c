#include "gizmo/projected_bounds.h"

#include "core/matrix3.h"
#include "core/matrix4.h"
#include "core/rotation.h"
#include "core/vec3.h"
#include "geometry/part_render_record.h"
#include "geometry/part_shape_build.h"
#include "geometry/scene_geometry.h"
#include "geometry/shape_surface_count.h"
#include "geometry/working_part_record.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr double Tolerance = 1e-12;

// A scene of builder-made parts.
struct Scene {
    SceneGeometry geometry;

    std::int32_t Add(ShapeType type, const std::vector<double>& params, const Vec3& position) {
        const std::array<std::int32_t, 1> room{PartSurfaceLimit};
        geometry.AddParts(room, true);
        const std::int32_t index = geometry.PartCount() - 1;
        WorkingPartRecord w;
        w.shapeType = type;
        w.paramCount = static_cast<std::int32_t>(params.size());
        for (std::size_t i = 0; i < params.size(); ++i) w.params[i] = params[i];
        w.position = position;
        EXPECT_EQ(BuildPartShape(geometry, nullptr, index, false, true, false, &w), 0);
        return index;
    }

    // Hidden, and marked as the second pose of a flipper.
    void MarkSecondState(std::int32_t index) {
        geometry.Part(index)->visible = 0;
        geometry.Part(index)->options[1] = 1;
    }
};

// Camera coordinates into scene coordinates: the camera's axes are the columns of axes, its
// eye at eye.
Matrix4W Camera(const Matrix3& axes, const Vec3& eye) {
    Matrix4W k = EmbedMatrix3(axes, 0);
    k.m[4] = eye.x;
    k.m[8] = eye.y;
    k.m[12] = eye.z;
    return k;
}

Matrix4W StraightCamera() { return Camera(Matrix3SetDiagonal(1.0), Vec3{}); }

constexpr SceneBounds Empty{2e100, 2e100, -2e100, -2e100};
constexpr SceneBounds Open{-1e100, -1e100, 1e100, 1e100};

void ExpectBounds(const SceneBounds& actual, const SceneBounds& expected) {
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(actual[i], expected[i], Tolerance * (1.0 + std::fabs(expected[i])));
    }
}

// A sphere of radius r at distance D on the view axis is seen under the half-angle asin(r / D),
// whose tangent r / sqrt(D^2 - r^2) is the half-width on the image plane z = 1. The same holds
// for a camera that is moved and turned, with the sphere on its own view axis.
TEST(ProjectSceneBounds, SphereOnTheViewAxisIsSymmetric) {
    const Matrix3 turned = Matrix3FromAxisAngle(Vec3{0.48, 0.6, 0.64}, 0.9);
    const Vec3 eye{3.0, -2.0, 7.5};
    const struct Case {
        double radius;
        double distance;
        bool moved;
    } cases[] = {{1.0, 10.0, false},
                 {2.0, 3.0, false},
                 {0.25, 40.0, false},
                 {1.0, 10.0, true},
                 {3.0, 3.5, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "r " << c.radius << " D " << c.distance << " moved " << c.moved);
        Scene scene;
        const Matrix4W camera = c.moved ? Camera(turned, eye) : StraightCamera();
        const Vec3 axis = c.moved ? Matrix3TransformVec3(turned, Vec3{0, 0, 1}) : Vec3{0, 0, 1};
        const Vec3 origin = c.moved ? eye : Vec3{};
        scene.Add(ShapeType::Sphere, {c.radius}, Vec3Add(origin, Vec3Scale(axis, c.distance)));
        SceneBounds bounds{};
        ASSERT_TRUE(ProjectSceneBounds(scene.geometry, camera, bounds, nullptr));
        const double half = c.radius / std::sqrt(c.distance * c.distance - c.radius * c.radius);
        ExpectBounds(bounds, {-half, -half, half, half});
    }
}

// Off the axis by x0: across, the outline spans tan(theta -+ alpha), theta the centre's angle
// and alpha = asin(r / |c|); up and down the tangent planes y = k z give
// k = +-r / sqrt(D^2 - r^2) whatever x0 is. Two spheres give the union of their rectangles.
TEST(ProjectSceneBounds, SpheresOffTheAxisGiveTheUnionOfTheirTangents) {
    const double r = 1.0;
    const double d = 8.0;
    const double x0 = 3.0;
    const double theta = std::atan2(x0, d);
    const double alpha = std::asin(r / std::hypot(x0, d));
    const double up = r / std::sqrt(d * d - r * r);

    Scene scene;
    scene.Add(ShapeType::Sphere, {r}, Vec3{x0, 0, d});
    SceneBounds bounds{};
    ASSERT_TRUE(ProjectSceneBounds(scene.geometry, StraightCamera(), bounds, nullptr));
    ExpectBounds(bounds, {std::tan(theta - alpha), -up, std::tan(theta + alpha), up});

    // A second, smaller sphere low and to the left widens the rectangle there only.
    const double r2 = 0.5;
    const double d2 = 5.0;
    scene.Add(ShapeType::Sphere, {r2}, Vec3{0, -2.0, d2});
    ASSERT_TRUE(ProjectSceneBounds(scene.geometry, StraightCamera(), bounds, nullptr));
    const double across2 = r2 / std::sqrt(d2 * d2 - r2 * r2);
    const double thetaY = std::atan2(-2.0, d2);
    const double alphaY = std::asin(r2 / std::hypot(2.0, d2));
    ExpectBounds(bounds, {-across2, std::tan(thetaY - alphaY), std::tan(theta + alpha), up});
}

// Which parts count and where the eye may stand.
TEST(ProjectSceneBounds, EyeInsideAndPartsThatCount) {
    enum class Setup {
        Nothing,
        Drawn,
        Hidden,
        SecondState,
        BehindEye,
        EyeInDrawn,
        EyeInSecond,
        NoSurfaces
    };
    const struct Case {
        Setup setup;
        bool result;
        bool open;   // the open rectangle
        bool empty;  // the empty rectangle
    } cases[] = {
        {Setup::Nothing, true, false, true},     {Setup::Drawn, true, false, false},
        {Setup::Hidden, true, false, true},      {Setup::SecondState, true, false, false},
        {Setup::BehindEye, true, false, true},   {Setup::EyeInDrawn, false, true, false},
        {Setup::EyeInSecond, true, true, false}, {Setup::NoSurfaces, false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.setup));
        Scene scene;
        switch (c.setup) {
            case Setup::Nothing:
                break;
            case Setup::Drawn:
                scene.Add(ShapeType::Box, {1, 1, 1}, Vec3{0, 0, 5});
                break;
            case Setup::Hidden:
                scene.geometry.Part(scene.Add(ShapeType::Box, {1, 1, 1}, Vec3{0, 0, 5}))->visible =
                    0;
                break;
            case Setup::SecondState:
                scene.MarkSecondState(scene.Add(ShapeType::Box, {1, 1, 1}, Vec3{0, 0, 5}));
                break;
            case Setup::BehindEye:
                scene.Add(ShapeType::Sphere, {1}, Vec3{0, 0, -5});
                break;
            case Setup::EyeInDrawn:
                scene.Add(ShapeType::Sphere, {1}, Vec3{0, 0, 30});
                scene.Add(ShapeType::Box, {2, 2, 2}, Vec3{0.5, 0, 0});
                break;
            case Setup::EyeInSecond:
                scene.MarkSecondState(scene.Add(ShapeType::Box, {2, 2, 2}, Vec3{0, 0.5, 0}));
                scene.Add(ShapeType::Sphere, {1}, Vec3{0, 0, 30});
                break;
            case Setup::NoSurfaces: {
                const std::array<std::int32_t, 1> room{1};
                scene.geometry.AddParts(room, true);  // never built: no surface in use
                break;
            }
        }
        SceneBounds bounds{};
        EXPECT_EQ(ProjectSceneBounds(scene.geometry, StraightCamera(), bounds, nullptr), c.result);
        if (c.open) {
            EXPECT_EQ(bounds, Open);
        } else if (c.empty) {
            EXPECT_EQ(bounds, Empty);
        } else {
            for (double v : bounds) EXPECT_LT(std::fabs(v), 1.0);
            EXPECT_LT(bounds[0], bounds[2]);
            EXPECT_LT(bounds[1], bounds[3]);
        }
    }
}

// The fog's extra surfaces count when given and switched on, each by its own switch.
TEST(ProjectSceneBounds, ExtraSurfacesCountWhenEnabled) {
    Scene scene;
    scene.Add(ShapeType::Sphere, {1}, Vec3{0, 0, 10});
    SceneExtraSurfaces extra;
    // (x - 4)^2 + y^2 + (z - 10)^2 <= 1: a ball to the right.
    extra.forms[1].m = {115, -4, 0, -10, -4, 1, 0, 0, 0, 0, 1, 0, -10, 0, 0, 1};
    const double half = 1.0 / std::sqrt(99.0);
    const double theta = std::atan2(4.0, 10.0);
    const double alpha = std::asin(1.0 / std::hypot(4.0, 10.0));

    SceneBounds bounds{};
    ASSERT_TRUE(ProjectSceneBounds(scene.geometry, StraightCamera(), bounds, &extra));
    ExpectBounds(bounds, {-half, -half, half, half});
    extra.enabled[1] = 1;
    ASSERT_TRUE(ProjectSceneBounds(scene.geometry, StraightCamera(), bounds, &extra));
    EXPECT_NEAR(bounds[2], std::tan(theta + alpha), Tolerance);
    EXPECT_NEAR(bounds[0], -half, Tolerance);
}

// The circle x^2 + y^2 = 1 on the image plane bounds each axis at -1 and 1; a conic whose
// tangent quadratic has a zero discriminant, or whose points of contact lie behind the eye,
// leaves the axis open.
TEST(ConicExtent, TangentsInFrontBoundTheAxis) {
    // A = B = 1, F = -1; the homogeneous row (0, 0, -1) puts the quadric ahead of the eye.
    ConicRange r = ConicExtent(1, 1, 0, 0, 0, -1, 0, 0, -1);
    EXPECT_DOUBLE_EQ(r.lower, -1.0);
    EXPECT_DOUBLE_EQ(r.upper, 1.0);

    r = ConicExtent(1, 1, 0, 0, 0, -1, 0, 0, 1);  // behind
    EXPECT_EQ(r.lower, -1e100);
    EXPECT_EQ(r.upper, 1e100);

    // P = 1, Q = 1, R = 1: Q^2 - P R = 0.
    r = ConicExtent(1, 1, 0, 0, 1, 1, 0, 0, -1);
    EXPECT_EQ(r.lower, -1e100);
    EXPECT_EQ(r.upper, 1e100);
}

}  // namespace
