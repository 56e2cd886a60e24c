// ns per call of the cubic and quartic solvers over a fixed set of 256 coefficient sets:
// cubics with three real roots spread over two decades, and quartics of which about half
// have real roots, as the collision code's contact-time searches produce.

#include "core/polynomial_roots.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr int kInputCount = 256;

struct Coefficients {
    double a = 0.0;
    double b = 0.0;
    double c = 0.0;
    double d = 0.0;
};

std::vector<Coefficients> CubicInputs() {
    std::vector<Coefficients> inputs;
    for (int i = 0; i < kInputCount; ++i) {
        const double r0 = 10.0 * std::sin(1.3 * i + 0.1);
        const double r1 = std::cos(2.7 * i);
        const double r2 = 0.1 * std::sin(0.7 * i + 2.0) + 3.0;
        inputs.push_back({-(r0 + r1 + r2), r0 * r1 + r0 * r2 + r1 * r2, -r0 * r1 * r2, 0.0});
    }
    return inputs;
}

std::vector<Coefficients> QuarticInputs() {
    std::vector<Coefficients> inputs;
    for (int i = 0; i < kInputCount; ++i) {
        inputs.push_back({5.0 * std::sin(1.1 * i), 5.0 * std::cos(0.9 * i),
                          5.0 * std::sin(2.3 * i + 1.0), 3.0 * std::cos(1.7 * i + 0.5)});
    }
    return inputs;
}

void BM_CubicRealRoots(benchmark::State& state) {
    const std::vector<Coefficients> inputs = CubicInputs();
    std::array<double, 3> roots{};
    std::size_t i = 0;
    for (auto _ : state) {
        const Coefficients& c = inputs[i++ % inputs.size()];
        benchmark::DoNotOptimize(CubicRealRoots(c.a, c.b, c.c, roots));
        benchmark::DoNotOptimize(roots);
    }
}
BENCHMARK(BM_CubicRealRoots);

void BM_CubicRealRoot(benchmark::State& state) {
    const std::vector<Coefficients> inputs = CubicInputs();
    std::size_t i = 0;
    for (auto _ : state) {
        const Coefficients& c = inputs[i++ % inputs.size()];
        benchmark::DoNotOptimize(CubicRealRoot(c.a, c.b, c.c));
    }
}
BENCHMARK(BM_CubicRealRoot);

void BM_QuarticRealRoot(benchmark::State& state) {
    const std::vector<Coefficients> inputs = QuarticInputs();
    std::uint8_t found = 0;
    std::size_t i = 0;
    for (auto _ : state) {
        const Coefficients& c = inputs[i++ % inputs.size()];
        benchmark::DoNotOptimize(QuarticRealRoot(c.a, c.b, c.c, c.d, &found));
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(BM_QuarticRealRoot);

}  // namespace
