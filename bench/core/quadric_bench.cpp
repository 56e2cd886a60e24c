// ns per call of the quadric analysis over 256 fixed singular forms (cones and cylinders in
// general position, the degenerate members the collision code diagonalises).

#include "core/quadric.h"

#include "core/rotation.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <vector>

namespace {

void BM_AnalyseQuadric(benchmark::State& state) {
    std::vector<Matrix4W> inputs;
    for (int i = 0; i < 256; ++i) {
        Matrix4W shape;
        shape.m[5] = 1.0 + 0.5 * std::sin(0.3 * i);
        shape.m[10] = i % 2 == 0 ? shape.m[5] : 2.0;
        shape.m[15] = i % 2 == 0 ? -1.0 : 0.0;
        shape.m[0] = i % 2 == 0 ? 0.0 : -1.0;
        const Matrix3 r = RotationFromVector(Vec3{std::sin(1.1 * i), std::cos(0.7 * i), 0.5});
        Matrix4W frame = EmbedMatrix3(r, 0);
        frame.m[4] = std::sin(2.1 * i);
        frame.m[8] = std::cos(1.9 * i);
        frame.m[12] = 0.5;
        const Matrix4W inverse = InvertAffineWFirst(frame);
        inputs.push_back(Matrix4Product(Matrix4Product(Matrix4Transpose(inverse), shape), inverse));
    }
    std::array<double, 4> values{};
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(AnalyseQuadric(inputs[i++ % inputs.size()], values));
        benchmark::DoNotOptimize(values);
    }
}
BENCHMARK(BM_AnalyseQuadric);

}  // namespace
