#pragma once

// The part octree: a sparse octree over integer grid coordinates that tells, for a box of
// space, which parts may occupy it. The scene geometry keeps one over its parts; the surface
// table update enters changed parts, removing the last part takes it out, and the collision
// search of the gizmo asks it for the parts whose boxes overlap a box.
//
// Grid. One grid unit is 1/1024 of a scene unit. A part's grid box is the box of its bounding
// ellipsoid, minima floored and maxima floored plus one (exclusive), and a part is entered
// only when that box lies within +-2,097,088 scene units, so every grid coordinate fits in 32
// bits. Spans and the root's extent do not: the root may cover 2^32 units, so every sum and
// difference of coordinates is taken in 64 bits.
//
// Levels. A node of level l covers [x, x + 2^l) on each axis, x a multiple of 2^l. A part is
// entered at level L = floor(log2(largest span)) (at most 31), in every level-L cell its box
// touches: at most 3 per axis, since the span is below twice the cell size. The root, at
// -2^(D-1) on each axis with D above every part's level, holds no parts; it grows upward one
// level at a time when a part lies beyond it. A child is numbered 4 x (x bit) + 2 x (y bit) +
// (z bit) of its corner at the parent's level - 1, which at the root is the sign.
//
// Storage. Nodes and part links live in two private-heap arrays that grow by a fifth when
// full and reuse freed entries first; a part's links form a list per cell. Entering or
// removing a part touches only its cells and their paths from the root.

#include "core/matrix4.h"
#include "core/private_block.h"
#include "geometry/part_render_record.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>

// A box in grid units: x min, x max, y min, y max, z min, z max, each maximum exclusive.
using GridBox = std::array<std::int32_t, 6>;

// Grid units per scene unit.
inline constexpr double GridUnitsPerSceneUnit = 1024.0;
// The largest distance from the origin, in scene units, of a part the octree holds:
// 0x7FFF0000 / 1024.
inline constexpr double OctreeSceneLimit = 2097088.0;
// The highest level a part is entered at.
inline constexpr std::int32_t OctreeLevelLimit = 31;

// trunc(v) for v >= 0 and trunc(v) - 1 below, so that a negative whole number v gives v - 1
// (-2.0 gives -3). NaN gives INT32_MIN; v must lie within the int32 range otherwise.
std::int32_t GridFloor(double v);

// The grid box of a bounding quadric (a w-first form, negative inside): the box of the
// ellipsoid it bounds, from its centre -A^-1 b and half-extents sqrt(k adj(A)_ii / det A),
// k = b^T A^-1 b - c. Empty when the form is no ellipsoid (A not positive definite, k not
// positive, anything not a number) or the box reaches beyond +-OctreeSceneLimit.
std::optional<GridBox> GridBoxOfBound(const Matrix4W& boundQuadric);

// The octree level of a grid box: floor(log2) of its largest span (spans below 1 count as
// 1), at most OctreeLevelLimit.
std::int32_t GridBoxLevel(const GridBox& box);

// True when the boxes overlap: on every axis each minimum lies below the other's maximum.
bool GridBoxesOverlap(const GridBox& a, const GridBox& b);

class PartOctree {
public:
    // An empty tree: the root alone, of level -1. Throws KVOutOfMemoryException.
    PartOctree();

    PartOctree(const PartOctree&) = delete;
    PartOctree& operator=(const PartOctree&) = delete;

    // Empties the tree. The parts' records still name their old cells: whoever empties the
    // tree marks them not entered.
    void Clear();

    // Enters part (its index) with the box of record's bounding quadric, and writes the grid
    // box and level to the record. A part already entered at the same level in the same cells
    // keeps its links (only its box is written); one entered elsewhere is taken out first. A
    // part without a box (GridBoxOfBound) is taken out and marked NotInOctree. Throws
    // KVOutOfMemoryException before anything changes.
    void Enter(std::int32_t part, PartRenderRecord& record);

    // Takes part out of the cells its record names, frees the cells left empty and marks the
    // record NotInOctree. A record not entered is left as it is.
    void Remove(std::int32_t part, PartRenderRecord& record);

    // The parts whose grid boxes overlap box, each once, in the order of a depth-first walk
    // (children 0 to 7 before their parent) from the smallest node that holds the box, then
    // that node's ancestors. parts[i] is part i's record, marks one zeroed byte per part
    // (zeroed again before the return). The list is the tree's own, valid until the next
    // query. Throws KVOutOfMemoryException when the list cannot grow.
    std::span<const std::int32_t> Query(const GridBox& box, const PartRenderRecord* const* parts,
                                        std::uint8_t* marks);

    // The list of the last query; the collision search keeps its colliding parts at its
    // front and then shortens it (ShortenLastQuery, to at most its length).
    std::span<std::int32_t> LastQuery() { return {result.get(), static_cast<std::size_t>(resultCount)}; }
    void ShortenLastQuery(std::int32_t count);

    // The root's level: -1 while the tree is empty.
    std::int32_t RootLevel() const;
    // Nodes in the tree, the root included.
    std::int32_t NodeCount() const { return liveNodes; }
    // Part links in the tree: one per part and cell.
    std::int32_t LinkCount() const { return liveLinks; }

private:
    struct Node {            // 56 bytes
        std::int32_t x = 0;  // the lowest corner, grid units
        std::int32_t y = 0;
        std::int32_t z = 0;
        std::int32_t level = -1;
        std::int32_t head = -1;    // first link of the parts entered in this cell
        std::int32_t parent = -1;  // the parent node; in a free node, the next free node
        std::array<std::int32_t, 8> children{-1, -1, -1, -1, -1, -1, -1, -1};
    };
    struct Link {
        std::int32_t part = 0;
        std::int32_t next = -1;  // next link of the cell, or of the free list
    };

    void Reserve(std::int32_t nodes, std::int32_t links);
    std::int32_t NewNode(std::int64_t x, std::int64_t y, std::int64_t z, std::int32_t level,
                         std::int32_t parent);
    void FreeNode(std::int32_t node);
    void GrowRoot(std::int32_t level);
    std::int32_t FindCell(const std::array<std::int64_t, 3>& cell, std::int32_t level, bool create);
    void TakeParts(std::int32_t node, const GridBox& box, const PartRenderRecord* const* parts,
                   std::uint8_t* marks);

    PrivateBlockPtr<Node> nodes;
    PrivateBlockPtr<Link> links;
    PrivateBlockPtr<std::int32_t> result;
    std::int32_t nodeCapacity = 0;
    std::int32_t nodesUsed = 0;  // entries of nodes ever handed out
    std::int32_t freeNode = -1;
    std::int32_t liveNodes = 0;
    std::int32_t linkCapacity = 0;
    std::int32_t linksUsed = 0;
    std::int32_t freeLink = -1;
    std::int32_t liveLinks = 0;
    std::int32_t resultCapacity = 0;
    std::int32_t resultCount = 0;
};
