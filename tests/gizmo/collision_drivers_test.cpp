#include "gizmo/collision_drivers.h"

#include "core/crt_random.h"
#include "geometry/part_octree.h"
#include "gizmo/collision_pair.h"
#include "gizmo/collision_test_support.h"
#include "support/quadric_parts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using collision_test::Box;
using collision_test::Cylinder;
using collision_test::PartLayout;
using collision_test::Scene;
using collision_test::Sphere;
using quadric_parts::Uniform;

// Parts of every size scattered over a few units, a few of them below the search's level
// floor (boxes under 32 grid units).
std::vector<PartLayout> ScatteredParts(int count) {
    std::vector<PartLayout> parts;
    for (int i = 0; i < count; ++i) {
        const Vec3 at{Uniform(-6, 6), Uniform(-6, 6), Uniform(-6, 6)};
        const double size = i % 10 == 9 ? 0.01 : Uniform(0.2, 2.5);
        const Vec3 turn{Uniform(-1, 1), Uniform(-1, 1), Uniform(-1, 1)};
        switch (i % 3) {
            case 0: parts.push_back(Sphere(size / 2, at)); break;
            case 1: parts.push_back(Box(Vec3{size, Uniform(0.2, 2), size / 2}, at, turn)); break;
            default: parts.push_back(Cylinder(size / 2, Uniform(0.2, 2), at, turn)); break;
        }
    }
    return parts;
}

std::vector<std::int32_t> Sorted(std::span<const std::int32_t> list) {
    std::vector<std::int32_t> v(list.begin(), list.end());
    std::ranges::sort(v);
    return v;
}

// The octree lists exactly the parts whose grid boxes overlap the query box, each once: the
// boxes of the parts themselves, and boxes anywhere, large or small, also where the tree has
// no cells below some level.
TEST(QueryOctree, EqualsTheBoxOverlapsOfEveryPart) {
    CrtSrand(3);
    Scene scene(ScatteredParts(90));
    const std::int32_t count = scene.geometry.PartCount();
    const auto bruteForce = [&](const GridBox& box) {
        std::vector<std::int32_t> list;
        for (std::int32_t i = 0; i < count; ++i) {
            const PartRenderRecord& p = scene.Part(i);
            if (p.octreeLevel != NotInOctree && GridBoxesOverlap(p.octreeBounds, box)) {
                list.push_back(i);
            }
        }
        return list;
    };
    for (std::int32_t i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        ASSERT_NE(scene.Part(i).octreeLevel, NotInOctree);
        const GridBox box = scene.Part(i).octreeBounds;
        EXPECT_EQ(Sorted(scene.geometry.QueryOctree(box)), bruteForce(box));
    }
    for (int i = 0; i < 300; ++i) {
        SCOPED_TRACE(i);
        const double half = i % 2 == 0 ? Uniform(0.001, 0.05) : Uniform(0.5, 8);
        const Vec3 at{Uniform(-9, 9), Uniform(-9, 9), Uniform(-9, 9)};
        GridBox box{};
        const std::array<double, 3> c{at.x, at.y, at.z};
        for (std::size_t a = 0; a < 3; ++a) {
            box[2 * a] = GridFloor(1024 * (c[a] - half));
            box[2 * a + 1] = GridFloor(1024 * (c[a] + half)) + 1;
        }
        EXPECT_EQ(Sorted(scene.geometry.QueryOctree(box)), bruteForce(box));
    }
}

// The search keeps exactly the parts that collide with the part, less the excluded ones,
// those that take no part in collisions and those below the level floor; with returnFirst
// it answers the first of them in the query's order.
TEST(FindCollidingParts, EqualsThePairTestOverEveryPart) {
    CrtSrand(4);
    Scene scene(ScatteredParts(90));
    const std::int32_t count = scene.geometry.PartCount();
    scene.Part(3).visible = 0;  // hidden: takes no part
    scene.Part(4).visible = 0;  // hidden but collides while hidden
    scene.Part(4).options[3] = 1;
    scene.Part(5).options[0] = 1;  // takes no part in collisions
    int found = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        const std::vector<std::int32_t> exclude{i, (i + 1) % count};
        std::vector<std::int32_t> expected;
        for (std::int32_t c = 0; c < count; ++c) {
            if (std::ranges::find(exclude, c) != exclude.end() || c == 3 || c == 5) continue;
            if (scene.Part(c).octreeLevel < scene.geometry.octreeLevelFloor) continue;
            if (CollidePair(nullptr, scene.Part(c), scene.Part(i), false)) expected.push_back(c);
        }
        found += static_cast<int>(expected.size());
        EXPECT_EQ(FindCollidingParts(i, scene.geometry, exclude, false, nullptr, false), -1);
        const std::vector<std::int32_t> list(scene.geometry.CandidateList().begin(),
                                             scene.geometry.CandidateList().end());
        EXPECT_EQ(Sorted(list), expected);
        EXPECT_EQ(FindCollidingParts(i, scene.geometry, exclude, true, nullptr, false),
                  list.empty() ? -1 : list.front());
    }
    EXPECT_GT(found, 20);
}

// With a world, cluster mode 1 keeps only the flyers of other clusters and mode 0 only the
// other parts.
TEST(FindCollidingParts, ClusterModeSeparatesOtherClustersFlyers) {
    const PartLayout parts[] = {Sphere(1, Vec3{0, 0, 0}), Sphere(1, Vec3{1, 0, 0}),
                              Sphere(1, Vec3{-1, 0, 0}), Sphere(1, Vec3{0, 1, 0})};
    Scene scene(parts);
    std::vector<std::int32_t> moving;
    std::vector<std::uint8_t*> table;
    GizmoWorld world(&moving, &table);
    GizmoObject ownCluster = NewFlyerObject();
    GizmoObject otherCluster = NewFlyerObject();
    otherCluster.flyer.cluster = 2;
    world.currentCluster = 0;
    world.objectById.assign(3, nullptr);  // part 3 lies beyond the map
    world.objectById[1] = &otherCluster;
    world.objectById[2] = &ownCluster;
    const std::vector<std::int32_t> exclude{0};
    EXPECT_EQ(FindCollidingParts(0, scene.geometry, exclude, false, &world, true), -1);
    EXPECT_EQ(Sorted(scene.geometry.CandidateList()), (std::vector<std::int32_t>{1}));
    EXPECT_EQ(FindCollidingParts(0, scene.geometry, exclude, false, &world, false), -1);
    EXPECT_EQ(Sorted(scene.geometry.CandidateList()), (std::vector<std::int32_t>{2, 3}));
}

// A part outside the octree has no box to search with and collides with nothing.
TEST(FindCollidingParts, APartOutsideTheOctreeFindsNothing) {
    const PartLayout parts[] = {Sphere(1, Vec3{0, 0, 0}), Sphere(1, Vec3{0.5, 0, 0})};
    Scene scene(parts);
    scene.geometry.QueryOctree(scene.Part(1).octreeBounds);
    scene.Part(0).octreeLevel = NotInOctree;
    EXPECT_EQ(FindCollidingParts(0, scene.geometry, {}, true, nullptr, false), -1);
    EXPECT_TRUE(scene.geometry.CandidateList().empty());
    EXPECT_EQ(FindCollidingParts(7, scene.geometry, {}, true, nullptr, false), -1);
}

// The radius about a point that holds every drawn part, to the tolerance: a box counts by
// its farthest corner, not by its bounding sphere; hidden parts do not count; a zero
// tolerance still ends. From inside a part the probes cannot tell, and the spheres decide.
TEST(EnclosingRadius, ReachesTheFarthestPointOfTheDrawnParts) {
    const PartLayout parts[] = {Box(Vec3{2, 2, 2}, Vec3{5, 0, 0}), Sphere(1, Vec3{0, 3, 0}),
                              Sphere(4, Vec3{0, 0, -30})};
    Scene scene(parts);
    scene.Part(2).visible = 0;
    const double corner = std::sqrt(36.0 + 1.0 + 1.0);
    for (double tolerance : {0.03, 0.001, 0.0}) {
        SCOPED_TRACE(tolerance);
        const double r = EnclosingRadius(scene.geometry, 0, 0, 0, tolerance);
        EXPECT_GE(r, corner * (1 - 1e-9));
        EXPECT_LE(r, corner / (1 - tolerance) + 1e-9);
    }
    // About another point the box still reaches farthest.
    const double fromBelow = std::sqrt(36.0 + 16.0 + 1.0);
    const double r = EnclosingRadius(scene.geometry, 0, -3, 0, 0.01);
    EXPECT_GE(r, fromBelow * (1 - 1e-9));
    EXPECT_LE(r, fromBelow / 0.99 + 1e-9);
    // From inside a part every probe meets it: the answer is the bound of the spheres.
    const double sphereBound = std::sqrt(25.0 + 9.0) + scene.Part(0).boundRadius;
    EXPECT_NEAR(EnclosingRadius(scene.geometry, 0, 3, 0, 0.01), sphereBound, 1e-12);
}

}  // namespace
