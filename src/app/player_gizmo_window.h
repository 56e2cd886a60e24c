#pragma once

// The player's window as the gizmo's frame step and input handlers reach it (GizmoWindow):
// the gizmo's frames are premultiplied straight into the display's frame store on their way
// to the screen (the one pass over the pixels), the window is moved on the display, and
// the score overlay is drawn into the frame when the game shows it. The player installs one
// at start-up (SetGizmoWindow) and sets the overlay's switch and game clock as the game
// starts and stops.

#include "app/score_overlay.h"
#include "gizmo/gizmo_window.h"
#include "platform/layered_display.h"

#include <cstdint>

class PlayerGizmoWindow final : public GizmoWindow {
public:
    // Over display (not owned; it must outlive this object).
    explicit PlayerGizmoWindow(LayeredDisplay& target) : display(&target) {}

    void MoveWindow(const ScreenRect& rect) override;
    // The overlay with the time since gameClockStart (GetTickCount), when isScoreShown.
    void DrawScoreOverlay(std::uint32_t* pixels, std::int32_t width, std::int32_t height,
                          std::int32_t score) override;
    // Throws KVOutOfMemoryException when the display's frame store cannot grow; a frame of
    // no pixels or a refusing display shows nothing.
    void PresentLayeredWindow(const std::uint32_t* pixels, std::int32_t width, std::int32_t height,
                              std::int32_t left, std::int32_t top) override;
    void MoveAndPresent(const std::uint32_t* pixels, const ScreenRect& rect, std::int32_t oldLeft,
                        std::int32_t oldTop) override;

    ScoreOverlayLayout layout;
    bool isScoreShown = false;         // game mode and the score display both on
    std::uint32_t gameClockStart = 0;  // GetTickCount at the game's start

private:
    LayeredDisplay* display;
};
