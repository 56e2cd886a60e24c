#pragma once

// ViewSettings is the record of how a scene is seen that a render view, a bot and a modeller
// event carry: a block of view values, eight colours, the fog layers and the tail values. It
// is a plain record, copied as a whole. The camera and the light list join it with the
// camera and light classes.
//
// Values that take their defaults from the owning render view start at zero here.

#include <array>
#include <cstdint>

#include "core/colour.h"
#include "model/fog_layer_list.h"

struct ViewSettings {
    // Copies every value of from.
    void CopyFrom(const ViewSettings& from) { *this = from; }

    std::array<std::uint32_t, 18> headerBlock{};
    std::uint32_t viewWord1 = 0;
    std::uint32_t viewWord2 = 0;
    double nearDepth = 0.0;
    double farDepth = 0.0;
    float viewScale1 = 0.0f;
    float viewScale2 = 0.0f;
    float viewAngle = 0.0f;
    std::array<double, 4> viewDoubles{};
    std::array<std::uint8_t, 8> viewFlags{};
    std::int32_t viewMode = 0;
    std::array<Colour, 8> colours{};
    FogLayerList fogLayers;
    std::array<std::uint8_t, 2> tailFlags{};
    std::int32_t tailWord = 0;
    float tailValue1 = 0.0f;
    float tailValue2 = 0.0f;
    std::int32_t tailCount = 0;
    std::int32_t tailMode = 0;
};
