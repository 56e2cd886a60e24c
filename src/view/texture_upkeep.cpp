#include "view/texture_upkeep.h"

#include "core/id_set.h"
#include "geometry/scene_geometry.h"
#include "model/q_document_base.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
#include "object/q_reference_object.h"
#include "render/footprint_region.h"
#include "render/pyramid_filter.h"
#include "render/scene_part_textures.h"
#include "render/span_shade.h"
#include "texture/q_texture.h"
#include "view/q_render_view.h"

#include <cstdint>
#include <vector>

namespace {

// A count-prefixed list of part indices, as the renderer takes them.
std::vector<std::int32_t> PartListOf(const IdSet& ids) {
    std::vector<std::int32_t> list;
    TranslateBadAlloc([&] {
        list.reserve(static_cast<std::size_t>(ids.Count()) + 1);
        list.push_back(ids.Count());
        for (const std::int32_t id : ids.Ids()) list.push_back(id);
    });
    return list;
}

}  // namespace

void CollectTextureObjectIds(const QTexture& texture, IdSet& ids, const QDocumentBase& document) {
    IdSet collected;
    const QMorvanObjects* objects = document.Objects();
    if (objects != nullptr) {
        for (QReferenceObject* referrer : texture.CollectReferrersByType(TypeIdObject)) {
            const auto* object = dynamic_cast<const QMorvanObject*>(referrer);
            if (object != nullptr && object->Collection() == objects) {
                collected.Insert(object->Index());
            }
        }
    }
    ids = collected;
}

void ReshadeTextureObjects(const QTexture& texture, QDocumentBase& document) {
    auto* view = dynamic_cast<QRenderView*>(document.RenderView());
    SceneGeometry* geometry = document.Geometry();
    if (view == nullptr || geometry == nullptr || !view->isFrameValid || !view->BuffersReady() ||
        view->sceneGeometry != geometry) {
        return;
    }
    IdSet wearers;
    CollectTextureObjectIds(texture, wearers, document);
    const QMorvanObjects* objects = document.Objects();
    const IdSet selected = objects != nullptr ? objects->SelectionIds() : IdSet{};
    const IdSet unselected = wearers.Difference(selected);

    // The samples of the last cast still hold every pixel's part and point; only the
    // colours the textures give them are new.
    LoadPartTextures(*view, *geometry, view->partsViewFromWorld);
    if (unselected.Count() > 0) {
        const std::vector<std::int32_t> list = PartListOf(unselected);
        BuildSelectionRegion(*view, list.data());
        ShadeObjectSpans(*view, view->selectionRegion);
        PyramidFilter(*view);
    }
    if (selected.Count() > 0) {
        const std::vector<std::int32_t> list = PartListOf(selected);
        view->RenderFrame(list.data(), false, nullptr, 0);
    }
}
