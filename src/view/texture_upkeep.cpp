#include "view/texture_upkeep.h"

#include "core/id_set.h"
#include "geometry/scene_geometry.h"
#include "model/q_document_base.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
#include "object/q_reference_object.h"
#include "render/footprint_region.h"
#include "render/scene_part_textures.h"
#include "imaging/image_file.h"
#include "texture/q_texture.h"
#include "texture/q_texture_image.h"
#include "texture/tex_pyramid.h"
#include "texture/texture_import.h"
#include "texture/texture_material_registry.h"
#include "view/q_render_view.h"

#include <cstdint>
#include <cstring>
#include <string>
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
        view->Reshade(view->selectionRegion);
    }
    if (selected.Count() > 0) {
        const std::vector<std::int32_t> list = PartListOf(selected);
        view->RenderFrame(list.data(), false, nullptr, 0);
    }
}

std::unique_ptr<QTexture> ResampleTextureImage(QTexture& texture,
                                               std::unique_ptr<QTexture> owned) {
    if (!owned) return nullptr;
    QTexture& templateTexture = *owned;
    QTextureImage* source = texture.Image();
    QTextureImage* target = templateTexture.Image();
    if (source == nullptr || target == nullptr || !texture.params || !templateTexture.params) {
        return owned;
    }
    std::int32_t sourceWidth = 0, sourceHeight = 0, width = 0, height = 0;
    bool premultiplied = false;
    PrivateBlockPtr<std::uint32_t> colours =
        source->CopyColorBuffer(sourceWidth, sourceHeight, premultiplied);
    PrivateBlockPtr<std::uint32_t> alphas = target->CopyColorBuffer(width, height, premultiplied);
    if (!colours || !alphas) return owned;

    // The colours at the template's size, each word with the template's alpha.
    std::string errorText;
    ResampledImage resized;
    const std::uint32_t* rgb = colours.get();
    if (sourceWidth != width || sourceHeight != height) {
        if (ResampleImage(reinterpret_cast<const std::uint8_t*>(colours.get()), sourceWidth,
                          sourceHeight, 0, width, height, resized, errorText) != ImageFileOk) {
            return owned;
        }
        rgb = resized.words.data();
    }
    const auto words = static_cast<std::uint32_t>(width) * static_cast<std::uint32_t>(height);
    PrivateBlockPtr<std::uint32_t> merged = PrivateAllocBlock<std::uint32_t>(words);
    for (std::uint32_t i = 0; i < words; ++i) {
        merged.get()[i] = (alphas.get()[i] & 0xFF000000u) | (rgb[i] & 0x00FFFFFFu);
    }

    // The template's record, with this texture's own values, becomes this texture's. Both
    // handles leave the material table first: the old record goes, and the template's handle
    // must not keep naming a record it no longer owns.
    TextureParams& kept = *templateTexture.params;
    const TextureParams& own = *texture.params;
    kept.Bump = own.Bump;
    kept.transform = own.transform;
    kept.scale = own.scale;
    kept.spf = own.spf;
    kept.spa = own.spa;
    LeaveTextureMaterial(templateTexture.materialHandle);
    templateTexture.materialHandle = 0;
    LeaveTextureMaterial(texture.materialHandle);
    texture.materialHandle = 0;
    texture.params = std::move(templateTexture.params);
    texture.materialHandle =
        EnterTextureMaterial(texture.params.get(), static_cast<const QReferenceObject*>(&texture));

    // The wearers' records name the texture by its new handle.
    for (QReferenceObject* referrer : texture.CollectReferrersByType(TypeIdObject)) {
        if (auto* object = dynamic_cast<QMorvanObject*>(referrer)) {
            object->SetTexture(&texture, true);
        }
    }

    // Should the import fail or throw, the record must not be left sampling the template's
    // image, which goes with the template: it samples the image the texture still holds.
    struct RecordOnHeldImage {
        QTexture& texture;
        ~RecordOnHeldImage() {
            if (!texture.params) return;
            QTextureImage* held = texture.Image();
            texture.params->image = held != nullptr ? held->pyramid.get() : nullptr;
        }
    } recordGuard{texture};

    // The bump map travels with the import; a template's own bump map does not stay under
    // colours that are not its own.
    const bool hadBump = TexPyramidHasMap(*source->pyramid);
    std::string importError;
    ImportTextureImage(texture, merged.get(), target, true, true, false, importError, width,
                       height, false);
    if (!hadBump && texture.Image() == target) TexPyramidDropMap(*target->pyramid);
    owned.reset();
    return nullptr;
}
