#include "platform/work_area.h"

namespace {

const WorkAreaSource* installedSource = nullptr;

}  // namespace

void SetWorkAreaSource(const WorkAreaSource* source) { installedSource = source; }

ScreenRect GetWorkArea(const ScreenRect& rect) {
    if (installedSource == nullptr) return DefaultWorkArea;
    return installedSource->WorkAreaOf(rect);
}
