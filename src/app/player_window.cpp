#include "app/player_window.h"

#include "core/private_heap.h"

#include <algorithm>
#include <optional>
#include <span>

namespace {

// round(c * a / 255) for bytes c and a, exact for every pair: with t = c * a + 128,
// (t + (t >> 8)) >> 8 is the rounded quotient.
inline std::uint32_t MulDiv255(std::uint32_t c, std::uint32_t a) {
    const std::uint32_t t = c * a + 128;
    return (t + (t >> 8)) >> 8;
}

}  // namespace

void PremultiplyPixels(const std::uint32_t* src, std::uint32_t* dst, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t p = src[i];
        const std::uint32_t a = p >> 24;
        if (a == 255) {
            dst[i] = p;
        } else if (a == 0) {
            dst[i] = 0;
        } else {
            dst[i] = (a << 24) | (MulDiv255((p >> 16) & 0xFF, a) << 16) |
                     (MulDiv255((p >> 8) & 0xFF, a) << 8) | MulDiv255(p & 0xFF, a);
        }
    }
}

PlayerWindow::PlayerWindow(LayeredDisplay& target) : display(target) {}

std::uint32_t* PlayerWindow::CreateViewBitmap(std::int32_t width, std::int32_t height) {
    viewBits.reset();
    viewWidth = 0;
    viewHeight = 0;
    if (width <= 0 || height <= 0) return nullptr;
    const std::uint64_t count =
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    // The heap takes 32-bit sizes; a view too large for them is refused like any other.
    if (count > UINT32_MAX / sizeof(std::uint32_t)) ThrowOutOfMemory();
    viewBits = PrivateAllocBlock<std::uint32_t>(static_cast<std::uint32_t>(count));
    viewWidth = width;
    viewHeight = height;
    return viewBits.get();
}

bool PlayerWindow::PresentLayeredWindow(std::int32_t left, std::int32_t top, std::int32_t width,
                                        std::int32_t height) {
    if (!viewBits || width <= 0 || height <= 0) return false;
    const std::span<std::uint32_t> store =
        TranslateBadAlloc([&] { return display.FrameStore(width, height); });
    if (store.empty()) return false;
    const std::int32_t copyWidth = std::min(width, viewWidth);
    const std::int32_t copyHeight = std::min(height, viewHeight);
    for (std::int32_t y = 0; y < height; ++y) {
        std::uint32_t* out =
            store.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        std::int32_t done = 0;
        if (y < copyHeight) {
            PremultiplyPixels(
                viewBits.get() + static_cast<std::size_t>(y) * static_cast<std::size_t>(viewWidth),
                out, static_cast<std::size_t>(copyWidth));
            done = copyWidth;
        }
        std::fill(out + done, out + width, 0u);
    }
    return display.UpdateLayeredWindow(left, top);
}

bool PlayerWindow::MoveAndPresent(std::int32_t left, std::int32_t top, std::int32_t right,
                                  std::int32_t bottom, std::int32_t oldLeft, std::int32_t oldTop) {
    const bool moved = left != oldLeft || top != oldTop;
    if (moved) display.ShowWindow(false);
    display.MoveWindow({left, top, right, bottom});
    const bool presented = PresentLayeredWindow(left, top, right - left, bottom - top);
    if (moved) display.ShowWindow(true);
    return presented;
}

void PlayerWindow::GetWorkArea(const ScreenPoint* point, ScreenRect& rect, bool nearest) const {
    const std::optional<MonitorInfo> monitor =
        point != nullptr ? MonitorFromPoint(display.Monitors(), *point)
                         : MonitorFromRect(display.Monitors(), rect, nearest);
    if (monitor) rect = monitor->workArea;
}

ScreenPoint PlayerWindow::GetCursorScreenPos() { return display.CursorScreenPos(); }
