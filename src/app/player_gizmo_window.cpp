#include "app/player_gizmo_window.h"

#include "app/player_window.h"
#include "core/private_heap.h"
#include "platform/clock.h"

#include <cstddef>
#include <span>

void PlayerGizmoWindow::MoveWindow(const ScreenRect& rect) { display->MoveWindow(rect); }

void PlayerGizmoWindow::DrawScoreOverlay(std::uint32_t* pixels, std::int32_t width,
                                         std::int32_t height, std::int32_t score) {
    ::DrawScoreOverlay(pixels, width, height, layout, isScoreShown, score,
                       GetTickCount() - gameClockStart);
}

void PlayerGizmoWindow::PresentLayeredWindow(const std::uint32_t* pixels, std::int32_t width,
                                             std::int32_t height, std::int32_t left,
                                             std::int32_t top) {
    if (pixels == nullptr || width <= 0 || height <= 0) return;
    const std::span<std::uint32_t> store =
        TranslateBadAlloc([&] { return display->FrameStore(width, height); });
    if (store.empty()) return;
    PremultiplyPixels(pixels, store.data(),
                      static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    display->UpdateLayeredWindow(left, top);
}

void PlayerGizmoWindow::MoveAndPresent(const std::uint32_t* pixels, const ScreenRect& rect,
                                       std::int32_t oldLeft, std::int32_t oldTop) {
    const bool moved = rect.left != oldLeft || rect.top != oldTop;
    if (moved) display->ShowWindow(false);
    display->MoveWindow(rect);
    PresentLayeredWindow(pixels, rect.right - rect.left, rect.bottom - rect.top, rect.left,
                         rect.top);
    if (moved) display->ShowWindow(true);
}
