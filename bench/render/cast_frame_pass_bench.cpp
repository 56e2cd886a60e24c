// Cast-only time of a full frame: the part order, every part's rows and spans, and the hits
// written into the sample cells, with no shading.

#include "core/crt_random.h"
#include "core/matrix3.h"
#include "render/cast_frame_pass.h"
#include "render/q_render.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

// A quadric c + 2 l.p + d.p^2 over (1, x, y, z) with a diagonal quadratic part.
Matrix4W DiagonalForm(double c, Vec3 l, Vec3 d) {
    Matrix4W q;
    q.m = {c, l.x, l.y, l.z, l.x, d.x, 0, 0, l.y, 0, d.y, 0, l.z, 0, 0, d.z};
    return q;
}

// The slab |p . axis| <= half as two planes.
void AddSlab(std::vector<Matrix4W>& forms, Vec3 axis, double half) {
    const double k = 0.5 / half;
    forms.push_back(DiagonalForm(-1.0, {axis.x * k, axis.y * k, axis.z * k}, {}));
    forms.push_back(DiagonalForm(-1.0, {-axis.x * k, -axis.y * k, -axis.z * k}, {}));
}

double Uniform(double lo, double hi) { return lo + (hi - lo) * CrtRand() / 32767.0; }

// Fifty spheres, ellipsoids, capped cylinders and boxes, turned at random and crowded into
// the view so that they overlap, seen at 800 x 600 with a 1100-pixel focal length.
void BuildScene(QRender& render) {
    CrtSrand(3);
    for (int i = 0; i < 50; ++i) {
        const Vec3 size{Uniform(0.3, 1.2), Uniform(0.3, 1.2), Uniform(0.3, 1.2)};
        const Vec3 inverse{1 / (size.x * size.x), 1 / (size.y * size.y), 1 / (size.z * size.z)};
        std::vector<Matrix4W> forms;
        Matrix4W bound;
        switch (i % 4) {
            case 0:  // sphere
                bound = DiagonalForm(-1.0, {}, {inverse.x, inverse.x, inverse.x});
                forms.push_back(bound);
                break;
            case 1:  // ellipsoid
                bound = DiagonalForm(-1.0, {}, inverse);
                forms.push_back(bound);
                break;
            case 2:  // cylinder about y, capped
                forms.push_back(DiagonalForm(-1.0, {}, {inverse.x, 0.0, inverse.x}));
                AddSlab(forms, {0, 1, 0}, size.y);
                bound = DiagonalForm(-2.0, {}, {inverse.x, inverse.y, inverse.x});
                break;
            default:  // box
                AddSlab(forms, {1, 0, 0}, size.x);
                AddSlab(forms, {0, 1, 0}, size.y);
                AddSlab(forms, {0, 0, 1}, size.z);
                bound = DiagonalForm(-3.0, {}, inverse);
                break;
        }
        Vec3 axis{Uniform(-1, 1), Uniform(-1, 1), Uniform(0.1, 1)};
        Vec3Normalize(axis);
        const Matrix3 turn =
            Matrix3Transpose(Matrix3FromMatrix4(MakeRotationAboutAxis(axis, Uniform(0.0, 3.1))));
        const Vec3 at{Uniform(-2.5, 2.5), Uniform(-2.0, 2.0), Uniform(7.0, 12.0)};
        const Vec3 shift = Matrix3TransformVec3(turn, at);
        Matrix4W localFromView = EmbedMatrix3(turn, 0);
        localFromView.m[4] = -shift.x;
        localFromView.m[8] = -shift.y;
        localFromView.m[12] = -shift.z;
        const std::int32_t index = render.parts.AddPart(static_cast<std::int32_t>(forms.size()));
        RenderPartsSetFromLocal(render.parts, index, forms, bound, localFromView);
    }
}

void BM_CastFrame50Parts(benchmark::State& state) {
    const std::int32_t width = 800, height = 600;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width * height));
    QRender render;
    if (render.SetSize(pixels.data(), width, height, width, false) != RenderSizeOk) {
        state.SkipWithError("SetSize failed");
        return;
    }
    render.centreX = width / 2.0;
    render.centreY = height / 2.0;
    render.focalScale = 1.1;
    BuildScene(render);
    for (auto _ : state) {
        benchmark::DoNotOptimize(RenderCastFrame(render));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * width * height);
}
BENCHMARK(BM_CastFrame50Parts)->Unit(benchmark::kMillisecond);

}  // namespace
