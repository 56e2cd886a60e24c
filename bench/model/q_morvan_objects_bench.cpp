#include "model/q_morvan_objects.h"

#include "model/q_document_base.h"
#include "model/q_morvan_object.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

namespace {

constexpr std::int32_t ShapeCount = 5000;
constexpr std::int32_t PurgeCount = 1000;

// Inserts 5,000 default shapes (kinds 1 to 9 in turn), each with its geometry update, as
// the modeller's shape commands and bot regeneration do. Argument 1 batches the block's
// growth in steps of 64 KB.
void InsertDefaultShapes(benchmark::State& state) {
    const bool batching = state.range(0) != 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto document = std::make_unique<QDocumentBase>();
        QMorvanObjects& objects = *document->Objects();
        objects.batching = batching;
        objects.reserveStep = 65536;
        state.ResumeTiming();
        for (std::int32_t i = 0; i < ShapeCount; ++i) objects.AddDefaultShape(1 + i % 9);
        benchmark::DoNotOptimize(objects.Count());
        state.PauseTiming();
        document.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * ShapeCount);
}
BENCHMARK(InsertDefaultShapes)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Purges every fifth of 5,000 shapes: the kept records are copied, the block rebuilt and
// the geometry reloaded once.
void PurgeShapes(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto document = std::make_unique<QDocumentBase>();
        QMorvanObjects& objects = *document->Objects();
        for (std::int32_t i = 0; i < ShapeCount; ++i) objects.AddDefaultShape(1 + i % 9);
        for (std::int32_t i = 0; i < ShapeCount; i += ShapeCount / PurgeCount) {
            objects.At(i)->purge = 1;
        }
        state.ResumeTiming();
        objects.PurgeDeleted(true);
        benchmark::DoNotOptimize(objects.Count());
        state.PauseTiming();
        document.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * PurgeCount);
}
BENCHMARK(PurgeShapes)->Unit(benchmark::kMillisecond);

}  // namespace
