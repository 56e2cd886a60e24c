#pragma once

// The frame's casting pass: for every pixel of a region, the nearest point where the ray from
// the eye through the pixel centre enters a visible part, and through which surface. The pass
// writes the hit's id, depth word and light bits into the sample cells.
//
// Casting. View space has the eye at the origin looking along +z; pixel (x, y) is the ray
// p = t (X, Y, focal) with X = x - centreX + 0.5, Y = y - centreY + 0.5. A surface form S
// gives along it a t^2 + 2 b t + c with c = e0, b = e1 X + e2 Y + e3 focal and
// a = (X, Y, focal) A (X, Y, focal)^T; it is crossed at t = (-b +- sqrt(b^2 - a c)) / a, whose
// inverses are a / q and q / c with q = -(b + sign(b) sqrt(b^2 - a c)), free of cancellation.
// A plane (marker in element 15) is crossed once, at 1/t = -2 b / c. A crossing becomes the
// depth word depthScale / t.
//
// A part is the intersection of the insides (form <= 0) of its surfaces. The crossings of a
// ray are sorted nearest first and walked from the eye: each toggles whether the ray is
// outside its surface, starting from whether the eye is (c >= 0); the first crossing after
// which the ray is inside every surface is the hit, id (part index + 1) x 32 + surface.
//
// Parts are drawn one at a time, row by row over the region's runs, within the rows and the
// span of each row that the part's bounding ellipsoid covers. Without a part list the parts go
// nearest first (part keys), and pixels where the stored depth is already at least the part's
// key are skipped at both ends of a run.
//
// Hit acceptance: a hit wins a cell when its depth word is strictly larger (nearer), except
// between coincident surfaces of one surface group (equal non-zero entries of the slot table),
// where the lower id wins whatever the depths. With two samples per pixel the two nearest hits
// are kept: a hit that beats the last plane is compared with plane 0 and either takes plane 0
// (which moves to the last plane) or the last plane. The thin-part mark of plane 0's word
// (PixelSmallPartChain, small_parts.h) stays in plane 0 whichever hit lands there.
//
// Light bits: for light i the bits 0x80008000 >> i are set where the hit point faces the light,
// (point - light position) . gradient <= 0.
//
// Results: CastDone (0); CastEyeInside (1), the eye lies inside a visible part (every surface
// contains it) and no further part is drawn; CastDepthOverflow (2), a ray enters a part in front
// of the eye so near that its depth word does not fit 31 bits (nearer crossings that are no
// entry do not count): the caller halves the depth scale and the
// stored depth words and runs the pass again. After every row of every part the pass polls
// for the user (RenderPollAfterRow), which may throw UserAbortRender.

#include "render/q_render.h"
#include "render/span_region.h"

#include <cstdint>

inline constexpr std::int32_t CastDone = 0;
inline constexpr std::int32_t CastEyeInside = 1;
inline constexpr std::int32_t CastDepthOverflow = 2;
// RenderCastFrame drew nothing: the buffers are not sized, or the render size does not fit
// them or is below 8.
inline constexpr std::int32_t CastNotSized = -1;

// Depth overflows a frame is cast again for before it gives up.
inline constexpr std::int32_t CastMaxReruns = 64;

// Casts the parts into sample buffer buffer (0, the working frame, or a backup 1..3) over
// the region (in the current level's pixels; cells outside the bordered frame are left alone),
// with the current level's focal length and size and the renderer's depth scale.
//
// partList: null for every part, nearest first; else a count-prefixed list of part indices:
// without complement those parts in list order, drawn over what the cells hold; with complement
// every other part in index order. Without a list, or with complement, the region's cells are
// cleared first in every sample plane. Parts that are not visible or have no surfaces are
// skipped. The buffers must be sized (BuffersReady) and the buffer allocated.
std::int32_t CastFramePass(QRender& render, const SpanRegion& region,
                           const std::int32_t* partList, bool complement, std::int32_t buffer,
                           double centreX, double centreY);

// The casting steps of a full frame render: builds the level table, sets the depth scale from
// the configured depth constant, makes the selection region the bordered frame and the change
// region the frame, and casts every part into sample buffer 0. A depth overflow halves the
// depth constant and the stored depth words and casts again, at most CastMaxReruns times
// (then CastDepthOverflow is returned and the cells hold the last attempt). With the eye inside
// a visible part the current level's output (the target at level 0, when there is one) is
// filled with opaque black. Returns the pass's result, or CastNotSized with nothing drawn.
// UserAbortRender from the poll passes through.
std::int32_t RenderCastFrame(QRender& render);
