#pragma once

// How the player plays a gizmo: the game keys, the left button on the gizmo's window, and
// the triggers they share with the menu and the start sheet.
//
// A left press leads to exactly one of: a slider drag (the world's draggedSlider, with
// controlDrag and mouseHold), a trigger of a flipper that takes clicks, a window drag
// (windowDrag, ended by the button's release), a camera manipulation (manipulation, which the
// frame step follows while the button is held and ends when it finds the button up), or,
// when mouseHold is still set from a short press on a slider, the end of that slider's drag.
// A press held on a slider for less than 300 ms leaves the slider following the cursor with
// the button up, until the next press.
//
// Times come from platform/clock.h, keys and the button from platform/input_state.h and the
// cursor from platform/cursor_position.h, so tests script all three.

#include "platform/layered_display.h"

#include <cstdint>

struct GizmoScene;

// Virtual key codes the game reads.
inline constexpr std::int32_t VirtualKeyEnter = 0x0D;
inline constexpr std::int32_t VirtualKeyShift = 0x10;
inline constexpr std::int32_t VirtualKeyControl = 0x11;
inline constexpr std::int32_t VirtualKeyAlt = 0x12;
inline constexpr std::int32_t VirtualKeyEscape = 0x1B;
inline constexpr std::int32_t VirtualKeySpace = 0x20;

// TriggerControls kinds.
inline constexpr std::int32_t TriggerResetAll = 0;
inline constexpr std::int32_t TriggerResetBit = 1;
inline constexpr std::int32_t TriggerKeyBit = 2;

// Manipulation kinds: the sum of the modifiers held at the press, or the scene following the
// cursor inside a window refitted around it.
inline constexpr std::int32_t ManipulationRotate = 1;       // Ctrl
inline constexpr std::int32_t ManipulationResize = 2;       // Shift
inline constexpr std::int32_t ManipulationPerspective = 4;  // Alt
inline constexpr std::int32_t ManipulationMove = 8;

// Held longer than this, a press on a slider drags it only while the button is held.
inline constexpr std::int32_t SliderHoldMilliseconds = 300;

// The game keys: "1" to "9" and keypad 1 to 9 trigger the controls with key bit 0 to 8,
// Enter resets everything (and has a paused gizmo show the reset once), Z X C V B N reset
// the objects with reset bit 0 to 5, Space pauses and resumes. Other keys, and every key
// without a loaded gizmo, do nothing. Esc, which opens the start sheet, is the player's.
void OnGameKey(GizmoScene& scene, std::int32_t key);

// Kind 0 resets every object, kind 1 the objects whose keyResetBits has bit index; kind 2
// resumes the game and triggers the flippers whose keyBits has bit index, each that was at
// rest playing its sound unless the scene is muted. Nothing without a loaded gizmo or while
// a manipulation's render was abandoned.
void TriggerControls(GizmoScene& scene, std::int32_t kind, std::int32_t index);

// The head start, seconds within the current frame's step, of a trigger that comes now: a
// trigger at the start of the last frame's render gets the whole step, one a frame period
// later none. Uses the time the last render saw a trigger key or the button held, if it saw
// one. 0 before the first frame is stamped.
double EasedTime(const GizmoScene& scene);

// The left button went down at screenPoint: the press starts at that cursor position, and
// OnGizmoMouse runs with the view pixel and the modifiers held (Ctrl 1, Shift 2, Alt 4).
void OnGizmoPress(GizmoScene& scene, ScreenPoint screenPoint);

// The left button went up: a window drag ends.
void OnGizmoRelease(GizmoScene& scene);

// A left press at view pixel (x, y) with the modifier kind: picks what lies under the
// pixel (or, at full resolution, the nearest flipper or slider within 8 pixels) and starts a
// slider drag, triggers a flipper that takes clicks, or starts a window drag or a camera
// manipulation. A press while mouseHold is set only ends the slider's short-press drag.
void OnGizmoMouse(GizmoScene& scene, std::int32_t x, std::int32_t y, std::int32_t kind);

// Follows the cursor at view pixel (x, y) with the dragged slider: the cursor is smoothed
// over its last 20 positions (the longest parabola fit that stays within half a pixel of
// them) and the slider's targets move with it; released ends the drag. Nothing without a
// dragged slider.
void FollowControlDrag(GizmoScene& scene, std::int32_t x, std::int32_t y, bool released);
