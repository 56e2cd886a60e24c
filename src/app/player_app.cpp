#include "app/player_app.h"

#include "app/sound_voices.h"
#include "core/private_heap.h"
#include "gizmo/frame_step.h"
#include "gizmo/game_input.h"
#include "gizmo/gizmo_window.h"
#include "gizmo/hit_scoring.h"
#include "platform/clock.h"
#include "platform/program_folder.h"
#include "view/q_render_view.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

using SteadyClock = std::chrono::steady_clock;

// The virtual key of trigger key keyIndex (0 for "1").
constexpr std::int32_t TriggerVirtualKey(std::int32_t keyIndex) { return 0x31 + keyIndex; }

}  // namespace

PlayerApp::PlayerApp(LayeredDisplay& target, PlayerDialogs& playerDialogs, bool virtualTime)
    : display(target),
      dialogs(playerDialogs),
      gizmoWindow(target),
      workAreas(target),
      cursor(target),
      isVirtualClock(virtualTime) {
    if (isVirtualClock) SetClockSource(&virtualClock);
    SetSoundSink(this);
    SetWorkAreaSource(&workAreas);
    SetCursorSource(&cursor);
    SetGizmoWindow(&gizmoWindow);
    SetWindowEventSink(this);
    dialogs.SetApp(this);
}

PlayerApp::~PlayerApp() {
    dialogs.SetApp(nullptr);
    UnloadGizmo(scene);
    SetWindowEventSink(nullptr);
    SetGizmoWindow(nullptr);
    SetCursorSource(nullptr);
    SetWorkAreaSource(nullptr);
    SetSoundSink(nullptr);
    if (isVirtualClock) SetClockSource(nullptr);
}

std::uint32_t PlayerApp::Now() const { return GetTickCount(); }

void PlayerApp::InitInstance(const PlayerOptions& options) {
    overlay = MeasureScoreOverlay();
    gizmoWindow.layout = overlay;
    timerPeriod = FrameTimerPeriod(settings.frameRate);
    settings.mute = options.isMuted;
    if (options.isGizmoNamed) {
        if (LoadAndShowGizmo(options.gizmoPath)) {
            SetGizmoFolderFromPath(settings, options.gizmoPath);
            ResetGameClock(clock, Now());
            ApplyGizmoGameSettings(settings, scene);
            scene.stepTime = settings.timeStep;
            scene.muted = settings.mute ? 1 : 0;
            PresentGizmoFrame();
            scene.paused = 0;
            return;
        }
        dialogs.ShowMessage(scene.errorText);
    }
    dialogs.ShowStartSheet(*this);
    if (scene.active == 0) isQuitting = true;
}

bool PlayerApp::LoadAndShowGizmo(const std::string& path) {
    if (LoadGizmo(path, scene) != 0) {
        // The gizmo that was playing is gone with the failed load; so is its picture.
        display.ShowWindow(false);
        return false;
    }
    display.MoveWindow(scene.windowRect);
    PresentGizmoFrame();
    display.ShowWindow(true);
    return true;
}

void PlayerApp::UpdateGizmoWindow() {
    gizmoWindow.isScoreShown = settings.gameMode && settings.showScoreTime;
    gizmoWindow.gameClockStart = Now() - clock.gameElapsed;
}

void PlayerApp::PresentGizmoFrame() {
    if (scene.active == 0 || scene.view == nullptr || scene.world == nullptr) return;
    UpdateGizmoWindow();
    const std::int32_t width = scene.view->renderWidth;
    const std::int32_t height = scene.view->renderHeight;
    gizmoWindow.DrawScoreOverlay(scene.viewBits.data(), width, height, GizmoScore(scene));
    gizmoWindow.PresentLayeredWindow(scene.viewBits.data(), width, height, scene.windowRect.left,
                                     scene.windowRect.top);
}

void PlayerApp::OnTimer() {
    AdvanceGameClock(clock, scene.paused != 0, Now());
    if (scene.active != 0 && GameLimitReached(settings, clock, GizmoScore(scene))) {
        scene.paused = 1;
    }
    UpdateGizmoWindow();
    FrameStep(scene);
}

void PlayerApp::TickWhileModal() {
    SetWindowEventSink(nullptr);
    display.ProcessEvents();
    SetWindowEventSink(this);
    try {
        OnTimer();
    } catch (const KVOutOfMemoryException&) {
        FatalOutOfMemory();
    }
    if (isVirtualClock) virtualClock.Advance(static_cast<std::uint32_t>(timerPeriod));
}

void PlayerApp::Run(std::int32_t frameCount, const std::vector<ScriptedKey>& keys) {
    std::size_t nextKey = 0;
    auto due = SteadyClock::now();
    for (std::int32_t tick = 0; !isQuitting && (frameCount < 0 || tick < frameCount); ++tick) {
        if (!isVirtualClock) {
            // Between ticks the display's events are handled as they come.
            while (true) {
                display.ProcessEvents();
                if (isQuitting) return;
                const auto now = SteadyClock::now();
                if (now >= due) break;
                std::this_thread::sleep_for(
                    std::min<SteadyClock::duration>(due - now, std::chrono::milliseconds(2)));
            }
            due += std::chrono::milliseconds(timerPeriod);
            // A tick that ran late is not made up for by a burst of ticks.
            due = std::max(due, SteadyClock::now());
        }
        for (; nextKey < keys.size() && keys[nextKey].frame <= tick; ++nextKey) {
            OnGameKey(scene, TriggerVirtualKey(keys[nextKey].keyIndex));
        }
        // The event loop is where exhausted memory ends the player with its message.
        try {
            OnTimer();
        } catch (const KVOutOfMemoryException&) {
            FatalOutOfMemory();
        }
        ++tickCount;
        if (isVirtualClock) virtualClock.Advance(static_cast<std::uint32_t>(timerPeriod));
    }
}

void PlayerApp::ResetEveryObject() { TriggerControls(scene, TriggerResetAll, 0); }

void PlayerApp::RestartGame() {
    if (scene.active == 0 || scene.world == nullptr) return;
    ResetGameClock(clock, Now());
    ResetScores(*scene.world);
    ResetEveryObject();
    scene.paused = 0;
}

void PlayerApp::ToggleScoreDisplay() {
    if (!settings.gameMode) {
        if (scene.world != nullptr) ResetScores(*scene.world);
        ResetGameClock(clock, Now());
        settings.gameMode = true;
        settings.showScoreTime = true;
    } else {
        settings.showScoreTime = !settings.showScoreTime;
    }
    ShowScoreDisplay();
}

void PlayerApp::ShowScoreDisplay() {
    if (scene.active == 0 || scene.view == nullptr) return;
    if (!settings.gameMode || !settings.showScoreTime) {
        ClearScoreOverlay(scene.viewBits.data(), scene.view->renderWidth, scene.view->renderHeight,
                          overlay);
    }
    PresentGizmoFrame();
}

void PlayerApp::SetMute(bool isMuted) {
    settings.mute = isMuted;
    scene.muted = isMuted ? 1 : 0;
}

void PlayerApp::SetFrameRateAndSpeed(std::int32_t frameRate, std::int32_t actionSpeedPercent) {
    SetFrameRateAndActionSpeed(settings, frameRate, actionSpeedPercent);
    timerPeriod = FrameTimerPeriod(settings.frameRate);
    scene.stepTime = settings.timeStep;
}

void PlayerApp::OpenSheetPaused() {
    scene.savedPause = scene.paused;
    scene.paused = 1;
    dialogs.ShowStartSheet(*this);
    scene.paused = scene.savedPause;
}

void PlayerApp::OnOpenGizmo() {
    const std::uint8_t wasPaused = scene.paused;
    scene.paused = 1;
    std::string folder;
    if (settings.firstOpen) {
        if (settings.gizmoFolder.empty()) settings.gizmoFolder = ProgramFolder() + "Gizmos";
        folder = settings.gizmoFolder;
    }
    const std::optional<std::string> path = dialogs.ChooseGizmoFile(folder);
    if (!path) {
        scene.paused = wasPaused;
        return;
    }
    settings.firstOpen = false;
    if (!LoadAndShowGizmo(*path)) {
        dialogs.ShowMessage(scene.errorText);
        return;
    }
    ResetGameClock(clock, Now());
    ApplyGizmoGameSettings(settings, scene);
    scene.stepTime = settings.timeStep;
    scene.muted = settings.mute ? 1 : 0;
    PresentGizmoFrame();
    // A gizmo opened from a dialog waits for Space, "Pause/Resume" or "Start".
    scene.paused = 1;
}

void PlayerApp::OnMenuCommand(MenuCommand command) {
    switch (command) {
        case MenuCommand::InfoSettings:
        case MenuCommand::Stop:
        case MenuCommand::Exit:
            OpenSheetPaused();
            break;
        case MenuCommand::ShowHideScore:
            ToggleScoreDisplay();
            break;
        case MenuCommand::MuteSound:
            SetMute(!settings.mute);
            break;
        case MenuCommand::PauseResume:
            scene.paused = scene.paused != 0 ? 0 : 1;
            break;
        case MenuCommand::Start:
            RestartGame();
            break;
        case MenuCommand::Open:
            OnOpenGizmo();
            break;
        case MenuCommand::GameInstructions:
        case MenuCommand::None:
            break;
    }
}

void PlayerApp::FatalOutOfMemory() {
    scene.active = 0;
    dialogs.ShowMessage("Not enough memory. Orbelle has to close");
    std::exit(0);
}

void PlayerApp::PlaySoundByName(std::string_view name, float gain, float pitch,
                                float listenerGain) {
    ::PlaySoundByName(name, gain, pitch, listenerGain);
}

void PlayerApp::OnKeyDown(std::int32_t virtualKey) {
    OnGameKey(scene, virtualKey);
    if (virtualKey == VirtualKeyEscape) OpenSheetPaused();
}

void PlayerApp::OnLeftButtonDown(ScreenPoint screenPoint, std::int32_t) {
    OnGizmoPress(scene, screenPoint);
}

void PlayerApp::OnLeftButtonUp() { OnGizmoRelease(scene); }

void PlayerApp::OnContextMenu(ScreenPoint screenPoint) {
    const std::uint8_t wasPaused = scene.paused;
    scene.paused = 1;
    const MenuCommand command = dialogs.ShowContextMenu(screenPoint, *this);
    scene.paused = wasPaused;
    OnMenuCommand(command);
}
