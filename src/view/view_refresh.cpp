// Bringing the modeller's picture up to date: the full refresh, the redraw of the selected
// parts over the kept background, and handing the changed rectangle to the frame bitmap that
// presents it.

#include "view/q_render_view.h"

#include "model/q_document_base.h"
#include "model/q_morvan_objects.h"

#include <algorithm>

bool QRenderView::InitViewBuffers(QOffBits& bitmap, bool throwOnFailure) {
    frameBitmap = &bitmap;
    return InitViewBuffers(bitmap.GetStride(), bitmap.GetBits(), bitmap.Width(), bitmap.Height(),
                           throwOnFailure);
}

void QRenderView::Refresh() {
    PrepareRender(viewSettings);
    storedCameraMatrix = GetCameraMatrix();
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

void QRenderView::Redraw(bool full) {
    if (isDelegate || frameBitmap == nullptr) return;
    if (GetDrawMode() == 2 || isDeferred) full = true;
    if (!full) frameBitmap->updateRect = dirtyRect;
    frameBitmap->Update(full);
}
