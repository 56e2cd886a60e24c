// Loading a gizmo of 500 parts: the test gizmo (stage, ball, target, paddle in two states)
// with 495 small balls set out in rows on its stage; beside it the test gizmo alone, whose
// load is mostly the first frame. And one tick of a playing gizmo, the simulation and the
// incremental frame: the test gizmo with four more balls, five bouncing in all, in a window
// held to an 800 x 600 work area. A load reads the scene file, builds the
// parts, reads the roles, sets up the flyer and the flipper, adds the catcher discs, aims the
// camera, sizes the window and draws the first frame whole; the unload frees all of it.

#include "core/xml_values.h"
#include "gizmo/gizmo_run.h"
#include "gizmo/gizmo_scene.h"
#include "platform/file_bytes.h"
#include "platform/safe_file_writer.h"
#include "platform/work_area.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

const std::string FixturePath = std::string(ORBELLE_BENCH_DATA_DIR) + "/gizmo/flipper_table.kvr";

constexpr double Stored = 100.0;  // stored lengths are working lengths times this

// The test gizmo with extraBalls balls before the end of its object records.
std::string ManyPartGizmo(int extraBalls) {
    FileBytes file;
    if (file.Read(FixturePath) != FileOpenError::None) return {};
    std::string text(file.Bytes().begin(), file.Bytes().end());
    std::string balls;
    for (int i = 0; i < extraBalls; ++i) {
        const double x = -3.0 + 0.25 * (i % 25);
        const double z = -1.0 + 0.25 * (i / 25);
        const auto f = [](double v) { return FloatToBase64(static_cast<float>(v * Stored)); };
        balls += "<Obj o=\"1\" f=\"0\" g=\"" + std::to_string(10 + i) +
                 "\" c=\"12632256\" n=\"1\" e=\"0\" px=\"" + f(x * 0.8) + "\" py=\"" + f(0.1) +
                 "\" pz=\"" + f(z * 0.8) + "\" rx=\"" + f(0.0) + "\" ry=\"" + f(0.0) + "\" rz=\"" +
                 f(0.0) + "\" gi=\"0\" t=\"\"><P>" + f(0.08) + "</P></Obj>\r\n";
    }
    text.insert(text.find("</KVR>"), balls);
    return text;
}

// The test gizmo with four more flyer balls at different heights over the stage.
std::string FiveBallGizmo() {
    FileBytes file;
    if (file.Read(FixturePath) != FileOpenError::None) return {};
    std::string text(file.Bytes().begin(), file.Bytes().end());
    const auto f = [](double v) { return FloatToBase64(static_cast<float>(v * Stored)); };
    std::string groups;
    std::string balls;
    for (int i = 0; i < 4; ++i) {
        groups += "<Group name=\"Ball" + std::to_string(i + 2) +
                  "\" parms=\"&lt;G&gt;&lt;Fly/&gt;&lt;/G&gt;\"/>";
        balls += "<Obj o=\"1\" f=\"0\" g=\"" + std::to_string(20 + i) +
                 "\" c=\"14729248\" n=\"1\" e=\"0\" px=\"" + f(-2.0 + 1.3 * i) + "\" py=\"" +
                 f(1.2 + 0.4 * i) + "\" pz=\"" + f(1.5) + "\" rx=\"" + f(0.0) + "\" ry=\"" +
                 f(0.0) + "\" rz=\"" + f(0.0) + "\" gi=\"" + std::to_string(4 + i) +
                 "\" t=\"\"><P>" + f(0.4) + "</P></Obj>\r\n";
    }
    text.insert(text.find("</Groups>"), groups);
    text.insert(text.find("</KVR>"), balls);
    return text;
}

// Writes text to a file of the system's temporary folder; empty when it cannot.
std::string WriteTemporary(const std::string& text, const char* name) {
    const std::string path = (std::filesystem::temp_directory_path() / name).string();
    SafeFileWriter writer;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    if (text.empty() || writer.Open(path) != FileOpenError::None ||
        !writer.Write(std::span<const std::uint8_t>(bytes, text.size())) || !writer.Commit()) {
        return {};
    }
    return path;
}

void BM_LoadGizmo(benchmark::State& state) {
    const std::string path = WriteTemporary(ManyPartGizmo(static_cast<int>(state.range(0))),
                                            "orbelle_bench_many_parts.kvr");
    if (path.empty()) {
        state.SkipWithError("cannot write the gizmo");
        return;
    }
    GizmoScene scene;
    for (auto _ : state) {
        if (LoadGizmo(path, scene) != 0) {
            state.SkipWithError(scene.errorText.c_str());
            break;
        }
        state.counters["parts"] = scene.partTable.size();
        state.counters["pixels"] = static_cast<double>(scene.viewBits.size());
        UnloadGizmo(scene);
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_LoadGizmo)->Arg(0)->Arg(495)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

void BM_GizmoTickFiveFlyers(benchmark::State& state) {
    const std::string path = WriteTemporary(FiveBallGizmo(), "orbelle_bench_five_balls.kvr");
    if (path.empty()) {
        state.SkipWithError("cannot write the gizmo");
        return;
    }
    const FixedWorkArea area(ScreenRect{0, 0, 800, 600});
    const ScopedWorkAreaSource installed(area);
    GizmoScene scene;
    if (LoadGizmo(path, scene) != 0) {
        state.SkipWithError(scene.errorText.c_str());
        return;
    }
    scene.paused = 0;
    // The balls settle into their bouncing first.
    for (int i = 0; i < 30; ++i) StepGizmoFrame(scene);
    for (auto _ : state) {
        StepGizmoFrame(scene);
        RenderMovingParts(scene);
    }
    state.counters["moving"] = static_cast<double>(scene.world->moving.size());
    state.counters["width"] = scene.windowRect.right - scene.windowRect.left;
    state.counters["height"] = scene.windowRect.bottom - scene.windowRect.top;
    UnloadGizmo(scene);
    std::filesystem::remove(path);
}
BENCHMARK(BM_GizmoTickFiveFlyers)->Unit(benchmark::kMillisecond);

}  // namespace
