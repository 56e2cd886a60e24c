#pragma once

// What the gizmo loader throws when a gizmo's roles are malformed. The message is the one the
// player shows for the failed load; the load's outer guard stores it as the gizmo's error
// text and unloads whatever the load had built.

#include <string>

struct GizmoLoadException {
    std::string message;
};
