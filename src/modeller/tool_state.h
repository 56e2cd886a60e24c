#pragma once

// ToolState is the modeller's choice of mouse tool: the primary tool, the temporary view tool
// chosen for a while over it, the tool state word the tool handler reads, and the table of
// tools with their temporary flags and setting bytes. The document's mouse action keeps one.

#include <array>
#include <cstdint>

// Tool state bits that SetCurrentTool adds to the tool id.
inline constexpr std::uint32_t ToolStateBit29 = 0x20000000;
inline constexpr std::uint32_t ToolStateBit30 = 0x40000000;

// One row of the tool table: flag 1 marks a temporary tool (a view tool chosen for a while),
// flag 0 a primary tool.
struct ToolSettingRow {
    std::int32_t id = 0;
    std::int32_t flag = 0;
    std::uint8_t value = 1;
};

inline constexpr std::size_t ToolTableRowCount = 31;

class ToolState {
public:
    // Primary tool 103, temporary tool 1, and the tool table with every setting byte 1.
    ToolState();

    // True when the primary or the temporary tool is 105.
    bool IsTool105Active() const;

    // Stores id as the tool state word, with bit 29 for tool 203 and bit 30 for tools 304 to
    // 307 and 402.
    void SetCurrentTool(std::int32_t id);

    // Chooses tool id: a temporary tool (flag 1 in the tool table) replaces the temporary
    // tool; any other id becomes the primary tool and the old one's low 24 bits are saved.
    // Then as SetCurrentTool.
    void SelectTool(std::int32_t id);

    // The value byte of the tool table row of the primary tool (low 24 bits); 0 when none.
    std::uint8_t GetCurrentToolSetting() const;

    std::int32_t PrimaryTool() const { return primaryTool; }
    std::int32_t TemporaryTool() const { return temporaryTool; }
    std::int32_t SavedPrimaryTool() const { return savedPrimaryTool; }
    std::uint32_t ToolStateWord() const { return toolState; }
    const std::array<ToolSettingRow, ToolTableRowCount>& ToolTable() const { return toolTable; }

private:
    std::int32_t primaryTool = 103;
    std::int32_t temporaryTool = 1;
    std::int32_t savedPrimaryTool = 0;
    std::uint32_t toolState = 0;
    std::array<ToolSettingRow, ToolTableRowCount> toolTable{};
};
