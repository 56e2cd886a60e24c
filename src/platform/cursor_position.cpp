#include "platform/cursor_position.h"

namespace {

CursorSource* installedSource = nullptr;

}  // namespace

void SetCursorSource(CursorSource* source) { installedSource = source; }

ScreenPoint GetCursorScreenPos() {
    return installedSource != nullptr ? installedSource->CursorScreenPos() : ScreenPoint{};
}
