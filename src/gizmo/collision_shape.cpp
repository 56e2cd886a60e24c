#include "gizmo/collision_shape.h"

#include "geometry/part_octree.h"

#include <algorithm>
#include <cmath>

std::int32_t CollisionLevel(std::int32_t octreeLevel, double radius) {
    if (octreeLevel >= 0 && octreeLevel <= OctreeLevelLimit) return octreeLevel;
    const double span = 2.0 * radius * GridUnitsPerSceneUnit;
    if (!(span >= 1.0)) return 0;
    if (!std::isfinite(span)) return OctreeLevelLimit;
    return std::min(static_cast<std::int32_t>(std::floor(std::log2(span))), OctreeLevelLimit);
}

CollisionShape CollisionShapeOf(const PartRenderRecord& part) {
    CollisionShape shape;
    const std::span<const Matrix4W> all = part.Surfaces();
    const auto count =
        static_cast<std::size_t>(std::clamp(part.surfaceCount, 0, part.surfaceRoom));
    shape.surfaces = all.first(count);
    shape.curvedMask = static_cast<std::uint32_t>(part.shapeClass);
    if (part.features != nullptr) {
        shape.corners = FeatureTableCorners(*part.features);
        shape.edges = FeatureTableEdges(*part.features);
    }
    shape.boundQuadric = part.boundQuadric;
    shape.centre = part.boundCentre;
    shape.radius = part.boundRadius;
    shape.level = CollisionLevel(part.octreeLevel, part.boundRadius);
    return shape;
}
