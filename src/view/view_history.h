#pragma once

// The bounded history of view settings a render view keeps for stepping back through camera
// changes: the newest at the back, at most ViewHistoryCapacity entries, the oldest dropped
// when a push would pass that.

#include "model/view_settings.h"

#include <cstddef>
#include <deque>

inline constexpr std::size_t ViewHistoryCapacity = 5;

class ViewHistory {
public:
    // Appends a copy of settings, dropping the oldest entry when full. Throws
    // KVOutOfMemoryException or std::bad_alloc; the history is then unchanged.
    void Push(const ViewSettings& settings);

    // A copy of the newest entry, or of current when the history is empty. Throws
    // KVOutOfMemoryException or std::bad_alloc.
    ViewSettings Last(const ViewSettings& current) const;

    // Drops the newest entry; nothing when empty.
    void Pop();

    std::size_t Count() const { return entries.size(); }

private:
    std::deque<ViewSettings> entries;
};
