#include "gizmo/slider_drag.h"

#include "core/rotation.h"
#include "gizmo/gizmo_object.h"
#include "gizmo/physics_test_support.h"
#include "gizmo/slider_guide.h"

#include <gtest/gtest.h>

namespace {

using namespace physics_test;

// A slider on the top face of a cylinder (radius 2 about the y axis, top at 0.5), set up
// with the given map.
GizmoObject TopFaceSlider(std::int32_t map, const TestSolid& guide) {
    GizmoObject slider = NewSliderObject();
    PhysicsPart control;
    const Vec3 above{1.0, 1.0, 0.5};
    control.localFromWorld = FrameFromWorld(Matrix3SetDiagonal(1.0), above);
    control.position = above;
    EXPECT_EQ(SetUpSlider(slider, control, PartOf(guide), false, map, 0), SliderSetUpDone);
    return slider;
}

// The camera above the guide looking down: camera x along the guide's x, camera y along its
// z, camera z down (the camera's -z points from the scene to the eye).
Matrix4W CameraAbove() {
    const Matrix3 r{{1.0, 0.0, 0.0, 0.0, 0.0, -1.0, 0.0, 1.0, 0.0}};
    Matrix4W w = EmbedMatrix3(r, 0);
    w.m[8] = 5.0;
    return w;
}

TEST(SliderDrag, PlanarDirectionFollowsTheFirstCoordinateOnTheScreen) {
    const TestSolid guide = Cylinder(Vec3{}, 2.0, 0.5, Matrix3SetDiagonal(1.0));
    struct Case {
        std::int32_t map;
        bool invertFirst;
        bool invertSecond;
        std::uint8_t facingAway;
        double direction;  // second screen component; the first is 0
    };
    // Seen from above, a top map faces the camera; a bottom map faces away, and then the
    // second inversion flag reverses the direction instead of the first.
    const Case cases[] = {{1, false, false, 0, 1.0},  {1, true, false, 0, -1.0},
                          {1, false, true, 0, 1.0},   {-1, false, false, 1, 1.0},
                          {-1, false, true, 1, -1.0}, {-1, true, false, 1, 1.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.map * 10 + c.invertFirst * 2 + c.invertSecond);
        GizmoObject slider = TopFaceSlider(c.map, guide);
        slider.slider.invertFirst = c.invertFirst ? 1 : 0;
        slider.slider.invertSecond = c.invertSecond ? 1 : 0;
        BeginSliderDrag(slider, 100.0, 50.0, CameraAbove());
        const SliderTail& s = slider.slider;
        EXPECT_EQ(s.facingAway, c.facingAway);
        EXPECT_NEAR(s.screenDirection.x, 0.0, 1e-15);
        EXPECT_NEAR(s.screenDirection.y, c.direction, 1e-15);
        const GuideCoordinates press = GuideCoordinatesOf(slider);
        EXPECT_EQ(s.pressCoordinates.u1, press.u1);
        EXPECT_EQ(s.endTarget.u2, press.u2);
        // mousePixels along the screen direction moves the first coordinate by one; across
        // it the second by one, reversed when the camera sees the map from behind.
        FollowSliderDrag(slider, 100.0 + 30.0, 50.0 + 80.0 * c.direction);
        EXPECT_NEAR(s.endTarget.u1, press.u1 + 1.0, 1e-12);
        EXPECT_NEAR(s.endTarget.u2,
                    press.u2 + (c.facingAway ? -1.0 : 1.0) * 30.0 / 80.0 * c.direction, 1e-12);
        EXPECT_EQ(s.startTarget.u1, press.u1);
        FollowSliderDrag(slider, 100.0, 50.0);
        EXPECT_NEAR(s.startTarget.u1, press.u1 + 1.0, 1e-12);
        EXPECT_NEAR(s.endTarget.u1, press.u1, 1e-12);
    }
}

TEST(SliderDrag, AxialDirectionRunsAcrossTheGuideAxis) {
    const TestSolid guide = Cylinder(Vec3{}, 2.0, 0.5, Matrix3SetDiagonal(1.0));
    GizmoObject slider = TopFaceSlider(0, guide);
    // The camera 5 in front of the guide's origin, the guide axis up the camera's y: the
    // axis' image runs along the screen's y, so turning about it runs along x.
    Matrix4W inFront;
    Matrix4SetDiagonal(inFront, 1.0);
    inFront.m[12] = -5.0;
    BeginSliderDrag(slider, 0.0, 0.0, inFront);
    EXPECT_NEAR(std::fabs(slider.slider.screenDirection.x), 1.0, 1e-15);
    EXPECT_EQ(slider.slider.screenDirection.y, 0.0);
    // Seen end-on through its origin the axis has no screen direction: (1, 0).
    Matrix4W endOn;
    Matrix4SetDiagonal(endOn, 1.0);
    BeginSliderDrag(slider, 0.0, 0.0, endOn);
    EXPECT_EQ(slider.slider.screenDirection.x, 1.0);
    EXPECT_EQ(slider.slider.screenDirection.y, 0.0);

    // The inversion flags reverse each coordinate's travel.
    struct Case {
        bool invertFirst;
        bool invertSecond;
    };
    for (const Case c :
         {Case{false, false}, Case{true, false}, Case{false, true}, Case{true, true}}) {
        SCOPED_TRACE(c.invertFirst * 2 + c.invertSecond);
        slider.slider.invertFirst = c.invertFirst ? 1 : 0;
        slider.slider.invertSecond = c.invertSecond ? 1 : 0;
        BeginSliderDrag(slider, 0.0, 0.0, endOn);
        const GuideCoordinates press = slider.slider.pressCoordinates;
        FollowSliderDrag(slider, 40.0, -20.0);
        EXPECT_NEAR(slider.slider.endTarget.u1, press.u1 + (c.invertFirst ? -0.5 : 0.5), 1e-12);
        EXPECT_NEAR(slider.slider.endTarget.u2, press.u2 + (c.invertSecond ? -0.25 : 0.25), 1e-12);
    }
}

}  // namespace
