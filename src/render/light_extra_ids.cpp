#include "render/light_extra_ids.h"

#include "core/private_heap.h"

#include <algorithm>

namespace {

std::int32_t TakeEntry(LightExtraIds& lists, std::uint32_t id) {
    if (lists.freeHead >= 0) {
        const std::int32_t entry = lists.freeHead;
        LightExtraIdEntry& e = lists.entries[static_cast<std::size_t>(entry)];
        lists.freeHead = e.next;
        e = LightExtraIdEntry{id, -1};
        return entry;
    }
    if (lists.entries.size() == lists.entries.capacity()) {
        lists.entries.reserve(lists.entries.size() + 256);
    }
    lists.entries.push_back(LightExtraIdEntry{id, -1});
    return static_cast<std::int32_t>(lists.entries.size() - 1);
}

}  // namespace

void ResetExtraIds(LightExtraIds& lists) {
    lists.entries.clear();
    lists.freeHead = -1;
    std::fill(lists.heads.begin(), lists.heads.end(), -1);
}

void ClearExtraIds(LightExtraIds& lists, std::size_t cell) {
    if (cell >= lists.heads.size()) return;
    std::int32_t entry = lists.heads[cell];
    lists.heads[cell] = -1;
    while (entry >= 0 && static_cast<std::size_t>(entry) < lists.entries.size()) {
        LightExtraIdEntry& e = lists.entries[static_cast<std::size_t>(entry)];
        const std::int32_t next = e.next;
        e.next = lists.freeHead;
        lists.freeHead = entry;
        entry = next;
    }
}

bool AddExtraId(LightExtraIds& lists, std::size_t cells, std::size_t cell, std::uint32_t id) {
    if (cell >= cells) return false;
    return TranslateBadAlloc([&] {
        if (lists.heads.size() != cells) lists.heads.assign(cells, -1);
        std::int32_t last = -1;
        std::int32_t count = 0;
        for (std::int32_t entry = lists.heads[cell]; entry >= 0;
             entry = lists.entries[static_cast<std::size_t>(entry)].next) {
            if (lists.entries[static_cast<std::size_t>(entry)].id == id) return true;
            last = entry;
            ++count;
        }
        if (count >= LightExtraIdsPerCell) return true;
        const std::int32_t entry = TakeEntry(lists, id);
        if (last < 0) {
            lists.heads[cell] = entry;
        } else {
            lists.entries[static_cast<std::size_t>(last)].next = entry;
        }
        return true;
    });
}

void CopyExtraIds(const LightExtraIds& from, LightExtraIds& to, std::size_t cells,
                  std::size_t cell) {
    ClearExtraIds(to, cell);
    ForEachExtraId(from, cell, [&](std::uint32_t id) { AddExtraId(to, cells, cell, id); });
}
