// Bringing the modeller's picture up to date: the full refresh, the redraw of the selected
// parts over the kept background, and handing the changed rectangle to the frame bitmap that
// presents it.

#include "model/q_document_base.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
#include "view/overlay_composite.h"
#include "view/q_render_view.h"

#include <algorithm>

bool QRenderView::InitViewBuffers(QOffBits& bitmap, bool throwOnFailure) {
    frameBitmap = &bitmap;
    return InitViewBuffers(bitmap.GetStride(), bitmap.GetBits(), bitmap.Width(), bitmap.Height(),
                           throwOnFailure);
}

void QRenderView::Refresh() {
    PrepareRender(viewSettings);
    storedCameraMatrix = GetCameraMatrix();
    UpdateObjectGeometry();
    if (!isQuickMode && isDeferred) {
        isFrameValid = false;
        return;
    }
    RenderDocument();
    dirtyRect = isDelegate ? FrameRect{} : FrameRect{0, 0, renderWidth, renderHeight};
}

void QRenderView::RenderParts() {
    QDocumentBase* owner = Document();
    if (owner == nullptr || owner->Objects() == nullptr) return;
    const IdSet& selection = owner->Objects()->SelectionIds();
    if (selection.Count() == 0) return;
    RenderFrame(selection.Block(), true, selection.Block(), 0);
}

void QRenderView::ResetAuxBuffers() { AllocAuxBuffers(); }

void QRenderView::RedrawAll(bool withSecondary) {
    Refresh();
    ResetAuxBuffers();
    RenderParts();
    if (withSecondary && secondaryView != nullptr) {
        auto& secondary = static_cast<QRenderView&>(*secondaryView);
        secondary.Refresh();
        secondary.ResetAuxBuffers();
        secondary.RenderParts();
    }
    isDeferred = isQuickMode;
}

bool QRenderView::AnyObjectActive() const {
    const QRenderView* overlay = OverlayView();
    if (isDelegate || overlay == nullptr || overlay->Document() == nullptr) return false;
    const QMorvanObjects* objects = overlay->Document()->Objects();
    if (objects == nullptr) return false;
    return std::any_of(objects->Objects().begin(), objects->Objects().end(),
                       [](const QMorvanObject* object) { return object->IsVisible(); });
}

void QRenderView::Redraw(bool full) {
    if (isDelegate || frameBitmap == nullptr) return;
    if (GetDrawMode() == 2 || isDeferred) full = true;
    QOffBitsBase* presented = frameBitmap;
    FrameRect rect = dirtyRect;
    QRenderView* overlay = OverlayView();
    if (!isDeferred && overlay != nullptr && overlayFrameBitmap != nullptr &&
        overlayFrameBitmap->GetBits() != nullptr && AnyObjectActive()) {
        // The handles go over a copy of the picture, so the picture itself stays as the
        // incremental frames left it.
        const FrameRect whole{0, 0, renderWidth, renderHeight};
        if (full) overlay->dirtyRect = whole;
        const FrameRect composed =
            CompositeOverlayRect(overlayFrameBitmap->GetBits(), overlayFrameBitmap->GetStride() / 4,
                                 *this, GetFrameStride() / 4, *overlay, drawState.isWireframe,
                                 full ? whole : rect, overlay->dirtyRect, renderWidth);
        if (!full) rect = composed;
        presented = overlayFrameBitmap;
    }
    if (!full) presented->updateRect = rect;
    presented->Update(full);
    if (overlay != nullptr) overlay->dirtyRect = FrameRect{};
}
