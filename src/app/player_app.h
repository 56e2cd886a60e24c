#pragma once

// The player: its start-up, its frame tick and its commands. One PlayerApp plays one gizmo
// at a time in the window of one layered display (an X window, or the headless display that
// writes frames to files), with the dialogs the run has (FLTK on a desktop, the console
// otherwise).
//
// A tick (OnTimer) advances the game clock (standing still while the gizmo is paused), ends
// a game by pausing it when it reaches its time or score limit, and runs one frame: the
// simulation steps with its sounds, the moving parts are drawn again over the kept
// background, the score overlay is drawn into the same pixels and the frame is presented.
// A paused gizmo draws nothing unless asked to show a change once (redrawWhilePaused).
//
// While it lives the application is the process's sound sink, work-area source and window
// event sink; it removes them when it goes.

#include "app/player_command_line.h"
#include "app/player_dialogs.h"
#include "app/player_settings.h"
#include "app/player_window.h"
#include "app/score_overlay.h"
#include "gizmo/gizmo_scene.h"
#include "gizmo/sound_sink.h"
#include "platform/window_events.h"
#include "platform/work_area.h"

#include <cstdint>
#include <string>

// How long each part of the frame ticks took, summed over the ticks so far (microseconds).
struct TickTimes {
    std::int64_t simulation = 0;    // the simulation step and its sounds
    std::int64_t render = 0;        // the incremental frame
    std::int64_t presentation = 0;  // the overlay, premultiplying and handing the frame over
    std::int32_t tickCount = 0;     // ticks that drew a frame
};

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
    void RestartGame();  // clock and scores reset, every object reset, the gizmo runs
    void ResetEveryObject();  // the controls back at their first pose, the flyers at their start
    void ToggleScoreDisplay();
    void SetMute(bool isMuted);
    // The Prefs page's frame rate and action speed: the timer's period and the step follow.
    void SetFrameRateAndSpeed(std::int32_t frameRate, std::int32_t actionSpeedPercent);
    void Quit() { isQuitting = true; }

    // Draws the overlay as the settings show it into the frame and presents the frame at the
    // window's place. Nothing without a gizmo.
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
    const TickTimes& Times() const { return times; }
    PlayerDialogs& Dialogs() { return dialogs; }
    // The milliseconds the clock stands at.
    std::uint32_t Now() const;

private:
    void FrameStep();

    LayeredDisplay& display;
    PlayerDialogs& dialogs;
    PlayerWindow window;
    DisplayWorkAreas workAreas;
    GizmoScene scene;
    PlayerSettings settings;
    GameClock clock;
    ScoreOverlayLayout overlay;
    TickTimes times;
    std::int32_t timerPeriod = 25;
    bool isVirtualClock = false;
    std::uint32_t virtualNow = 0;
    bool isQuitting = false;
};
