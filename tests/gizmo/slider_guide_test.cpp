#include "gizmo/slider_guide.h"

#include "core/maths_test_support.h"
#include "core/rotation.h"
#include "geometry/part_record.h"
#include "geometry/primitive_record.h"
#include "gizmo/gizmo_object.h"
#include "gizmo/physics_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

using namespace physics_test;

constexpr double Deg = Pi / 180.0;

double Distance(const Vec3& a, const Vec3& b) { return Vec3Length(Vec3Sub(a, b)); }

// The control part of a slider: a frame whose y axis is the slider's axis, at position.
PhysicsPart Control(const Vec3& position, const Matrix3& orientation) {
    PhysicsPart p;
    p.localFromWorld = FrameFromWorld(orientation, position);
    p.position = position;
    return p;
}

// A slider with one box part standing at the control's place and orientation.
GizmoObject SliderAt(const Vec3& position, const Matrix3& orientation) {
    GizmoObject slider = NewSliderObject();
    PartRecordPtr record = NewPrimitive3(false, 0.2, 0.1, 0.3, 4, 0, position, Colour{});
    PartRecordSetRotation(record.get(), RotationToVector(orientation));
    AddObjectPart(slider, 4, record.get());
    return slider;
}

// A cone about the frame's y axis, radius a - b y, cut by planes at y = -h and y = h.
TestSolid Cone(const Vec3& centre, double a, double b, double h, const Matrix3& orientation) {
    return MakeSolid(ShapeType::Frustum,
                     {Quadric(1, -b * b, 1, 0, a * b, 0, -a * a), Quadric(0, 0, 0, 0, 0.5, 0, -h),
                      Quadric(0, 0, 0, 0, -0.5, 0, -h)},
                     1u, orientation, centre, Vec3{a + b * h, h, a + b * h});
}

TEST(SliderGuide, SphereGuideFromAboveSitsAtTheDistanceToItsTop) {
    const Vec3 centre{0.5, 0.0, -0.25};
    const TestSolid sphere = Sphere(centre, 1.0);
    const Vec3 above = Vec3Add(centre, Vec3{0.0, 1.75, 0.0});
    GizmoObject slider = SliderAt(above, Matrix3SetDiagonal(1.0));
    ASSERT_EQ(
        SetUpSlider(slider, Control(above, Matrix3SetDiagonal(1.0)), PartOf(sphere), false, 0, 0),
        SliderSetUpDone);
    const SliderTail& s = slider.slider;
    EXPECT_NEAR(s.surfaceOffset, 0.75, 1e-12);
    EXPECT_NEAR(Distance(s.guidePoint, Vec3Add(centre, Vec3{0.0, 1.0, 0.0})), 0.0, 1e-12);
    EXPECT_NEAR(Distance(slider.position, above), 0.0, 1e-12);
    EXPECT_EQ(s.hasRadialTerm, 1);
    EXPECT_EQ(s.followsSurface, 1);
    // The rest copy is relative to the slider's centre.
    EXPECT_NEAR(Vec3Length(PartRecordPosition(slider.partPairs[0].rest.get())), 0.0, 1e-6);
}

TEST(SliderGuide, AxisMustMeetTheGuidePerpendicularly) {
    // A cylinder's top face, the axis tilted by the angle: within about 0.57 degrees passes.
    struct Case {
        double tiltDegrees;
        std::int32_t result;
    };
    const Case cases[] = {{0.0, SliderSetUpDone},
                          {0.5, SliderSetUpDone},
                          {-0.5, SliderSetUpDone},
                          {1.0, SliderAxisNotPerpendicular},
                          {-1.0, SliderAxisNotPerpendicular},
                          {30.0, SliderAxisNotPerpendicular}};
    const TestSolid cylinder = Cylinder(Vec3{}, 1.0, 0.5, Matrix3SetDiagonal(1.0));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tiltDegrees);
        const Matrix3 tilt = Matrix3FromAxisAngle(Z_AXIS, c.tiltDegrees * Deg);
        const Vec3 above{0.0, 1.5, 0.0};
        GizmoObject slider = SliderAt(above, tilt);
        EXPECT_EQ(SetUpSlider(slider, Control(above, tilt), PartOf(cylinder), false, 1, 0),
                  c.result);
        if (c.result != SliderSetUpDone) {
            EXPECT_EQ(slider.slider.guidePart, -1);
        }
    }
}

TEST(SliderGuide, AxisThatMissesTheGuideIsRefused) {
    const TestSolid cylinder = Cylinder(Vec3{}, 1.0, 0.5, Matrix3SetDiagonal(1.0));
    const Vec3 beside{5.0, 1.5, 0.0};
    GizmoObject slider = SliderAt(beside, Matrix3SetDiagonal(1.0));
    EXPECT_EQ(SetUpSlider(slider, Control(beside, Matrix3SetDiagonal(1.0)), PartOf(cylinder), false,
                          1, 0),
              SliderAxisMissesGuide);
    PhysicsPart empty = PartOf(cylinder);
    empty.surfaces = {};
    EXPECT_EQ(SetUpSlider(slider, Control(Vec3{0.0, 1.5, 0.0}, Matrix3SetDiagonal(1.0)), empty,
                          false, 1, 0),
              SliderAxisMissesGuide);
    EXPECT_EQ(slider.slider.guidePart, -1);
    EXPECT_NEAR(Distance(PartRecordPosition(slider.partPairs[0].rest.get()), beside), 0.0, 1e-6);
}

// The signed angle from a to b about y, both taken across y.
double AngleAboutY(const Vec3& a, const Vec3& b) {
    return std::atan2(a.z * b.x - a.x * b.z, a.x * b.x + a.z * b.z);
}

TEST(SliderGuide, RotationSnapsToMultiplesOfTheStepFromTheGuideDirection) {
    // A slider off the centre of a cylinder's top face turns about its axis so that its
    // frame stands at a multiple of 90 / rotSnap degrees from the direction to the guide's
    // centre, by the smallest turn.
    const TestSolid cylinder = Cylinder(Vec3{}, 2.0, 0.5, Matrix3SetDiagonal(1.0));
    const Vec3 above{1.0, 1.0, 0.5};
    const Vec3 toGuide{-1.0, 0.0, -0.5};
    for (std::int32_t snap : {1, 2}) {
        const double step = 90.0 * Deg / snap;
        for (double gammaDegrees : {10.0, 50.0, 100.0, -70.0, 178.0}) {
            SCOPED_TRACE(snap * 1000 + gammaDegrees);
            const Matrix3 turn = Matrix3FromAxisAngle(Y_AXIS, gammaDegrees * Deg);
            GizmoObject slider = SliderAt(above, turn);
            ASSERT_EQ(SetUpSlider(slider, Control(above, turn), PartOf(cylinder), false, 0, snap),
                      SliderSetUpDone);
            const Matrix3 after =
                RotationFromVector(PartRecordRotation(slider.partPairs[0].rest.get()));
            const Vec3 zAfter{after.m[2], after.m[5], after.m[8]};
            const Vec3 zBefore{turn.m[2], turn.m[5], turn.m[8]};
            EXPECT_NEAR(zAfter.y, 0.0, 1e-6);
            const double fromGuide = AngleAboutY(toGuide, zAfter);
            const double remainder = fromGuide - step * std::round(fromGuide / step);
            EXPECT_NEAR(remainder, 0.0, 1e-5);
            EXPECT_LE(std::fabs(AngleAboutY(zBefore, zAfter)), 0.5 * step + 1e-5);
        }
    }
}

TEST(SliderGuide, EqualStepsOnAPlaneGuideGiveEqualRadiusFactors) {
    const TestSolid cylinder = Cylinder(Vec3{}, 2.0, 0.5, Matrix3SetDiagonal(1.0));
    const Vec3 above{1.0, 1.0, 0.5};
    GizmoObject slider = SliderAt(above, Matrix3SetDiagonal(1.0));
    ASSERT_EQ(
        SetUpSlider(slider, Control(above, Matrix3SetDiagonal(1.0)), PartOf(cylinder), false, 0, 0),
        SliderSetUpDone);
    double previous = 0.0;
    for (int k = 0; k < 5; ++k) {
        SetGuideCoordinates(slider, 0.3, -0.6 + 0.3 * k, 0.0, 0.0);
        const Vec3& p = slider.slider.guidePoint;
        EXPECT_NEAR(p.y, 0.5, 1e-12);
        const double rho = std::hypot(p.x, p.z);
        if (k > 0) {
            EXPECT_NEAR(rho / previous, std::exp(-0.3), 1e-12);
        }
        previous = rho;
    }
}

TEST(SliderGuide, DragPastABoundHoldsTheSliderThereWithoutSpeedAlongIt) {
    const TestSolid cylinder = Cylinder(Vec3{}, 2.0, 0.5, Matrix3SetDiagonal(1.0));
    const Vec3 above{1.0, 1.0, 0.5};
    for (std::int32_t map : {0, 1}) {
        SCOPED_TRACE(map);
        GizmoObject slider = SliderAt(above, Matrix3SetDiagonal(1.0));
        ASSERT_EQ(SetUpSlider(slider, Control(above, Matrix3SetDiagonal(1.0)), PartOf(cylinder),
                              false, map, 0),
                  SliderSetUpDone);
        // Axial: the parameter past the rim (-ln 2); planar: the radius past 1 (the rim).
        if (map == 0) {
            SetGuideCoordinates(slider, 0.4, -3.0, 0.5, 2.0);
        } else {
            SetGuideCoordinates(slider, 3.0, 0.0, 0.5, 2.0);
        }
        const Vec3& p = slider.slider.guidePoint;
        const Vec3& v = slider.slider.guideVelocity;
        EXPECT_NEAR(std::hypot(p.x, p.z), 2.0, 1e-12);
        const Vec3 radial{p.x / 2.0, 0.0, p.z / 2.0};
        EXPECT_NEAR(Vec3Dot(v, radial), 0.0, 1e-12);
        EXPECT_NEAR(v.y, 0.0, 1e-12);
        EXPECT_GT(Vec3Length(v), 0.1);  // still free to move round
    }
}

TEST(SliderGuide, PlanarOriginHasRadiusAndRateZero) {
    const TestSolid cylinder = Cylinder(Vec3{}, 2.0, 0.5, Matrix3SetDiagonal(1.0));
    const Vec3 above{1.0, 1.0, 0.5};
    GizmoObject slider = SliderAt(above, Matrix3SetDiagonal(1.0));
    ASSERT_EQ(
        SetUpSlider(slider, Control(above, Matrix3SetDiagonal(1.0)), PartOf(cylinder), false, 1, 0),
        SliderSetUpDone);
    SetGuideCoordinates(slider, 0.0, 0.0, 1.0, -1.0);
    EXPECT_NEAR(Distance(slider.slider.guidePoint, Vec3{0.0, 0.5, 0.0}), 0.0, 1e-12);
    EXPECT_EQ(Vec3Length(slider.slider.guideVelocity), 0.0);
    // A fixed orientation on a plane keeps the slider upright as it moves.
    SetGuideCoordinates(slider, 0.3, 0.6, 1.0, -1.0);
    PlaceSlider(slider);
    EXPECT_LT(MaxAbsDifference(slider.orientation, Matrix3SetDiagonal(1.0)), 1e-15);
    EXPECT_EQ(Vec3Length(slider.angularVelocity), 0.0);
    EXPECT_NEAR(slider.position.y, 1.0, 1e-12);
}

struct GuideCase {
    const char* name;
    TestSolid guide;
    Vec3 control;
    Matrix3 axis;
    std::int32_t map;
    double offset;
};

std::vector<GuideCase> GuideCases() {
    std::vector<GuideCase> cases;
    const Matrix3 identity = Matrix3SetDiagonal(1.0);
    const Matrix3 turned = Matrix3FromAxisAngle(Vec3{0.6, 0.0, 0.8}, 0.7);
    const Vec3 c{0.3, -0.2, 0.1};
    for (std::int32_t map : {0, 1}) {
        // A sphere turned off the world axes, the slider on top of it along its own y axis.
        const Vec3 pole = Matrix3TransformVec3(turned, Y_AXIS);
        if (map == 0) {
            cases.push_back({"sphere", Sphere(c, 1.2, turned), Vec3Add(c, Vec3Scale(pole, 1.6)),
                             turned, map, 0.4});
        }
        cases.push_back({"top face", Cylinder(c, 1.5, 0.4, turned),
                         Vec3Add(c, Matrix3TransformVec3(turned, Vec3{0.5, 0.7, -0.2})), turned,
                         map, 0.3});
        // On the side of a cone, the axis along the side's normal.
        const double a = 1.0;
        const double b = 0.5;
        const double y1 = 0.2;
        Vec3 n{1.0, b, 0.0};
        Vec3Normalize(n);
        const Vec3 onSide{a - b * y1, y1, 0.0};
        cases.push_back({"cone side", Cone(c, a, b, 0.6, identity),
                         Vec3Add(c, Vec3Add(onSide, Vec3Scale(n, 0.25))), RotationFromYAxis(n), map,
                         0.25});
    }
    return cases;
}

TEST(SliderGuide, GuidePointLiesOnTheSurfaceAndMovesAsItsCoordinates) {
    for (const GuideCase& c : GuideCases()) {
        SCOPED_TRACE(std::string(c.name) + (c.map == 0 ? " axial" : " planar"));
        GizmoObject slider = SliderAt(c.control, c.axis);
        ASSERT_EQ(SetUpSlider(slider, Control(c.control, c.axis), PartOf(c.guide), true, c.map, 0),
                  SliderSetUpDone);
        const SliderTail& s = slider.slider;
        EXPECT_NEAR(s.surfaceOffset, c.offset, 1e-9);
        const Matrix4W& surface = c.guide.surfaces[static_cast<std::size_t>(s.guideSurfaceIndex)];
        const GuideCoordinates start = GuideCoordinatesOf(slider);
        CrtSrand(17);
        for (int i = 0; i < 30; ++i) {
            SCOPED_TRACE(i);
            // Coordinates near the start, inside the face.
            const double lower = std::min(s.parameterBounds[0], s.parameterBounds[1]);
            const double upper = std::max(s.parameterBounds[0], s.parameterBounds[1]);
            const double u1 = start.u1 + 0.3 * RandomSigned();
            const double u2 =
                std::clamp(start.u2 + 0.1 * RandomSigned(), lower + 0.02, upper - 0.02);
            const double r1 = RandomSigned();
            const double r2 = RandomSigned();
            SetGuideCoordinates(slider, u1, u2, r1, r2);
            const Vec3 point = s.guidePoint;
            const Vec3 velocity = s.guideVelocity;
            const double gradient = Vec3Length(HalfGradient(surface, point));
            EXPECT_NEAR(Value(surface, point) / gradient, 0.0, 1e-9);
            // The velocity is the coordinates' rate of change carried through.
            const double e = 1e-6;
            SetGuideCoordinates(slider, u1 + e * r1, u2 + e * r2, r1, r2);
            const Vec3 ahead = s.guidePoint;
            SetGuideCoordinates(slider, u1 - e * r1, u2 - e * r2, r1, r2);
            const Vec3 behind = s.guidePoint;
            const Vec3 difference = Vec3Scale(Vec3Sub(ahead, behind), 0.5 / e);
            EXPECT_NEAR(Distance(difference, velocity), 0.0, 1e-6);
            // The coordinates come back from the point.
            SetGuideCoordinates(slider, u1, u2, r1, r2);
            const GuideCoordinates back = GuideCoordinatesOf(slider);
            EXPECT_NEAR(std::remainder(back.u1 - u1, 2.0 * Pi), 0.0, 1e-9);
            EXPECT_NEAR(back.u2, u2, 1e-9);
            // The slider stands off the surface along the normal, turned with it.
            PlaceSlider(slider);
            Vec3 n = HalfGradient(surface, point);
            Vec3Normalize(n);
            EXPECT_NEAR(Distance(slider.position, Vec3Add(point, Vec3Scale(n, c.offset))), 0.0,
                        1e-9);
            EXPECT_LT(OrthonormalityError(slider.orientation), 1e-12);
            const Vec3 startAxis{c.axis.m[1], c.axis.m[4], c.axis.m[7]};
            // Orientation takes the start normal (the control's axis) to the normal here.
            EXPECT_NEAR(Distance(Matrix3TransformVec3(slider.orientation, startAxis), n), 0.0,
                        1e-9);
        }
    }
}

TEST(SliderGuide, PlanarSliderOnASphereStaysOnItsSide) {
    // A face from pole to pole has no radius range in planar coordinates: the slider stays
    // at the pole it started on, whatever the drag.
    const TestSolid sphere = Sphere(Vec3{}, 1.0);
    const Vec3 above{0.0, 1.5, 0.0};
    GizmoObject slider = SliderAt(above, Matrix3SetDiagonal(1.0));
    ASSERT_EQ(
        SetUpSlider(slider, Control(above, Matrix3SetDiagonal(1.0)), PartOf(sphere), false, 1, 0),
        SliderSetUpDone);
    SetGuideCoordinates(slider, 0.4, -0.2, 1.0, 1.0);
    EXPECT_NEAR(Distance(slider.slider.guidePoint, Vec3{0.0, 1.0, 0.0}), 0.0, 1e-12);
}

TEST(SliderGuide, InterpolationRunsFromTheStartTargetToTheEndTarget) {
    const TestSolid sphere = Sphere(Vec3{}, 1.0);
    const Vec3 above{0.0, 1.5, 0.0};
    GizmoObject slider = SliderAt(above, Matrix3SetDiagonal(1.0));
    ASSERT_EQ(
        SetUpSlider(slider, Control(above, Matrix3SetDiagonal(1.0)), PartOf(sphere), false, 0, 0),
        SliderSetUpDone);
    slider.slider.startTarget = GuideCoordinates{0.1, 0.2};
    slider.slider.endTarget = GuideCoordinates{0.3, -0.2};
    SliderInterpolate(slider, 0.025, 0.1);
    const Vec3 point = slider.slider.guidePoint;
    const Vec3 velocity = slider.slider.guideVelocity;
    SetGuideCoordinates(slider, 0.15, 0.1, 2.0, -4.0);
    EXPECT_NEAR(Distance(point, slider.slider.guidePoint), 0.0, 1e-15);
    EXPECT_NEAR(Distance(velocity, slider.slider.guideVelocity), 0.0, 1e-15);
}

TEST(SliderGuide, BoxGuideHoldsTheSliderWhereItWasSetUp) {
    const TestSolid box = Box(Vec3{}, Vec3{1.0, 0.5, 1.0}, Matrix3SetDiagonal(1.0));
    const Vec3 above{0.2, 1.0, 0.1};
    GizmoObject slider = SliderAt(above, Matrix3SetDiagonal(1.0));
    ASSERT_EQ(SetUpSlider(slider, Control(above, Matrix3SetDiagonal(1.0)), PartOf(box), true, 0, 1),
              SliderSetUpDone);
    EXPECT_NEAR(slider.slider.surfaceOffset, 0.5, 1e-12);
    SetGuideCoordinates(slider, 0.5, 0.5, 1.0, 1.0);
    EXPECT_NEAR(Distance(slider.slider.guidePoint, Vec3{0.2, 0.5, 0.1}), 0.0, 1e-12);
    EXPECT_EQ(Vec3Length(slider.slider.guideVelocity), 0.0);
}

}  // namespace
