// Picking and selection of the render view. A pick reads the part id and depth the last cast
// left in the sample cells. A selection change sets the selected bytes of the parts' records
// and shades again only the footprint of the parts whose byte changed: the cast frame still
// holds which part is seen at every pixel, so nothing is cast again.

#include "core/private_heap.h"
#include "geometry/part_render_record.h"
#include "geometry/scene_geometry.h"
#include "model/q_document_base.h"
#include "model/q_light.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
#include "render/footprint_region.h"
#include "render/scene_render_parts.h"
#include "view/overlay_composite.h"
#include "view/q_render_view.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace {

// Gathers the objects seen under the lasso's runs into the selection, each once.
class LassoCollector final : public PolygonRunSink {
public:
    LassoCollector(const QRender& source, QMorvanObjects& collection)
        : render(source), objects(collection) {
        TranslateBadAlloc(
            [&] { collected.assign(static_cast<std::size_t>(objects.Count()), false); });
    }

    void AddRun(std::int32_t y, std::int32_t firstX, std::int32_t lastX) override {
        for (std::int32_t x = firstX; x <= lastX; ++x) {
            const std::int32_t index =
                PixelPartIndex(render.QueryPixel(x, y, nullptr, nullptr, 0, nullptr));
            if (index < 0 || index >= objects.Count()) continue;
            if (collected[static_cast<std::size_t>(index)]) continue;
            collected[static_cast<std::size_t>(index)] = true;
            QMorvanObject* object = objects.At(index);
            if (object->IsVisible()) object->SetSelected(true);
        }
    }

private:
    const QRender& render;
    QMorvanObjects& objects;
    std::vector<bool> collected;
};

// The bounds of region's runs within the frame, in full-size pixels (a reduced level's pixels
// cover 2^level of them, less the level's margin).
FrameRect RegionBoundsInFrame(const SpanRegion& region, const QRender& render) {
    const RenderLevel& level = render.Level();
    FrameRect bounds{};
    bool isEmpty = true;
    const std::int32_t top = std::max(region.Top(), 0);
    const std::int32_t bottom = std::min(region.Bottom(), level.height);
    for (std::int32_t y = top; y < bottom; ++y) {
        for (const std::int16_t* t = region.Row(y); t[0] != SpanRowEnd; t += 2) {
            const std::int32_t x0 = std::max<std::int32_t>(t[0], 0);
            const std::int32_t x1 = std::min<std::int32_t>(t[1], level.width);
            if (x1 <= x0) continue;
            if (isEmpty) bounds = FrameRect{x0, y, x1, y + 1};
            isEmpty = false;
            bounds.left = std::min(bounds.left, x0);
            bounds.right = std::max(bounds.right, x1);
            bounds.bottom = y + 1;
        }
    }
    if (isEmpty || render.reductionLevel == 0) return bounds;
    // A reduced level's pixel x covers full pixels from (x - 2) 2 on, level by level.
    for (std::int32_t k = 0; k < render.reductionLevel; ++k) {
        bounds = FrameRect{std::max((bounds.left - 2) * 2, 0), std::max((bounds.top - 2) * 2, 0),
                           (bounds.right - 2) * 2, (bounds.bottom - 2) * 2};
    }
    return FrameRect{bounds.left, bounds.top, std::min(bounds.right, render.renderWidth),
                     std::min(bounds.bottom, render.renderHeight)};
}

}  // namespace

void QRenderView::SyncObjectAttributes(const IdSet* ids) {
    if (ids != nullptr) {
        SyncRenderPartAttributes(*this, ids->Ids());
    } else {
        SyncRenderPartAttributes(*this);
    }
}

bool QRenderView::PickAtPixel(std::int32_t buffer, std::int32_t x, std::int32_t y,
                              std::int32_t& objectIndex, Vec3& point, Vec3& normal) const {
    double depth = 0.0;
    Vec3 facing{};
    const std::uint32_t word = QueryPixel(x, y, nullptr, &depth, buffer, &facing);
    objectIndex = PixelPartIndex(word);
    if (objectIndex < 0) return false;
    // The point on the pixel centre's ray at the cell's depth, with the focal length the
    // frame was cast with.
    const double focal = focalScale * 1000.0 / viewDistance;
    point = Vec3{(x - centreX + 0.5) * depth / focal, (y - centreY + 0.5) * depth / focal, depth};
    Vec3Normalize(facing);
    normal = facing;
    return true;
}

void QRenderView::SetSelection(const IdSet* ids, bool value, bool redraw) {
    QDocumentBase* owner = Document();
    if (owner == nullptr || owner->Objects() == nullptr || owner->Geometry() == nullptr) return;
    SceneGeometry& geometry = *owner->Geometry();
    const IdSet& set = ids != nullptr ? *ids : owner->Objects()->SelectionIds();
    IdSet changed;
    for (const std::int32_t id : set.Ids()) {
        if (id < 0 || id >= geometry.PartCount()) continue;
        PartRenderRecord& record = *geometry.Part(id);
        if ((record.selected != 0) == value) continue;
        record.selected = value ? 1 : 0;
        changed.Insert(id);
    }
    if (changed.Count() == 0) return;
    if (!redraw || isDeferred) {
        SyncObjectAttributes(&changed);
        return;
    }
    RedrawSelection(&changed);
}

void QRenderView::RedrawSelection(const IdSet* ids) {
    QDocumentBase* owner = Document();
    if (owner == nullptr || owner->Objects() == nullptr || owner->Geometry() == nullptr) return;
    const IdSet& set = ids != nullptr ? *ids : owner->Objects()->SelectionIds();
    SyncObjectAttributes(&set);
    if (!BuffersReady() || set.Count() == 0) return;
    // The parts' footprint holds every pixel where they are seen; the pixels around it
    // (the outline ring) keep their shade.
    BuildSelectionRegion(*this, set.Block());
    // The background incremental frames restore from takes the new colours too, else a part
    // moving over these ones would uncover them as they were.
    if (AuxBuffersReady()) Reshade(selectionRegion, 1);
    Reshade(selectionRegion);
    dirtyRect = FrameRectUnion(dirtyRect, RegionBoundsInFrame(selectionRegion, *this));
}

namespace {

// On an overlay, the handle at index with the other handles of its light (the ball, shaft
// and arrowhead of a light that does not sit at an object, 16 rows apart): selected, or
// toggled with add.
void SelectLightHandles(QMorvanObjects& handles, std::int32_t index, bool add) {
    QMorvanObject* picked = handles.At(index);
    if (picked == nullptr) return;
    const auto* light = static_cast<const QLight*>(picked->FindReferrerByType(TypeIdLight, 1));
    std::vector<std::int32_t> ids{index};
    if (light != nullptr && !light->isAtObject) {
        const std::int32_t ball = index % RenderLightSlotCount;
        ids = {ball, ball + RenderLightSlotCount, ball + 2 * RenderLightSlotCount};
    }
    for (const std::int32_t id : ids) {
        QMorvanObject* handle = handles.At(id);
        if (handle != nullptr && handle->IsVisible())
            handle->SetSelected(!add || !handle->IsSelected());
    }
}

// Redraws the parts whose selection differs between before and the collection's selection.
void ApplySelectionChange(QRenderView& view, const IdSet& before, const IdSet& after) {
    if (before == after) return;
    const IdSet deselect = before.Difference(after);
    const IdSet select = after.Difference(before);
    view.SetSelection(&deselect, false, true);
    view.SetSelection(&select, true, true);
}

}  // namespace

void QRenderView::SelectInPolygon(std::span<const PolygonPoint> polygon, bool add) {
    QDocumentBase* owner = Document();
    if (owner == nullptr || owner->Objects() == nullptr || owner->Geometry() == nullptr) return;
    QMorvanObjects& objects = *owner->Objects();
    const IdSet before = objects.SelectionIds();
    if (!add) objects.ClearSelection();
    if (BuffersReady() && renderWidth > 0 && renderHeight > 0) {
        LassoCollector collector(*this, objects);
        PolygonFillScratch scratch;
        FillPolygon(polygon, PolygonClip{0, 0, renderWidth - 1, renderHeight - 1}, scratch,
                    collector);
    }
    ApplySelectionChange(*this, before, objects.SelectionIds());
}

void QRenderView::UpdateSelection(std::int32_t index, bool add, std::int32_t mode, bool all) {
    QDocumentBase* owner = Document();
    if (owner == nullptr || owner->Objects() == nullptr || owner->Geometry() == nullptr) return;
    QMorvanObjects& objects = *owner->Objects();
    const IdSet before = objects.SelectionIds();
    if (index < 0 || !add) objects.ClearSelection();
    if (index >= 0 && isDelegate) {
        SelectLightHandles(objects, index, add);
    } else if (index >= 0) {
        objects.ToggleSelection(index, mode, all);
    }
    ApplySelectionChange(*this, before, objects.SelectionIds());
}
