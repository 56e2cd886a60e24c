#pragma once

// Boundary pixels. Where the visible surface changes inside a pixel's footprint, the point
// sample of the casting pass is replaced by an integral over the footprint: the boundaries
// that pass near the pixel are approximated by straight lines (BuildEdgeCurves), and the
// pixel is integrated along one axis through its centre (IntegrateEdgePixel): the lines cut
// the axis into pieces, an exact ray probe at each piece's midpoint finds the surface seen
// there, each piece is shaded once and weighted by the smooth kernel 0.75 (1 - t^2) over the
// filter radius 0.9 pixel. Its coverage becomes the pixel's alpha.
//
// Boundaries. Along the ray (X, Y, 1) a plane's inverse depth is w = -c . (X, Y, 1) with
// c = 2 (q1, q2, q3) / q0, a quadric's w = -c . (X, Y, 1) +- sqrt(s) with c = (q1, q2, q3) / q0
// and s the conic c c^T - Q / q0 over (X, Y, 1). A quadric's silhouette is s = 0; two planes
// meet on L = 0 with L = (c_i - c_j) . (X, Y, 1); a plane and a quadric on s - L^2 = 0; two
// quadrics on V^2 - L^2 (2S - L^2) = 0 (S = s_i + s_j, V = s_i - s_j), split into the two
// conics V -+ L sqrt(2S - L^2) where that root stays positive across the footprint. Each is
// expanded to second order about the pixel and its part near the pixel reduced to one line,
// or two where it bends more than a line can follow. A line is kept only where the boundary
// is seen: the boundary point nearest the pixel centre lies within its parts and no other
// candidate part covers it.
//
// The outline draw styles (any non-zero style) draw bands of the outline width along the
// boundaries between different surfaces, centred on each crossing.

#include "render/span_region.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class QRender;
struct SampleCell;

// The kernel's filter radius in pixels.
inline constexpr double EdgeFilterRadius = 0.9;

// What the pixel pass and the outlines read besides the shade settings.
struct EdgeSettings {
    // Off: no pixel is refined, every pixel is point sampled as cast.
    bool isRefined = false;
    double outlineWidth = 1.0;        // pixels
    std::uint32_t outlineColour = 0;  // 0x00RRGGBB
};

// One straight approximation of a boundary near one pixel, in pixels about the pixel centre:
// a x + b y = d, (a, b) a unit normal.
struct EdgeLine {
    double depth = 0.0;     // camera depth of the boundary point nearest the pixel centre
    double distance = 0.0;  // |d|
    double a = 0.0;
    double b = 0.0;
    double d = 0.0;
    std::int32_t count = 0;  // in a pixel's first record: how many records the pixel stored
    std::int32_t kind = 0;   // 0 surface boundary, 1 shadow boundary
    std::uint32_t surfaceA = 0;
    std::uint32_t surfaceB = 0;
};

// One surface of a candidate part with its inverse-depth terms (see above).
struct SurfaceCandidate {
    std::int32_t part = 0;
    std::int32_t surface = 0;
    std::uint32_t id = 0;
    std::uint16_t group = 0;
    bool isPlane = false;
    double q0 = 0.0;
    std::array<double, 3> centre{};  // c
    std::array<double, 6> conic{};   // s: xx, xy, yy, x1, y1, 11
};

// One piece of the integration axis: what the probe at its midpoint saw.
struct EdgePiece {
    double lo = 0.0;
    double hi = 0.0;
    std::uint32_t id = 0;  // 0 background, 0x80000000 an outline band
    double depth = 1e100;
};

// One patch of a footprint integrated along two axes: its weight, the normalised point it is
// shaded at and what the probe saw there.
struct EdgePatch {
    double weight = 0.0;
    double x = 0.0;
    double y = 0.0;
    EdgePiece piece;
};

struct EdgeCrossing {
    double t = 0.0;
    double depth = 0.0;
    std::int32_t kind = 0;
};

// The arrays of the pixel pass, kept by the renderer from pixel to pixel and frame to frame;
// they only grow.
struct EdgeScratch {
    std::vector<SurfaceCandidate> candidates;
    std::vector<EdgeLine> lines;        // the current pixel's lines
    std::vector<EdgeLine> sharedLines;  // outline styles: every boundary pixel's lines
    std::vector<EdgeCrossing> crossings;
    std::vector<EdgePiece> pieces;
    std::vector<EdgePiece> outlinePieces;
    std::vector<EdgePatch> patches;  // a footprint where shadow edges meet
    std::vector<std::array<double, 2>> corners;  // where outline bands meet, in such a footprint
    std::vector<double> cuts;
    std::vector<double> bandEnds;
    std::vector<std::int32_t> candidateParts;
    std::vector<std::int32_t> shadowParts;  // the parts a light map shows near a pixel
    // The layer sums of the pixel being integrated: the base, then each shadow light.
    std::array<std::array<double, 3>, 17> layerSums{};
    // The current pass's targets: the shadow tests read the lights' backup A maps (a pass over
    // a backup's cells), and a pixel's layer words lie layerPlaneWords apart.
    bool useBackupMaps = false;
    std::size_t layerPlaneWords = 0;
    // The pixel pass's working region (its pass region, grown for outlines) and the scratch
    // of the growing; made by the first pass.
    std::optional<SpanRegion> workingRegion;
    std::optional<SpanRegion> growRegion;
};

// The kernel's integral: W(t) = (0.75 - 0.25 t^2) t for t in [-1, 1], held to +-0.5 outside.
// The weight of [lo, hi] (pixels) is W(hi / 0.9) - W(lo / 0.9).
double EdgeKernelIntegral(double t);
double EdgeKernelWeight(double lo, double hi);

// One straight line of a conic near the pixel centre, a x + b y = d.
struct EdgeLineFit {
    double a = 0.0;
    double b = 0.0;
    double d = 0.0;
};

// Reduces the conic A x^2 + 2B x y + C y^2 + 2D x + 2E y + G = 0 (pixels about the pixel
// centre) to at most two lines within radius r of the centre; returns how many it wrote.
std::int32_t ReduceConicToLines(double A, double B, double C, double D, double E, double G,
                                double r, EdgeLineFit out[2]);

// Fills scratch.candidates with every surface of the parts and appends to scratch.lines the
// visible boundaries among them near the normalised point (x, y) of the current level.
void BuildEdgeCurves(const QRender& render, EdgeScratch& scratch,
                     std::span<const std::int32_t> parts, double x, double y);

// The inverse-depth change per pixel, in depth-word units, of the surface cell shows, at the
// normalised point (x, y), along x and along y (truncated); both 0 when the cell shows none.
void SurfaceDepthSlopes(const QRender& render, const SampleCell& cell, double x, double y,
                        std::int32_t& slopeX, std::int32_t& slopeY);

// Appends to scratch.lines the shadow boundaries (kind 1) near the pixel at normalised point
// (x, y) whose cell shows a surface, for each shadow light whose lit bit (0x80000000 >> i) is
// in lightBits and that the surface faces: the surface point is carried onto the light's map
// (the working map, or backup A with scratch.useBackupMaps), the boundaries among the parts
// the map names around it (as the shadow test reads a cell: the ids of its samples, the
// further ids behind them and its chained thin parts) are found in the light's space and
// carried back to the screen by
// the map's local transform, and the map's borders near the point are added (past them
// every point is lit). Throws KVOutOfMemoryException.
void BuildShadowEdgeCurves(const QRender& render, EdgeScratch& scratch, std::uint32_t lightBits,
                           const SampleCell& cell, double x, double y);

// True when a shadow edge and another edge that is not parallel to it, a shadow edge or a
// surface boundary, both cross the footprint (lines nearer the pixel centre than the filter
// radius; a surface boundary nearer than boundaryReach, which for outlines takes in the band
// about it): one axis of integration cannot follow where they meet.
bool ShadowEdgesMeet(std::span<const EdgeLine> lines, double boundaryReach = EdgeFilterRadius);

// Integrates the pixel at normalised point (x, y) (pixel column and row given for the
// background's stars) over its footprint from scratch.lines, probing the parts, and writes the
// pixel word to *out. Where a shadow edge meets another edge or, shaded with outlines, the
// outline band about a surface boundary (ShadowEdgesMeet) the footprint is integrated along two
// axes: cut in strips across the first axis, each strip cut again along its own length by the
// lines (and the bands' edges), every patch probed for its surface and shaded at its middle (or
// drawn in the outline colour within half the outline width of a boundary between surfaces) and
// weighted by the kernel's share of it (the disc kernel sqrt(1 - (r / 0.9)^2), whose profile
// across any line is the one-axis kernel); the flat styles show no shadows and keep one axis.
// cells is the frame's sample buffer (current level, with its border) whose light masks the
// surfaces seen take without shadows; with shadows each piece is tested against the lights at its
// own point. With layerOut, the pixel's light layers are written too: the weighted sums of the
// pieces' base words at layerOut[0] and of shadow light i's words at
// layerOut[scratch.layerPlaneWords x (i + 1)] (an outline band and the background take their colour
// as base and change with no light). In the background-image mode the pixel is laid over the image
// by its coverage (background_shade.h). Returns true when it wrote the pixel.
bool IntegrateEdgePixel(QRender& render, EdgeScratch& scratch, std::span<const std::int32_t> parts,
                        const SampleCell* cells, std::uint32_t* out, double x, double y,
                        std::int32_t column, std::int32_t row, std::uint32_t* layerOut = nullptr);
