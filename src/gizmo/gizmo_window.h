#pragma once

// What the frame step and the input handlers ask of the player's window. The window, its
// presentation on the display and the score overlay belong to the player above this layer,
// which installs its implementation at start-up; with none installed (tests, windowless
// runs) the gizmo still steps, renders and moves its window rectangle, and nothing is shown.
//
// Frames are the view's pixels: width x height straight-alpha 0xAARRGGBB words, rows packed,
// as the renderer writes them.

#include "platform/layered_display.h"

#include <cstdint>

class GizmoWindow {
public:
    virtual ~GizmoWindow() = default;

    // Moves and sizes the window to rect without painting it.
    virtual void MoveWindow(const ScreenRect& rect) = 0;

    // Draws the score and game-time overlay into the frame, when the game shows it; score is
    // the sum of the flyers' scores.
    virtual void DrawScoreOverlay(std::uint32_t* pixels, std::int32_t width, std::int32_t height,
                                  std::int32_t score) = 0;

    // Shows the frame as the window's whole contents with its top-left corner at (left, top).
    virtual void PresentLayeredWindow(const std::uint32_t* pixels, std::int32_t width,
                                      std::int32_t height, std::int32_t left, std::int32_t top) = 0;

    // Moves the window to rect and shows the frame (rect's size) there; while the top-left
    // corner moves away from (oldLeft, oldTop) the window is hidden, so the old frame is never
    // seen at the new place.
    virtual void MoveAndPresent(const std::uint32_t* pixels, const ScreenRect& rect,
                                std::int32_t oldLeft, std::int32_t oldTop) = 0;
};

// Installs window for the process (not owned; it must outlive its installation); null shows
// nothing.
void SetGizmoWindow(GizmoWindow* window);

// The installed window, or null when none is.
GizmoWindow* CurrentGizmoWindow();
