#include "object/q_reference_object.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

class CountingReferrer : public QReferenceObject {
public:
    void HandleMessage(std::int32_t, std::int32_t, QReferenceObject*, QReferenceObject*) override {
        ++heardCount;
    }
    std::int64_t heardCount = 0;
};

// One change message from a target that many objects follow, as when a texture used by
// every object of a large scene changes.
void BroadcastToReferrers(benchmark::State& state) {
    const auto referrerCount = static_cast<std::size_t>(state.range(0));
    QReferenceObject sender;
    std::vector<std::unique_ptr<CountingReferrer>> referrers;
    referrers.reserve(referrerCount);
    for (std::size_t i = 0; i < referrerCount; ++i) {
        referrers.push_back(std::make_unique<CountingReferrer>());
        QReferenceObject::AddReference(&sender, referrers.back().get(), 0);
    }
    for (auto _ : state) {
        QReferenceObject::Broadcast(&sender, MessageChanged, 0);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    benchmark::DoNotOptimize(referrers.front()->heardCount);
}

BENCHMARK(BroadcastToReferrers)
    ->Arg(10'000)
    ->Repetitions(5)
    ->ComputeStatistics("min",
                        [](const std::vector<double>& v) {
                            return *std::min_element(v.begin(), v.end());
                        })
    ->Unit(benchmark::kMicrosecond);

}  // namespace
