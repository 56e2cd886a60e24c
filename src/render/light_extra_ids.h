#pragma once

// Further ids of a two-sample light map. A cell keeps the two nearest hits its centre ray
// meets; the ids of the hits behind them go into the cell's extra-id list (at most
// LightExtraIdsPerCell ids, the nearest first kept as they come), and the cell's first id
// word carries LightMapMoreIds while the list holds any. The shadow test probes those parts
// too: a part seen third at every cell of a block may still be the one that stands before a
// point between the cells' centres, when the parts seen first pass beside it.
//
// Each map (the working one and each backup) keeps lists of its own, copied with its cells.

#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr std::uint32_t LightMapMoreIds = 0x20000000u;
inline constexpr std::int32_t LightExtraIdsPerCell = 16;

struct LightExtraIdEntry {
    std::uint32_t id = 0;
    std::int32_t next = -1;
};

struct LightExtraIds {
    std::vector<LightExtraIdEntry> entries;  // grown by 256 entries at a time
    std::vector<std::int32_t> heads;         // per map cell, -1 none; empty while no cell has any
    std::int32_t freeHead = -1;              // entries given back, linked by next
};

// Empties every list (the heads stay sized).
void ResetExtraIds(LightExtraIds& lists);

// Empties the list of cell.
void ClearExtraIds(LightExtraIds& lists, std::size_t cell);

// Adds id (PixelWord id bits) to the list of cell of a map of cells cells, unless it is
// there already or the list is full. True when the list holds any id afterwards. Throws
// KVOutOfMemoryException.
bool AddExtraId(LightExtraIds& lists, std::size_t cells, std::size_t cell, std::uint32_t id);

// Makes the list of cell in to a copy of its list in from. Throws KVOutOfMemoryException.
void CopyExtraIds(const LightExtraIds& from, LightExtraIds& to, std::size_t cells,
                  std::size_t cell);

// Calls visit(id) for each id of the list of cell, at most LightExtraIdsPerCell of them.
template <typename Visit>
void ForEachExtraId(const LightExtraIds& lists, std::size_t cell, Visit visit) {
    if (cell >= lists.heads.size()) return;
    std::int32_t entry = lists.heads[cell];
    for (std::int32_t k = 0; k < LightExtraIdsPerCell && entry >= 0 &&
                             static_cast<std::size_t>(entry) < lists.entries.size();
         ++k) {
        const LightExtraIdEntry& e = lists.entries[static_cast<std::size_t>(entry)];
        visit(e.id);
        entry = e.next;
    }
}
