#pragma once

// Composition of an overlay view's picture (the manipulator handles) over its main view's
// picture. The overlay is drawn with the main view's camera, so their sample cells line up:
// where a handle lies behind the main scene's surface it is drawn faded instead of hidden,
// so a handle can always be found.
//
// Weights are integers: the layer's alpha a (0..255) times a depth factor f (0..255) gives
// t = a f of 65025, and each channel out = ((65025 - t) background + t layer) >> 16, a shift
// in place of a division by 65025 (an opaque layer pixel of 255 comes out as 253).

#include "render/q_render.h"
#include "view/q_off_bits.h"

#include <cstdint>

// The smallest rectangle holding a and b; a when b is empty, b when a is.
FrameRect FrameRectUnion(const FrameRect& a, const FrameRect& b);

// Writes into destination (destinationStride words a row) the layer renderer's target
// pixels (layerRowLength words a row) over the background renderer's (backgroundStride words
// a row) within the union of a and b, every written pixel opaque. The layer pixel's alpha
// counts as 255 when layerOpaque. Depth factor: 0 where the layer has no surface; 255 where
// the layer's surface is in front of the background's or the background has none; behind
// it, 128 for a part index of 48 or more (the axis arrows), 100 below (the light handles).
// Returns the union. The rectangle is held to both renderers' render sizes, so nothing is
// read or written outside them; a renderer without a target composes nothing.
FrameRect CompositeOverlayRect(std::uint32_t* destination, std::int32_t destinationStride,
                               const QRender& background, std::int32_t backgroundStride,
                               const QRender& layer, bool layerOpaque, const FrameRect& a,
                               const FrameRect& b, std::int32_t layerRowLength);
