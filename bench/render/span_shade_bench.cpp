// A full shaded render (cast, span shading, no reduction) of fifty untextured spheres,
// ellipsoids, capped cylinders and boxes at 800 x 600, beside POV-Ray rendering the same
// shapes, placement, camera and light at the same size without anti-aliasing, on one thread
// (as ours runs), with no shadows, lit diffusely by one point light. POV-Ray runs as its own
// process, so its time includes start-up and parsing the scene (a few milliseconds).

#include "fifty_parts_scene.h"
#include "peer_ratio.h"
#include "render/q_render.h"
#include "render/span_shade.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::int32_t Width = fifty_parts::FrameWidth;
constexpr std::int32_t Height = fifty_parts::FrameHeight;
constexpr double Focal = fifty_parts::FrameFocal;
const Vec3 LightInView = fifty_parts::LightInView;
using fifty_parts::SetUpFrame;

// The same scene for POV-Ray. Its y axis points up where ours points down the screen, so
// every point goes over as (x, -y, z).
std::string PovScene(const std::vector<fifty_parts::Shape>& shapes) {
    char line[512];
    std::snprintf(line, sizeof line,
                  "camera { perspective location <0,0,0> direction <0,0,1> right <%.17g,0,0> "
                  "up <0,%.17g,0> }\n"
                  "light_source { <%.17g,%.17g,%.17g> color rgb 1 shadowless }\n"
                  "background { color rgb <0.5,0.5,0.5> }\n",
                  Width / Focal, Height / Focal, LightInView.x, -LightInView.y, LightInView.z);
    std::string pov = line;
    for (const fifty_parts::Shape& s : shapes) {
        const Vec3& z = s.size;
        switch (s.kind) {
            case fifty_parts::Kind::Sphere:
                std::snprintf(line, sizeof line, "sphere { 0, %.17g", z.x);
                break;
            case fifty_parts::Kind::Ellipsoid:
                std::snprintf(line, sizeof line, "sphere { 0, 1 scale <%.17g,%.17g,%.17g>", z.x,
                              z.y, z.z);
                break;
            case fifty_parts::Kind::Cylinder:
                std::snprintf(line, sizeof line, "cylinder { <0,%.17g,0>, <0,%.17g,0>, %.17g",
                              -z.y, z.y, z.x);
                break;
            case fifty_parts::Kind::Box:
                std::snprintf(line, sizeof line,
                              "box { <%.17g,%.17g,%.17g>, <%.17g,%.17g,%.17g>", -z.x, -z.y, -z.z,
                              z.x, z.y, z.z);
                break;
        }
        pov += line;
        // A row-vector matrix <column 0; column 1; column 2; translation> of the y-flipped
        // placement.
        const auto& r = s.rotation.m;
        std::snprintf(line, sizeof line,
                      " matrix <%.17g,%.17g,%.17g, %.17g,%.17g,%.17g, %.17g,%.17g,%.17g, "
                      "%.17g,%.17g,%.17g>\n  pigment { color rgb <%.6f,%.6f,%.6f> } "
                      "finish { ambient 0 diffuse 1 specular 0 } }\n",
                      r[0], -r[3], r[6], r[1], -r[4], r[7], r[2], -r[5], r[8], s.at.x, -s.at.y,
                      s.at.z, ((s.colour >> 16) & 0xFF) / 255.0, ((s.colour >> 8) & 0xFF) / 255.0,
                      (s.colour & 0xFF) / 255.0);
        pov += line;
    }
    return pov;
}

void BM_ShadedFrame50PartsBesidePovRay(benchmark::State& state) {
    const std::vector<fifty_parts::Shape> shapes = fifty_parts::Shapes();
    std::vector<std::uint32_t> pixels;
    QRender render;
    SetUpFrame(render, pixels, shapes);
    if (!render.BuffersReady()) {
        state.SkipWithError("SetSize failed");
        return;
    }
    const std::string pov = PovScene(shapes);

    const std::filesystem::path folder = std::filesystem::temp_directory_path();
    const std::string stem = "orbelle_pov_" + std::to_string(static_cast<long>(::getpid()));
    const std::filesystem::path scene = folder / (stem + ".pov");
    const std::filesystem::path image = folder / (stem + ".png");
    std::ofstream(scene) << pov;
    const std::string command = "povray -I" + scene.string() + " -O" + image.string() +
                                " +W" + std::to_string(Width) + " +H" + std::to_string(Height) +
                                " -A -D +WT1 +FN > /dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
        state.SkipWithError("povray is not installed or failed (Debian package povray)");
        std::filesystem::remove(scene);
        return;
    }
    RunBesidePeer(
        state,
        [&] {
            benchmark::DoNotOptimize(RenderShadedFrame(render));
            benchmark::ClobberMemory();
        },
        [&] { benchmark::DoNotOptimize(std::system(command.c_str())); });
    std::filesystem::remove(scene);
    std::filesystem::remove(image);
    state.SetItemsProcessed(state.iterations() * Width * Height);
}
BENCHMARK(BM_ShadedFrame50PartsBesidePovRay)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(7);

// The whole shaded render on its own (warm caches), and the shading alone over the cells of
// one cast.
void BM_ShadedFrame50Parts(benchmark::State& state) {
    std::vector<std::uint32_t> pixels;
    QRender render;
    SetUpFrame(render, pixels, fifty_parts::Shapes());
    if (!render.BuffersReady()) {
        state.SkipWithError("SetSize failed");
        return;
    }
    const bool isShadeOnly = state.range(0) != 0;
    RenderShadedFrame(render);
    for (auto _ : state) {
        if (isShadeOnly) {
            ShadeObjectSpans(render, render.changeRegion);
        } else {
            benchmark::DoNotOptimize(RenderShadedFrame(render));
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * Width * Height);
}
BENCHMARK(BM_ShadedFrame50Parts)->ArgName("shadeOnly")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
