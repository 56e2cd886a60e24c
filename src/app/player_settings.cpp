#include "app/player_settings.h"

#include "gizmo/gizmo_scene.h"
#include "gizmo/hit_scoring.h"

#include <algorithm>
#include <cmath>

std::int32_t FrameTimerPeriod(std::int32_t frameRate) {
    const double nominal = 1000.0 / std::max(frameRate, 1);
    return static_cast<std::int32_t>(std::lround(nominal)) - 8;
}

std::int32_t ActionSpeedPercent(const PlayerSettings& settings) {
    return static_cast<std::int32_t>(std::lround(settings.frameRate * settings.timeStep * 100.0));
}

void SetFrameRateAndActionSpeed(PlayerSettings& settings, std::int32_t frameRate,
                                std::int32_t actionSpeedPercent) {
    settings.frameRate = std::clamp(frameRate, MinFrameRate, MaxFrameRate);
    const std::int32_t speed = std::clamp(actionSpeedPercent, MinActionSpeed, MaxActionSpeed);
    settings.timeStep = speed * 0.01 / settings.frameRate;
}

void ResetGameClock(GameClock& clock, std::uint32_t now) {
    clock.gameElapsed = 0;
    clock.gameClockStart = now;
}

void AdvanceGameClock(GameClock& clock, bool paused, std::uint32_t now) {
    if (paused) {
        clock.gameClockStart = now - clock.gameElapsed;
    } else {
        clock.gameElapsed = now - clock.gameClockStart;
    }
}

bool GameLimitReached(const PlayerSettings& settings, const GameClock& clock,
                      std::int32_t score) {
    if (!settings.gameMode) return false;
    if (settings.timeLimitOn) {
        // The elapsed time is read as a signed count, as the clock's words always were.
        const auto seconds = static_cast<std::int32_t>(clock.gameElapsed) / 1000;
        if (seconds >= settings.timeLimit) return true;
    }
    return settings.scoreLimitOn && score >= settings.scoreLimit;
}

void ApplyGizmoGameSettings(PlayerSettings& settings, const GizmoScene& scene) {
    if (scene.world == nullptr) return;
    const bool keepsScore = SceneScoreOrTargetFlags(*scene.world, 1) != 0;
    settings.gameMode = keepsScore;
    settings.showScoreTime = keepsScore;
    if (scene.overrideGameMode >= 0) {
        settings.gameMode = scene.overrideGameMode != 0;
        settings.showScoreTime = settings.gameMode;
    }
    if (scene.overrideEndTime >= 0) settings.timeLimitOn = scene.overrideEndTime != 0;
    if (scene.overrideEndScore >= 0) settings.scoreLimitOn = scene.overrideEndScore != 0;
    if (scene.overrideTimeVal >= 0) settings.timeLimit = scene.overrideTimeVal;
    if (scene.overrideScoreVal >= 0) settings.scoreLimit = scene.overrideScoreVal;
}

std::int32_t GizmoScore(const GizmoScene& scene) {
    return scene.world != nullptr ? SceneScoreOrTargetFlags(*scene.world, 0) : 0;
}

void SetGizmoFolderFromPath(PlayerSettings& settings, const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    if (slash != std::string::npos) settings.gizmoFolder = path.substr(0, slash);
}
