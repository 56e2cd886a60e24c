#pragma once

// What a renderer keeps of the scene geometry it draws. Each renderer holds one of these (the
// renderer lives in a higher layer); the scene geometry it attaches to sizes and keeps in step
// its copies of the part records whenever parts are added, removed or grown, so the renderer
// never resizes them itself. The renderer fills the copies it renders from (the frame's, and
// one per light slot in use) by copying and transforming the container's records; the
// container only places them.
//
// In every copy a part's record lies at the same distance from the copy's start as the part's
// record in the container's entry block, so recordTable[i] and lightRecordTable[s][i] mirror
// the container's part table.

#include "core/private_block.h"

#include <array>
#include <cstddef>
#include <cstdint>

class SceneGeometry;
struct PartRenderRecord;

// Light slots a renderer may use.
inline constexpr std::int32_t GeometryLightSlotCount = 16;

// Bytes per row of the per-part row block (one row per part, and one more).
inline constexpr std::uint32_t GeometryViewRowBytes = 128;

class GeometryViewState {
public:
    GeometryViewState() = default;
    // Detaches from the container, if attached.
    ~GeometryViewState();

    // A container keeps the address of every attached view.
    GeometryViewState(const GeometryViewState&) = delete;
    GeometryViewState& operator=(const GeometryViewState&) = delete;

    std::int32_t partCount = 0;   // the container's part count
    std::int32_t lightSlots = 0;  // light slots in use, 0..16: set by the renderer, read here
    const std::uint16_t* slotTable = nullptr;  // the container's surface slot table (shared)
    PrivateBlockPtr<std::byte> records;        // the frame's copy of the entry block
    std::array<PrivateBlockPtr<std::byte>, GeometryLightSlotCount> lightRecords;
    PrivateBlockPtr<PartRenderRecord*> recordTable;  // per part, its record in records
    std::array<PrivateBlockPtr<PartRenderRecord*>, GeometryLightSlotCount> lightRecordTable;
    PrivateBlockPtr<std::uint32_t> recordTable2;  // a second per-part word, the renderer's
    std::array<PrivateBlockPtr<std::uint32_t>, GeometryLightSlotCount> lightRecordTable2;
    PrivateBlockPtr<std::byte> rowBlock;  // (part capacity + 1) rows of 128 bytes
    SceneGeometry* owner = nullptr;       // the container attached to, or null
};
