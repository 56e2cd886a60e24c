#include "gizmo/collision_drivers.h"

#include "geometry/part_octree.h"
#include "geometry/part_render_record.h"
#include "geometry/scene_geometry.h"
#include "gizmo/collision_pair.h"
#include "gizmo/collision_shape.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Option bytes of a part record: flag 0x01 (takes no part in collisions) and flag 0x10
// (collides while hidden).
constexpr std::size_t NonCollidingOption = 0;
constexpr std::size_t CollidesHiddenOption = 3;

// Steps of the distance search at most: the bracket halves each time, so a tolerance too
// small for double precision still ends.
constexpr int RadiusSearchLimit = 200;

bool IsOtherClustersFlyer(const GizmoWorld& world, std::int32_t part) {
    if (static_cast<std::size_t>(part) >= world.objectById.size()) return false;
    const GizmoObject* object = world.objectById[static_cast<std::size_t>(part)];
    return object != nullptr && object->isFlyer != 0 &&
           object->flyer.cluster != world.currentCluster;
}

bool Collides(const PartRenderRecord& part) {
    return (part.visible != 0 && part.options[NonCollidingOption] == 0) ||
           part.options[CollidesHiddenOption] != 0;
}

}  // namespace

std::int32_t FindCollidingParts(std::int32_t partIndex, SceneGeometry& geometry,
                                std::span<const std::int32_t> exclude, bool returnFirst,
                                const GizmoWorld* world, bool clusterMode) {
    const PartRenderRecord* part = geometry.Part(partIndex);
    // A part outside the octree has no grid box to query with; its stored box is stale.
    if (part == nullptr || part->octreeLevel == NotInOctree) {
        geometry.ShortenCandidateList(0);
        return -1;
    }
    geometry.QueryOctree(part->octreeBounds);
    const CollisionShape shape = CollisionShapeOf(*part);
    const std::span<std::int32_t> candidates = geometry.CandidateList();
    std::int32_t kept = 0;
    for (const std::int32_t index : candidates) {
        if (world != nullptr && IsOtherClustersFlyer(*world, index) != clusterMode) continue;
        if (std::ranges::find(exclude, index) != exclude.end()) continue;
        const PartRenderRecord* other = geometry.Part(index);
        if (other == nullptr || !Collides(*other)) continue;
        if (other->octreeLevel < geometry.octreeLevelFloor) continue;
        if (!CollidePair(nullptr, CollisionShapeOf(*other), shape, false)) continue;
        if (returnFirst) return index;
        candidates[static_cast<std::size_t>(kept++)] = index;
    }
    geometry.ShortenCandidateList(kept);
    return -1;
}

double EnclosingRadius(const SceneGeometry& geometry, double x, double y, double z,
                       double tolerance) {
    const Vec3 p{x, y, z};
    const std::int32_t count = geometry.PartCount();
    std::vector<CollisionShape> shapes;
    std::vector<double> distances;
    shapes.reserve(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
        const PartRenderRecord& part = *geometry.Part(i);
        // Unbuilt and unbuildable parts hold no point.
        if (part.visible == 0 || part.surfaceCount <= 0 || !std::isfinite(part.boundRadius) ||
            !std::isfinite(part.boundCentre.x) || !std::isfinite(part.boundCentre.y) ||
            !std::isfinite(part.boundCentre.z)) {
            continue;
        }
        shapes.push_back(CollisionShapeOf(part));
        distances.push_back(Vec3Length(Vec3Sub(part.boundCentre, p)));
    }

    double far = 0.0;
    double near = 0.0;
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        far = std::max(far, distances[i] + shapes[i].radius);
        near = std::max(near, distances[i] - shapes[i].radius);
    }
    // Small parts count by their spheres; the others are probed.
    std::vector<const CollisionShape*> probed;
    double smallFar = 0.0;
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        if (shapes[i].radius < far * tolerance) {
            smallFar = std::max(smallFar, distances[i] + shapes[i].radius);
        } else {
            probed.push_back(&shapes[i]);
        }
    }

    // The probe is the outside of a ball about p: mid^2 - |x - p|^2 <= 0.
    Matrix4W outside;
    outside.m[1] = outside.m[4] = x;
    outside.m[2] = outside.m[8] = y;
    outside.m[3] = outside.m[12] = z;
    outside.m[5] = outside.m[10] = outside.m[15] = -1.0;
    CollisionShape probe;
    probe.curvedMask = 1;
    probe.centre = p;
    probe.surfaces = std::span<const Matrix4W>(&probe.boundQuadric, 1);

    double lo = std::max(near, far * 0.25);
    double hi = far;
    for (int step = 0; step < RadiusSearchLimit && hi - lo > hi * tolerance; ++step) {
        const double mid = 0.5 * (lo + hi);
        if (!(mid > lo && mid < hi)) break;
        outside.m[0] = mid * mid - Vec3Dot(p, p);
        probe.boundQuadric = outside;
        probe.radius = mid;
        bool reached = false;
        for (const CollisionShape* shape : probed) {
            // One level above the part, so that the stages measure from the part.
            probe.level = shape->level + 1;
            if (CollidePair(nullptr, *shape, probe, true)) {
                reached = true;
                break;
            }
        }
        if (reached) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    return std::max(hi, smallFar);
}
