#include "modeller/tool_state.h"

#include <algorithm>

ToolState::ToolState() {
    // Tool table rows: view tools chosen for a while carry flag 1. The table has room for
    // 31 rows; the last one names no tool.
    constexpr std::array<std::int32_t, ToolTableRowCount> toolIds{
        1,   9,   8,   2,   3,   4,   5,   6,   7,   102, 103, 104, 105, 202, 203,
        302, 303, 304, 305, 306, 307, 402, 502, 503, 504, 602, 702, 802, 10,  11};
    for (std::size_t i = 0; i < ToolTableRowCount; ++i) {
        const std::int32_t id = toolIds[i];
        const bool temporary =
            (id >= 1 && id <= 5) || id == 7 || id == 8 || id == 9 || id == 10 || id == 11;
        toolTable[i] = ToolSettingRow{id, temporary ? 1 : 0, 1};
    }
}

bool ToolState::IsTool105Active() const { return primaryTool == 105 || temporaryTool == 105; }

void ToolState::SetCurrentTool(std::int32_t id) {
    toolState = static_cast<std::uint32_t>(id);
    if (id == 203) toolState |= ToolStateBit29;
    if ((id >= 304 && id <= 307) || id == 402) toolState |= ToolStateBit30;
}

void ToolState::SelectTool(std::int32_t id) {
    const auto row = std::find_if(toolTable.begin(), toolTable.end(),
                                  [id](const ToolSettingRow& r) { return r.id == id; });
    if (row != toolTable.end() && row->flag == 1) {
        temporaryTool = id;
    } else {
        savedPrimaryTool = primaryTool & 0xFFFFFF;
        primaryTool = id;
    }
    SetCurrentTool(id);
}

std::uint8_t ToolState::GetCurrentToolSetting() const {
    const std::int32_t id = primaryTool & 0xFFFFFF;
    const auto row = std::find_if(toolTable.begin(), toolTable.end(),
                                  [id](const ToolSettingRow& r) { return r.id == id; });
    return row == toolTable.end() ? 0 : row->value;
}
