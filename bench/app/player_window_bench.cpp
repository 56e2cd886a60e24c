// Presenting one 800 x 600 frame as the player does after each render: the score overlay
// drawn into the view, then the view premultiplied into the display's frame store (headless,
// keeping the frame in memory, so no file or server time is counted). The pixels mix opaque,
// translucent and transparent words as a rendered gizmo over an empty background does.

#include "app/player_window.h"

#include "app/headless_display.h"
#include "app/score_overlay.h"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

constexpr std::int32_t Width = 800;
constexpr std::int32_t Height = 600;

void FillView(std::uint32_t* bits) {
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            const std::int32_t dx = x - Width / 2;
            const std::int32_t dy = y - Height / 2;
            const std::int32_t r2 = dx * dx + dy * dy;
            // An opaque disc with a translucent rim on a transparent background.
            const std::uint32_t alpha = r2 < 200 * 200 ? 255u : r2 < 230 * 230 ? 128u : 0u;
            bits[y * Width + x] =
                (alpha << 24) | static_cast<std::uint32_t>(x * 131 + y * 71) % 0x1000000u;
        }
    }
}

void BM_PresentFrameWithOverlay(benchmark::State& state) {
    HeadlessDisplay display("");
    PlayerWindow window(display);
    std::uint32_t* bits = window.CreateViewBitmap(Width, Height);
    FillView(bits);
    const ScoreOverlayLayout layout = MeasureScoreOverlay();
    const bool withOverlay = state.range(0) != 0;
    std::uint32_t elapsed = 0;
    for (auto _ : state) {
        if (withOverlay) DrawScoreOverlay(bits, Width, Height, layout, true, 4200, elapsed);
        elapsed += 33;
        benchmark::DoNotOptimize(window.PresentLayeredWindow(0, 0, Width, Height));
    }
    state.SetItemsProcessed(state.iterations() * Width * Height);
}
BENCHMARK(BM_PresentFrameWithOverlay)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
