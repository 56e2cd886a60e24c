#include "geometry/geometry_view_state.h"

#include "geometry/scene_geometry.h"

GeometryViewState::~GeometryViewState() {
    if (owner != nullptr) owner->DetachViewState(*this);
}
