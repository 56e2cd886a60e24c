#include "render/render_interrupt.h"

#include "platform/clock.h"
#include "platform/input_state.h"
#include "platform/scripted_input_state.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(RenderInterrupt, MaskSelectsRows) {
    RenderPollState poll;
    poll.rowMask = 15;
    for (std::int32_t y = -40; y < 100; ++y) {
        EXPECT_EQ(RenderPollDue(poll, y), (y & 15) == 15) << y;
    }
    poll.rowMask = 0xFFFFFFFF;
    for (std::int32_t y = -40; y < 100000; y += 7) EXPECT_FALSE(RenderPollDue(poll, y)) << y;
}

TEST(RenderInterrupt, WaitingClickAbortsOnlyInClickMode) {
    ScriptedInputState script;
    ScopedInputStateSource installed(script);
    script.QueueLeftButtonDownAfterPeeks(0);
    RenderPollState poll;
    poll.rowMask = 15;
    for (std::int32_t mode : {0, 1}) {
        poll.mode = mode;
        EXPECT_EQ(RenderInterruptCheck(poll), 0);
    }
    poll.mode = -1;
    EXPECT_THROW(RenderInterruptCheck(poll), UserAbortRender);
    // The message was only looked at.
    EXPECT_TRUE(PeekLeftButtonDownMessage());
    // Rows the mask does not select never look.
    const std::int32_t looks = script.PeekCount();
    EXPECT_NO_THROW(RenderPollAfterRow(poll, 14));
    EXPECT_EQ(script.PeekCount(), looks);
    EXPECT_THROW(RenderPollAfterRow(poll, 31), UserAbortRender);
}

TEST(RenderInterrupt, HeldButtonOrTriggerKeyStampsTheTime) {
    struct Case {
        const char* name;
        std::int32_t key;
        bool stamps;
    };
    const Case cases[] = {{"left button", VirtualKeyLeftButton, true},
                          {"key 2", 0x32, true},
                          {"keypad 3", 0x63, true},
                          {"key 4", 0x34, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedInputState script;
        ScopedInputStateSource installed(script);
        script.HoldKey(c.key);
        SetClockOffsetForTesting(0x12345678);
        RenderPollState poll;
        poll.mode = 1;
        const std::uint32_t before = timeGetTime();
        RenderInterruptCheck(poll);
        const std::uint32_t after = timeGetTime();
        SetClockOffsetForTesting(0);
        if (c.stamps) {
            EXPECT_EQ(poll.mode, 0);
            EXPECT_LE(poll.timeStamp - before, after - before);
            // With the mode at 0 a later click no longer aborts.
            script.QueueLeftButtonDownAfterPeeks(0);
            EXPECT_NO_THROW(RenderInterruptCheck(poll));
        } else {
            EXPECT_EQ(poll.mode, 1);
            EXPECT_EQ(poll.timeStamp, 0u);
        }
    }
}

}  // namespace
