// The player's frame tick on the demo gizmo, headless: the ball bouncing on the scoring
// bumper keeps one part moving every frame. The display keeps the frames in memory, so no
// file or X server time is counted. The first benchmark runs whole ticks (game clock, limits
// and the frame step) and reports frames per second; the second runs the frame step's three
// parts one after the other as the step does and reports the time of each.

#include "app/player_app.h"

#include "app/headless_display.h"
#include "app/player_dialogs.h"
#include "geometry/surface_table.h"
#include "gizmo/gizmo_scene.h"
#include "gizmo/gizmo_window.h"
#include "gizmo/hit_scoring.h"
#include "gizmo/world_step.h"
#include "render/render_interrupt.h"
#include "view/q_render_view.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

namespace {

const std::string DemoGizmo = std::string(ORBELLE_BENCH_DATA_DIR) + "/../../gizmos/demo.kvp";

// The demo loaded and playing, with no limit to end the game however long the run.
struct DemoPlayer {
    DemoPlayer() : app(display, dialogs, true) {
        PlayerOptions options;
        options.gizmoPath = DemoGizmo;
        options.isGizmoNamed = true;
        options.isMuted = true;
        app.InitInstance(options);
        app.Settings().timeLimitOn = false;
        app.Settings().scoreLimitOn = false;
    }
    HeadlessDisplay display{""};
    ConsoleDialogs dialogs;
    PlayerApp app;
};

void BM_DemoGizmoTickHeadless(benchmark::State& state) {
    DemoPlayer demo;
    if (demo.app.Scene().active == 0) {
        state.SkipWithError("the demo gizmo did not load");
        return;
    }
    for (auto _ : state) demo.app.Run(1, {});
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["score"] = GizmoScore(demo.app.Scene());
}
BENCHMARK(BM_DemoGizmoTickHeadless)->Unit(benchmark::kMicrosecond);

void BM_DemoGizmoTickSplit(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    DemoPlayer demo;
    GizmoScene& scene = demo.app.Scene();
    if (scene.active == 0) {
        state.SkipWithError("the demo gizmo did not load");
        return;
    }
    GizmoWindow& window = *CurrentGizmoWindow();
    QRenderView& view = *scene.view;
    double simulation = 0.0;
    double render = 0.0;
    double presentation = 0.0;
    const auto seconds = [](Clock::time_point from, Clock::time_point to) {
        return std::chrono::duration<double>(to - from).count();
    };
    for (auto _ : state) {
        const auto start = Clock::now();
        StepWorld(*scene.world, scene.stepTime, *scene.partBounds);
        PlayQueuedSounds(scene);
        if (!scene.movingPartList.empty()) {
            UpdateSurfaceTable(*scene.geometry, true, scene.movingPartList, 0);
        }
        const auto stepped = Clock::now();
        // The frame step's poll: held keys noted, every sixteenth row.
        view.poll.mode = 1;
        view.poll.rowMask = 15;
        RenderMovingParts(scene);
        view.poll.rowMask = 0xFFFFFFFFu;
        const auto rendered = Clock::now();
        window.DrawScoreOverlay(scene.viewBits.data(), view.renderWidth, view.renderHeight,
                                SceneScoreOrTargetFlags(*scene.world, 0));
        window.PresentLayeredWindow(scene.viewBits.data(), view.renderWidth, view.renderHeight,
                                    scene.windowRect.left, scene.windowRect.top);
        const auto presented = Clock::now();
        simulation += seconds(start, stepped);
        render += seconds(stepped, rendered);
        presentation += seconds(rendered, presented);
    }
    const auto perTick = [&](double total) {
        return benchmark::Counter(total * 1e6, benchmark::Counter::kAvgIterations);
    };
    state.counters["simulation_us"] = perTick(simulation);
    state.counters["render_us"] = perTick(render);
    state.counters["presentation_us"] = perTick(presentation);
    state.counters["pixels"] = static_cast<double>(view.renderWidth) * view.renderHeight;
}
BENCHMARK(BM_DemoGizmoTickSplit)->Unit(benchmark::kMicrosecond);

}  // namespace
