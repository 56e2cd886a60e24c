#pragma once

// A gizmo played without a window, as gizmo-run does it: trigger keys pressed at scripted
// frames, one simulation step per frame with its sounds, and each frame's state as one line
// of JSON.
//
// A key script is a comma-separated list of "frame:key" entries, frame counted from 0 and
// key one of the trigger keys "1" to "9" (key "1" triggers the controls whose keyBits has
// bit 0). Entries may come in any order; keys of the same frame are pressed in script order.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct GizmoScene;

struct ScriptedKey {
    std::int32_t frame = 0;
    std::int32_t keyIndex = 0;  // 0 for "1" .. 8 for "9"
};

// The entries of a key script, sorted by frame (stable); nullopt for a malformed script
// (an entry without ":", a frame that is no non-negative number, a key outside "1" to "9").
// An empty script gives no entries.
std::optional<std::vector<ScriptedKey>> ParseKeyScript(std::string_view script);

// One frame of a loaded gizmo that is not paused: the simulation steps by the scene's step
// time (StepWorld), and the frame's sounds go to the sound sink. Nothing happens without a
// gizmo or while paused. Throws KVOutOfMemoryException as StepWorld does.
void StepGizmoFrame(GizmoScene& scene);

// One frame of the gizmo as JSON, without a line end: the frame number, whether it is paused,
// the score, the moving parts, and each object's kind, position and orientation (rows).
std::string GizmoFrameJson(const GizmoScene& scene, std::int32_t frame);

// One played sound as JSON, without a line end.
std::string SoundEventJson(std::int32_t frame, std::string_view name, float gain, float pitch,
                           float listenerGain);
