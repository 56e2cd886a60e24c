#pragma once

// The fog layers of a view: per layer five values and a flag. A new list holds two layers
// with the default values, the first one flagged.

#include <array>
#include <cstdint>
#include <vector>

struct FogLayer {  // 48 bytes
    std::array<double, 5> values{0.8, 3.0, 0.0, 4.0, 10.0};
    std::int32_t flag = 0;
};

class FogLayerList {
public:
    // Two default layers, the first flagged.
    FogLayerList();

    // Sets the five values of every layer to the defaults; each layer keeps its flag.
    void ResetDefaults();

    std::vector<FogLayer> layers;
};
