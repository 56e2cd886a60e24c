// Bringing the modeller's picture up to date: the full refresh, the redraw of the selected
// parts over the kept background, and handing the changed rectangle to the frame bitmap that
// presents it.

#include "model/document_modeller.h"
#include "model/q_document_base.h"
#include "model/q_light.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
#include "view/overlay_composite.h"
#include "view/q_render_view.h"

#include <algorithm>
#include <vector>

namespace {

// The stage code a refresh announces its progress under.
constexpr std::int32_t RefreshProgressStage = 1;

// A saved view carries colours 0 to 4.
constexpr std::size_t SavedViewColourCount = 5;

// The dragged object of view's document, when it is shown: a full render leaves it out.
// Null on a secondary view and without one.
QMorvanObject* ShownDraggedObject(const QRenderView& view) {
    const QDocumentBase* owner = view.Document();
    if (view.isDelegate || owner == nullptr || owner->Modeller() == nullptr) return nullptr;
    QMorvanObject* object = owner->Modeller()->DraggedObject();
    return object != nullptr && object->GetPartRecord() != nullptr && object->IsVisible() ? object
                                                                                          : nullptr;
}

// Hides or shows the dragged object for a render; the object's changed mark stays as the
// edits left it.
void SetDraggedHidden(QMorvanObject& object, bool hidden) {
    const std::uint8_t changed = object.changed;
    object.SetVisible(!hidden);
    object.changed = changed;
}

}  // namespace

bool QRenderView::InitViewBuffers(QOffBits& bitmap, bool throwOnFailure) {
    frameBitmap = &bitmap;
    return InitViewBuffers(bitmap.GetStride(), bitmap.GetBits(), bitmap.Width(), bitmap.Height(),
                           throwOnFailure);
}

void QRenderView::Refresh() {
    PrepareRender(viewSettings);
    // The dragged object is drawn over the refreshed picture by the drag itself, so the
    // picture is made without it. It is shown again however the render ends: a render the
    // user abandons must not leave the object hidden in the scene.
    QMorvanObject* const dragged = ShownDraggedObject(*this);
    if (dragged != nullptr) SetDraggedHidden(*dragged, true);
    QDocumentBase* const owner = Document();
    bool isAnnouncing = false;
    try {
        storedCameraMatrix = GetCameraMatrix();
        UpdateObjectGeometry();
        if (!isQuickMode && isDeferred) {
            isFrameValid = false;
        } else {
            isAnnouncing = owner != nullptr && owner->progressStage == 0;
            if (isAnnouncing) owner->AnnounceProgress(RefreshProgressStage, 0);
            RenderDocument();
            dirtyRect = isDelegate ? FrameRect{} : FrameRect{0, 0, renderWidth, renderHeight};
            if (isAnnouncing) owner->AnnounceProgress(RefreshProgressStage, 100);
        }
    } catch (...) {
        // An abandoned render ends its progress as well, so nothing waits for its 100.
        if (isAnnouncing) owner->EndProgress();
        if (dragged != nullptr) SetDraggedHidden(*dragged, false);
        throw;
    }
    if (isAnnouncing) owner->EndProgress();
    if (dragged != nullptr) SetDraggedHidden(*dragged, false);
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

void QRenderView::SyncSecondaryView(bool render) {
    if (isDelegate || overlayView == nullptr) return;
    UpdateAxisHandles();
    if (render && !isDeferred) RenderOverlay();
}

void QRenderView::ApplyViewState(const SavedViewState& state) {
    const ViewSettings& from = state.settings;
    // Copied first: a copy that fails leaves the view as it was.
    std::vector<FogLayer> fogLayers = from.fogLayers.layers;
    QCamera& camera = viewSettings.camera;
    camera.orientation = from.camera.orientation;
    SetCameraPosition(from.camera.position);
    camera.transform = from.camera.transform;
    camera.fov = from.camera.fov;
    viewSettings.lights.SyncFrom(from.lights);
    if (pendingZoom > 0.0) {
        ScaleZoom(pendingZoom / camera.m);
        pendingZoom = -1.0;
    }
    PrepareLights();
    shadowRadius = state.shadowRadius;
    shadowCentre = state.shadowCentre;
    viewSettings.nearDepth = from.nearDepth;
    viewSettings.farDepth = from.farDepth;
    // The colours a saved view carries: the background and second colour, the ambient
    // colour and the two line colours with their widths; the second-colour switch and the
    // fog layers.
    for (std::size_t i = 0; i < SavedViewColourCount; ++i) {
        viewSettings.colours[i] = from.colours[i];
    }
    viewSettings.tailFlags[0] = from.tailFlags[0];
    viewSettings.viewScale1 = from.viewScale1;
    viewSettings.viewScale2 = from.viewScale2;
    viewSettings.fogLayers.layers.swap(fogLayers);
    PrepareRender(viewSettings);
    SyncObjectsWithView(false);
    // A changed view moves what the shadow maps must cover: the bounds follow the new view
    // (nothing happens with shadows off or on a secondary view).
    CreateSecondaryView(false, 0.0);
    QDocumentBase* owner = Document();
    if (owner == nullptr) return;
    for (const std::int32_t change : {DocumentChangeViewState, DocumentChangeCamera,
                                      DocumentChangeLights, DocumentChangeViewColours}) {
        QReferenceObject::Broadcast(owner, MessageChanged, change);
    }
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
