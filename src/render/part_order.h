#pragma once

// The order and screen bounds of the parts for a casting pass.
//
// Key: the depth word of the nearest point of a part's bounding ellipsoid, so that a pass can
// draw the parts nearest first and skip the pixels where something nearer than the whole part
// is already stored. Depth words here are depthScale / t for the ray p = t (X, Y, focal),
// that is depthScale x focal / z at view depth z.
//
// Silhouette: the rays through (X, Y, focal) that meet a quadric Q are those where
// K(X, Y) = a c - b^2 <= 0 (a, b, c the ray's quadratic, see cast_frame_pass.h); K is a conic
// in the image plane. For a bounding ellipsoid in front of the eye it is an ellipse, whose
// tangents bound the part's rows and columns and whose roots on a row bound the part's span.

#include "render/render_parts.h"

#include <cstdint>
#include <span>

// The image-plane conic K = kxx X^2 + 2 kxy X Y + kyy Y^2 + 2 kx X + 2 ky Y + k0 of a quadric,
// and the linear form b = e1 X + e2 Y + e3 focal whose sign tells whether the point where a
// ray touches the quadric lies in front of the eye (negative) or behind it.
struct SilhouetteConic {
    double kxx = 0.0;
    double kxy = 0.0;
    double kyy = 0.0;
    double kx = 0.0;
    double ky = 0.0;
    double k0 = 0.0;
    double frontX = 0.0;  // e1
    double frontY = 0.0;  // e2
    double frontZ = 0.0;  // e3 x focal
};

// What the bounding conic says about a part.
enum class SilhouetteKind {
    Unbounded,  // not an ellipse in front of the eye: the clip rectangle and full rows
    Ellipse,    // an ellipse: rows and columns are narrowed to it
    Hidden,     // no real point, or wholly behind the eye: nothing to draw
};

// One part's place in a sort: 8 bytes.
struct PartKeyPair {
    std::int32_t index = 0;
    std::int32_t key = 0;
};

// The silhouette conic of the view-space quadric q for the given focal length.
SilhouetteConic SilhouetteOf(const Matrix4W& q, double focal);

// Classifies the conic of bound (a view-space quadric): Hidden when it is an ellipse with no
// real point or whose quadric lies behind the eye; Ellipse for another ellipse of a bound whose
// quadratic block is positive definite; Unbounded otherwise (the eye inside or beside the
// bound, or a bound that is no ellipsoid).
SilhouetteKind SilhouetteKindOf(const SilhouetteConic& conic, const Matrix4W& bound);

// Fills every part's key for the depth scale and focal length: trunc(depthScale / d) with d the
// ray parameter (view depth / focal) of the bound's nearest point; 0x7FFFFFFF when that point
// is at or behind the eye or too near for the integer range, or the bound is no ellipsoid;
// 0 when the bound has no real point.
void ComputePartKeys(RenderParts& parts, double depthScale, double focal);

// Fills order with the part indices, largest key (nearest) first, by a comb sort of (index,
// key) pairs in index order: the gap shrinks as (gap x 10 + 3) / 13 from the count, pairs a
// gap apart swap when the first key is smaller, and the sort ends after a pass with gap 1
// that swapped nothing. Equal keys may change places, exactly as this sort moves them.
// scratch and order hold at least the part count.
void SortPartsByKey(const RenderParts& parts, std::span<std::int32_t> order,
                    std::span<PartKeyPair> scratch);

// Narrows the integer pixel range [low, high) along one image axis to the extent of the
// conic's region K <= 0, counting only tangent points in front of the eye: alongY false bounds
// the columns (X), true the rows (Y); centre is the projection centre on that axis. A tangent
// past the other end empties the range (low = high). Bounds are rounded half away from zero.
void ClipSpanToConic(std::int32_t& low, std::int32_t& high, const SilhouetteConic& conic,
                     bool alongY, double centre);

// Narrows the span [xl, xh) of row Y (a pixel-centre coordinate, y - centreY + 0.5) to the
// conic's region K <= 0 on that row, counting only roots in front of the eye; centreX is the
// projection centre in x. False when no root in front of the eye bounded the row: the span is
// then left as it was.
bool ClipRowToConic(std::int32_t& xl, std::int32_t& xh, const SilhouetteConic& conic, double y,
                    double centreX);
