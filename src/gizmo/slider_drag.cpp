#include "gizmo/slider_drag.h"

#include "core/matrix3.h"
#include "core/rotation.h"
#include "gizmo/gizmo_object.h"
#include "gizmo/physics_maths_internal.h"
#include "gizmo/slider_guide.h"

#include <cmath>

namespace {

using namespace gizmo_physics;

// Axial coordinates: the screen direction in which the guide turns under the cursor, across
// the guide axis as the camera sees it.
Vec2 AxialScreenDirection(const SliderTail& s, const Matrix4W& guideFromCamera) {
    const Matrix4W cameraFromGuide = InvertAffineWFirst(guideFromCamera);
    const Vec3 axis = TransformDirection(cameraFromGuide, Y_AXIS);
    const Vec3 origin = TransformPoint(cameraFromGuide, Vec3{});
    const Vec3 c = Vec3Cross(origin, axis);
    const double length = std::sqrt(c.x * c.x + c.y * c.y);
    if (IsZeroOrSubnormal(length)) return Vec2{1.0, 0.0};
    const double sign = s.profile.m[5] < 0.0 ? -1.0 : 1.0;
    return Vec2{sign * c.x / length, sign * c.y / length};
}

// Planar coordinates: the screen image of the guide's first coordinate axis, seen from the
// side of its map.
Vec2 PlanarScreenDirection(SliderTail& s, const Matrix4W& guideFromCamera) {
    const Matrix3 r = LinearPart(guideFromCamera);
    Vec3 w = Matrix3TransformVec3(r, Vec3{0.0, 0.0, -1.0});
    s.facingAway = s.coordinateMode * w.y < 0.0 ? 1 : 0;
    if (s.facingAway != 0) w = Vec3Scale(w, -1.0);
    const bool mirrored = w.y < 0.0;
    if (mirrored) {
        w.x = -w.x;
        w.y = -w.y;
    }
    Matrix3 q = RotationFromYAxis(w);
    if (mirrored) {
        for (std::size_t i : {2u, 5u, 6u, 7u}) q.m[i] = -q.m[i];
    }
    const Matrix3 p = Matrix3TransposeProduct(r, q);
    const bool inverted = s.facingAway != 0 ? s.invertSecond != 0 : s.invertFirst != 0;
    const double sign = inverted ? -1.0 : 1.0;
    return Vec2{sign * p.m[2], sign * p.m[5]};
}

}  // namespace

void BeginSliderDrag(GizmoObject& slider, double x, double y, const Matrix4W& guideFromCamera) {
    SliderTail& s = slider.slider;
    s.dragOrigin = Vec2{x, y};
    s.pressCoordinates = GuideCoordinatesOf(slider);
    s.endTarget = s.pressCoordinates;
    s.screenDirection = s.coordinateMode == 0 ? AxialScreenDirection(s, guideFromCamera)
                                              : PlanarScreenDirection(s, guideFromCamera);
}

void FollowSliderDrag(GizmoObject& slider, double x, double y) {
    SliderTail& s = slider.slider;
    s.startTarget = s.endTarget;
    const double dx = x - s.dragOrigin.x;
    const double dy = y - s.dragOrigin.y;
    const double ux = s.screenDirection.x;
    const double uy = s.screenDirection.y;
    double s1 = 1.0;
    double s2 = 1.0;
    if (s.coordinateMode != 0) {
        // The first inversion already acted on the screen direction at the press.
        if (s.facingAway != 0) s2 = -1.0;
    } else {
        if (s.invertFirst != 0) s1 = -1.0;
        if (s.invertSecond != 0) s2 = -1.0;
    }
    s.endTarget.u1 = s1 * (dx * ux + dy * uy) / s.mousePixels + s.pressCoordinates.u1;
    s.endTarget.u2 = s2 * (dx * uy - dy * ux) / s.mousePixels + s.pressCoordinates.u2;
}
