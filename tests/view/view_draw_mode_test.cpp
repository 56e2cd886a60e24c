#include "view/view_draw_mode.h"

#include <gtest/gtest.h>

namespace {

TEST(ViewDrawMode, CodesSetAndReadBack) {
    const struct {
        std::int32_t code;
        ViewDrawState state;
    } table[] = {
        {0, {0, false, false}},  {1, {0, false, true}},  {2, {0, true, false}},
        {3, {-1, false, false}}, {4, {1, false, false}}, {5, {2, false, false}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.code);
        ViewDrawState state{7, true, true};
        ViewDrawStateSetMode(state, row.code);
        EXPECT_EQ(state.lineStyle, row.state.lineStyle);
        EXPECT_EQ(state.isSketch, row.state.isSketch);
        EXPECT_EQ(state.isWireframe, row.state.isWireframe);
        EXPECT_EQ(ViewDrawStateMode(state), row.code);
    }
}

TEST(ViewDrawMode, OtherCodesChangeNothingAndOtherStatesRead) {
    for (const std::int32_t code : {-1, 6, 100}) {
        ViewDrawState state{2, false, false};
        ViewDrawStateSetMode(state, code);
        EXPECT_EQ(state.lineStyle, 2);
    }
    // Any other non-zero style reads as outlines; with style 0 the wireframe switch wins.
    EXPECT_EQ(ViewDrawStateMode(ViewDrawState{-5, true, true}), 3);
    EXPECT_EQ(ViewDrawStateMode(ViewDrawState{0, true, true}), 1);
}

}  // namespace
