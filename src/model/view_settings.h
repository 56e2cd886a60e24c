#pragma once

// ViewSettings is the record of how a scene is seen that a render view, a bot and a modeller
// event carry: the camera, a block of view values, eight colours, the light list, the fog
// layers and the tail values. It is a plain record that owns its members and is copied as a
// whole; the camera and the lights are copied into the objects already there, so the
// target's light objects survive a copy between lists of equal length.
//
// Values that take their defaults from the owning render view (SetDefaults) start at zero.

#include "core/colour.h"
#include "model/fog_layer_list.h"
#include "model/q_camera.h"
#include "model/q_lights.h"

#include <array>
#include <cstddef>
#include <cstdint>

class DocumentView;

// The sky's star field: its switch and what the stars are drawn from (the generator's seed,
// how many, the first star's size in pixels and the spread factor of a cluster).
struct StarSettings {
    bool isOn = false;
    std::int32_t count = 0;
    std::int32_t seed = 0;
    float size = 0.0f;
    float spread = 0.0f;

    friend bool operator==(const StarSettings&, const StarSettings&) = default;
};

// The index of the highlight switch among the view's draw bytes (on by default).
inline constexpr std::size_t ViewFlagHighlight = 4;

struct ViewSettings {
    // A default camera, black colours, no lights, two default fog layers, everything else 0.
    ViewSettings();

    // A new record that then takes every value of from. Throws KVOutOfMemoryException or
    // std::bad_alloc.
    ViewSettings(const ViewSettings& from);

    // CopyFrom; returns this record.
    ViewSettings& operator=(const ViewSettings& from);

    ~ViewSettings() = default;

    // Copies every value of from: the camera by QCamera::Assign, the lights by
    // QLights::SyncFrom. Throws KVOutOfMemoryException or std::bad_alloc.
    void CopyFrom(const ViewSettings& from);

    // Sets the defaults for view: clears view's frame-valid and defer flags, resets its
    // camera, makes view the lights' view, resets the fog layers and puts in the two default
    // lights, scaled to working lengths, each with a further snapshot. Throws std::bad_alloc.
    void SetDefaults(DocumentView& view);

    std::array<std::uint32_t, 18> headerBlock{};
    QCamera camera;
    std::uint32_t viewWord1 = 0;
    std::uint32_t viewWord2 = 0;
    double nearDepth = 0.0;
    double farDepth = 0.0;
    float viewScale1 = 0.0f;
    float viewScale2 = 0.0f;
    float viewAngle = 0.0f;
    std::array<double, 4> viewDoubles{};
    // Draw bytes; viewFlags[ViewFlagHighlight] is the highlight switch: while it is off the
    // view draws no selection marks (except for the selection tool, 105).
    std::array<std::uint8_t, 8> viewFlags{};
    bool IsHighlightOn() const { return viewFlags[ViewFlagHighlight] != 0; }
    void SetHighlight(bool on) { viewFlags[ViewFlagHighlight] = on ? 1 : 0; }
    // The shadows switch: non-zero lets the view draw shadows (1 from the defaults).
    std::int32_t shadowsOn = 0;
    std::array<Colour, 8> colours{};
    QLights lights;
    FogLayerList fogLayers;
    std::array<std::uint8_t, 2> tailFlags{};
    std::int32_t tailWord = 0;
    float tailValue1 = 0.0f;
    float tailValue2 = 0.0f;
    std::int32_t tailCount = 0;
    std::int32_t tailMode = 0;
    StarSettings stars;
};
