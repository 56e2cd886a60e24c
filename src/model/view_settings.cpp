#include "model/view_settings.h"

#include "core/scalar_maths.h"
#include "model/document_view.h"
#include "model/q_document_base.h"

ViewSettings::ViewSettings() = default;

ViewSettings::ViewSettings(const ViewSettings& from) { CopyFrom(from); }

ViewSettings& ViewSettings::operator=(const ViewSettings& from) {
    if (this != &from) CopyFrom(from);
    return *this;
}

void ViewSettings::CopyFrom(const ViewSettings& from) {
    headerBlock = from.headerBlock;
    camera.Assign(from.camera);
    viewWord1 = from.viewWord1;
    viewWord2 = from.viewWord2;
    nearDepth = from.nearDepth;
    farDepth = from.farDepth;
    viewScale1 = from.viewScale1;
    viewScale2 = from.viewScale2;
    viewAngle = from.viewAngle;
    viewDoubles = from.viewDoubles;
    viewFlags = from.viewFlags;
    shadowsOn = from.shadowsOn;
    colours = from.colours;
    lights.SyncFrom(from.lights);
    fogLayers.layers = from.fogLayers.layers;
    tailFlags = from.tailFlags;
    tailWord = from.tailWord;
    tailValue1 = from.tailValue1;
    tailValue2 = from.tailValue2;
    tailCount = from.tailCount;
    tailMode = from.tailMode;
    stars = from.stars;
}

void ViewSettings::SetDefaults(DocumentView& view) {
    camera.position = Vec3{0.0, 0.0, -1000.0 / SceneScale};
    camera.fov = 1.0;
    viewWord1 = 0;
    viewWord2 = 0;
    nearDepth = 600.0 / SceneScale;
    farDepth = 1400.0 / SceneScale;
    viewScale1 = 1.0f;
    viewScale2 = 1.0f;
    viewAngle = static_cast<float>(PI / 8.0);
    viewDoubles = {0.0, 1.0, 1.0, 0.0};
    viewFlags = {0, 0, 0, 0, 1, 1, 1, 0};
    shadowsOn = 1;
    colours = {ColourFromBytes(128, 128, 128), ColourFromBytes(128, 128, 128),
               ColourFromBytes(10, 10, 10),    ColourFromBytes(0, 0, 0),
               ColourFromBytes(0, 0, 0),       ColourFromBytes(255, 255, 255),
               ColourFromBytes(0, 0, 0),       ColourFromBytes(0, 0, 64)};
    view.ClearRenderFlags();
    view.ResetCamera();
    lights.view = &view;
    fogLayers.ResetDefaults();
    lights.SetDefaultLights();
    // The default lights are placed in stored lengths; working lengths are those divided by
    // the scene scale.
    for (QLight* light : lights.Lights()) {
        light->position = Vec3Divide(light->position, SceneScale);
        light->localValue1 /= SceneScale;
        light->PushSnapshot();
    }
    tailFlags = {0, 0};
    tailWord = 0;
    tailValue1 = 2.5f;
    tailValue2 = 0.5f;
    tailCount = 10000;
    tailMode = 1;
}
