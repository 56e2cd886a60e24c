#pragma once

// The guide of a slider: the surface of revolution on which the player drags it.
//
// The slider's control part gives its axis (the control frame's y axis); the guide part is a
// solid of revolution about its own frame's y axis (the guide frame, with rho the distance
// from that axis and h the height along it). The set-up follows the slider's axis down to
// the guide's surface, takes the surface it meets there (the guide surface,
// A rho^2 + C h^2 + 2 B h + D = 0 in the guide frame, the profile), and bounds the face of
// that surface by the two edge circles where it meets the part's other surfaces on either
// side of the slider.
//
// A point of the face is named by two guide coordinates. Axial coordinates (map "middle"):
// the angle about the guide axis and a profile parameter p along the meridian (h / s on a
// curved surface, the logarithm of rho on a plane across the axis). Planar coordinates (map
// "top" or "bottom"): two Cartesian coordinates across the axis whose length is the
// parameter rho / s. The parameter is clamped to the face; the slider's centre is held at its
// set-up distance above the guide point along the surface normal, and, when it follows the
// surface, is turned with the normal.

#include "gizmo/gizmo_object.h"
#include "gizmo/physics_part.h"

#include <cstdint>

// Results of SetUpSlider.
inline constexpr std::int32_t SliderSetUpDone = 0;
inline constexpr std::int32_t SliderAxisMissesGuide = -1;
inline constexpr std::int32_t SliderAxisNotPerpendicular = -2;

// Sets up the slider's guide model from its control part and its guide part; axial is the
// orientation "axial", map +1 (top), 0 (middle) or -1 (bottom), rotSnap the control's
// "rotSnap". The slider's parts (their rest copies placed in the world as the parts stand)
// must be added first. On success the parts are turned about the slider's axis to the
// nearest multiple of 90 / rotSnap degrees from the guide's direction (when rotSnap is not 0
// and the slider follows the guide axis), their rest copies are made relative to the
// slider's centre (the control part's position), and the slider is placed (PlaceSlider);
// the caller then updates the parts in the geometry. Returns SliderAxisMissesGuide when the
// axis does not leave the guide through a surface (or the guide has no surface, or a surface
// vanishes along the axis, or the face it finds has fewer than two edges or no extent), and
// SliderAxisNotPerpendicular when it leaves the guide but never perpendicular to the surface
// (within about 0.57 degrees). Nothing of the slider changes on failure.
std::int32_t SetUpSlider(GizmoObject& slider, const PhysicsPart& control, const PhysicsPart& guide,
                         bool axial, std::int32_t map, std::int32_t rotSnap);

// A point of the profile at parameter p, with its derivatives by p.
struct ProfileSample {
    double rho = 0.0;
    double h = 0.0;
    double rhoRate = 0.0;
    double hRate = 0.0;
};

// The profile point of parameter p (not clamped). Where the profile leaves its domain
// (a negative radicand) the radius or the height is taken as 0 and its rate as 0.
ProfileSample ProfilePoint(const SliderTail& slider, double p);

// Sets the guide point and its velocity from guide coordinates and their rates. The profile
// parameter is clamped to the face, and a clamped parameter has rate 0. A slider whose guide
// has no face to move on (a box guide) stays at its start guide point.
void SetGuideCoordinates(GizmoObject& slider, double u1, double u2, double u1Rate, double u2Rate);

// The guide coordinates of the slider's guide point: the inverse of SetGuideCoordinates
// within the face. (0, 0) for a slider without a face. A point on the axis of a plane in
// axial coordinates has the parameter of the smallest normal radius.
GuideCoordinates GuideCoordinatesOf(const GizmoObject& slider);

// Moves the guide point to the fraction endTime / dt of the way from the frame's start
// target to its end target, at the rate (end - start) / dt (dt > 0; otherwise to the end
// target at rest).
void SliderInterpolate(GizmoObject& slider, double endTime, double dt);

// Places the slider from its guide point: position and velocity surfaceOffset along the
// surface normal; orientation and angular velocity turning with the normal when the slider
// follows the surface, else the identity and 0.
void PlaceSlider(GizmoObject& slider);
