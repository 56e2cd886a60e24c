// Incremental frames over the fifty-part scene at 800 x 600: the whole shaded frame beside
// one tick of 1, 5 and 20 moving parts, and the time per 1,000 footprint pixels (the pixels
// restored and drawn again: where the parts were and where they are) as the footprint grows
// and as the frame grows around a footprint of one size.

#include "fifty_parts_scene.h"
#include "render/q_render.h"
#include "render/span_region.h"
#include "render/span_shade.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr double Focal = 1100.0;

// Pixels of the region.
std::int64_t RegionPixels(const SpanRegion& region) {
    std::int64_t count = 0;
    for (std::int32_t y = region.Top(); y < region.Bottom(); ++y) {
        for (const std::int16_t* t = region.Row(y); t[0] != SpanRowEnd; t += 2) count += t[1] - t[0];
    }
    return count;
}

// The fifty parts over a frame of width x height lit by one white light, plus extra shapes
// appended after them; the parts listed in moving are hidden for the background, which is
// kept, and shown again. False when the frame cannot be sized.
bool SetUpScene(QRender& render, std::vector<std::uint32_t>& pixels, std::int32_t width,
                std::int32_t height, std::vector<fifty_parts::Shape>& shapes,
                const std::vector<std::int32_t>& moving) {
    pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0u);
    if (render.SetSize(pixels.data(), width, height, width, false) != RenderSizeOk) return false;
    render.centreX = width / 2.0;
    render.centreY = height / 2.0;
    render.focalScale = Focal / 1000.0;
    render.shade.backgroundColour = 0x808080;
    render.SetLightCounts(1, 0);
    RenderLightSlot& light = render.LightSlot(0);
    light.enabled = 1;
    light.position = Vec3{-20.0, -30.0, -10.0};
    RenderLightSlotSetColours(light, {1.0, 1.0, 1.0}, {0.0, 0.0, 0.0}, 1.0);
    fifty_parts::AddParts(render, shapes);
    for (const std::int32_t i : moving) render.parts.Part(i).visible = 0;
    render.RenderFrame(nullptr, false, nullptr, 0);
    if (render.AllocAuxBuffers() != 0) return false;
    for (const std::int32_t i : moving) render.parts.Part(i).visible = 1;
    return true;
}

// Moves the listed parts a little along circles about where they started, as a tick does.
void MoveParts(QRender& render, const std::vector<fifty_parts::Shape>& shapes,
               const std::vector<std::int32_t>& moving, std::int64_t tick) {
    const double angle = 0.35 * static_cast<double>(tick);
    for (const std::int32_t i : moving) {
        fifty_parts::Shape s = shapes[static_cast<std::size_t>(i)];
        s.at.x += 0.2 * std::cos(angle + i);
        s.at.y += 0.2 * std::sin(angle + i);
        fifty_parts::PlaceShape(render, i, s);
    }
}

// Runs ticks of the listed parts and reports the footprint per tick and the time per 1,000
// footprint pixels.
void RunTicks(benchmark::State& state, QRender& render,
              const std::vector<fifty_parts::Shape>& shapes,
              const std::vector<std::int32_t>& moving) {
    std::vector<std::int32_t> list{static_cast<std::int32_t>(moving.size())};
    list.insert(list.end(), moving.begin(), moving.end());
    std::int64_t tick = 0;
    std::int64_t footprint = 0;
    for (auto _ : state) {
        MoveParts(render, shapes, moving, ++tick);
        render.RenderFrame(list.data(), false, nullptr, 0);
        footprint += RegionPixels(render.workRegion);
    }
    state.counters["footprint_px"] =
        benchmark::Counter(static_cast<double>(footprint), benchmark::Counter::kAvgIterations);
    state.counters["s_per_1000px"] = benchmark::Counter(
        static_cast<double>(footprint) / 1000.0,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// moving 0: the whole frame; else one tick of that many moving parts.
void BM_IncrementalFrame50Parts(benchmark::State& state) {
    std::vector<fifty_parts::Shape> shapes = fifty_parts::Shapes();
    std::vector<std::int32_t> moving;
    const std::int32_t count = static_cast<std::int32_t>(state.range(0));
    for (std::int32_t i = 0; i < count; ++i) moving.push_back(i * 50 / count);
    QRender render;
    std::vector<std::uint32_t> pixels;
    if (!SetUpScene(render, pixels, 800, 600, shapes, moving)) {
        state.SkipWithError("the frame could not be set up");
        return;
    }
    if (moving.empty()) {
        for (auto _ : state) render.RenderFrame(nullptr, false, nullptr, 0);
        return;
    }
    RunTicks(state, render, shapes, moving);
}
BENCHMARK(BM_IncrementalFrame50Parts)
    ->ArgName("moving")
    ->Arg(0)
    ->Arg(1)
    ->Arg(5)
    ->Arg(20)
    ->Unit(benchmark::kMillisecond);

// One sphere of the radius moving in front of the fifty parts in a frame of the width.
void RunBall(benchmark::State& state, double radius, std::int32_t width) {
    std::vector<fifty_parts::Shape> shapes = fifty_parts::Shapes();
    fifty_parts::Shape ball;
    ball.kind = fifty_parts::Kind::Sphere;
    ball.size = Vec3{radius, radius, radius};
    ball.at = Vec3{0.3, -0.2, 5.0};
    ball.rotation = Matrix3FromMatrix4(MakeIdentity());
    ball.colour = 0xC08040;
    shapes.push_back(ball);
    QRender render;
    std::vector<std::uint32_t> pixels;
    const std::vector<std::int32_t> moving{50};
    if (!SetUpScene(render, pixels, width, width * 3 / 4, shapes, moving)) {
        state.SkipWithError("the frame could not be set up");
        return;
    }
    RunTicks(state, render, shapes, moving);
}

// The footprint grows with the radius squared.
void BM_IncrementalFootprint(benchmark::State& state) {
    RunBall(state, static_cast<double>(state.range(0)) / 100.0, 800);
}
BENCHMARK(BM_IncrementalFootprint)
    ->ArgName("radius_cm")
    ->Arg(10)
    ->Arg(25)
    ->Arg(50)
    ->Arg(100)
    ->Unit(benchmark::kMicrosecond);

// The same footprint in frames of growing size around the parts.
void BM_IncrementalFrameSize(benchmark::State& state) {
    RunBall(state, 0.25, static_cast<std::int32_t>(state.range(0)));
}
BENCHMARK(BM_IncrementalFrameSize)
    ->ArgName("width")
    ->Arg(400)
    ->Arg(800)
    ->Arg(1600)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
