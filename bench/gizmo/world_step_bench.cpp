// One tick of the player's simulation for a gizmo with five moving things: the frame driver
// moves three balls through a field of 200 pegs on a floor, with two flippers sliding to and
// fro among them, and the scene geometry's surface table then catches up with the moving
// parts, as the frame step does before it renders. The balls bounce off the pegs, the floor
// and each other; one that falls off the floor starts again from its place, so the field
// stays busy for as long as the benchmark runs. The incremental render of the moved parts is
// the rest of a tick; it is measured with the renderer's frames.

#include "gizmo/world_step.h"

#include "geometry/primitive_record.h"
#include "geometry/surface_table.h"
#include "gizmo/gizmo_object.h"
#include "gizmo/world_test_support.h"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

using world_test::TestWorld;

void BuildField(TestWorld& t) {
    t.AddBox(Vec3{0, -0.5, 0}, Vec3{20, 1, 20}, 0.1, 0.2);
    // 199 pegs: balls in three layers and small boxes, 1.4 apart.
    for (int i = 0; i < 199; ++i) {
        const Vec3 at{-9.1 + 1.4 * (i % 14), 1.5 + 1.2 * (i % 3), -9.1 + 1.4 * (i / 14)};
        if (i % 4 == 0) {
            t.AddBox(at, Vec3{0.4, 0.4, 0.4}, 0.1, 0.2);
        } else {
            t.fixedRecords.push_back(NewPrimitive1(0.3, 0, 0, at, {}));
            TestWorld::SetMaterial(t.fixedRecords.back().get(), 0.1, 0.2);
            t.NewPart(t.fixedRecords.back().get());
        }
    }
    for (int i = 0; i < 3; ++i) {
        GizmoObject& ball = t.AddBall(Vec3{-2.0 + 2.1 * i, 7.0, 0.7 * i}, 0.35, 0.1, 0.2);
        ball.flyer.startVelocity = Vec3{0.4 * (i - 1), 0.0, 0.3};
        ball.flyer.committedVelocity = ball.flyer.startVelocity;
    }
    for (int i = 0; i < 2; ++i) {
        GizmoObject& flipper = t.AddFlipper(Vec3{2.0, 0.3, 0.5}, Vec3{-6.0 + 12.0 * i, 0.35, -3.0},
                                            Vec3{-6.0 + 12.0 * i, 0.35, 3.0});
        flipper.flipper.forAndBack = 1;
        flipper.flipper.goTime = 1.5;
        flipper.flipper.returnTime = 1.5;
    }
    t.Start();
}

void BM_SimulationTickFiveMovers(benchmark::State& state) {
    TestWorld t;
    BuildField(t);
    std::int64_t tests = 0;
    for (auto _ : state) {
        const WorldStepCounts counts = t.Step();
        UpdateSurfaceTable(t.geometry, true, t.movingParts, 0);
        tests += counts.contactTests;
    }
    state.counters["tests_per_tick"] =
        benchmark::Counter(static_cast<double>(tests), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_SimulationTickFiveMovers)->Unit(benchmark::kMicrosecond);

}  // namespace
