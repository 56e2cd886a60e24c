// Picking and selection of the render view. A pick reads the part id and depth the last cast
// left in the sample cells. A selection change sets the selected bytes of the parts' records
// and shades again only the footprint of the parts whose byte changed: the cast frame still
// holds which part is seen at every pixel, so nothing is cast again.

#include "core/private_heap.h"
#include "geometry/part_render_record.h"
#include "geometry/scene_geometry.h"
#include "model/document_modeller.h"
#include "model/q_document_base.h"
#include "model/q_group.h"
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

// Gathers the objects seen under the lasso's runs into the selection, each once. An object
// of a whole group (QGroup::IsSelectedWhole) brings its group instead, whose members all
// join the selection when the lasso is done (AddWholeGroups).
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
            QMorvanObject* object = objects.At(index);
            const QGroup* group = object->Group();
            if (group != nullptr && group->IsSelectedWhole()) {
                if (std::find(groups.begin(), groups.end(), group) == groups.end()) {
                    TranslateBadAlloc([&] { groups.push_back(group); });
                }
                continue;
            }
            Collect(*object);
        }
    }

    // Selects the members of every whole group the lasso met, in the order it met them.
    void AddWholeGroups() {
        for (const QGroup* group : groups) {
            for (QReferenceObject* member : group->CollectReferrersByType(TypeIdObject)) {
                auto* object = static_cast<QMorvanObject*>(member);
                // Only members of this collection (a group could hold another's objects).
                if (objects.At(object->Index()) == object) Collect(*object);
            }
        }
    }

private:
    void Collect(QMorvanObject& object) {
        std::vector<bool>::reference isCollected =
            collected[static_cast<std::size_t>(object.Index())];
        if (isCollected) return;
        isCollected = true;
        if (object.IsVisible()) object.SetSelected(true);
    }

    const QRender& render;
    QMorvanObjects& objects;
    std::vector<bool> collected;
    std::vector<const QGroup*> groups;
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

namespace {

// Whether a selection change may set the parts' selected bytes to value: never in the sketch
// draw mode; a selection is marked while the highlight switch is on or the selection tool is
// active, and deselection always proceeds.
bool MayMarkSelection(const QRenderView& view, const QDocumentBase& document, bool value) {
    if (view.drawState.isSketch) return false;
    if (!value || view.viewSettings.IsHighlightOn()) return true;
    return document.Modeller() != nullptr && document.Modeller()->IsTool105Active();
}

}  // namespace

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
    if (!MayMarkSelection(*this, *owner, value)) return;
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
        collector.AddWholeGroups();
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
        // A member of a whole group takes its group along.
        const QMorvanObject* picked = objects.At(index);
        const bool isWhole =
            picked != nullptr && picked->Group() != nullptr && picked->Group()->IsSelectedWhole();
        objects.ToggleSelection(index, isWhole ? mode | SelectSameGroup : mode, all);
    }
    ApplySelectionChange(*this, before, objects.SelectionIds());
}
