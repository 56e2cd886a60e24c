// A full shaded render (cast, span shading, no reduction) of fifty untextured spheres,
// ellipsoids, capped cylinders and boxes at 800 x 600, beside POV-Ray rendering the same
// shapes, placement, camera and light at the same size without anti-aliasing, on one thread
// (as ours runs), with no shadows, lit diffusely by one point light. POV-Ray runs as its own
// process, so its time includes start-up and parsing the scene (a few milliseconds).

#include "core/crt_random.h"
#include "core/matrix3.h"
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

constexpr std::int32_t Width = 800;
constexpr std::int32_t Height = 600;
constexpr double Focal = 1100.0;
const Vec3 LightInView{-20.0, -30.0, -10.0};

Matrix4W DiagonalForm(double c, Vec3 l, Vec3 d) {
    Matrix4W q;
    q.m = {c, l.x, l.y, l.z, l.x, d.x, 0, 0, l.y, 0, d.y, 0, l.z, 0, 0, d.z};
    return q;
}

void AddSlab(std::vector<Matrix4W>& forms, Vec3 axis, double half) {
    const double k = 0.5 / half;
    forms.push_back(DiagonalForm(-1.0, {axis.x * k, axis.y * k, axis.z * k}, {}));
    forms.push_back(DiagonalForm(-1.0, {-axis.x * k, -axis.y * k, -axis.z * k}, {}));
}

double Uniform(double lo, double hi) { return lo + (hi - lo) * CrtRand() / 32767.0; }

// Builds the scene into render and writes it as a POV-Ray scene. POV-Ray's y axis points up
// where ours points down the screen, so every point goes over as (x, -y, z).
void BuildScene(QRender& render, std::string& pov) {
    char line[512];
    std::snprintf(line, sizeof line,
                  "camera { perspective location <0,0,0> direction <0,0,1> right <%.17g,0,0> "
                  "up <0,%.17g,0> }\n"
                  "light_source { <%.17g,%.17g,%.17g> color rgb 1 shadowless }\n"
                  "background { color rgb <0.5,0.5,0.5> }\n",
                  Width / Focal, Height / Focal, LightInView.x, -LightInView.y, LightInView.z);
    pov = line;
    CrtSrand(3);
    for (int i = 0; i < 50; ++i) {
        const Vec3 size{Uniform(0.3, 1.2), Uniform(0.3, 1.2), Uniform(0.3, 1.2)};
        const Vec3 inverse{1 / (size.x * size.x), 1 / (size.y * size.y), 1 / (size.z * size.z)};
        std::vector<Matrix4W> forms;
        Matrix4W bound;
        switch (i % 4) {
            case 0:
                bound = DiagonalForm(-1.0, {}, {inverse.x, inverse.x, inverse.x});
                forms.push_back(bound);
                std::snprintf(line, sizeof line, "sphere { 0, %.17g", size.x);
                break;
            case 1:
                bound = DiagonalForm(-1.0, {}, inverse);
                forms.push_back(bound);
                std::snprintf(line, sizeof line, "sphere { 0, 1 scale <%.17g,%.17g,%.17g>", size.x,
                              size.y, size.z);
                break;
            case 2:
                forms.push_back(DiagonalForm(-1.0, {}, {inverse.x, 0.0, inverse.x}));
                AddSlab(forms, {0, 1, 0}, size.y);
                bound = DiagonalForm(-2.0, {}, {inverse.x, inverse.y, inverse.x});
                std::snprintf(line, sizeof line, "cylinder { <0,%.17g,0>, <0,%.17g,0>, %.17g",
                              -size.y, size.y, size.x);
                break;
            default:
                AddSlab(forms, {1, 0, 0}, size.x);
                AddSlab(forms, {0, 1, 0}, size.y);
                AddSlab(forms, {0, 0, 1}, size.z);
                bound = DiagonalForm(-3.0, {}, inverse);
                std::snprintf(line, sizeof line,
                              "box { <%.17g,%.17g,%.17g>, <%.17g,%.17g,%.17g>", -size.x, -size.y,
                              -size.z, size.x, size.y, size.z);
                break;
        }
        pov += line;
        Vec3 axis{Uniform(-1, 1), Uniform(-1, 1), Uniform(0.1, 1)};
        Vec3Normalize(axis);
        const Matrix3 rotation = Matrix3FromMatrix4(MakeRotationAboutAxis(axis, Uniform(0.0, 3.1)));
        const Matrix3 turn = Matrix3Transpose(rotation);
        const Vec3 at{Uniform(-2.5, 2.5), Uniform(-2.0, 2.0), Uniform(7.0, 12.0)};
        const Vec3 shift = Matrix3TransformVec3(turn, at);
        Matrix4W localFromView = EmbedMatrix3(turn, 0);
        localFromView.m[4] = -shift.x;
        localFromView.m[8] = -shift.y;
        localFromView.m[12] = -shift.z;
        const std::int32_t index = render.parts.AddPart(static_cast<std::int32_t>(forms.size()));
        RenderPartsSetFromLocal(render.parts, index, forms, bound, localFromView);
        const std::uint32_t colour = 0x406080u + static_cast<std::uint32_t>(i) * 0x030507u;
        render.parts.Part(index).colour = colour & 0xFFFFFFu;

        // view = rotation local + at; POV-Ray's point is (1, -1, 1) view, as a row-vector
        // matrix <column 0; column 1; column 2; translation>.
        const auto& r = rotation.m;
        std::snprintf(line, sizeof line,
                      " matrix <%.17g,%.17g,%.17g, %.17g,%.17g,%.17g, %.17g,%.17g,%.17g, "
                      "%.17g,%.17g,%.17g>\n  pigment { color rgb <%.6f,%.6f,%.6f> } "
                      "finish { ambient 0 diffuse 1 specular 0 } }\n",
                      r[0], -r[3], r[6], r[1], -r[4], r[7], r[2], -r[5], r[8], at.x, -at.y, at.z,
                      ((colour >> 16) & 0xFF) / 255.0, ((colour >> 8) & 0xFF) / 255.0,
                      (colour & 0xFF) / 255.0);
        pov += line;
    }
}

void BM_ShadedFrame50PartsBesidePovRay(benchmark::State& state) {
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(Width * Height));
    QRender render;
    if (render.SetSize(pixels.data(), Width, Height, Width, false) != RenderSizeOk) {
        state.SkipWithError("SetSize failed");
        return;
    }
    render.centreX = Width / 2.0;
    render.centreY = Height / 2.0;
    render.focalScale = Focal / 1000.0;
    render.shade.backgroundColour = 0x808080;
    render.SetLightCounts(1, 0);
    RenderLightSlot& light = render.LightSlot(0);
    light.enabled = 1;
    light.position = LightInView;
    RenderLightSlotSetColours(light, {1.0, 1.0, 1.0}, {0.0, 0.0, 0.0}, 1.0);
    std::string pov;
    BuildScene(render, pov);

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

// The shading alone, over the cells of one cast.
void BM_ShadeSpans50Parts(benchmark::State& state) {
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(Width * Height));
    QRender render;
    if (render.SetSize(pixels.data(), Width, Height, Width, false) != RenderSizeOk) {
        state.SkipWithError("SetSize failed");
        return;
    }
    render.centreX = Width / 2.0;
    render.centreY = Height / 2.0;
    render.focalScale = Focal / 1000.0;
    render.SetLightCounts(1, 0);
    RenderLightSlot& light = render.LightSlot(0);
    light.enabled = 1;
    light.position = LightInView;
    RenderLightSlotSetColours(light, {1.0, 1.0, 1.0}, {0.0, 0.0, 0.0}, 1.0);
    std::string pov;
    BuildScene(render, pov);
    RenderShadedFrame(render);
    for (auto _ : state) {
        ShadeObjectSpans(render, render.changeRegion);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * Width * Height);
}
BENCHMARK(BM_ShadeSpans50Parts)->Unit(benchmark::kMillisecond);

}  // namespace
