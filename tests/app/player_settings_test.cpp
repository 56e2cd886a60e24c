#include "app/player_settings.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(PlayerSettings, TimerPeriodIsTheRoundedFrameTimeLessEightMilliseconds) {
    const struct {
        std::int32_t frameRate;
        std::int32_t period;
    } cases[] = {{30, 25}, {10, 92}, {50, 12}, {40, 17}, {16, 55}, {0, 992}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frameRate);
        EXPECT_EQ(FrameTimerPeriod(c.frameRate), c.period);
    }
}

TEST(PlayerSettings, ActionSpeedIsSimulatedTimePerRealTime) {
    PlayerSettings settings;
    EXPECT_EQ(ActionSpeedPercent(settings), 100);
    SetFrameRateAndActionSpeed(settings, 10, 250);
    EXPECT_EQ(settings.frameRate, 10);
    EXPECT_DOUBLE_EQ(settings.timeStep, 0.25);
    EXPECT_EQ(FrameTimerPeriod(settings.frameRate), 92);
    EXPECT_EQ(ActionSpeedPercent(settings), 250);
    // Outside the Prefs page's ranges the values are held to them.
    SetFrameRateAndActionSpeed(settings, 200, 1);
    EXPECT_EQ(settings.frameRate, MaxFrameRate);
    EXPECT_EQ(ActionSpeedPercent(settings), MinActionSpeed);
}

TEST(GameClock, StandsStillWhilePausedAndWrapsWithTheMillisecondClock) {
    GameClock clock;
    const std::uint32_t start = 0xFFFFF000u;  // the millisecond clock wraps during the game
    ResetGameClock(clock, start);
    AdvanceGameClock(clock, false, start + 3000);
    EXPECT_EQ(clock.gameElapsed, 3000u);
    // Ten seconds paused add nothing.
    AdvanceGameClock(clock, true, start + 8000);
    AdvanceGameClock(clock, true, start + 13000);
    EXPECT_EQ(clock.gameElapsed, 3000u);
    AdvanceGameClock(clock, false, start + 13500);
    EXPECT_EQ(clock.gameElapsed, 3500u);
    ResetGameClock(clock, start + 20000);
    AdvanceGameClock(clock, false, start + 20040);
    EXPECT_EQ(clock.gameElapsed, 40u);
}

TEST(GameClock, LimitsEndOnlyGamesAndCountAtTheLimit) {
    PlayerSettings game;
    game.gameMode = true;
    game.scoreLimitOn = true;
    GameClock clock;
    const struct {
        bool gameMode;
        std::uint32_t elapsed;
        std::int32_t score;
        bool reached;
    } cases[] = {
        {true, 599999, 0, false},  // not yet 600 whole seconds
        {true, 600000, 0, true},   // the first tick at 600 s
        {true, 1000, 9999, false},
        {true, 1000, 10000, true},      // a score exactly at the limit ends the game
        {false, 700000, 20000, false},  // outside game mode nothing ends
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.elapsed);
        PlayerSettings settings = game;
        settings.gameMode = c.gameMode;
        clock.gameElapsed = c.elapsed;
        EXPECT_EQ(GameLimitReached(settings, clock, c.score), c.reached);
    }
    PlayerSettings noLimits = game;
    noLimits.timeLimitOn = false;
    noLimits.scoreLimitOn = false;
    clock.gameElapsed = 0x7FFFFFFF;
    EXPECT_FALSE(GameLimitReached(noLimits, clock, 1 << 30));
}

TEST(PlayerSettings, GizmoFolderIsThePathUpToItsLastSeparator) {
    PlayerSettings settings;
    SetGizmoFolderFromPath(settings, "/home/me/gizmos/demo.kvp");
    EXPECT_EQ(settings.gizmoFolder, "/home/me/gizmos");
    SetGizmoFolderFromPath(settings, "C:\\Gizmos\\old.kvr");
    EXPECT_EQ(settings.gizmoFolder, "C:\\Gizmos");
    SetGizmoFolderFromPath(settings, "plain.kvp");
    EXPECT_EQ(settings.gizmoFolder, "C:\\Gizmos");
}

}  // namespace

namespace {

TEST(PlayerSettings, GizmoPageKeepsALimitItsEntryDoesNotGive) {
    const struct {
        const char* text;
        std::int32_t limit;
    } cases[] = {
        {"450", 450}, {"  75 seconds", 75}, {"-20", -20}, {"+30", 30},
        {"", 600},    {"0", 600},           {"abc", 600}, {"99999999999", 600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        PlayerSettings settings;
        GizmoPageValues page;
        page.timeText = c.text;
        page.scoreText = c.text;
        ApplyGizmoPage(settings, page);
        EXPECT_EQ(settings.timeLimit, c.limit);
        EXPECT_EQ(settings.scoreLimit, c.limit == 600 ? 10000 : c.limit);
    }
}

TEST(PlayerSettings, GizmoPageSetsGameModeOnlyWhenItsBoxWasClicked) {
    PlayerSettings settings;
    settings.gameMode = true;
    GizmoPageValues page;
    page.timeLimitOn = false;
    page.scoreLimitOn = true;
    page.showScoreTime = true;
    ApplyGizmoPage(settings, page);
    EXPECT_TRUE(settings.gameMode);
    EXPECT_FALSE(settings.timeLimitOn);
    EXPECT_TRUE(settings.scoreLimitOn);
    page.isGameModeTouched = true;
    ApplyGizmoPage(settings, page);
    EXPECT_FALSE(settings.gameMode);
}

}  // namespace
