#pragma once

// The fog layers of a view: per layer five values and a flag. A new list holds two layers
// with the default values, the first one flagged. The modeller keeps a copy of the list to
// restore the layers when a fog change is cancelled; the renderer gets them as its fog block.

#include <array>
#include <cstdint>
#include <vector>

struct FogRenderData;

struct FogLayer {  // 48 bytes
    // Height f0, the exponents f1, f2 and f3 of the densities and scale, the radius f4.
    std::array<double, 5> values{0.8, 3.0, 0.0, 4.0, 10.0};
    std::int32_t flag = 0;
};

class FogLayerList {
public:
    // Two default layers, the first flagged.
    FogLayerList();

    // Sets the five values of every layer to the defaults; each layer keeps its flag.
    void ResetDefaults();

    // Fills the renderer's fog block with one quadric and one parameter record per layer,
    // as the block's switch byte says; nothing when block is null. Throws std::bad_alloc.
    void BuildRenderData(FogRenderData* block) const;

    std::vector<FogLayer> layers;
};
