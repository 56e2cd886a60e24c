#include "modeller/tool_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

TEST(ToolState, ToolTableRows) {
    ToolState tools;
    const auto& table = tools.ToolTable();
    const std::vector<std::int32_t> temporary{1, 9, 8, 2, 3, 4, 5, 7, 10, 11};
    for (const ToolSettingRow& row : table) {
        SCOPED_TRACE(row.id);
        EXPECT_EQ(row.value, 1);
        const bool isTemporary =
            std::find(temporary.begin(), temporary.end(), row.id) != temporary.end();
        EXPECT_EQ(row.flag, isTemporary ? 1 : 0);
    }
    EXPECT_EQ(table[0].id, 1);
    EXPECT_EQ(table[7].id, 6);
    EXPECT_EQ(table[9].id, 102);
    EXPECT_EQ(table[28].id, 10);
    EXPECT_EQ(table[29].id, 11);
}

TEST(ToolState, SelectingToolsSetsPrimaryTemporaryAndStateBits) {
    struct Case {
        std::int32_t id;
        std::int32_t primary;
        std::int32_t temporary;
        std::int32_t saved;
        std::uint32_t state;
    };
    const Case cases[] = {
        {1, 103, 1, 0, 1},
        {9, 103, 9, 0, 9},
        {102, 102, 1, 103, 102},
        {203, 203, 1, 103, 203 | 0x20000000u},
        {305, 305, 1, 103, 305 | 0x40000000u},
        {402, 402, 1, 103, 402 | 0x40000000u},
        {250, 250, 1, 103, 250},  // no row: a primary tool
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        ToolState tools;
        tools.SelectTool(c.id);
        EXPECT_EQ(tools.PrimaryTool(), c.primary);
        EXPECT_EQ(tools.TemporaryTool(), c.temporary);
        EXPECT_EQ(tools.SavedPrimaryTool(), c.saved);
        EXPECT_EQ(tools.ToolStateWord(), c.state);
    }
}

TEST(ToolState, ToolSettingAndTool105) {
    ToolState tools;
    EXPECT_EQ(tools.GetCurrentToolSetting(), 1);  // tool 103
    EXPECT_FALSE(tools.IsTool105Active());
    tools.SelectTool(105);
    EXPECT_TRUE(tools.IsTool105Active());
    tools.SelectTool(250);
    EXPECT_EQ(tools.GetCurrentToolSetting(), 0);
    EXPECT_EQ(tools.SavedPrimaryTool(), 105);
}

}  // namespace
