#pragma once

// The background colour of a pixel that no part covers, and the weight of a surface's colour
// against the fog or depth-cue colour at a distance along a pixel's ray. Both read only the
// shade settings and cannot fail.
//
// The background image. With the background-mode byte set and an image given, the picture is
// laid over the image: a pixel where only the background shows takes image + colour - 128 in
// each channel (clamped to 0..255, alpha 0), and a boundary pixel of coverage c takes its
// integrated colour plus (image - 128) x (1 - c), the same mix of the surfaces and the
// background laid over the image. An image of 128 grey leaves the picture as it was.

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

// The background image's word seen through pixel (column, row) of reduction level level: the
// pixel's place in the full-size frame of width x height (each level's x / 2 + 2 undone
// level times, held to the frame). Null when the background-mode byte is clear or there is
// no image.
const std::uint32_t* BackgroundImageWord(const ShadeSettings& settings, std::int32_t level,
                                         std::int32_t column, std::int32_t row, std::int32_t width,
                                         std::int32_t height);

// A pixel where only the background shows, laid over the image word: each channel
// image + pixel - 128, clamped to 0..255; alpha 0.
std::uint32_t OverBackgroundImage(std::uint32_t pixel, std::uint32_t image);

// A boundary pixel laid over the image word: the integrated channels (8.8, 65280 = 255) plus
// (image - 128) x (1 - coverage) each, rounded and clamped to 0..255, with the alpha byte.
std::uint32_t BoundaryOverBackgroundImage(const std::array<double, 3>& channels, double coverage,
                                          std::uint32_t alphaByte, std::uint32_t image);
