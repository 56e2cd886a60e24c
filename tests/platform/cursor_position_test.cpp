#include "platform/cursor_position.h"

#include <gtest/gtest.h>

namespace {

TEST(CursorPosition, AnsweredByTheInstalledSourceElseTheOrigin) {
    EXPECT_EQ(GetCursorScreenPos().x, 0);
    ScriptedCursor cursor;
    cursor.MoveTo(-40, 1200);
    {
        const ScopedCursorSource installed(cursor);
        EXPECT_EQ(GetCursorScreenPos().x, -40);
        EXPECT_EQ(GetCursorScreenPos().y, 1200);
    }
    EXPECT_EQ(GetCursorScreenPos().y, 0);
}

}  // namespace
