#include "app/player_app.h"

#include "app/headless_display.h"
#include "app/score_overlay.h"
#include "gizmo/gizmo_scene.h"
#include "platform/window_events.h"
#include "view/q_render_view.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string DemoGizmo = ORBELLE_TEST_DATA_DIR "/../../../gizmos/demo.kvp";

// Dialogs that remember what they were asked, as a user who clicks nothing.
class RecordingDialogs final : public PlayerDialogs {
public:
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    std::optional<std::string> ChooseGizmoFile(const std::string& folder) override {
        openFolders.push_back(folder);
        return chosen;
    }
    void ShowStartSheet(PlayerApp&) override { ++sheetCount; }
    MenuCommand ShowContextMenu(ScreenPoint, const PlayerApp&) override { return menuChoice; }

    std::vector<std::string> messages;
    std::vector<std::string> openFolders;
    std::optional<std::string> chosen;
    MenuCommand menuChoice = MenuCommand::None;
    int sheetCount = 0;
};

PlayerOptions Named(const std::string& path) {
    PlayerOptions options;
    options.gizmoPath = path;
    options.isGizmoNamed = true;
    return options;
}

// The demo gizmo loaded from the command line on the headless display.
class PlayerAppTest : public testing::Test {
protected:
    void SetUp() override {
        app.InitInstance(Named(DemoGizmo));
        ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages.front();
        ASSERT_EQ(app.Scene().active, 1);
    }

    HeadlessDisplay display{""};
    RecordingDialogs dialogs;
    PlayerApp app{display, dialogs, true};
};

TEST_F(PlayerAppTest, DemoGizmoPlaysThreeHundredFramesHeadlessAndScores) {
    EXPECT_EQ(app.Scene().paused, 0);  // named on the command line, it plays at once
    EXPECT_EQ(dialogs.sheetCount, 0);
    EXPECT_TRUE(app.Settings().gameMode);  // the stage asks for a game
    EXPECT_EQ(app.TimerPeriod(), 25);
    EXPECT_TRUE(display.IsWindowShown());

    const std::int32_t shownAtStart = display.FrameCount();
    app.Run(300, {{60, 0}});
    EXPECT_EQ(app.TickCount(), 300);
    EXPECT_EQ(display.FrameCount() - shownAtStart, 300);
    EXPECT_GT(GizmoScore(app.Scene()), 0);
    // The game clock counts the timer's periods of the virtual clock: 299 x 25 ms.
    EXPECT_EQ(app.Clock().gameElapsed, 7475u);

    // The last frame shows the score overlay's plate in the bottom-left corner,
    // premultiplied.
    const std::int32_t width = app.Scene().view->renderWidth;
    const std::int32_t height = app.Scene().view->renderHeight;
    const std::vector<std::uint32_t> frame = display.LastFrame();
    ASSERT_EQ(frame.size(), static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    EXPECT_EQ(frame[static_cast<std::size_t>(height - 1) * static_cast<std::size_t>(width) +
                    static_cast<std::size_t>(MeasureScoreOverlay().box.right - 1)],
              0xA0A0A0A0u);
}

TEST_F(PlayerAppTest, AGameEndsPausedAtItsTimeOrScoreLimit) {
    app.Settings().timeLimit = 2;
    const std::int32_t shownAtStart = display.FrameCount();
    app.Run(100, {});
    EXPECT_EQ(app.Scene().paused, 1);
    // The tick at 2000 ms pauses before its frame; the clock stands still afterwards.
    EXPECT_EQ(display.FrameCount() - shownAtStart, 80);
    EXPECT_EQ(app.Clock().gameElapsed, 2000u);

    app.RestartGame();
    EXPECT_EQ(app.Scene().paused, 0);
    EXPECT_EQ(GizmoScore(app.Scene()), 0);
    app.Settings().timeLimitOn = false;
    app.Settings().scoreLimitOn = true;
    app.Settings().scoreLimit = 100;
    app.Run(200, {});
    EXPECT_EQ(app.Scene().paused, 1);
    EXPECT_EQ(GizmoScore(app.Scene()), 100);
}

TEST(PlayerApp, AFailedLoadSaysWhyAndTheSheetWithNoGizmoQuits) {
    HeadlessDisplay display("");
    RecordingDialogs dialogs;
    PlayerApp app(display, dialogs, true);
    app.InitInstance(PlayerOptions{});  // no gizmo named: the sheet alone
    EXPECT_TRUE(dialogs.messages.empty());
    app.InitInstance(Named(""));  // a lone quote on the command line
    app.InitInstance(Named(ORBELLE_TEST_DATA_DIR "/missing.kvp"));
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[0], "Cannot load a scene file");
    EXPECT_EQ(dialogs.messages[1], "Cannot load a scene file");
    EXPECT_EQ(dialogs.sheetCount, 3);
    EXPECT_EQ(app.Scene().active, 0);
    EXPECT_TRUE(app.IsQuitting());
    EXPECT_FALSE(display.IsWindowShown());
}

TEST_F(PlayerAppTest, KeysAndMenuCommandsPauseResetAndMute) {
    GizmoScene& scene = app.Scene();

    app.OnKeyDown(0x20);  // Space
    EXPECT_EQ(scene.paused, 1);
    const std::int32_t shownAtStart = display.FrameCount();
    app.Run(3, {});
    EXPECT_EQ(display.FrameCount(), shownAtStart);  // a paused gizmo draws nothing
    app.OnKeyDown(0x0D);  // Enter while paused: reset, shown once, still paused
    EXPECT_EQ(scene.redrawWhilePaused, 1);
    app.Run(1, {});
    EXPECT_EQ(display.FrameCount(), shownAtStart + 1);
    EXPECT_EQ(scene.paused, 1);
    app.OnKeyDown(0x31);  // "1": a trigger resumes the game
    EXPECT_EQ(scene.paused, 0);

    // The context menu pauses while it is up and runs its command afterwards.
    dialogs.menuChoice = MenuCommand::PauseResume;
    app.OnContextMenu({5, 5});
    EXPECT_EQ(scene.paused, 1);
    dialogs.menuChoice = MenuCommand::MuteSound;
    app.OnContextMenu({5, 5});
    EXPECT_TRUE(app.Settings().mute);
    EXPECT_EQ(scene.muted, 1);
    dialogs.menuChoice = MenuCommand::ShowHideScore;
    app.OnContextMenu({5, 5});
    EXPECT_TRUE(app.Settings().gameMode);
    EXPECT_FALSE(app.Settings().showScoreTime);

    // The Prefs page's frame rate and action speed reach the timer and the step.
    app.SetFrameRateAndSpeed(10, 250);
    EXPECT_EQ(app.TimerPeriod(), 92);
    EXPECT_DOUBLE_EQ(scene.stepTime, 0.25);

    // Esc opens the start sheet paused and gives the pause state back.
    scene.paused = 0;
    app.OnKeyDown(0x1B);
    EXPECT_EQ(dialogs.sheetCount, 1);
    EXPECT_EQ(scene.paused, 0);
}

TEST_F(PlayerAppTest, ModalDialogsKeepTheTickGoing) {
    const std::int32_t shownAtStart = display.FrameCount();
    app.TickWhileModal();
    app.TickWhileModal();
    EXPECT_EQ(display.FrameCount(), shownAtStart + 2);
    EXPECT_EQ(app.Clock().gameElapsed, 25u);
    // The window's events go back to the application after each tick.
    EXPECT_EQ(CurrentWindowEventSink(), &app);
}

TEST_F(PlayerAppTest, OpenDialogStartsInTheGizmoFolderOnceAndLeavesTheNewGizmoPaused) {
    dialogs.chosen = DemoGizmo;
    app.OnMenuCommand(MenuCommand::Open);
    app.OnMenuCommand(MenuCommand::Open);
    ASSERT_EQ(dialogs.openFolders.size(), 2u);
    EXPECT_EQ(dialogs.openFolders[0], ORBELLE_TEST_DATA_DIR "/../../../gizmos");
    EXPECT_EQ(dialogs.openFolders[1], "");
    EXPECT_EQ(app.Scene().active, 1);
    EXPECT_EQ(app.Scene().paused, 1);

    // A failed open leaves no gizmo and says why.
    dialogs.chosen = ORBELLE_TEST_DATA_DIR "/missing.kvp";
    app.OnMenuCommand(MenuCommand::Open);
    EXPECT_EQ(app.Scene().active, 0);
    EXPECT_FALSE(display.IsWindowShown());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], "Cannot load a scene file");
}

}  // namespace

namespace {

TEST(PlayerAppDeathTest, OutOfMemoryEndsThePlayerWithItsMessage) {
    HeadlessDisplay display("");
    ConsoleDialogs dialogs;
    PlayerApp app(display, dialogs, true);
    app.InitInstance(Named(DemoGizmo));
    EXPECT_EXIT(app.FatalOutOfMemory(), testing::ExitedWithCode(0),
                "Not enough memory. Orbelle has to close");
}

}  // namespace
