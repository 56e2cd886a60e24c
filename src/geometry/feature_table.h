#pragma once

// A part's feature table: its corners and edges, which the shape builders fill for the
// collision narrow phase of the gizmo simulation. One private-heap block per part, owned by
// the part's render record, rewritten or grown in place by the builders:
//
//   FeatureTable head (16 bytes)
//   cornerCount corners   (Vec3, part coordinates)
//   edgeCount edges       (FeatureEdge)
//   groupCount groups     (FeatureGroup), groups of one surface, ascending by surface
//
// Every edge of the part is listed once, in the group of the higher-numbered of its two
// surfaces. A table with no groups has not been filled yet: the builders whose table does not
// depend on the part's dimensions fill it only then and keep it across rebuilds.

#include "core/matrix4.h"
#include "core/vec3.h"

#include <array>
#include <cstdint>
#include <span>

// How two surfaces meet along an edge.
enum class FeatureCurve : std::int32_t {
    TwoCurved = -1,     // two curved surfaces meet in a curve lying in FeatureEdge::plane
    PlaneCurved = 0,    // a plane meets a curved surface in a conic
    CurvedPlane = 1,    // a curved surface meets a plane
    TwoPlanes = 2,      // two planes meet in a straight line
    FrustumTopRim = 3,  // the top plane of the rounded frustum meets its cone
};

struct FeatureEdge {                // 48 bytes
    std::int32_t surface = 0;       // the group's surface
    std::int32_t otherSurface = 0;  // the lower-numbered surface it meets
    FeatureCurve curve = FeatureCurve::PlaneCurved;
    std::int32_t reserved = 0;  // non-zero: the collision search passes the edge over
    // TwoCurved only: the plane of the curve, a0 + a1 x + a2 y + a3 z = 0 with a0 = -1.
    std::array<double, 4> plane{};
};
static_assert(sizeof(FeatureEdge) == 48);

struct FeatureGroup {  // 12 bytes
    std::int32_t surface = 0;
    std::int32_t firstEdge = 0;  // index into the table's edges
    std::int32_t edgeCount = 0;
};

struct FeatureTable {                               // 16 bytes, the head of its block
    std::uint32_t byteSize = sizeof(FeatureTable);  // the whole block
    std::int32_t cornerCount = 0;
    std::int32_t edgeCount = 0;
    std::int32_t groupCount = 0;
};
static_assert(sizeof(FeatureTable) == 16);

// The byte size of a table of these counts; counts must not be negative.
std::uint64_t FeatureTableBytes(std::int32_t cornerCount, std::int32_t edgeCount,
                                std::int32_t groupCount);

// A new empty table (no corners, edges or groups) on the private heap; throws
// KVOutOfMemoryException.
FeatureTable* FeatureTableAllocEmpty();

// Resizes the table behind table to the given counts, reallocating its block when its size
// changes, and zeroes every corner, edge and group: the caller then writes them all. A null
// table is allocated. Throws KVOutOfMemoryException and leaves the old table as it was when
// the heap refuses.
void FeatureTableResize(FeatureTable*& table, std::int32_t cornerCount, std::int32_t edgeCount,
                        std::int32_t groupCount);

// Rewrites the table behind table (allocating a null one) with the corners and edges given:
// the edges must come in ascending order of their surface, and each run of one surface becomes
// a group. Throws KVOutOfMemoryException as FeatureTableResize does.
void FeatureTableFill(FeatureTable*& table, std::span<const Vec3> corners,
                      std::span<const FeatureEdge> edges);

// Carries a table written in part coordinates into world coordinates: every corner through
// worldFromLocal, and the plane of every curved-curved edge through localFromWorld (as a row
// form, kept with its constant -1 where the plane misses the origin).
void FeatureTableCarry(FeatureTable& table, const Matrix4W& worldFromLocal,
                       const Matrix4W& localFromWorld);

// True when every corner and edge plane of the table is finite.
bool FeatureTableIsFinite(const FeatureTable& table);

// Frees the table (null is ignored) and clears the pointer.
void FeatureTableFree(FeatureTable*& table);

// The three arrays of a table.
std::span<Vec3> FeatureTableCorners(FeatureTable& table);
std::span<FeatureEdge> FeatureTableEdges(FeatureTable& table);
std::span<FeatureGroup> FeatureTableGroups(FeatureTable& table);
std::span<const Vec3> FeatureTableCorners(const FeatureTable& table);
std::span<const FeatureEdge> FeatureTableEdges(const FeatureTable& table);
std::span<const FeatureGroup> FeatureTableGroups(const FeatureTable& table);

// True once a builder has filled the table (it has groups).
inline bool FeatureTableIsFilled(const FeatureTable& table) { return table.groupCount != 0; }
