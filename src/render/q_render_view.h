#pragma once

// QRenderView is the render view of a document: it draws the document's scene and keeps the
// settings it is seen with. The view and its document refer to each other; the view
// registers itself as the document's render view and withdraws when it is destroyed.
//
// A secondary (delegate) view shows overlays for a main view and takes its camera from it.
//
// For now the view holds its document, its view settings, the renderer's light records and
// fog block, and the camera operations the model calls. The renderer, its frame buffers and
// the secondary view's overlay join it with the renderer; until then nothing is ever hit by
// a pick and the frame holds no depth.

#include "core/matrix4.h"
#include "core/vec3.h"
#include "model/view_settings.h"
#include "render/fog_render_data.h"
#include "render/render_light.h"

#include <cstdint>
#include <vector>

class QDocumentBase;

class QRenderView {
public:
    // A view of document (may be null) with default view settings; becomes the document's
    // render view.
    explicit QRenderView(QDocumentBase* owner);

    // Stops being its document's render view when it still is.
    ~QRenderView();

    QRenderView(const QRenderView&) = delete;
    QRenderView& operator=(const QRenderView&) = delete;

    QDocumentBase* Document() const { return document; }

    // Forgets the document; the document calls it when it is destroyed before its view.
    void DetachDocument() { document = nullptr; }

    // Rebuilds the light records, the mean light direction and the two light counts from
    // the view settings' lights that are on. Throws KVOutOfMemoryException; the old records
    // then stay.
    void PrepareLights();

    // Resets the settings' camera: fov and m 1.0, the transform turned by
    // Rz(pi) Ry(3 pi / 4) Rx(-pi / 6), identity orientation, position (0, 0, -1000 / scene
    // scale).
    void ResetCamera();

    // World to view: the camera's view matrix, on a secondary view that of its main view.
    Matrix4 GetViewMatrix() const;

    // Takes the point through the view matrix, or through its inverse (a singular view
    // matrix is used as it is).
    void TransformByView(Vec3& point) const;
    void TransformByInverseView(Vec3& point) const;

    // Picks the object at pixel (x, y) of frame buffer 0, 1 or 2: true for a hit, with the
    // object's index, the view-space point and the facing normal.
    bool PickAtPixel(std::int32_t buffer, std::int32_t x, std::int32_t y, std::int32_t& objectIndex,
                     Vec3& point, Vec3& normal) const;

    // The mean view depth of the covered pixels sampled every 4 pixels, with their least and
    // greatest depth; -1.0 (least the largest double, greatest 0) when nothing is covered.
    double MeasureDepthRange(double& nearest, double& farthest) const;

    // Brings the objects and lights shown in the view's overlay up to date; nothing without
    // an overlay.
    void SyncObjectsWithView(bool render);

    // Places the view-dependent overlay handles for the next render; nothing on a main view.
    void UpdateObjectGeometry();

    std::int32_t FrameWidth() const { return frameWidth; }
    std::int32_t FrameHeight() const { return frameHeight; }

    ViewSettings viewSettings;
    bool isDelegate = false;               // a secondary view of mainView
    QRenderView* mainView = nullptr;       // the view a secondary view forwards to
    QRenderView* secondaryView = nullptr;  // the secondary view of a main view
    std::int32_t selectedLight = 0;        // index into the settings' light list
    bool lightsChanged = false;            // the lights changed since the last render

    // The renderer's light data, which PrepareLights fills: the direction lights first, then
    // the local lights.
    std::vector<RenderLight> renderLights;
    Vec3 meanLightDirection{};  // unit, or zero without direction lights
    std::int32_t directionLightCount = 0;
    std::int32_t localLightCount = 0;

    FogRenderData fogBlock;

private:
    QDocumentBase* document = nullptr;
    std::int32_t frameWidth = 0;
    std::int32_t frameHeight = 0;
};
