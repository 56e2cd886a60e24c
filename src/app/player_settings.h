#pragma once

// The player's settings and its game clock. Nothing is kept between runs: every setting
// starts at its default, and the start sheet, the context menu and a gizmo's own overrides
// change it for the rest of the run.

#include <cstdint>
#include <string>

struct GizmoScene;

struct PlayerSettings {
    std::int32_t frameRate = 30;   // frames per second, 10 to 50
    double timeStep = 1.0 / 30.0;  // simulated seconds per frame
    bool timeLimitOn = true;
    std::int32_t timeLimit = 600;  // seconds
    bool scoreLimitOn = false;
    std::int32_t scoreLimit = 10000;  // points
    bool gameMode = false;
    bool showScoreTime = true;
    bool mute = false;
    bool firstOpen = true;       // the Open dialog has not yet returned a file
    std::int32_t sheetPage = 0;  // the start sheet's first page (0 About .. 3 Gizmo)
    std::string gizmoFolder;     // where the first Open dialog starts
};

// The start sheet's pages, in their order.
inline constexpr std::int32_t SheetPageAbout = 0;
inline constexpr std::int32_t SheetPagePrefs = 1;
inline constexpr std::int32_t SheetPageCamera = 2;
inline constexpr std::int32_t SheetPageGizmo = 3;

// The frame rates the Prefs page offers, and its action speeds in percent.
inline constexpr std::int32_t MinFrameRate = 10;
inline constexpr std::int32_t MaxFrameRate = 50;
inline constexpr std::int32_t MinActionSpeed = 50;
inline constexpr std::int32_t MaxActionSpeed = 250;

// The frame timer's period in milliseconds: the nominal frame time rounded half away from
// zero, less 8 ms so that the tick's own work fits in the frame (25 at 30 frames per second,
// 92 at 10, 12 at 50). A rate that is not positive is taken as 1.
std::int32_t FrameTimerPeriod(std::int32_t frameRate);

// The action speed in percent the settings give: frameRate x timeStep x 100, rounded half
// away from zero (100 at the defaults).
std::int32_t ActionSpeedPercent(const PlayerSettings& settings);

// Sets the frame rate and the time step from an action speed in percent: simulated time per
// real time, so at 100 one simulated second passes per second at any frame rate. Both are
// held to the Prefs page's ranges.
void SetFrameRateAndActionSpeed(PlayerSettings& settings, std::int32_t frameRate,
                                std::int32_t actionSpeedPercent);

// The game clock: milliseconds of unpaused play, on the millisecond clock's wrapping scale.
struct GameClock {
    std::uint32_t gameElapsed = 0;
    std::uint32_t gameClockStart = 0;
};

// Starts the clock again from 0 at now.
void ResetGameClock(GameClock& clock, std::uint32_t now);

// One tick of the clock: while paused it stands still (its start follows now), else the
// elapsed time is now less the start, modulo 2^32.
void AdvanceGameClock(GameClock& clock, bool paused, std::uint32_t now);

// Whether a game has reached one of its limits: in game mode, the time limit (whole seconds
// elapsed, at least the limit) when it is on, or the score limit (score at least the limit)
// when it is on. Never outside game mode.
bool GameLimitReached(const PlayerSettings& settings, const GameClock& clock, std::int32_t score);

// The game set-up after a gizmo loads: game mode and the score display are on when the
// gizmo keeps a score, then the stage's overrides (those that are not negative) set game
// mode with the score display, the two limit switches and the two limits. Nothing changes
// without a loaded gizmo.
void ApplyGizmoGameSettings(PlayerSettings& settings, const GizmoScene& scene);

// The score the overlay and the score limit read: the sum of the moving flyers' scores, 0
// without a gizmo.
std::int32_t GizmoScore(const GizmoScene& scene);

// What the start sheet's Gizmo page holds when the sheet closes.
struct GizmoPageValues {
    bool isGameModeTouched = false;  // "Game Mode" was clicked while the page was open
    bool gameMode = false;
    bool timeLimitOn = false;
    bool scoreLimitOn = false;
    bool showScoreTime = false;
    std::string timeText;   // the time limit's edit
    std::string scoreText;  // the score limit's edit
};

// Takes the Gizmo page's values: game mode only when its box was clicked, the switches
// always, and each limit when its text reads as a number other than 0 (leading blanks and a
// sign allowed, anything after the digits ignored); an empty, zero or unreadable entry leaves
// the limit as it was.
void ApplyGizmoPage(PlayerSettings& settings, const GizmoPageValues& page);

// Sets the gizmo folder to the path's folder: everything before its last "/" or "\". A path
// without a separator leaves the folder as it was.
void SetGizmoFolderFromPath(PlayerSettings& settings, const std::string& path);
