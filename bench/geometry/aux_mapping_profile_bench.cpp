#include "geometry/aux_mapping_profile.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

namespace {

// The cost of one surface mapping entry: a moving textured ellipsoid rebuilds its entry on
// every motion frame. The shapes cover the table depths and both branches of the second
// section: a sphere (the shallowest tables), an oblate and a prolate spheroid, a triaxial
// ellipsoid whose middle axis lies near the largest, and a near-degenerate ellipsoid whose
// moduli reach the deepest tables (92 pieces). The list keeps its buffer between rebuilds,
// as a part's does.
void BM_BuildAuxMappingEntry(benchmark::State& state) {
    constexpr std::array<std::array<double, 3>, 5> Shapes{{
        {1, 1, 1},         // sphere
        {2, 2, 0.5},       // oblate
        {0.5, 0.5, 2},     // prolate
        {1, 2.9, 3},       // triaxial, middle axis near the largest
        {1, 1e-7, 3},      // near-degenerate
    }};
    const auto& axes = Shapes[static_cast<std::size_t>(state.range(0))];
    SurfaceMappingEntry head;
    head.a = axes[0];
    head.b = axes[1];
    head.c = axes[2];
    head.kindWord = static_cast<std::uint32_t>(SurfaceMapperKind::Ellipsoid);
    BufferArray list;
    list.count = 1;
    for (auto _ : state) {
        BuildAuxMappingProfile(list, {&head, 1}, {});
        benchmark::DoNotOptimize(list.buffers[0]);
    }
    FreeBufferArray(list);
}
BENCHMARK(BM_BuildAuxMappingEntry)
    ->ArgName("shape")
    ->DenseRange(0, 4)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
