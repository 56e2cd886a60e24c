#pragma once

// A mouse drag of a slider: the cursor's offset from the press, measured along a screen
// direction worked out at the press, moves the slider's guide coordinates by one unit per
// mousePixels pixels. The game input calls these at the press and on every drag update (with
// the smoothed cursor); the frame driver then moves the slider from the frame's start target
// to its end target.

#include "core/matrix4.h"

struct GizmoObject;

// Starts a drag at view pixel (x, y). guideFromCamera is the guide part's placement times the
// view matrix (which takes camera coordinates to scene coordinates). Sets the drag origin,
// the press coordinates (the guide coordinates now), the end target (the same), the screen
// direction and, for planar coordinates, whether the camera sees the guide from behind its
// map.
void BeginSliderDrag(GizmoObject& slider, double x, double y, const Matrix4W& guideFromCamera);

// Follows the cursor at view pixel (x, y): the end target becomes the start target and the
// new end target the press coordinates moved by the cursor's offset.
void FollowSliderDrag(GizmoObject& slider, double x, double y);
