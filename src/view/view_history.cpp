#include "view/view_history.h"

void ViewHistory::Push(const ViewSettings& settings) {
    // Appending first leaves the history unchanged when the copy throws; only then does the
    // oldest entry go.
    entries.push_back(settings);
    if (entries.size() > ViewHistoryCapacity) entries.pop_front();
}

ViewSettings ViewHistory::Last(const ViewSettings& current) const {
    return entries.empty() ? ViewSettings(current) : ViewSettings(entries.back());
}

void ViewHistory::Pop() {
    if (!entries.empty()) entries.pop_back();
}
