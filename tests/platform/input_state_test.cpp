#include "platform/input_state.h"

#include "platform/scripted_input_state.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

class InputStateTest : public testing::Test {
protected:
    void SetUp() override { InputStateClear(); }
    void TearDown() override { InputStateClear(); }
};

TEST_F(InputStateTest, HeldKeysReadNegative) {
    EXPECT_EQ(GetAsyncKeyState(VirtualKeyLeftButton), 0);
    InputStateSetKeyHeld(VirtualKeyLeftButton, true);
    EXPECT_LT(GetAsyncKeyState(VirtualKeyLeftButton), 0);
    InputStateSetKeyHeld(VirtualKeyLeftButton, false);
    EXPECT_EQ(GetAsyncKeyState(VirtualKeyLeftButton), 0);
    // Codes outside the key range are never held.
    InputStateSetKeyHeld(-1, true);
    InputStateSetKeyHeld(4096, true);
    EXPECT_EQ(GetAsyncKeyState(-1), 0);
    EXPECT_EQ(GetAsyncKeyState(4096), 0);
}

TEST_F(InputStateTest, LeftButtonDownFollowsTheButton) {
    EXPECT_FALSE(IsLeftButtonDown());
    InputStateSetKeyHeld(VirtualKeyLeftButton, true);
    EXPECT_TRUE(IsLeftButtonDown());
    InputStateSetKeyHeld(0x02, true);
    InputStateSetKeyHeld(VirtualKeyLeftButton, false);
    EXPECT_FALSE(IsLeftButtonDown());
}

TEST_F(InputStateTest, TriggerKeysAreTheDigitsAndKeypadOneToThree) {
    struct Case {
        std::int32_t key;
        bool triggers;
    };
    const Case cases[] = {{0x31, true}, {0x32, true}, {0x33, true}, {0x61, true},
                          {0x62, true}, {0x63, true}, {0x30, false}, {0x34, false},
                          {0x60, false}, {0x64, false}, {VirtualKeyLeftButton, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        InputStateClear();
        EXPECT_FALSE(AnyTriggerKeyDown());
        InputStateSetKeyHeld(c.key, true);
        EXPECT_EQ(AnyTriggerKeyDown(), c.triggers);
    }
}

TEST_F(InputStateTest, PeekingLeavesTheClickQueuedUntilTaken) {
    EXPECT_FALSE(PeekLeftButtonDownMessage());
    InputStatePostLeftButtonDown();
    InputStatePostLeftButtonDown();
    EXPECT_TRUE(PeekLeftButtonDownMessage());
    EXPECT_TRUE(PeekLeftButtonDownMessage());
    EXPECT_TRUE(InputStateTakeLeftButtonDown());
    EXPECT_TRUE(PeekLeftButtonDownMessage());
    EXPECT_TRUE(InputStateTakeLeftButtonDown());
    EXPECT_FALSE(PeekLeftButtonDownMessage());
    EXPECT_FALSE(InputStateTakeLeftButtonDown());
}

TEST_F(InputStateTest, ScriptedSourceAnswersWhileInstalled) {
    InputStateSetKeyHeld(0x32, true);
    {
        ScriptedInputState script;
        ScopedInputStateSource installed(script);
        EXPECT_FALSE(AnyTriggerKeyDown());  // the live record is not asked
        script.HoldKey(0x63);
        EXPECT_TRUE(AnyTriggerKeyDown());
        script.ReleaseKey(0x63);
        EXPECT_FALSE(AnyTriggerKeyDown());

        script.QueueLeftButtonDownAfterPeeks(2);
        EXPECT_FALSE(PeekLeftButtonDownMessage());
        EXPECT_FALSE(PeekLeftButtonDownMessage());
        EXPECT_TRUE(PeekLeftButtonDownMessage());
        EXPECT_TRUE(PeekLeftButtonDownMessage());
        EXPECT_EQ(script.PeekCount(), 4);
        script.ClearQueue();
        EXPECT_FALSE(PeekLeftButtonDownMessage());
    }
    EXPECT_TRUE(AnyTriggerKeyDown());  // back to the live record
}

}  // namespace
