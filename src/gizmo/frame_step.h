#pragma once

// One frame of the player, called by the frame tick once per timer period with the loaded
// gizmo. In priority order, one of:
//   - a window drag follows the cursor (the window moves by the cursor's offset from the
//     press; nothing steps and nothing is drawn);
//   - a camera manipulation follows the cursor, and ends with a full render once the button
//     is found up (a click during that render abandons it, and the gizmo stays still until a
//     later manipulation completes);
//   - a paused gizmo does nothing, except draw and show itself once after a reset or a
//     manipulation while paused (redrawWhilePaused), and step while a slider is dragged;
//   - play: a slider drag follows the cursor, the simulation steps by the scene's step
//     time, the step's sounds play, the moving parts' surfaces are entered again, only what
//     moved is drawn again, and the frame with its score overlay goes to the window.
// A press held more than 300 ms on a slider stops being a short press here.
//
// The frame step keeps no state of its own: all of it is in the GizmoScene. The frame
// stamps advance only in frames that step the simulation; the render of a played frame
// notes a trigger key or the button found held, for EasedTime.

struct GizmoScene;

// One frame; nothing without a loaded gizmo. KVOutOfMemoryException passes out of the
// simulation and the view's sizing.
void FrameStep(GizmoScene& scene);
