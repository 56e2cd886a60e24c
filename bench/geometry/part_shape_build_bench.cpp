#include "geometry/part_shape_build.h"

#include "core/matrix3.h"
#include "core/rotation.h"
#include "geometry/part_block.h"
#include "geometry/part_placement.h"
#include "geometry/scene_geometry.h"
#include "geometry/working_part_record.h"
#include "scene_block.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

using geometry_bench::SceneBlock;

// The player's per-tick geometry cost: moving parts of a 2,000-part scene are placed by a
// small rigid motion (SetPartPlacementSim on their working records) and rebuilt from them,
// as the gizmo's motion steps do every tick. The moving parts are spread over the scene, so
// every shape of the scene's cycle moves.
void BM_RebuildMovingParts(benchmark::State& state) {
    constexpr std::int32_t SceneParts = 2000;
    const auto moving = static_cast<std::int32_t>(state.range(0));
    std::vector<std::uint32_t> offsets;
    std::vector<std::uint8_t> block = SceneBlock(SceneParts, &offsets);
    SceneGeometry geometry;
    if (LoadPartBlock(geometry, block.data(), static_cast<std::uint32_t>(block.size()), true,
                      nullptr, true) != 0) {
        state.SkipWithError("the scene did not load");
        return;
    }
    struct Mover {
        std::int32_t index = 0;
        const std::uint8_t* record = nullptr;
        WorkingPartRecord working;
    };
    std::vector<Mover> movers(static_cast<std::size_t>(moving));
    for (std::int32_t k = 0; k < moving; ++k) {
        Mover& m = movers[static_cast<std::size_t>(k)];
        m.index = k * (SceneParts / moving) + k % 5;
        m.record = block.data() + offsets[static_cast<std::size_t>(m.index)];
        ExpandPartRecord(m.record, m.working);
    }
    Matrix4W step = EmbedMatrix3(Matrix3FromAxisAngle(Vec3{0.6, 0.8, 0}, 0.01), 0);
    step.m[4] = 0.02;
    for (auto _ : state) {
        for (Mover& m : movers) {
            SetPartPlacementSim(m.working, step);
            const std::int32_t result =
                BuildPartShape(geometry, m.record, m.index, true, false, false, &m.working);
            benchmark::DoNotOptimize(result);
        }
    }
    state.counters["per_part"] = benchmark::Counter(
        static_cast<double>(moving),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_RebuildMovingParts)->Arg(1)->Arg(10)->Arg(50)->Arg(200)->Unit(benchmark::kMicrosecond);

}  // namespace
