#include "gizmo/gizmo_window.h"

namespace {

GizmoWindow* installedWindow = nullptr;

}  // namespace

void SetGizmoWindow(GizmoWindow* window) { installedWindow = window; }

GizmoWindow* CurrentGizmoWindow() { return installedWindow; }
