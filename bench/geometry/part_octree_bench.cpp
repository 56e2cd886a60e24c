#include "geometry/part_octree.h"

#include "core/crt_random.h"
#include "geometry/scene_geometry.h"
#include "support/quadric_parts.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

using quadric_parts::Uniform;

// count balls spread over a cube of 40 units a side per thousand parts, radii from 0.05 to 5
// (log-uniform), entered in the octree; the query boxes are the parts' own boxes, as the
// collision search asks.
struct BallScene {
    SceneGeometry geometry;
    std::vector<GridBox> boxes;

    explicit BallScene(std::int32_t count) {
        CrtSrand(1);
        const double side = 40.0 * std::cbrt(count / 1000.0);
        geometry.AddParts(std::vector<std::int32_t>(static_cast<std::size_t>(count), 0), false);
        for (std::int32_t i = 0; i < count; ++i) {
            geometry.Part(i)->boundQuadric = quadric_parts::SphereForm(
                Vec3{Uniform(0, side), Uniform(0, side), Uniform(0, side)},
                0.05 * std::pow(100.0, Uniform(0, 1)));
        }
        geometry.BuildOctree({}, 0);
        for (std::int32_t i = 0; i < count; ++i) boxes.push_back(geometry.Part(i)->octreeBounds);
    }
};

// Each iteration asks once for every part's box, as a collision sweep over the scene does;
// answer gives the number of parts found. The counters: queries per second, parts per query.
template <typename Answer>
void SweepQueries(benchmark::State& state, const BallScene& scene, Answer&& answer) {
    std::int64_t found = 0;
    for (auto _ : state) {
        found = 0;
        for (const GridBox& box : scene.boxes) found += answer(box);
    }
    const auto count = static_cast<double>(scene.boxes.size());
    state.counters["queries/s"] =
        benchmark::Counter(count, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["found"] = static_cast<double>(found) / count;
}

void BM_OctreeQuery(benchmark::State& state) {
    BallScene scene(static_cast<std::int32_t>(state.range(0)));
    SweepQueries(state, scene, [&](const GridBox& box) {
        return static_cast<std::int64_t>(scene.geometry.QueryOctree(box).size());
    });
}
BENCHMARK(BM_OctreeQuery)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

// The same queries answered by testing every part's box.
void BM_BruteForceQuery(benchmark::State& state) {
    BallScene scene(static_cast<std::int32_t>(state.range(0)));
    std::vector<std::int32_t> listed;
    listed.reserve(scene.boxes.size());
    SweepQueries(state, scene, [&](const GridBox& box) {
        listed.clear();
        for (std::size_t i = 0; i < scene.boxes.size(); ++i) {
            if (GridBoxesOverlap(scene.boxes[i], box)) {
                listed.push_back(static_cast<std::int32_t>(i));
            }
        }
        benchmark::DoNotOptimize(listed.data());
        return static_cast<std::int64_t>(listed.size());
    });
}
BENCHMARK(BM_BruteForceQuery)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

// Every part entered anew.
void BM_OctreeFullBuild(benchmark::State& state) {
    BallScene scene(static_cast<std::int32_t>(state.range(0)));
    for (auto _ : state) scene.geometry.BuildOctree({}, 0);
}
BENCHMARK(BM_OctreeFullBuild)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace
