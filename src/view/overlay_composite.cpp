#include "view/overlay_composite.h"

#include <algorithm>
#include <cstddef>

namespace {

// The cell of buffer 0 under screen pixel (x, y) at the renderer's reduction level; null
// outside the level or without the buffer.
const SampleCell* CellAt(const QRender& render, std::int32_t x, std::int32_t y) {
    const SampleCell* cells = render.SampleBuffer(0);
    if (cells == nullptr) return nullptr;
    for (std::int32_t k = 0; k < render.reductionLevel; ++k) {
        x = x / 2 + 2;
        y = y / 2 + 2;
    }
    const RenderLevel& level = render.Level();
    if (x >= level.width || y >= level.height) return nullptr;
    return &cells[static_cast<std::size_t>(y + 1) * static_cast<std::size_t>(level.cellStride) +
                  static_cast<std::size_t>(x) + 1];
}

std::uint32_t DepthFactor(const SampleCell* layer, const SampleCell* background) {
    if (layer == nullptr || layer->depth == 0) return 0;
    // Depth words grow nearer: a smaller word lies behind.
    if (background != nullptr && background->depth != 0 && layer->depth < background->depth) {
        return PixelPartIndex(layer->pixel) >= 48 ? 128 : 100;
    }
    return 255;
}

}  // namespace

FrameRect FrameRectUnion(const FrameRect& a, const FrameRect& b) {
    if (b.IsEmpty()) return a;
    if (a.IsEmpty()) return b;
    return FrameRect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                     std::max(a.bottom, b.bottom)};
}

FrameRect CompositeOverlayRect(std::uint32_t* destination, std::int32_t destinationStride,
                               const QRender& background, std::int32_t backgroundStride,
                               const QRender& layer, bool layerOpaque, const FrameRect& a,
                               const FrameRect& b, std::int32_t layerRowLength) {
    const FrameRect rect = FrameRectUnion(a, b);
    const std::uint32_t* under = background.Target();
    const std::uint32_t* over = layer.Target();
    if (destination == nullptr || under == nullptr || over == nullptr || rect.IsEmpty()) {
        return rect;
    }
    // Rectangles come from dirty regions of either view; holding them to both frames keeps a
    // stale or oversized one from reaching outside the pixels.
    const std::int32_t left = std::max(rect.left, 0);
    const std::int32_t top = std::max(rect.top, 0);
    const std::int32_t right = std::min({rect.right, background.renderWidth, layer.renderWidth,
                                         layerRowLength, backgroundStride, destinationStride});
    const std::int32_t bottom =
        std::min({rect.bottom, background.renderHeight, layer.renderHeight});
    for (std::int32_t y = top; y < bottom; ++y) {
        for (std::int32_t x = left; x < right; ++x) {
            const std::uint32_t layerPixel =
                over[static_cast<std::size_t>(y) * static_cast<std::size_t>(layerRowLength) +
                     static_cast<std::size_t>(x)];
            const std::uint32_t backPixel =
                under[static_cast<std::size_t>(y) * static_cast<std::size_t>(backgroundStride) +
                      static_cast<std::size_t>(x)];
            const std::uint32_t alpha = layerOpaque ? 255u : layerPixel >> 24;
            std::uint32_t t = 0;
            if (alpha != 0) {
                t = alpha * DepthFactor(CellAt(layer, x, y), CellAt(background, x, y));
            }
            std::uint32_t out = 0xFF000000u;
            for (std::int32_t shift = 0; shift < 24; shift += 8) {
                const std::uint32_t back = (backPixel >> shift) & 0xFFu;
                const std::uint32_t front = (layerPixel >> shift) & 0xFFu;
                const std::uint32_t channel =
                    t != 0 ? ((65025u - t) * back + t * front) >> 16 : back;
                out |= channel << shift;
            }
            destination[static_cast<std::size_t>(y) * static_cast<std::size_t>(destinationStride) +
                        static_cast<std::size_t>(x)] = out;
        }
    }
    return rect;
}
