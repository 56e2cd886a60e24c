#pragma once

// QRenderView is the render view of a document: it binds the document to a renderer, draws
// the document's scene and keeps the settings it is seen with. The document, its lights and
// view settings see it as a DocumentView.
//
// A secondary (delegate) view shows overlays for a main view and takes its camera from it.
//
// For now the view holds its document, its view settings, the renderer's light records and
// fog block, and the camera operations the model calls. PickAtPixel, MeasureDepthRange,
// SyncObjectsWithView and UpdateObjectGeometry are placeholders until the renderer and its
// frame buffers join the view: nothing is ever hit, the frame holds no depth and there is no
// overlay to bring up to date.

#include "core/matrix4.h"
#include "core/vec3.h"
#include "model/document_view.h"
#include "render/fog_render_data.h"
#include "render/render_light.h"

#include <cstdint>
#include <vector>

class QDocumentBase;

class QRenderView final : public DocumentView {
public:
    // A view of document (may be null) with default view settings; becomes the document's
    // render view.
    explicit QRenderView(QDocumentBase* owner);

    // Rebuilds the light records, the mean light direction and the two light counts from
    // the view settings' lights that are on. Throws KVOutOfMemoryException; the old records
    // then stay.
    void PrepareLights() override;

    // Resets the settings' camera: fov and m 1.0, the transform turned by
    // Rz(pi) Ry(3 pi / 4) Rx(-pi / 6), identity orientation, position (0, 0, -1000 / scene
    // scale).
    void ResetCamera() override;

    // World to view: the camera's view matrix, on a secondary view that of its main view.
    Matrix4 GetViewMatrix() const;

    // Takes the point through the view matrix, or through its inverse (a singular view
    // matrix is used as it is).
    void TransformByView(Vec3& point) const;
    void TransformByInverseView(Vec3& point) const override;

    // Picks the object at pixel (x, y) of frame buffer 0, 1 or 2: true for a hit, with the
    // object's index, the view-space point and the facing normal.
    // A placeholder until the renderer exists: never a hit.
    bool PickAtPixel(std::int32_t buffer, std::int32_t x, std::int32_t y, std::int32_t& objectIndex,
                     Vec3& point, Vec3& normal) const override;

    // The mean view depth of the covered pixels sampled every 4 pixels, with their least and
    // greatest depth; -1.0 (least the largest double, greatest 0) when nothing is covered.
    // A placeholder until the renderer exists: nothing is covered.
    double MeasureDepthRange(double& nearest, double& farthest) const override;

    // Brings the objects and lights shown in the view's overlay up to date; nothing without
    // an overlay.
    // A placeholder until the overlay exists: does nothing.
    void SyncObjectsWithView(bool render) override;

    // Places the view-dependent overlay handles for the next render; nothing on a main view.
    // A placeholder until the overlay exists: does nothing.
    void UpdateObjectGeometry() override;

    std::int32_t FrameWidth() const override { return frameWidth; }
    std::int32_t FrameHeight() const override { return frameHeight; }

    // The renderer's light data, which PrepareLights fills: the direction lights first, then
    // the local lights.
    std::vector<RenderLight> renderLights;
    Vec3 meanLightDirection{};  // unit, or zero without direction lights
    std::int32_t directionLightCount = 0;
    std::int32_t localLightCount = 0;

    FogRenderData fogBlock;

private:
    std::int32_t frameWidth = 0;
    std::int32_t frameHeight = 0;
};
