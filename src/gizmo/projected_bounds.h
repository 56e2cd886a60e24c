#pragma once

// The rectangle a gizmo covers on the screen, which sizes the player's window.
//
// Every part carries a bounding quadric that encloses it. Seen from the eye, a quadric's
// outline is the cone of rays tangent to it, and that cone meets the image plane (z = 1 in
// camera coordinates) in a conic; the rectangle is the union of the conics' extents. Hidden
// second-state parts count too, so a flipper's swing stays inside the window. An eye inside a
// drawn part sees no outline at all: the viewpoint is refused.
//
// Image coordinates are camera x / z and y / z; the view's pixel scale turns them into pixel
// offsets from the projection centre. A side the conic leaves open is marked by a sentinel
// (-1e100 or 1e100) rather than a number, and callers clamp when they convert to pixels.

#include "core/matrix4.h"

#include <array>
#include <cstdint>

class SceneGeometry;

// The rectangle before any outline widened it, and the open sides.
inline constexpr double SceneBoundsEmptyLow = 2e100;
inline constexpr double SceneBoundsEmptyHigh = -2e100;
inline constexpr double SceneBoundsOpenLow = -1e100;
inline constexpr double SceneBoundsOpenHigh = 1e100;

// xmin, ymin, xmax, ymax in image coordinates.
using SceneBounds = std::array<double, 4>;

// The two extra quadric surfaces that volume fog brings into the scene: each counts (before
// every part) only when its own switch is set.
struct SceneExtraSurfaces {
    std::array<Matrix4W, 2> forms;  // w-first, negative inside, scene coordinates
    std::array<std::uint8_t, 2> enabled{};
};

// Fills bounds with the image rectangle of every part that is drawn or marked second-state,
// and of the enabled extra surfaces when extraSurfaces is given (the caller passes them when
// the view's switches and the volume-fog switch bring them in). cameraMatrix takes camera
// coordinates into scene coordinates, homogeneous coordinate first; its first column is the
// eye. Returns false when the eye lies inside a drawn part (inside every one of its surfaces;
// a drawn part without surfaces holds every point); an eye inside a second-state part returns
// true. Either way the bounds are then the open rectangle. With nothing to bound, the bounds
// stay at the empty rectangle (2e100, 2e100, -2e100, -2e100).
bool ProjectSceneBounds(const SceneGeometry& geometry, const Matrix4W& cameraMatrix,
                        SceneBounds& bounds, const SceneExtraSurfaces* extraSurfaces);

// The extent of a conic along one image axis.
struct ConicRange {
    double lower = SceneBoundsOpenLow;
    double upper = SceneBoundsOpenHigh;
};

// Bounds the conic a1 u^2 + 2 a3 u v + a2 v^2 + 2 a4 u + 2 a5 v + a6 = 0 along v, u being the
// coordinate a1 belongs to. a7, a8, a9 are the quadric's homogeneous row terms (the constant
// row's u, v and depth elements), which tell the tangents whose point of contact lies in front
// of the eye from those behind it. A side without such a tangent is open: lower -1e100, upper
// 1e100; a tangent beyond the sentinels is held at them (far below: -1e100 or -2e100, far
// above: 2e100 or 1e100), so that an outline that recedes without end never gives a number.
ConicRange ConicExtent(double a1, double a2, double a3, double a4, double a5, double a6, double a7,
                       double a8, double a9);
