#pragma once

// Shadow light maps: one id map per shadow light. The scene is seen from the light onto one
// face of a cube around it, the face that looks towards the shadow centre; each map cell keeps
// which surface the light sees through the cell's centre (a PixelWord id) and its depth word.
// A point is lit when the map says that its own surface is what the light sees there, or, near
// id boundaries, when an exact ray from the light meets nothing nearer than the point.
//
// The face. With d = light - shadow centre, the depth axis is the largest component of d (ties
// go to x, then y) and the face looks against it; axis codes 0..5 name z-, z+, x-, x+, y-, y+
// by the sign of d's component. In the light's space the face looks along +z, so a light-space
// point (x, y, z) lies at u = x / z, v = y / z with depth z.
//
// The map's window. Seen from the light, the shadow sphere spans slopes [lower, upper] along
// each face axis (LightFrustumSlopes); the larger span fills the map's N - 1 cells, and the
// window is centred on the light's view axis: cell column = floor(s u + ou) with
// ou = (N - 1) / 2 - s (lower + upper) / 2, likewise the row. Cells are cast through their
// centres, so the map is the camera casting pass with focal length s and centre (ou, ov).
//
// Flat cells. A cell whose right, lower and lower-right neighbours show the same id is marked
// flat (LightMapFlat): a point there is lit exactly when its own id is that id, one read. The
// shadow test reads the 2x2 block whose cell centres surround the point, the block at cell
// floor(s u + ou - 1/2), floor(s v + ov - 1/2); a block that leaves the map answers lit.

#include "render/q_render.h"
#include "render/span_region.h"

#include <cstdint>
#include <span>

// LightMapCell id bits besides the id: flat, and empty.
inline constexpr std::uint32_t LightMapFlat = 0x40000000u;

// The nearest hit of a ray probe: depth along the light's z and the id; id 0 means none yet.
struct LightProbeHit {
    double depth = 1e100;
    std::uint32_t id = 0;
};

// The slopes, seen from a light at distance a along an axis and offset b across it, of the
// two tangents to a sphere of radius r: true with upper = (t + s) / (1 - s t) and lower =
// (s - t) / (1 + s t), s = -b / a, t = r / sqrt(a^2 + b^2 - r^2), while the half-cone stays
// below about 75 degrees; otherwise false with upper = (r - b) / a and lower = -(b + r) / a.
bool LightFrustumSlopes(double a, double b, double r, double& upper, double& lower);

// Sets up shadow light light's view of the renderer's shadow sphere (axis code, lightFromView,
// mapU, mapV, mapScale, mapDepthScale) for the current map side, and carries every part into
// the light's space (lightParts). A degenerate view (the light at the centre) clears
// hasMapView. Throws KVOutOfMemoryException.
void SetupLightView(QRender& render, std::int32_t light);

// Carries the listed parts (count-prefixed part indices; null for every part) into light's
// space with the view SetupLightView made. Throws KVOutOfMemoryException.
void TransformPartsToLight(QRender& render, std::int32_t light, const std::int32_t* partList);

// Intersects the ray t (u, v, 1), t > 0, from the light with one part (light-space surfaces,
// the intersection of their insides, form <= 0) and keeps the hit in nearest when nearest is
// empty, when it is strictly nearer, or, between coincident surfaces of one surface group
// (equal non-zero groups[id]), when its id is lower. groups may be null.
void LightProbeRay(std::span<const Matrix4W> surfaces, std::int32_t partIndex, double u, double v,
                   LightProbeHit& nearest, const std::uint16_t* groups, std::size_t groupCount);

// Casts the light's parts into its working map over the region's cells (map rows and
// columns, clipped to the map). partList null: the region is cleared and every visible part
// is drawn; a list without complement: the listed parts are drawn over what the cells hold;
// with complement: the region is cleared and every visible part except the listed ones is
// drawn. A hit nearer than the light's depth scale can hold in 31 bits halves the scale
// (mapDepthScale) and every depth word of the light's maps, working and backups, and the cast
// runs again, as often as needed (up to 32 times; then such hits are held to 31 bits).
// Returns CastDone, or CastEyeInside when the light lies inside a visible part (every
// surface contains it; no further part is drawn). Polls for the user after every row
// (UserAbortRender passes).
std::int32_t CastLightMapPass(QRender& render, std::int32_t light, const SpanRegion& region,
                              const std::int32_t* partList, bool complement);

// Clears the flat mark of every cell of the region (clipped to the side x side map).
void ClearFlatMarks(std::int32_t side, const SpanRegion& region, LightMapCell* map);

// Marks flat every cell of the region (clipped to the map without its last row and column)
// whose right, lower and lower-right neighbours have its id.
void MarkFlatLightCells(std::int32_t side, const SpanRegion& region, LightMapCell* map);

// Two samples per pixel. The map then keeps the two nearest hits of each cell (the second
// one map further on), and beside each hit, in the light's 4-byte planes (idPlane), the
// depth slope of its 8x8 tile: one more than the largest change of the depth word between two
// neighbouring cells of one surface in that sample plane (TileSlope), 0 for an empty cell,
// LightSlopeUnusable for a change of 2^30 or more (two of them must add up in 31 bits). A block is
// then flat only where its surface stays in front of the second hits by more than both slopes (the
// point cannot lie on the surface behind), and the shadow test probes the second hits' parts as
// well.
inline constexpr std::int32_t LightTileSide = 8;
inline constexpr std::uint32_t LightSlopeUnusable = 0x80000000u;

// True when light's map keeps two samples (the renderer's samples per pixel are two or more
// and the planes exist).
bool IsTwoSampleMap(const QRender& render, const RenderLightSlot& slot);

// The largest change of the depth word between a cell of tile (tileX, tileY) and its right or
// lower neighbour (one past the tile included) showing the same surface, in one sample plane.
std::uint32_t TileSlope(const LightMapCell* plane, std::int32_t side, std::int32_t tileX,
                        std::int32_t tileY);

// Fills both sample planes' slope values of every cell of the tiles that meet cells.
void FillTileSlopes(std::int32_t side, const RegionRect& cells, const LightMapCell* map,
                    std::uint32_t* planes);

// Two samples: marks flat every cell of the region (clipped to the map without its last row
// and column) whose 2x2 block shows one surface first, with usable slopes in both planes, and
// whose first depth exceeds the second by at least the block's largest first slope plus its
// largest second slope, in each of the four cells.
void MarkFlatLightCellsByDepth(std::int32_t side, const SpanRegion& region, LightMapCell* map,
                               const std::uint32_t* planes);

// Marks flat the region's cells of map (the working map or a backup of light's, with its
// slope planes) by the rule of the light's samples.
void MarkLightMapFlat(const QRender& render, const RenderLightSlot& slot, LightMapCell* map,
                      std::uint32_t* planes, const SpanRegion& region);

// Thin parts (small_parts.h) are marked in the light maps with two samples and the pixel
// pass on; the shadow test then also probes up to LightChainedParts parts chained at each
// cell of its block (the working map's chains, or backup A's for a test of the backup, which
// complement renders mark again for the background), and no block with a marked cell is flat.
inline constexpr std::int32_t LightChainedParts = 16;
bool IsMarkingSmallPartsInLightMaps(const QRender& render, const RenderLightSlot& slot);

// Clears the flat mark of every block of map that holds a cell marked in light's chains.
void ClearFlatAroundSmallParts(const QRender& render, const RenderLightSlot& slot,
                               LightMapCell* map);

// The map cell whose 2x2 block the shadow test of the point pointMinusLight (view-space point
// minus the light's position) reads, with the point's u, v and depth in the light's space; -1
// when the point lies behind the face, off the map (its last row and column included) or the
// light has no map view.
std::int32_t ShadowTestCell(const QRender& render, std::int32_t light, const Vec3& pointMinusLight,
                            double& u, double& v, double& depth);

// The shadow test: true when the point pointMinusLight (view-space point minus the light's
// position) of the surface id is lit by shadow light light, reading its working map or, with
// useBackup, its backup A. A point behind the face, outside the map (its last row and column
// included) or without a map is lit. Sets cell to the map cell read, or -1 when none was.
bool IsLitByLight(const QRender& render, std::uint32_t id, std::int32_t light, bool useBackup,
                  const Vec3& pointMinusLight, std::int32_t& cell);

// The light maps of a whole frame: for each shadow light its view, the whole map cast (zeroed
// when the light lies inside a visible part) and marked flat; the light's region becomes the
// whole map. Nothing without shadows. Throws KVOutOfMemoryException; UserAbortRender passes.
void RenderLightMaps(QRender& render);

// True when the renderer draws shadows: shadows on, no flat preview, at least one shadow
// light and its map allocated.
bool ShadowsActive(const QRender& render);
