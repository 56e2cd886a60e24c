#include "geometry/part_block.h"

#include "core/byte_order.h"
#include "geometry/geometry_view_state.h"
#include "geometry/part_record.h"
#include "geometry/scene_geometry.h"
#include "scene_block.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <vector>

namespace {

using geometry_bench::SceneBlock;

// A full load of a native block: every part placed and built, the arrays sized exactly.
void BM_LoadPartBlock(benchmark::State& state) {
    const auto count = static_cast<std::int32_t>(state.range(0));
    std::vector<std::uint8_t> block = SceneBlock(count, nullptr);
    SceneGeometry geometry;
    for (auto _ : state) {
        const std::int32_t result = LoadPartBlock(
            geometry, block.data(), static_cast<std::uint32_t>(block.size()), true, nullptr, true);
        benchmark::DoNotOptimize(result);
    }
    state.counters["parts/s"] = benchmark::Counter(static_cast<double>(count),
                                                   benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LoadPartBlock)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

// The same load with a renderer attached that keeps a frame copy and two light copies, which
// the container sizes with its own arrays.
void BM_LoadPartBlockWithView(benchmark::State& state) {
    const auto count = static_cast<std::int32_t>(state.range(0));
    std::vector<std::uint8_t> block = SceneBlock(count, nullptr);
    SceneGeometry geometry;
    GeometryViewState view;
    view.lightSlots = 2;
    geometry.AttachViewState(view);
    for (auto _ : state) {
        const std::int32_t result = LoadPartBlock(
            geometry, block.data(), static_cast<std::uint32_t>(block.size()), true, nullptr, true);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_LoadPartBlockWithView)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

// A block written on a machine of the other byte order: the loader checks it, swaps it in
// place and loads it. Each iteration starts from the foreign bytes again (copy not timed).
void BM_LoadForeignPartBlock(benchmark::State& state) {
    const auto count = static_cast<std::int32_t>(state.range(0));
    std::vector<std::uint8_t> native = SceneBlock(count, nullptr);
    SceneGeometry geometry;
    // The foreign twin: marker 0, every 32-bit word swapped, the flag bytes kept.
    std::vector<std::uint8_t> foreign = native;
    const auto swap32 = [&](std::size_t at) {
        StoreU32BE(foreign.data() + at, LoadU32LE(native.data() + at));
    };
    StoreU16BE(foreign.data(), 3);
    StoreU16LE(foreign.data() + PartBlockMarkerOffset, 0);
    for (std::size_t at : {4u, 8u, 12u}) swap32(at);
    std::size_t offset = PartBlockHeaderBytes;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint32_t n = LoadU32LE(native.data() + offset + PartRecordParamCountOffset);
        for (std::size_t at = 0; at < 80 + 4 * n; at += 4) {
            if (at != PartRecordFlagsOffset) swap32(offset + at);
        }
        offset += 80 + 4 * n;
    }
    std::vector<std::uint8_t> block;
    for (auto _ : state) {
        state.PauseTiming();
        block = foreign;
        state.ResumeTiming();
        const std::int32_t result = LoadPartBlock(
            geometry, block.data(), static_cast<std::uint32_t>(block.size()), true, nullptr, true);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_LoadForeignPartBlock)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

// count parts appended one at a time, as the modeller adds parts: each call loads only the new
// record. The arrays grow by 100 parts and 400 surfaces whenever the room runs out, moving
// every record (and every view copy) once per step; the counter reports how many steps. The
// third argument reserves room for every part after the first load, which leaves the cost of
// the appends without the growth steps.
void BM_AppendPartsOneAtATime(benchmark::State& state) {
    const auto count = static_cast<std::int32_t>(state.range(0));
    const bool withView = state.range(1) != 0;
    const bool reserved = state.range(2) != 0;
    std::vector<std::uint32_t> offsets;
    std::vector<std::uint8_t> block = SceneBlock(count, &offsets);
    std::int64_t growths = 0;
    for (auto _ : state) {
        SceneGeometry geometry;
        GeometryViewState view;
        view.lightSlots = 2;
        if (withView) geometry.AttachViewState(view);
        growths = 0;
        for (std::int32_t i = 0; i < count; ++i) {
            const std::int32_t capacity = geometry.PartCapacity();
            StoreU32LE(block.data() + PartBlockPartCountOffset, static_cast<std::uint32_t>(i + 1));
            const std::uint32_t length = i + 1 < count ? offsets[static_cast<std::size_t>(i) + 1]
                                                       : static_cast<std::uint32_t>(block.size());
            const std::int32_t result =
                LoadPartBlock(geometry, block.data(), length, false,
                              block.data() + offsets[static_cast<std::size_t>(i)], true);
            benchmark::DoNotOptimize(result);
            if (i == 0 && reserved) geometry.ResizePartArrays(count, 9 * count, true);
            if (i != 0 && geometry.PartCapacity() != capacity) ++growths;
        }
    }
    state.counters["growths"] = static_cast<double>(growths);
    state.counters["per_part"] = benchmark::Counter(
        static_cast<double>(count),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AppendPartsOneAtATime)
    ->Args({10000, 0, 0})
    ->Args({10000, 1, 0})
    ->Args({10000, 0, 1})
    ->Args({10000, 1, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
