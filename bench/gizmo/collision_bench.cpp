// The collision search's costs: pair tests per second for three everyday pairs (each pair
// placed near its touching distance, so that about half collide and the cascade runs past
// the bounds), and the collision work of one simulation tick of a 200-part gizmo with 5
// flyers: each flyer's part searched against the scene through the octree. The rest of the
// tick (motions, bounces, the renderer's frame) follows the frame driver.

#include "gizmo/collision_drivers.h"

#include "core/crt_random.h"
#include "gizmo/collision_pair.h"
#include "gizmo/collision_test_support.h"
#include "support/quadric_parts.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace {

using collision_test::Box;
using collision_test::Cylinder;
using collision_test::PartLayout;
using collision_test::Scene;
using collision_test::Sphere;
using quadric_parts::Uniform;

constexpr int PairCount = 64;

Vec3 RandomDirection() {
    for (;;) {
        const Vec3 v{Uniform(-1, 1), Uniform(-1, 1), Uniform(-1, 1)};
        const double l = Vec3Length(v);
        if (l > 0.1 && l <= 1.0) return Vec3Scale(v, 1.0 / l);
    }
}

// PairCount pairs, parts 2i and 2i + 1, the second placed at a random direction from the
// first at a distance between the touching ones of its inscribed and bounding spheres.
std::unique_ptr<Scene> PairScene(PartLayout (*first)(), PartLayout (*second)(), double inner,
                                 double outer) {
    CrtSrand(17);
    std::vector<PartLayout> parts;
    for (int i = 0; i < PairCount; ++i) {
        PartLayout a = first();
        PartLayout b = second();
        b.position = Vec3Scale(RandomDirection(), Uniform(inner, outer));
        b.rotation = Vec3Scale(RandomDirection(), Uniform(0, 3));
        a.rotation = Vec3Scale(RandomDirection(), Uniform(0, 3));
        parts.push_back(a);
        parts.push_back(b);
    }
    return std::make_unique<Scene>(parts);
}

void RunPairs(benchmark::State& state, const Scene& scene) {
    std::int64_t tests = 0;
    for (auto _ : state) {
        int hits = 0;
        for (int i = 0; i < PairCount; ++i) {
            Contact contact;
            hits += CollidePair(&contact, scene.Part(2 * i), scene.Part(2 * i + 1), false) ? 1 : 0;
        }
        benchmark::DoNotOptimize(hits);
        tests += PairCount;
    }
    state.SetItemsProcessed(tests);
}

void BM_CollideSphereSphere(benchmark::State& state) {
    const auto scene = PairScene([] { return Sphere(1.0, Vec3{}); },
                                 [] { return Sphere(0.5, Vec3{}); }, 1.3, 1.7);
    RunPairs(state, *scene);
}
BENCHMARK(BM_CollideSphereSphere);

void BM_CollideSphereBox(benchmark::State& state) {
    const auto scene = PairScene([] { return Box(Vec3{2, 1, 1.5}, Vec3{}); },
                                 [] { return Sphere(0.5, Vec3{}); }, 0.9, 1.9);
    RunPairs(state, *scene);
}
BENCHMARK(BM_CollideSphereBox);

void BM_CollideBoxCylinder(benchmark::State& state) {
    const auto scene = PairScene([] { return Box(Vec3{2, 1, 1.5}, Vec3{}); },
                                 [] { return Cylinder(0.5, 1.5, Vec3{}); }, 1.0, 2.2);
    RunPairs(state, *scene);
}
BENCHMARK(BM_CollideBoxCylinder);

// 200 parts (spheres, boxes, cylinders of 0.3 to 2.5 units) over a 24-unit cube, and 5 ball
// flyers among them; one tick searches each flyer's part for the first part it hits, as the
// frame driver does for each moving flyer.
void BM_CollisionTick200Parts5Flyers(benchmark::State& state) {
    CrtSrand(29);
    std::vector<PartLayout> parts;
    for (int i = 0; i < 200; ++i) {
        const Vec3 at{Uniform(-12, 12), Uniform(-12, 12), Uniform(-12, 12)};
        const Vec3 turn = Vec3Scale(RandomDirection(), Uniform(0, 3));
        const double size = Uniform(0.3, 2.5);
        switch (i % 3) {
            case 0: parts.push_back(Sphere(size / 2, at)); break;
            case 1: parts.push_back(Box(Vec3{size, Uniform(0.3, 2.5), size / 2}, at, turn)); break;
            default: parts.push_back(Cylinder(size / 2, Uniform(0.3, 2.5), at, turn)); break;
        }
    }
    // The flyers: three out in the open, two dipping into parts, where the search runs the
    // pair tests through to a hit.
    for (int i = 0; i < 3; ++i) {
        parts.push_back(Sphere(0.5, Vec3{Uniform(-10, 10), Uniform(-10, 10), Uniform(-10, 10)}));
    }
    for (std::size_t i : {0, 3}) {  // two of the spheres, each overlapped by 0.2
        const PartLayout& ball = parts[i];
        const double reach = ball.params[0] + 0.3;
        parts.push_back(Sphere(0.5, Vec3Add(ball.position, Vec3Scale(RandomDirection(), reach))));
    }
    Scene scene(parts);
    std::int64_t searches = 0;
    int hits = 0;
    for (auto _ : state) {
        hits = 0;
        for (std::int32_t flyer = 200; flyer < 205; ++flyer) {
            const std::int32_t own[] = {flyer};
            hits += FindCollidingParts(flyer, scene.geometry, own, true, nullptr, false) >= 0;
        }
        benchmark::DoNotOptimize(hits);
        searches += 5;
    }
    state.SetItemsProcessed(searches);
    state.counters["hits"] = hits;
}
BENCHMARK(BM_CollisionTick200Parts5Flyers);

}  // namespace
