#pragma once

// Runs a routine of ours beside its peer (the library or the plain code it is measured
// against) in the same benchmark, alternating which goes first so that neither always meets a
// warm or a cold cache. The benchmark's time is ours; the counters give both medians and the
// ratios ours / peer of the medians and of the fastest runs, so a ratio is always read from
// runs made under the same machine load. Register with UseManualTime().

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <vector>

template <class Fn>
double PeerRatioSeconds(Fn& fn) {
    const auto start = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline double PeerRatioMedian(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

template <class Ours, class Peer>
void RunBesidePeer(benchmark::State& state, Ours&& ours, Peer&& peer) {
    std::vector<double> oursSeconds;
    std::vector<double> peerSeconds;
    bool isOursFirst = true;
    for (auto _ : state) {
        double oursTime = 0.0;
        if (isOursFirst) {
            oursTime = PeerRatioSeconds(ours);
            peerSeconds.push_back(PeerRatioSeconds(peer));
        } else {
            peerSeconds.push_back(PeerRatioSeconds(peer));
            oursTime = PeerRatioSeconds(ours);
        }
        oursSeconds.push_back(oursTime);
        isOursFirst = !isOursFirst;
        state.SetIterationTime(oursTime);
    }
    if (oursSeconds.empty()) return;
    const double oursMedian = PeerRatioMedian(oursSeconds);
    const double peerMedian = PeerRatioMedian(peerSeconds);
    const double oursMin = *std::min_element(oursSeconds.begin(), oursSeconds.end());
    const double peerMin = *std::min_element(peerSeconds.begin(), peerSeconds.end());
    state.counters["ours_ms"] = 1e3 * oursMedian;
    state.counters["peer_ms"] = 1e3 * peerMedian;
    state.counters["ratio"] = oursMedian / peerMedian;
    state.counters["ratio_min"] = oursMin / peerMin;
}
