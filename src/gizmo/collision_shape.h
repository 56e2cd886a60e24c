#pragma once

// The view of a part that the collision tests read: its solid (the surfaces, negative inside,
// and which of them are curved), its corners and edges from the feature table, its bounding
// ellipsoid and sphere, and its octree level, which sets the length scale of the conic
// algebra. A view borrows from the part's record; the record must outlive it. The distance
// search (collision_drivers.h) builds a probe view that belongs to no record.

#include "core/matrix4.h"
#include "core/vec3.h"
#include "geometry/feature_table.h"
#include "geometry/part_render_record.h"

#include <cstdint>
#include <span>

struct CollisionShape {
    std::span<const Matrix4W> surfaces;  // world coordinates, negative inside
    std::uint32_t curvedMask = 0;        // bit i set: surface i is curved, clear: a plane
    std::span<const Vec3> corners;       // world coordinates
    std::span<const FeatureEdge> edges;  // in the table's order: by surface, ascending
    Matrix4W boundQuadric;               // an ellipsoid holding the part, negative inside
    Vec3 centre;                         // bounding sphere
    double radius = 0.0;
    std::int32_t level = 0;  // octree level, 0..31 (see CollisionLevel)
};

// The view of a built part. A part outside the octree gets a level from its bounding radius,
// so the stages always work at a sensible length scale.
CollisionShape CollisionShapeOf(const PartRenderRecord& part);

// The part's octree level when it is entered (0..31); otherwise floor(log2) of its bounding
// diameter in grid units, held to 0..31 (0 for a radius that is not a positive number).
std::int32_t CollisionLevel(std::int32_t octreeLevel, double radius);

inline bool CollisionShapeHasEdges(const CollisionShape& shape) { return !shape.edges.empty(); }
inline bool CollisionShapeHasCorners(const CollisionShape& shape) {
    return !shape.corners.empty();
}
