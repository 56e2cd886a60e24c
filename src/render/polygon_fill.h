#pragma once

// Scan conversion of a closed screen polygon into horizontal pixel runs, for the lasso. A
// pixel belongs to the polygon when its centre (x + 0.5, y + 0.5) lies inside it by the
// even-odd rule; the runs are clipped to an inclusive rectangle.
//
// The fill walks the rows with an active edge table: an edge is active on the rows whose
// centre lies in [lower y, upper y) of the edge, so a horizontal edge, or one that lies
// within the band of a single row, never is. The active edges are sorted by x and taken in
// pairs.
//
// The polygon and the working storage belong to the caller, so fills do not share state and
// a caller that fills many polygons reuses one scratch.

#include <cstdint>
#include <span>
#include <vector>

// A polygon vertex in pixel units.
struct PolygonPoint {
    double x = 0.0;
    double y = 0.0;
};

// The clip rectangle: least and greatest x and y, all inclusive.
struct PolygonClip {
    std::int32_t minX = 0;
    std::int32_t minY = 0;
    std::int32_t maxX = 0;
    std::int32_t maxY = 0;
};

// One entry of the active edge table: the edge's x at the current row's centre, its change
// of x per row, and the index of the vertex it starts from.
struct PolygonActiveEdge {
    double x = 0.0;
    double slope = 0.0;
    std::int32_t edge = 0;
};

// The working storage of a fill; its vectors keep their capacity between fills.
struct PolygonFillScratch {
    std::vector<std::int32_t> order;  // vertex indices by ascending y
    std::vector<PolygonActiveEdge> active;
};

// Receives the runs of a fill: row y, columns firstX..lastX inclusive.
class PolygonRunSink {
public:
    virtual void AddRun(std::int32_t y, std::int32_t firstX, std::int32_t lastX) = 0;

protected:
    ~PolygonRunSink() = default;
};

// Passes the runs of polygon (closed: the last vertex joins the first) within clip to sink,
// rows top to bottom and each row's runs left to right. A polygon with a coordinate that is
// not finite, or an empty clip, gives no run. Throws KVOutOfMemoryException when the scratch
// cannot grow; exceptions from the sink pass through.
void FillPolygon(std::span<const PolygonPoint> polygon, const PolygonClip& clip,
                 PolygonFillScratch& scratch, PolygonRunSink& sink);
