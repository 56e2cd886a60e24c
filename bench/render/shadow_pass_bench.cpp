// Shadows over the fifty-part scene at 800 x 600: the whole frame with 0, 1 and 3 shadow
// lights (light maps of 800 x 800 cells, the shadow pass over every pixel, the dependency
// lists recorded), and one tick of 5 moving parts with their shadows.

#include "fifty_parts_scene.h"
#include "render/q_render.h"
#include "render/span_shade.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// The fifty parts lit by the given number of shadow lights (0 to 3), every map covering the
// sphere about the parts; false when the frame cannot be sized.
bool SetUpShadowFrame(QRender& render, std::vector<std::uint32_t>& pixels,
                      const std::vector<fifty_parts::Shape>& shapes, std::int32_t shadowLights) {
    static const Vec3 Lights[3] = {fifty_parts::LightInView, {18.0, -25.0, 2.0}, {-4.0, -8.0, 30.0}};
    render.options.shadows = shadowLights > 0;
    render.options.perLightDependents = shadowLights > 0;
    fifty_parts::SetUpFrame(render, pixels, shapes);
    if (!render.BuffersReady()) return false;
    const std::int32_t lights = shadowLights > 0 ? shadowLights : 1;
    if (render.SetLightCounts(lights, shadowLights) != RenderSizeOk) return false;
    for (std::int32_t i = 0; i < lights; ++i) {
        RenderLightSlot& light = render.LightSlot(i);
        light.enabled = 1;
        light.position = Lights[i];
        RenderLightSlotSetColours(light, {0.6, 0.6, 0.6}, {0.1, 0.1, 0.15}, 1.0);
    }
    render.shadowCentre = Vec3{0.0, 0.0, 9.5};
    render.shadowRadius = 5.0;
    render.isShadowRadiusReady = true;
    return true;
}

// The renderer of one benchmark, set up for state's number of shadow lights.
struct ShadowScene {
    explicit ShadowScene(benchmark::State& state) {
        ok = SetUpShadowFrame(render, pixels, shapes, static_cast<std::int32_t>(state.range(0)));
        if (!ok) state.SkipWithError("the frame could not be set up");
    }
    const std::vector<fifty_parts::Shape> shapes = fifty_parts::Shapes();
    QRender render;
    std::vector<std::uint32_t> pixels;
    bool ok = false;
};

void BM_ShadowFrame50Parts(benchmark::State& state) {
    ShadowScene scene(state);
    if (!scene.ok) return;
    QRender& render = scene.render;
    for (auto _ : state) render.RenderFrame(nullptr, false, nullptr, 0);
}
BENCHMARK(BM_ShadowFrame50Parts)
    ->ArgName("shadow_lights")
    ->Arg(0)
    ->Arg(1)
    ->Arg(3)
    ->Unit(benchmark::kMillisecond);

// One tick of five parts moving along small circles, their shadows with them.
void BM_ShadowTick50Parts(benchmark::State& state) {
    ShadowScene scene(state);
    if (!scene.ok) return;
    QRender& render = scene.render;
    const std::vector<std::int32_t> list{5, 0, 10, 20, 30, 40};
    for (std::int32_t k = 1; k <= 5; ++k) render.parts.Part(list[static_cast<std::size_t>(k)]).visible = 0;
    render.RenderFrame(nullptr, false, nullptr, 0);
    if (render.AllocAuxBuffers() != 0) {
        state.SkipWithError("no backups");
        return;
    }
    for (std::int32_t k = 1; k <= 5; ++k) render.parts.Part(list[static_cast<std::size_t>(k)]).visible = 1;
    std::int64_t tick = 0;
    for (auto _ : state) {
        const double angle = 0.35 * static_cast<double>(++tick);
        for (std::int32_t k = 1; k <= 5; ++k) {
            const std::int32_t i = list[static_cast<std::size_t>(k)];
            fifty_parts::Shape s = scene.shapes[static_cast<std::size_t>(i)];
            s.at.x += 0.2 * std::cos(angle + i);
            s.at.y += 0.2 * std::sin(angle + i);
            fifty_parts::PlaceShape(render, i, s);
        }
        render.RenderFrame(list.data(), false, nullptr, 0);
    }
}
BENCHMARK(BM_ShadowTick50Parts)
    ->ArgName("shadow_lights")
    ->Arg(0)
    ->Arg(1)
    ->Arg(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace
