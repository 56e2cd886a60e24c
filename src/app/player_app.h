#pragma once

// The player: its start-up, its frame tick and its commands. One PlayerApp plays one gizmo
// at a time in the window of one layered display (an X window, or the headless display that
// writes frames to files), with the dialogs the run has (FLTK on a desktop, the console
// otherwise).
//
// A tick (OnTimer) advances the game clock (standing still while the gizmo is paused), ends
// a game by pausing it when it reaches its time or score limit, and runs the gizmo's frame
// step (FrameStep), which draws the frame with its score overlay and presents it through
// the player's gizmo window.
//
// While it lives the application is the process's sound sink, work-area source, cursor
// source, gizmo window and window event sink (and, with a virtual clock, its clock); it removes
// them when it goes.

#include "app/player_command_line.h"
#include "app/player_dialogs.h"
#include "app/player_gizmo_window.h"
#include "app/player_settings.h"
#include "app/score_overlay.h"
#include "gizmo/gizmo_run.h"
#include "gizmo/gizmo_scene.h"
#include "gizmo/sound_sink.h"
#include "platform/cursor_position.h"
#include "platform/scripted_clock.h"
#include "platform/window_events.h"
#include "platform/work_area.h"

#include <cstdint>
#include <string>
#include <vector>

class PlayerApp final : public SoundSink, public WindowEventSink {
public:
    // Plays on display with dialogs (neither owned; both must outlive the application). A
    // virtual clock advances by one timer period a tick instead of reading the real one, so
    // a run without a screen plays the same frames however fast it runs.
    PlayerApp(LayeredDisplay& display, PlayerDialogs& dialogs, bool isVirtualClock);
    ~PlayerApp() override;
    PlayerApp(const PlayerApp&) = delete;
    PlayerApp& operator=(const PlayerApp&) = delete;

    // Start-up: measures the overlay, sets the timer period, then plays the gizmo the options
    // name (running at once), or shows the start sheet when none is named or its load fails
    // (after a message with the load's reason). Quits when no gizmo is loaded once the sheet
    // has closed.
    void InitInstance(const PlayerOptions& options);

    // One frame tick.
    void OnTimer();

    // The frame tick as modal dialogs run it from their own loops: the display's repaints and
    // queued events are taken (keys and presses go nowhere meanwhile, as the dialog has the
    // user), then one tick.
    void TickWhileModal();

    // Runs the frame timer until the player quits or, when frameCount is not negative, for
    // that many ticks, pressing the scripted keys at their ticks. Real-clock runs wait out
    // each timer period and process the display's events between ticks.
    void Run(std::int32_t frameCount, const std::vector<ScriptedKey>& keys);

    // Loads the gizmo at path in place of the one playing and shows its first frame. False,
    // with the loader's message in the scene's errorText, when it does not load (no gizmo is
    // loaded then).
    bool LoadAndShowGizmo(const std::string& path);

    // The commands of the context menu, the start sheet and the keyboard.
    void OnMenuCommand(MenuCommand command);
    void OnOpenGizmo();
    void OpenSheetPaused();
    void RestartGame();       // clock and scores reset, every object reset, the gizmo runs
    void ResetEveryObject();  // the controls back at their first pose, the flyers at their start
    void ToggleScoreDisplay();
    // Draws the overlay when game mode and the score display are both on, else clears its
    // box, and presents the frame. Nothing without a gizmo.
    void ShowScoreDisplay();
    void SetMute(bool isMuted);
    // The Prefs page's frame rate and action speed: the timer's period and the step follow.
    void SetFrameRateAndSpeed(std::int32_t frameRate, std::int32_t actionSpeedPercent);
    void Quit() { isQuitting = true; }

    // Draws the overlay as the settings show it into the gizmo's frame and presents the frame
    // at the window's place. Nothing without a gizmo.
    void PresentGizmoFrame();

    // Shows the out-of-memory message and ends the process with status 0.
    [[noreturn]] void FatalOutOfMemory();

    // SoundSink: plays on the process's sound voices.
    void PlaySoundByName(std::string_view name, float gain, float pitch,
                         float listenerGain) override;

    // WindowEventSink.
    void OnKeyDown(std::int32_t virtualKey) override;
    void OnLeftButtonDown(ScreenPoint screenPoint, std::int32_t modifiers) override;
    void OnLeftButtonUp() override;
    void OnContextMenu(ScreenPoint screenPoint) override;

    GizmoScene& Scene() { return scene; }
    const GizmoScene& Scene() const { return scene; }
    PlayerSettings& Settings() { return settings; }
    const PlayerSettings& Settings() const { return settings; }
    const GameClock& Clock() const { return clock; }
    std::int32_t TimerPeriod() const { return timerPeriod; }
    bool IsQuitting() const { return isQuitting; }
    std::int32_t TickCount() const { return tickCount; }
    PlayerDialogs& Dialogs() { return dialogs; }
    // The milliseconds the clock stands at.
    std::uint32_t Now() const;

private:
    // The overlay's switch and clock as the gizmo window draws them.
    void UpdateGizmoWindow();

    LayeredDisplay& display;
    PlayerDialogs& dialogs;
    PlayerGizmoWindow gizmoWindow;
    DisplayWorkAreas workAreas;
    DisplayCursor cursor;
    ScriptedClock virtualClock;
    GizmoScene scene;
    PlayerSettings settings;
    GameClock clock;
    ScoreOverlayLayout overlay;
    std::int32_t tickCount = 0;
    std::int32_t timerPeriod = 25;
    bool isVirtualClock = false;
    bool isQuitting = false;
};
