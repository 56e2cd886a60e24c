#pragma once

// The player's command line:
//
//   orbelle [GIZMO] [--headless] [--frames N] [--out DIR] [--keys "FRAME:KEY,..."] [--mute]
//
// GIZMO is one path, quoted or not (a launcher may hand the whole path over in quotes). With
// --headless, or when no display can be opened, the player plays without a window and
// writes each frame as a TIFF file into DIR (DefaultFrameFolder unless given; "" writes
// none); --frames ends the run after N frame ticks (a
// headless run without it plays DefaultHeadlessFrames); --keys presses trigger keys at
// chosen frames, as gizmo-run's key script does; --mute plays no sound.

#include "gizmo/gizmo_run.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Frames a headless run plays when no count is given: ten seconds at the default rate.
inline constexpr std::int32_t DefaultHeadlessFrames = 300;

// Where a headless run writes its frames when no folder is given.
inline constexpr const char* DefaultFrameFolder = "orbelle-frames";

struct PlayerOptions {
    std::string gizmoPath;
    bool isGizmoNamed = false;     // a gizmo path was given (it may be empty: a lone quote)
    bool isHeadless = false;       // never try a display
    std::int32_t frameCount = -1;  // frame ticks to run; -1 until the player quits
    std::string frameFolder = DefaultFrameFolder;  // where a headless run writes frames;
                                                   // "" keeps none
    std::vector<ScriptedKey> keys;                 // trigger keys pressed at chosen frames
    bool isMuted = false;
};

// The options, or nullopt with the reason in whyNot for an unknown option, an option
// without its value, a second gizmo path, a frame count that is no non-negative number or
// a malformed key script.
std::optional<PlayerOptions> ParsePlayerCommandLine(std::span<const std::string_view> arguments,
                                                    std::string& whyNot);

// The gizmo path a command-line word names: a word in quotes loses its first and last
// characters, as a whole quoted command line always did (so a lone quote gives an empty
// path, which loads nothing); a word that does not start with a quote is the path itself.
std::string GizmoPathFromCommandLine(std::string_view word);

// The usage line.
inline constexpr const char* PlayerUsage =
    "usage: orbelle [GIZMO] [--headless] [--frames N] [--out DIR] [--keys \"FRAME:KEY,...\"] "
    "[--mute]\n";
