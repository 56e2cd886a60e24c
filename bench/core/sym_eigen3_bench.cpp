// ns per call of the symmetric 3x3 eigen-decomposition over 256 fixed matrices.

#include "core/sym_eigen3.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <vector>

namespace {

void BM_SymEigen3(benchmark::State& state) {
    std::vector<Matrix3> inputs;
    for (int i = 0; i < 256; ++i) {
        Matrix3 m;
        for (int k = 0; k < 9; ++k) m.m[k] = std::sin(1.7 * i + 0.9 * k);
        m.m[3] = m.m[1];
        m.m[6] = m.m[2];
        m.m[7] = m.m[5];
        inputs.push_back(m);
    }
    const bool sortDescending = state.range(0) != 0;
    std::array<double, 3> values{};
    Matrix3 vectors;
    std::size_t i = 0;
    for (auto _ : state) {
        SymEigen3(inputs[i++ % inputs.size()], sortDescending, values, vectors);
        benchmark::DoNotOptimize(values);
        benchmark::DoNotOptimize(vectors);
    }
}
BENCHMARK(BM_SymEigen3)->Arg(0)->Arg(1);

}  // namespace
