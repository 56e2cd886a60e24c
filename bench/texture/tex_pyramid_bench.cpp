#include "texture/tex_pyramid.h"

#include "peer_ratio.h"
#include "texture/texture_params.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

std::vector<std::uint32_t> TestImage(int side) {
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(side) * side);
    std::uint32_t state = 12345;
    for (auto& p : pixels) {
        state = state * 1664525u + 1013904223u;
        p = state | 0xFF000000u;
    }
    return pixels;
}

// Level k of a 1024 x 1024 bordered image, its lower levels already present.
void BM_TexPyramidBuildLevel(benchmark::State& state) {
    const auto pixels = TestImage(1024);
    TexPyramid pyramid;
    TexPyramidSetImage(pyramid, pixels.data(), 1024, 1024, 1024, true);
    const int k = static_cast<int>(state.range(0));
    TexPyramidBuildLevel(pyramid, k);
    for (auto _ : state) benchmark::DoNotOptimize(TexPyramidBuildLevel(pyramid, k));
}
BENCHMARK(BM_TexPyramidBuildLevel)->Arg(0)->Arg(1)->Arg(6)->Arg(12)->Unit(benchmark::kMillisecond);

void BM_TexPyramidBuildMagnified(benchmark::State& state) {
    const auto pixels = TestImage(1024);
    TexPyramid pyramid;
    TexPyramidSetImage(pyramid, pixels.data(), 1024, 1024, 1024, true);
    for (auto _ : state) benchmark::DoNotOptimize(TexPyramidBuildMagnified(pyramid, 3));
}
BENCHMARK(BM_TexPyramidBuildMagnified)->Unit(benchmark::kMillisecond);

// The pyramid's level chain written the straightforward way, as the peer of the pyramid's
// own build: every level a new zero-form buffer with the level below (level 0: the padded
// image in the channel form) centred in it, then per pass each row blurred through a wrapped
// copy of it and the columns blurred from a copy of the whole level, a row at a time.
std::vector<std::vector<std::uint32_t>> RowOrderLevels(const std::vector<std::uint32_t>& pixels,
                                                       int side, bool bordered) {
    const int border = bordered ? 4 : 0;
    const int padded = side + border;
    std::vector<std::uint32_t> source(static_cast<std::size_t>(padded) * padded, 0);
    for (int y = 0; y < side; ++y) {
        std::copy_n(
            pixels.data() + static_cast<std::ptrdiff_t>(y) * side, side,
            source.data() + static_cast<std::ptrdiff_t>(y + border / 2) * padded + border / 2);
    }
    auto blur = [](std::uint32_t a, std::uint32_t b, std::uint32_t c) {
        constexpr std::uint32_t Mask = 0x00FF00FFu;
        const std::uint32_t low =
            (((a & Mask) + 2 * (b & Mask) + (c & Mask) + 0x00020002u) >> 2) & Mask;
        const std::uint32_t high =
            ((((a >> 8) & Mask) + 2 * ((b >> 8) & Mask) + ((c >> 8) & Mask) + 0x00020002u) >> 2) &
            Mask;
        return low | (high << 8);
    };
    auto wrap = [](int i, int n) { return ((i % n) + n) % n; };
    std::vector<std::vector<std::uint32_t>> levels;
    int belowSide = padded;
    for (int k = 0; k < TexPyramidLevelCount; ++k) {
        const int w = side + (bordered ? 2 * TexPyramidLevelMargins[k] : 0);
        const std::vector<std::uint32_t>& below = k == 0 ? source : levels.back();
        std::vector<std::uint32_t> level(static_cast<std::size_t>(w) * w, 0x40404040u);
        const int margin = (w - belowSide) / 2;
        for (int y = 0; y < belowSide; ++y) {
            for (int x = 0; x < belowSide; ++x) {
                std::uint32_t v = below[static_cast<std::size_t>(y) * belowSide + x];
                if (k == 0) {
                    const std::uint32_t alpha = (((v >> 24) + 1) >> 1) + 0x40u;
                    v = (((v >> 1) & 0x007F7F7Fu) + 0x00404040u) | alpha << 24;
                }
                level[static_cast<std::size_t>(y + margin) * w + x + margin] = v;
            }
        }
        const int j = std::max(k - 1, 0);
        const int d = 1 << (j / 3);
        std::vector<std::uint32_t> line(static_cast<std::size_t>(w + 2 * d));
        std::vector<std::uint32_t> copy(level.size());
        for (int pass = 0; pass < (j % 3 == 0 ? 2 : 3); ++pass) {
            for (int y = 0; y < w; ++y) {
                std::uint32_t* row = level.data() + static_cast<std::ptrdiff_t>(y) * w;
                for (int i = 0; i < d; ++i) {
                    line[i] = row[wrap(i - d, w)];
                    line[w + d + i] = row[wrap(w + i, w)];
                }
                std::copy_n(row, w, line.data() + d);
                for (int x = 0; x < w; ++x) row[x] = blur(line[x], line[x + d], line[x + 2 * d]);
            }
            copy = level;
            for (int y = 0; y < w; ++y) {
                const std::uint32_t* above =
                    copy.data() + static_cast<std::ptrdiff_t>(wrap(y - d, w)) * w;
                const std::uint32_t* centre = copy.data() + static_cast<std::ptrdiff_t>(y) * w;
                const std::uint32_t* under =
                    copy.data() + static_cast<std::ptrdiff_t>(wrap(y + d, w)) * w;
                std::uint32_t* row = level.data() + static_cast<std::ptrdiff_t>(y) * w;
                for (int x = 0; x < w; ++x) row[x] = blur(above[x], centre[x], under[x]);
            }
        }
        levels.push_back(std::move(level));
        belowSide = w;
    }
    return levels;
}

// All 13 levels of a side x side image (arg 1: bordered) from SetImage on, beside the
// row-order peer above. The two are checked byte for byte before timing.
void BM_TexPyramidAllLevelsVsRowOrder(benchmark::State& state) {
    const int side = static_cast<int>(state.range(0));
    const bool bordered = state.range(1) != 0;
    const auto pixels = TestImage(side);
    TexPyramid pyramid;
    auto ours = [&] {
        TexPyramidSetImage(pyramid, pixels.data(), side, side, side, bordered);
        benchmark::DoNotOptimize(TexPyramidBuildLevel(pyramid, TexPyramidLevelCount - 1));
    };
    std::vector<std::vector<std::uint32_t>> peerLevels;
    auto peer = [&] {
        peerLevels = RowOrderLevels(pixels, side, bordered);
        benchmark::DoNotOptimize(peerLevels.data());
    };
    ours();
    peer();
    for (int k = 0; k < TexPyramidLevelCount; ++k) {
        if (std::memcmp(pyramid.colourLevels[k], peerLevels[k].data(),
                        peerLevels[k].size() * sizeof(std::uint32_t)) != 0) {
            state.SkipWithError("levels differ from the row-order peer");
            return;
        }
    }
    peerLevels.clear();
    RunBesidePeer(state, ours, peer);
}
BENCHMARK(BM_TexPyramidAllLevelsVsRowOrder)
    ->Args({2048, 0})
    ->Args({2048, 1})
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_BuildDefaultVersaTex(benchmark::State& state) {
    const int side = static_cast<int>(state.range(0));
    const auto pixels = TestImage(side);
    TexPyramid pyramid;
    TexPyramidSetImage(pyramid, pixels.data(), side, side, side, false);
    TextureParams params;
    params.cTiles = 2.0;
    params.image = &pyramid;
    for (auto _ : state) {
        BuildDefaultVersaTex(params);
        benchmark::DoNotOptimize(params.mapping.get());
    }
}
BENCHMARK(BM_BuildDefaultVersaTex)->Arg(512)->Arg(2048)->Unit(benchmark::kMillisecond);

}  // namespace
