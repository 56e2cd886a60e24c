#pragma once

// The texture preview as the view layer draws it: a private scene document holding one
// sphere that wears the texture, lit by two white lights and seen by a render view of its
// own, drawn into the texture's 128 x 128 preview pixels. The texture owns the scene, so the
// user's scene is never touched; the sphere wears the texture's own record, so a change of
// the mapping or the image shows at the next redraw.

#include <cstdint>

class QTexture;

// Draws texture's preview. The first call makes the preview pixels, the scene, its view,
// lights and sphere (they stay with the texture even when a later step throws) and renders
// them; later calls rebuild the sphere's shape and render again (mode is the callers' rebuild
// mode; the one sphere is always rebuilt whole).
// A texture that has a scene but no pixels draws nothing. Throws KVOutOfMemoryException, or
// the text "Error in QRenderView::InitViewBuffers" when the view cannot be sized.
void RenderTexturePreviewScene(QTexture& texture, std::int32_t mode);

// Rebuilds the preview sphere's shape and renders it again; nothing before the first
// RenderTexturePreviewScene or without preview pixels.
void RefreshTexturePreview(QTexture& texture, std::int32_t mode);

// Installs RenderTexturePreviewScene as the textures' preview renderer.
void ViewInitProcess();
