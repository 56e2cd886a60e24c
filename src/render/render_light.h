#pragma once

// The renderer's record of one switched-on light, as QRenderView::PrepareLights fills it from
// the view settings' lights: first the lights that keep their distance (direction lights),
// then the lights that sit at an object (local lights), each group in list order.

#include "core/vec3.h"

#include <array>

struct RenderLight {
    // Direction lights: the unit direction towards the light in view space. Local lights:
    // the light's position in view space.
    Vec3 position{};
    std::array<double, 3> colour{};        // red, green, blue in 0..1
    std::array<double, 3> shadowColour{};  // the colour dimmed by the light's HSV blend
    double brightness = 0.0;
    bool flag0 = false;
    // Local lights: local value 1 as it is, max(0.8 * local value 2, 0.1) and
    // min(local value 3, 0.99). Direction lights carry the light's values unchanged.
    double localValue1 = 0.0;
    double localValue2 = 0.0;
    double localValue3 = 0.0;
};
