#pragma once

// The renderer's fog block: per fog layer a quadric surface and its parameters, and one
// switch for the whole block. FogLayerList::BuildRenderData fills it from the view settings'
// fog layers.

#include "core/matrix4.h"

#include <array>
#include <cstdint>
#include <vector>

// The parameters of one fog layer for the renderer: the layer's height f0, the three
// densities 10^f1 / 10^4, 10^f2 / 10^4 (the layer's horizontal scale c) and 10^f3 / 10^4,
// the radius f4, and the low byte of the layer's flag.
struct FogRenderLayer {
    std::array<double, 5> values{};
    std::uint8_t flag = 0;
};

struct FogRenderData {
    // Per layer the quadric in the w-first layout: c^2 x^2 + y^2 + c^2 z^2 - 2 f0 y + e0, with
    // the constant e0 = f0^2 - c^2 f4^2 when the switch is on (the spheroid
    // c^2 (x^2 + z^2) + (y - f0)^2 = c^2 f4^2 about (0, f0, 0)) and 0 when it is off.
    std::vector<Matrix4W> quadrics;
    std::vector<FogRenderLayer> layers;
    std::uint8_t isSwitchOn = 0;  // the switch byte of the whole block
};
