#pragma once

// The background colour of a pixel that no part covers, and the weight of a surface's colour
// against the fog or depth-cue colour at a distance along a pixel's ray. Both read only the
// shade settings and cannot fail.

#include "render/shade_settings.h"

#include <array>
#include <cstdint>

// Full weight of the surface colour in DepthCueWeight's scale.
inline constexpr std::int32_t DepthCueFull = 16384;

// The background colour for the camera ray (x, y, 1), each channel on the scale c x 256: a
// gradient from the horizon colour (ray across the up direction) to the zenith colour (ray
// along it, up or down), or the flat background colour.
std::array<std::int32_t, 3> ShadeBackground(const ShadeSettings& settings, double x, double y);

// The 14-bit weight (16384 = all surface) of a point at distance along the ray (x, y, 1):
// a smoothstep from 16384 at the near depth to 0 at the far depth, or exp(-tau L) through
// the enabled fog volumes, tau their optical depth up to the point's depth.
std::int32_t DepthCueWeight(const ShadeSettings& settings, double distance, double x, double y);
