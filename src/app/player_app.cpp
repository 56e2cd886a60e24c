#include "app/player_app.h"

#include "app/sound_voices.h"
#include "core/private_heap.h"
#include "gizmo/gizmo_object.h"
#include "gizmo/gizmo_run.h"
#include "gizmo/hit_scoring.h"
#include "gizmo/world_step.h"
#include "platform/clock.h"
#include "platform/program_folder.h"
#include "view/q_render_view.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

using SteadyClock = std::chrono::steady_clock;

std::int64_t MicrosecondsSince(SteadyClock::time_point start) {
    return std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now() - start)
        .count();
}

// Virtual key codes the player's keyboard handles.
constexpr std::int32_t KeyEnter = 0x0D;
constexpr std::int32_t KeyEscape = 0x1B;
constexpr std::int32_t KeySpace = 0x20;

// The trigger key a virtual key is: 0 for "1" (or keypad 1) to 8 for "9"; -1 for others.
std::int32_t TriggerKeyIndex(std::int32_t virtualKey) {
    if (virtualKey >= 0x31 && virtualKey <= 0x39) return virtualKey - 0x31;
    if (virtualKey >= 0x61 && virtualKey <= 0x69) return virtualKey - 0x61;
    return -1;
}

}  // namespace

PlayerApp::PlayerApp(LayeredDisplay& target, PlayerDialogs& playerDialogs, bool virtualClock)
    : display(target),
      dialogs(playerDialogs),
      window(target),
      workAreas(target),
      isVirtualClock(virtualClock) {
    SetSoundSink(this);
    SetWorkAreaSource(&workAreas);
    SetWindowEventSink(this);
}

PlayerApp::~PlayerApp() {
    UnloadGizmo(scene);
    SetWindowEventSink(nullptr);
    SetWorkAreaSource(nullptr);
    SetSoundSink(nullptr);
}

std::uint32_t PlayerApp::Now() const { return isVirtualClock ? virtualNow : GetTickCount(); }

void PlayerApp::InitInstance(const PlayerOptions& options) {
    overlay = MeasureScoreOverlay();
    timerPeriod = FrameTimerPeriod(settings.frameRate);
    settings.mute = options.isMuted;
    if (!options.gizmoPath.empty()) {
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
    if (LoadGizmo(path, scene) != 0) return false;
    const ScreenRect& rect = scene.windowRect;
    display.MoveWindow(rect);
    PresentGizmoFrame();
    display.ShowWindow(true);
    return true;
}

void PlayerApp::PresentGizmoFrame() {
    if (scene.active == 0 || scene.view == nullptr) return;
    const std::int32_t width = scene.view->renderWidth;
    const std::int32_t height = scene.view->renderHeight;
    std::uint32_t* pixels = scene.viewBits.data();
    if (settings.gameMode && settings.showScoreTime) {
        DrawScoreOverlay(pixels, width, height, overlay, true, GizmoScore(scene),
                         clock.gameElapsed);
    }
    window.PresentFrame(pixels, width, height, scene.windowRect.left, scene.windowRect.top, width,
                        height);
}

void PlayerApp::OnTimer() {
    AdvanceGameClock(clock, scene.paused != 0, Now());
    if (scene.active != 0 && GameLimitReached(settings, clock, GizmoScore(scene))) {
        scene.paused = 1;
    }
    FrameStep();
}

void PlayerApp::FrameStep() {
    if (scene.active == 0) return;
    if (scene.paused != 0 && scene.redrawWhilePaused == 0) return;
    auto start = SteadyClock::now();
    StepGizmoFrame(scene);
    times.simulation += MicrosecondsSince(start);
    start = SteadyClock::now();
    RenderMovingParts(scene);
    times.render += MicrosecondsSince(start);
    start = SteadyClock::now();
    PresentGizmoFrame();
    times.presentation += MicrosecondsSince(start);
    ++times.tickCount;
    scene.redrawWhilePaused = 0;
}

void PlayerApp::Run(std::int32_t frameCount, const std::vector<ScriptedKey>& keys) {
    std::size_t nextKey = 0;
    auto due = SteadyClock::now();
    for (std::int32_t tick = 0; !isQuitting && (frameCount < 0 || tick < frameCount); ++tick) {
        if (!isVirtualClock) {
            // Between ticks the display's events are handled as they come.
            do {
                display.ProcessEvents();
                if (isQuitting) return;
                const auto now = SteadyClock::now();
                if (now >= due) break;
                std::this_thread::sleep_for(
                    std::min<SteadyClock::duration>(due - now, std::chrono::milliseconds(2)));
            } while (true);
            due += std::chrono::milliseconds(timerPeriod);
            // A tick that ran late is not made up for by a burst of ticks.
            if (due < SteadyClock::now()) due = SteadyClock::now();
        }
        for (; nextKey < keys.size() && keys[nextKey].frame <= tick; ++nextKey) {
            PressTriggerKey(scene, keys[nextKey].keyIndex);
        }
        try {
            OnTimer();
        } catch (const KVOutOfMemoryException&) {
            FatalOutOfMemory();
        }
        if (isVirtualClock) virtualNow += static_cast<std::uint32_t>(timerPeriod);
    }
}

void PlayerApp::ResetEveryObject() {
    if (scene.active == 0 || scene.world == nullptr) return;
    GizmoWorld& world = *scene.world;
    // Every control first, then the flyers still in play.
    for (const auto& object : world.objects) {
        if (object->isFlyer == 0) ResetObject(*object, world);
    }
    const std::vector<GizmoObject*> flyers = world.moving;
    for (GizmoObject* flyer : flyers) {
        if (flyer->isFlyer != 0) ResetObject(*flyer, world);
    }
}

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
    if (scene.active == 0) return;
    if (!settings.showScoreTime) {
        ClearScoreOverlay(scene.viewBits.data(), scene.view->renderWidth,
                          scene.view->renderHeight, overlay);
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
    std::optional<std::string> path = dialogs.ChooseGizmoFile(folder);
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
    const std::int32_t trigger = TriggerKeyIndex(virtualKey);
    if (trigger >= 0) {
        PressTriggerKey(scene, trigger);
    } else if (virtualKey == KeySpace) {
        scene.paused = scene.paused != 0 ? 0 : 1;
    } else if (virtualKey == KeyEnter) {
        ResetEveryObject();
        if (scene.paused != 0) scene.redrawWhilePaused = 1;
    } else if (virtualKey == KeyEscape) {
        OpenSheetPaused();
    }
}

void PlayerApp::OnLeftButtonDown(ScreenPoint, std::int32_t) {}

void PlayerApp::OnLeftButtonUp() { scene.windowDrag = 0; }

void PlayerApp::OnContextMenu(ScreenPoint screenPoint) {
    const std::uint8_t wasPaused = scene.paused;
    scene.paused = 1;
    const MenuCommand command = dialogs.ShowContextMenu(screenPoint, *this);
    scene.paused = wasPaused;
    OnMenuCommand(command);
}
