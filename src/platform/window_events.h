#pragma once

// What the user does on the player's window, as the player handles it: keys going down (auto
// repeats included), left-button presses and releases with the modifiers held, and the
// right button's request for the context menu. The display delivers them while it processes
// its events (LayeredDisplay::ProcessEvents), after the input state has taken the same news;
// the player installs its handler at start-up, and with none installed they only reach the
// input state.

#include "platform/layered_display.h"

#include <cstdint>

// Modifier bits of a button press: Ctrl, Shift and Alt, as the gizmo's manipulations count
// them.
inline constexpr std::int32_t WindowModifierControl = 1;
inline constexpr std::int32_t WindowModifierShift = 2;
inline constexpr std::int32_t WindowModifierAlt = 4;

class WindowEventSink {
public:
    virtual ~WindowEventSink() = default;
    // A key went down: its virtual key code (input_state.h).
    virtual void OnKeyDown(std::int32_t virtualKey) = 0;
    // The left button went down at a screen point with the modifiers held.
    virtual void OnLeftButtonDown(ScreenPoint screenPoint, std::int32_t modifiers) = 0;
    // The left button went up.
    virtual void OnLeftButtonUp() = 0;
    // The right button asks for the context menu at a screen point.
    virtual void OnContextMenu(ScreenPoint screenPoint) = 0;
};

// Installs sink for the process (not owned; it must outlive its installation); null leaves
// the events to the input state alone.
void SetWindowEventSink(WindowEventSink* sink);

// The installed sink, or null.
WindowEventSink* CurrentWindowEventSink();
