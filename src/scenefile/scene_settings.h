#pragma once

// SceneSettings holds what a scene file says about how its scene is seen and output that
// neither the document nor its view keeps a field for yet (fog switches, sky, filters,
// shadows, display and line settings, the ambient colour, the output size and crop, the
// camera stack), with the file's scale and version. The scene reader fills it beside the
// document; the renderer and the writer take their values from it until the view holds
// them itself.
//
// Lengths are working lengths (the file's stored lengths divided by its scale). A field the
// file does not give keeps the value of a new document.

#include "core/colour.h"
#include "core/vec3.h"
#include "model/q_camera.h"
#include "model/q_document_base.h"

#include <cstdint>
#include <memory>
#include <vector>

struct SceneSettings {
    double scale = SceneScale;  // View_0_Scale of the file; 100.0 when absent or 0
    std::int32_t fileVersion = 0;  // version x 100

    // Fog.
    bool fogOn = false;
    double fogNear = 0.0;
    double fogFar = 0.0;
    bool fogSt = false;
    bool fogTypeFlag = false;  // false: the fog colour follows the display colour
    Colour fogColour{};
    bool volumeFog = false;

    // Sky.
    bool gradientOn = false;
    float gradientA = 0.0f;
    Colour gradientHc{};
    Colour gradientPc{};
    bool starsOn = false;
    std::int32_t starCount = 0;
    std::int32_t starSeed = 0;
    float starSize = 0.0f;
    float starSpread = 0.0f;

    // Filters.
    std::int32_t filterType = 0;
    std::int32_t filterAmount = 50;
    bool inlineFiltersOn = false;
    float inlineB = 0.0f;
    float inlineS = 0.0f;
    float inlineC = 0.0f;
    float inlineH = 0.0f;

    // Shadows.
    std::int32_t shadowsOn = 1;
    std::int32_t shadowAutoMode = 0;  // rm
    std::int32_t shadowMode = 0;      // cm
    bool shadowAuto = false;
    double shadowCastRadius = 1000.0 / SceneScale;
    float shadowRadiusScale = 1.0f;
    float shadowDensity = 1.25f;
    Vec3 shadowPoint{};  // cp

    // Display.
    std::int32_t sample = 0;
    bool hilite = false;
    Colour displayColour{};
    bool displaySk = false;
    bool displayWr = false;
    std::int32_t depthBufferCount = 1;  // dz: 1 or 2
    float displaySm = 0.0f;
    bool displayDo = false;
    std::int32_t glWord = 0;
    bool glFirstSwitch = true;        // set when bit 0 of the GL word is clear
    bool glSecondSwitch = false;      // bit 1
    bool sustainedFastRender = false;  // bit 2
    std::int32_t displayPd = 0;
    bool displayLer = false;

    // Lines (AALine).
    std::int32_t lineV = 0;
    float lineOw = 0.0f;
    float lineLw = 0.0f;
    Colour lineOc{};
    Colour lineLc{};
    Colour lineLfc{};

    // Lights.
    std::int32_t selectedLight = 0;
    Colour ambient{};

    // Output.
    std::int32_t outputWidth = 0;
    std::int32_t outputHeight = 0;
    bool cropOn = false;
    double cropTop = 0.0;
    double cropLeft = 0.0;
    double cropWidth = 0.0;
    double cropHeight = 0.0;

    // The view's camera stack, in stack order.
    std::vector<std::unique_ptr<QCamera>> cameraStack;
};
