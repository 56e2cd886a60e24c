#pragma once

// Key, button and message state, as the renderer's interruption polls and the player's
// trigger keys read it. The system was designed around asynchronous key queries and a look
// into the window's message queue that leaves the message there; this unit keeps both
// answers in one record. The window layer reports what the display tells it (keys and buttons
// going down and up, left-button presses queued for the window, and their delivery); the
// queries answer from that record.
//
// Tests install their own source (InputStateSource, for instance ScriptedInputState) in
// place of the live record, so a poll can be made to see a click or a held key at a chosen
// moment. The process has one thread, so nothing here takes a lock.

#include <cstdint>

// Virtual key codes the system tests.
inline constexpr std::int32_t VirtualKeyLeftButton = 0x01;
inline constexpr std::int32_t VirtualKeyDigit1 = 0x31;   // '1'; '2' and '3' follow
inline constexpr std::int32_t VirtualKeyNumpad1 = 0x61;  // keypad 1; 2 and 3 follow

// Where the queries get their answers.
class InputStateSource {
public:
    virtual ~InputStateSource() = default;
    // True while the key or mouse button with this virtual key code is held.
    virtual bool IsKeyHeld(std::int32_t virtualKey) = 0;
    // True when a left-button-down message waits for the window; looking does not remove it.
    virtual bool HasPendingLeftButtonDown() = 0;
};

// Installs source for every query (not owned; it must outlive its installation); null goes
// back to the live record.
void SetInputStateSource(InputStateSource* source);

// The key's state: the sign bit (0x8000) set while it is held, else 0.
std::int16_t GetAsyncKeyState(std::int32_t virtualKey);

// True while the left mouse button is held, as the window's delivered messages left it.
bool IsLeftButtonDown();

// True when any of the trigger keys '1', '2', '3' or keypad 1, 2, 3 is held.
bool AnyTriggerKeyDown();

// True when a left-button-down message waits in the window's queue; it stays queued.
bool PeekLeftButtonDownMessage();

// ---- The live record, fed by the window layer ----

// A key or mouse button went down (held) or up.
void InputStateSetKeyHeld(std::int32_t virtualKey, bool held);
// A left-button-down message was queued for the window.
void InputStatePostLeftButtonDown();
// Delivers the oldest queued left-button-down message: true when there was one.
bool InputStateTakeLeftButtonDown();
// Forgets every held key and queued message.
void InputStateClear();
