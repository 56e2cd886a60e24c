#pragma once

// The scene thumbnail: a small square picture of what a render view shows, which scene files
// carry as their preview picture. It is rendered through a temporary view of its own, so the
// view's frame, buffers and backups stay as they were.

#include "core/private_block.h"

#include <cstdint>

class QRenderView;

// QRenderView::RenderTemporaryView with its failures as no picture: width x height words
// 0xAARRGGBB of what view shows, rows packed, byteCount receiving width x height x 4. Null
// (byteCount untouched) when the view has no document, a side is below the renderer's least
// (8) or above 8192, or the render's memory is refused. QAbortException and UserAbortRender
// from the render pass through.
PrivateBlockPtr<std::uint32_t> RenderTemporaryView(std::uint32_t& byteCount, QRenderView& view,
                                                   std::int32_t width, std::int32_t height);

// The 128 x 128 thumbnail of view's scene: rendered at 256 pixels on the long side of the
// view's frame (the short side in proportion, truncated), cropped to the centred square and
// scaled down. Returns 128 x 128 words 0xAARRGGBB (opaque) with byteCount 65,536; null
// (byteCount untouched) when the view is not sized or the render gives nothing. Throws
// KVOutOfMemoryException when the thumbnail's own memory is refused.
PrivateBlockPtr<std::uint32_t> MakeSceneThumbnail(QRenderView& view, std::uint32_t& byteCount);
