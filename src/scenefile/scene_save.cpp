#include "scenefile/scene_save.h"

#include "core/private_block.h"
#include "model/q_document_base.h"
#include "view/q_render_view.h"
#include "view/scene_thumbnail.h"

#include <span>

std::int16_t SaveSceneWithThumbnail(QDocumentBase& document, std::string_view path,
                                    SceneSaveMode mode, const SceneSettings* settings) {
    PrivateBlockPtr<std::uint32_t> thumbnail;
    std::uint32_t byteCount = 0;
    if (auto* view = dynamic_cast<QRenderView*>(document.RenderView())) {
        thumbnail = MakeSceneThumbnail(*view, byteCount);
    }
    const std::span<const std::uint32_t> words =
        thumbnail ? std::span<const std::uint32_t>(thumbnail.get(), byteCount / 4)
                  : std::span<const std::uint32_t>();
    return SaveSceneFile(document, path, mode, settings, words);
}
