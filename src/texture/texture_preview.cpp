#include "texture/texture_preview.h"

namespace {

TexturePreviewRendererFn installedRenderer = nullptr;

}  // namespace

TexturePreviewRendererFn SetTexturePreviewRenderer(TexturePreviewRendererFn renderer) {
    const TexturePreviewRendererFn previous = installedRenderer;
    installedRenderer = renderer;
    return previous;
}

bool RenderTexturePreview(QTexture& texture, std::int32_t mode) {
    if (installedRenderer == nullptr) return false;
    installedRenderer(texture, mode);
    return true;
}
