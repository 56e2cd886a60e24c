#pragma once

// The texture's preview picture is drawn by the renderer, which lives in a layer above the
// textures. The texture owns what the drawing needs (a private scene and the view that draws
// it) as an opaque TexturePreviewScene, and asks for the picture through the renderer the
// view layer installs at start-up. Without one installed, nothing is drawn and the texture
// keeps whatever picture it had.

#include <cstdint>

class QTexture;

// The rebuild mode the texture reader, writer and importer draw the preview with.
inline constexpr std::int32_t PreviewRebuildMode = 1;

// What a texture keeps for drawing its preview (made by the installed renderer); released
// with the texture, before its record, since the preview's object wears that record.
class TexturePreviewScene {
public:
    virtual ~TexturePreviewScene() = default;

protected:
    TexturePreviewScene() = default;
    TexturePreviewScene(const TexturePreviewScene&) = default;
    TexturePreviewScene& operator=(const TexturePreviewScene&) = default;
};

// Draws texture's preview into its preview pixels: on the first call makes the preview scene
// and the pixels, later redraws the preview object after rebuilding its shape with the
// given rebuild mode. Throws what it fails with (KVOutOfMemoryException, or a text when the
// preview's buffers cannot be set up).
using TexturePreviewRendererFn = void (*)(QTexture& texture, std::int32_t mode);

// Installs the preview renderer (null: none). Returns the one installed before.
TexturePreviewRendererFn SetTexturePreviewRenderer(TexturePreviewRendererFn renderer);

// Draws texture's preview through the installed renderer; returns false, with nothing drawn,
// when none is installed. Passes on what the renderer throws.
bool RenderTexturePreview(QTexture& texture, std::int32_t mode);
