#include "platform/work_area.h"

#include <optional>

namespace {

const WorkAreaSource* installedSource = nullptr;

}  // namespace

ScreenRect DisplayWorkAreas::WorkAreaOf(const ScreenRect& rect) const {
    const std::optional<MonitorInfo> monitor = MonitorFromRect(display->Monitors(), rect, false);
    return monitor ? monitor->workArea : DefaultWorkArea;
}

ScreenRect DisplayWorkAreas::NearestWorkAreaOf(const ScreenRect& rect) const {
    const std::optional<MonitorInfo> monitor = MonitorFromRect(display->Monitors(), rect, true);
    return monitor ? monitor->workArea : DefaultWorkArea;
}

void SetWorkAreaSource(const WorkAreaSource* source) { installedSource = source; }

ScreenRect GetWorkArea(const ScreenRect& rect) {
    if (installedSource == nullptr) return DefaultWorkArea;
    return installedSource->WorkAreaOf(rect);
}

ScreenRect GetNearestWorkArea(const ScreenRect& rect) {
    if (installedSource == nullptr) return DefaultWorkArea;
    return installedSource->NearestWorkAreaOf(rect);
}
