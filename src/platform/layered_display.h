#pragma once

// The display the player's window lives on, as the player was designed around it: one
// borderless top-level window with no painting of its own, whose every pixel and its alpha
// come from a frame of premultiplied 0xAARRGGBB words handed over whole (a layered window);
// the monitors with their work areas; and the cursor. An X display with a 32-bit ARGB visual
// implements it (x_layered_display.h), and so does the player's headless presenter, which
// writes the frames to image files.
//
// Rectangles are screen pixels with exclusive right and bottom edges, as the window
// system's own rectangles are.

#include <cstdint>
#include <optional>
#include <span>

struct ScreenPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
};

struct ScreenRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// One monitor: its whole area, the part of it windows may use (without panels and docks),
// and whether it is the primary one.
struct MonitorInfo {
    ScreenRect area;
    ScreenRect workArea;
    bool isPrimary = false;
};

class LayeredDisplay {
public:
    virtual ~LayeredDisplay() = default;

    // The window's frame store for a width x height frame, rows packed top-down. The caller
    // writes premultiplied words into it and hands it over with UpdateLayeredWindow; it keeps
    // its contents until the next call. The store is resized only when the size changes.
    // Empty for a size that is not positive. Throws std::bad_alloc when its memory is refused.
    virtual std::span<std::uint32_t> FrameStore(std::int32_t width, std::int32_t height) = 0;

    // Places the window's top-left corner at (left, top), sizes it to the frame store and
    // shows the store's pixels with their alpha (the window need not be shown for this).
    // False when the display refuses, or when no frame store was asked for.
    virtual bool UpdateLayeredWindow(std::int32_t left, std::int32_t top) = 0;

    // Moves and sizes the window without painting it.
    virtual void MoveWindow(const ScreenRect& rect) = 0;

    // Shows or hides the window.
    virtual void ShowWindow(bool shown) = 0;
    virtual bool IsWindowShown() const = 0;

    // The window's rectangle on the screen as last moved or updated.
    virtual ScreenRect WindowRect() const = 0;

    // The monitors, the primary one among them; empty when the display tells none.
    virtual std::span<const MonitorInfo> Monitors() const = 0;

    // The cursor's position on the screen.
    virtual ScreenPoint CursorScreenPos() = 0;

    // Delivers what the display has queued: pointer buttons and keys into the input state
    // (platform/input_state.h), and repaints of the window from its frame store.
    virtual void ProcessEvents() = 0;
};

// The monitor a point is on, else the one nearest to it (by the distance from the point to
// the monitor's area). Empty when there are no monitors.
std::optional<MonitorInfo> MonitorFromPoint(std::span<const MonitorInfo> monitors,
                                            ScreenPoint point);

// The monitor that shares the most area with the rectangle. A rectangle on no monitor gets
// the nearest one when nearest is set, else the primary one (the first when none is marked).
// Empty when there are no monitors.
std::optional<MonitorInfo> MonitorFromRect(std::span<const MonitorInfo> monitors,
                                           const ScreenRect& rect, bool nearest);
