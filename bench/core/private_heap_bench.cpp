#include "core/private_heap.h"

#include "peer_ratio.h"

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

// The same pairs as a ratio: batches of 100,000 private pairs and 100,000 malloc/free pairs,
// alternated, with 64 other blocks of the size held meanwhile so that neither heap works on
// an empty list.
void BM_PrivateAllocFreeVsMalloc(benchmark::State& state) {
    constexpr int PairCount = 100000;
    constexpr int HeldCount = 64;
    const auto size = static_cast<std::uint32_t>(state.range(0));
    void* privateHeld[HeldCount];
    void* cHeld[HeldCount];
    for (int i = 0; i < HeldCount; ++i) {
        privateHeld[i] = PrivateAlloc(size);
        cHeld[i] = std::malloc(size);
    }
    auto ours = [size] {
        for (int i = 0; i < PairCount; ++i) {
            void* block = PrivateAlloc(size);
            benchmark::DoNotOptimize(block);
            PrivateFree(block);
        }
    };
    auto peer = [size] {
        for (int i = 0; i < PairCount; ++i) {
            void* block = std::malloc(size);
            benchmark::DoNotOptimize(block);
            std::free(block);
        }
    };
    RunBesidePeer(state, ours, peer);
    for (int i = 0; i < HeldCount; ++i) {
        PrivateFree(privateHeld[i]);
        std::free(cHeld[i]);
    }
}
BENCHMARK(BM_PrivateAllocFreeVsMalloc)
    ->Arg(64)
    ->Arg(4096)
    ->Iterations(21)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
