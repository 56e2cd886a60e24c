#include "app/player_settings.h"

#include "gizmo/gizmo_scene.h"
#include "gizmo/hit_scoring.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

namespace {

// The number at the start of text as the edit fields are read: leading blanks, an optional
// sign, then digits; 0 when there are none or the number does not fit.
std::int32_t LeadingNumber(std::string_view text) {
    const std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos) return 0;
    text.remove_prefix(start);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    std::int32_t value = 0;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
    return parsed.ec == std::errc() ? value : 0;
}

}  // namespace

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

bool GameLimitReached(const PlayerSettings& settings, const GameClock& clock, std::int32_t score) {
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

void ApplyGizmoPage(PlayerSettings& settings, const GizmoPageValues& page) {
    if (page.isGameModeTouched) settings.gameMode = page.gameMode;
    settings.timeLimitOn = page.timeLimitOn;
    settings.scoreLimitOn = page.scoreLimitOn;
    settings.showScoreTime = page.showScoreTime;
    if (const std::int32_t score = LeadingNumber(page.scoreText); score != 0) {
        settings.scoreLimit = score;
    }
    if (const std::int32_t time = LeadingNumber(page.timeText); time != 0) {
        settings.timeLimit = time;
    }
}

void SetGizmoFolderFromPath(PlayerSettings& settings, const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    if (slash != std::string::npos) settings.gizmoFolder = path.substr(0, slash);
}
