#include "core/private_heap.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

// The private heap's allocate/free pair against the C heap's, for typical block sizes.
void BM_PrivateAllocFree(benchmark::State& state) {
    const auto size = static_cast<std::uint32_t>(state.range(0));
    for (auto _ : state) {
        void* block = PrivateAlloc(size);
        benchmark::DoNotOptimize(block);
        PrivateFree(block);
    }
}
BENCHMARK(BM_PrivateAllocFree)->Arg(64)->Arg(4096)->Arg(1 << 20);

void BM_MallocFree(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        void* block = std::malloc(size);
        benchmark::DoNotOptimize(block);
        std::free(block);
    }
}
BENCHMARK(BM_MallocFree)->Arg(64)->Arg(4096)->Arg(1 << 20);

}  // namespace
