#pragma once

// Scenes for the collision tests and benchmarks: parts built by the shape builders into one
// scene geometry and entered in its octree, and the independent checks the tests compare the
// collision code with.

#include "core/vec3.h"
#include "geometry/part_render_record.h"
#include "geometry/part_shape_build.h"
#include "geometry/scene_geometry.h"
#include "geometry/shape_surface_count.h"
#include "geometry/shape_type.h"
#include "geometry/working_part_record.h"

#include <cstdint>
#include <span>
#include <vector>

namespace collision_test {

// A part as its working record gives it: type, parameters, position and rotation vector.
struct PartLayout {
    ShapeType type{};
    std::vector<double> params;
    Vec3 position;
    Vec3 rotation;
};

inline WorkingPartRecord WorkingOf(const PartLayout& layout) {
    WorkingPartRecord w;
    w.shapeType = layout.type;
    w.paramCount = static_cast<std::int32_t>(layout.params.size());
    for (std::size_t i = 0; i < layout.params.size(); ++i) w.params[i] = layout.params[i];
    w.position = layout.position;
    w.rotation = layout.rotation;
    return w;
}

inline PartLayout Sphere(double r, const Vec3& at) { return {ShapeType::Sphere, {r}, at, {}}; }
// Sides a (x), b (y), c (z).
inline PartLayout Box(const Vec3& sides, const Vec3& at, const Vec3& rotation = {}) {
    return {ShapeType::Box, {sides.x, sides.y, sides.z}, at, rotation};
}
// Radius r about the part's y axis, height h.
inline PartLayout Cylinder(double r, double h, const Vec3& at, const Vec3& rotation = {}) {
    return {ShapeType::Cylinder, {h, r}, at, rotation};
}

// Every part built (and checked to build) and entered in the octree.
struct Scene {
    SceneGeometry geometry;

    explicit Scene(std::span<const PartLayout> parts) {
        std::vector<std::int32_t> rooms(parts.size(), PartSurfaceLimit);
        geometry.AddParts(rooms, false);
        for (std::size_t i = 0; i < parts.size(); ++i) {
            const WorkingPartRecord w = WorkingOf(parts[i]);
            built.push_back(BuildPartShape(geometry, nullptr, static_cast<std::int32_t>(i), false,
                                           true, false, &w) == 0);
        }
        geometry.BuildOctree({}, 0);
    }

    const PartRenderRecord& Part(std::int32_t i) const { return *geometry.Part(i); }
    PartRenderRecord& Part(std::int32_t i) { return *geometry.Part(i); }

    std::vector<bool> built;
};

// True when p is inside every surface in use.
inline bool InsidePart(const PartRenderRecord& part, const Vec3& p) {
    for (std::int32_t s = 0; s < part.surfaceCount; ++s) {
        const auto& m = part.Surfaces()[static_cast<std::size_t>(s)].m;
        const double v = m[0] + 2 * (m[1] * p.x + m[2] * p.y + m[3] * p.z) + m[5] * p.x * p.x +
                         m[10] * p.y * p.y + m[15] * p.z * p.z +
                         2 * (m[6] * p.x * p.y + m[7] * p.x * p.z + m[11] * p.y * p.z);
        if (v > 0.0) return false;
    }
    return true;
}

}  // namespace collision_test
