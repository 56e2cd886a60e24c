// ns per call of the single-precision-rounding point transform over 256 fixed points.

#include "core/matrix4.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

void BM_TransformPoint(benchmark::State& state) {
    Matrix4 m;
    SetAxisRotation(m, 0.0, 0.6, 0.8, 0.4);
    m.m[3] = 1.5;
    m.m[7] = -2.0;
    m.m[11] = 0.25;
    std::vector<Vec3> points;
    for (int i = 0; i < 256; ++i) {
        points.push_back(Vec3{std::sin(1.3 * i), std::cos(0.7 * i), std::sin(2.9 * i) * 10.0});
    }
    std::size_t i = 0;
    for (auto _ : state) {
        const Vec3& p = points[i++ % points.size()];
        benchmark::DoNotOptimize(TransformPoint(m, p.x, p.y, p.z));
    }
}
BENCHMARK(BM_TransformPoint);

}  // namespace
