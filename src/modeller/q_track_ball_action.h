#pragma once

// QTrackBallAction adds the virtual trackball of the rotating tools: its radius in pixels,
// the offset of its centre from the view centre, and its mode (1 spherical).

#include "modeller/q_mouse_action.h"

#include <array>
#include <cstdint>

class QTrackBallAction : public QMouseAction {
public:
    std::int32_t trackRadius = 0;
    std::array<double, 2> trackCentre{};
    std::int32_t trackMode = 1;
};
