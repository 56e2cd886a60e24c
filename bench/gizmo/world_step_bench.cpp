// One tick of the player's simulation for a gizmo with five moving things: the frame driver
// moves three balls through a field of 200 pegs on a floor, with two flippers sliding to and
// fro among them, and the scene geometry's surface table then catches up with the moving
// parts, as the frame step does before it renders. The balls bounce off the pegs, the floor
// and each other; one that falls off the floor starts again from its place, so the field
// stays busy for as long as the benchmark runs. The whole tick then renders the moved parts
// incrementally over the kept background, in an 800 x 600 frame.

#include "gizmo/world_step.h"

#include "geometry/surface_table.h"
#include "gizmo/gizmo_object.h"
#include "gizmo/world_test_support.h"
#include "render/look_at_view.h"
#include "render/q_render.h"
#include "render/scene_render_parts.h"
#include "render/span_region.h"
#include "render/span_shade.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <optional>
#include <vector>

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
            t.AddSphere(at, 0.3, 0.1, 0.2);
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

// Pixels of the region: the frame's footprint of the moved parts.
std::int64_t RegionPixels(const SpanRegion& region) {
    std::int64_t count = 0;
    for (std::int32_t y = region.Top(); y < region.Bottom(); ++y) {
        for (const std::int16_t* t = region.Row(y); t[0] != SpanRowEnd; t += 2)
            count += t[1] - t[0];
    }
    return count;
}

// The field seen from above and in front in an 800 x 600 frame lit by one white light: the
// background is rendered once without the moving parts and kept, and each tick renders the
// moved parts over it.
void BM_TickWithIncrementalRender(benchmark::State& state) {
    TestWorld t;
    BuildField(t);
    QRender render;
    std::vector<std::uint32_t> pixels(800u * 600u, 0u);
    const std::optional<Matrix4W> view =
        ViewFromLookAt(Vec3{0.0, 14.0, -22.0}, Vec3{0.0, 1.5, 0.0}, Vec3{0.0, 1.0, 0.0});
    if (!view || render.SetSize(pixels.data(), 800, 600, 800, false) != RenderSizeOk) {
        state.SkipWithError("the frame could not be set up");
        return;
    }
    render.centreX = 400.0;
    render.centreY = 300.0;
    render.focalScale = 1.0;
    render.shade.backgroundColour = 0x808080;
    render.SetLightCounts(1, 0);
    RenderLightSlot& light = render.LightSlot(0);
    light.enabled = 1;
    light.position = Vec3{-20.0, 30.0, -10.0};
    RenderLightSlotSetColours(light, {1.0, 1.0, 1.0}, {0.0, 0.0, 0.0}, 1.0);
    LoadRenderParts(render, t.geometry, *view);

    // The background without the moving parts, as the player keeps it.
    for (const std::int32_t part : t.movingParts) t.geometry.Part(part)->visible = 0;
    render.RenderFrame(nullptr, false, nullptr, 0);
    if (render.AllocAuxBuffers() != 0) {
        state.SkipWithError("the backups could not be made");
        return;
    }
    for (const std::int32_t part : t.movingParts) t.geometry.Part(part)->visible = 1;

    std::vector<std::int32_t> list;
    std::int64_t footprint = 0;
    for (auto _ : state) {
        t.Step();
        UpdateSurfaceTable(t.geometry, true, t.movingParts, 0);
        list.assign(1, static_cast<std::int32_t>(t.movingParts.size()));
        list.insert(list.end(), t.movingParts.begin(), t.movingParts.end());
        render.RenderFrame(list.data(), false, nullptr, 0);
        footprint += RegionPixels(render.workRegion);
    }
    state.counters["footprint_px"] =
        benchmark::Counter(static_cast<double>(footprint), benchmark::Counter::kAvgIterations);
    std::int64_t drawn = 0;
    for (const std::uint32_t word : pixels) drawn += (word & 0xFFFFFFu) != 0x808080u ? 1 : 0;
    state.counters["scene_px"] = static_cast<double>(drawn);
}
BENCHMARK(BM_TickWithIncrementalRender)->Unit(benchmark::kMillisecond);

}  // namespace
