#pragma once

// What the shading stages read besides the sample cells and the parts: the background (flat
// colour or a sky gradient), the depth cue or the fog volumes, the switches of the lighting
// model and its integer ambient and highlight colours. The view fills it before a render;
// QRender holds it as `shade`.

#include "core/vec3.h"

#include <array>
#include <cstddef>
#include <cstdint>

// One fog volume along camera rays: the quadric Q(p) = p^T form p + 2 linear . p + constant
// in camera space, and the layer's parameters p0 .. p4 (p1 the density).
struct FogVolume {
    std::array<double, 9> form{};  // symmetric 3x3, row by row
    Vec3 linear{};
    double constant = 0.0;
    std::array<double, 5> p{};
    bool isEnabled = false;
};

struct ShadeSettings {
    // ---- Background ----
    bool isSkyGradient = false;          // gradient between horizon and zenith; else flat
    Vec3 skyUp{0.0, -1.0, 0.0};          // the zenith direction in camera space, unit
    std::uint32_t horizonColour = 0;     // 0x00RRGGBB
    std::uint32_t zenithColour = 0;
    std::uint32_t backgroundColour = 0;  // flat background
    double gradientTan = 1.0;            // sharpness k of the gradient (tan of its angle)
    bool isStars = false;                // the scene's stars over the background (star_sky.h)
    // The background-mode byte: the picture is made to be laid over something else. Fog then
    // leaves the background alone (it stays transparent), and with a background image the
    // pixels where the background shows take the image (background_shade.h).
    std::uint8_t backgroundMode = 0;
    // The background image: one 0x00RRGGBB word per pixel of the full-size frame, rows
    // backgroundImageStride words apart, each channel an offset centred on 128 (128 leaves
    // the background colour as it is). Not owned; null for none.
    const std::uint32_t* backgroundImage = nullptr;
    std::size_t backgroundImageStride = 0;

    // ---- Depth cue and fog ----
    bool isFogVolumes = false;  // fog volumes instead of the plain depth cue
    double nearDepth = 0.0;     // plain depth cue: full surface colour nearer than this
    double farDepth = 1.0;      // and full fog colour from here on
    std::array<FogVolume, 2> fogVolumes{};
    bool isBoundedFog = false;  // the density vanishes at each volume's boundary

    // ---- Switches of the span shading ----
    bool isShadedBackground = true;  // off: the stored background word is written unchanged
    std::uint32_t backgroundWord = 0;  // the stored background word (alpha in the top byte)
    bool isFogOn = false;
    bool isFogOnBackground = false;
    bool isSky = false;          // background from ShadeBackground instead of the flat colour
    bool isAlphaFromFog = false;  // surfaces take the fog weight as alpha instead of 255
    std::uint32_t fogColour = 0;  // 0x00RRGGBB
    // Below 1: lit shading; 1: every part in flatColour; 2 and more: each part in its colour.
    std::int32_t drawStyle = 0;
    std::uint32_t flatColour = 0;
    // Curvature-broadened highlights: on curved surfaces (not bump-mapped) whose normal turns
    // fast across a pixel against the highlight's size, the specular lobe is averaged over
    // the pixel's footprint, so small, far or shiny parts keep a steady highlight.
    bool isCurvatureHighlights = false;

    // ---- Lighting model ----
    std::array<std::int32_t, 3> ambient{};    // ambient colour x 1020, rounded
    std::array<std::int32_t, 3> highlight{};  // added to selected parts, x 1020
    Vec3 ambientDirection{0.0, -1.0, 0.0};   // ambient factor 1 + (N . U)^2
};
