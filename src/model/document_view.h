#pragma once

// DocumentView is the document's side of its render view. The render view lives above the
// document (it binds a document to a renderer), so the document, its lights and view settings
// reach it through this base: the view state they read and write, and the camera and
// renderer operations they call, which the render view implements.
//
// A view and its document refer to each other: a view registers itself as its document's
// render view and withdraws when it is destroyed; a document destroyed first detaches it.

#include "core/vec3.h"
#include "model/view_settings.h"

#include <cstdint>

class QDocumentBase;

class DocumentView {
public:
    DocumentView(const DocumentView&) = delete;
    DocumentView& operator=(const DocumentView&) = delete;

    // Stops being its document's render view when it still is.
    virtual ~DocumentView();

    QDocumentBase* Document() const { return document; }

    // Forgets the document; the document calls it when it is destroyed before its view.
    void DetachDocument() { document = nullptr; }

    // Rebuilds the renderer's light records from the view settings' lights that are on.
    // Throws KVOutOfMemoryException; the old records then stay.
    virtual void PrepareLights() = 0;

    // Puts the settings' camera back to the default one.
    virtual void ResetCamera() = 0;

    // The settings were reset to their defaults: clears the view's frame-valid and defer
    // flags, so the next refresh renders the new settings.
    virtual void ClearRenderFlags() = 0;

    // Takes the point through the inverse of the view matrix.
    virtual void TransformByInverseView(Vec3& point) const = 0;

    // Picks the object at pixel (x, y) of frame buffer 0, 1 or 2: true for a hit, with the
    // object's index, the view-space point and the facing normal.
    virtual bool PickAtPixel(std::int32_t buffer, std::int32_t x, std::int32_t y,
                             std::int32_t& objectIndex, Vec3& point, Vec3& normal) const = 0;

    // The mean view depth of the covered pixels, with their least and greatest depth; -1.0
    // when nothing is covered.
    virtual double MeasureDepthRange(double& nearest, double& farthest) const = 0;

    // Brings the objects and lights shown in the view's overlay up to date.
    virtual void SyncObjectsWithView(bool render) = 0;

    // Places the view-dependent overlay handles for the next render.
    virtual void UpdateObjectGeometry() = 0;

    virtual std::int32_t FrameWidth() const = 0;
    virtual std::int32_t FrameHeight() const = 0;

    ViewSettings viewSettings;
    bool isDelegate = false;                 // a secondary view of mainView
    DocumentView* mainView = nullptr;        // the view a secondary view forwards to
    DocumentView* secondaryView = nullptr;   // the secondary view of a main view
    std::int32_t selectedLight = 0;          // index into the settings' light list
    bool lightsChanged = false;              // the lights changed since the last render

protected:
    // A view of document (may be null) with default view settings; becomes the document's
    // render view.
    explicit DocumentView(QDocumentBase* owner);

private:
    QDocumentBase* document = nullptr;
};
