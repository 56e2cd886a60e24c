#include "view/scene_thumbnail.h"

#include "core/private_heap.h"
#include "imaging/image_file.h"
#include "view/q_render_view.h"
#include "view/view_buffers_exception.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

namespace {

// The long side of the render a thumbnail is scaled down from.
constexpr std::int32_t ThumbnailRenderSide = 256;

// Temporary renders are pictures of a view, never larger than a screen.
constexpr std::int32_t MostRenderSide = 8192;

}  // namespace

PrivateBlockPtr<std::uint32_t> RenderTemporaryView(std::uint32_t& byteCount, QRenderView& view,
                                                   std::int32_t width, std::int32_t height) {
    if (width > MostRenderSide || height > MostRenderSide) return nullptr;
    try {
        PrivateBlockPtr<std::uint32_t> pixels = view.RenderTemporaryView(width, height);
        if (pixels) {
            byteCount = static_cast<std::uint32_t>(width) * static_cast<std::uint32_t>(height) * 4;
        }
        return pixels;
    } catch (const ViewBuffersException&) {
        return nullptr;  // a side below the renderer's least
    } catch (const KVOutOfMemoryException&) {
        // The temporary view's buffers went with it; there is simply no picture.
        return nullptr;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

PrivateBlockPtr<std::uint32_t> MakeSceneThumbnail(QRenderView& view, std::uint32_t& byteCount) {
    const std::int32_t frameWidth = view.FrameWidth();
    const std::int32_t frameHeight = view.FrameHeight();
    if (frameWidth < 1 || frameHeight < 1) return nullptr;
    const std::int32_t longSide = std::max(frameWidth, frameHeight);
    const std::int32_t shortSide = std::min(frameWidth, frameHeight);
    const auto scaledShort = static_cast<std::int32_t>(static_cast<std::int64_t>(shortSide) *
                                                       ThumbnailRenderSide / longSide);
    const std::int32_t width = frameWidth >= frameHeight ? ThumbnailRenderSide : scaledShort;
    const std::int32_t height = frameWidth >= frameHeight ? scaledShort : ThumbnailRenderSide;

    std::uint32_t renderedBytes = 0;
    PrivateBlockPtr<std::uint32_t> rendered =
        RenderTemporaryView(renderedBytes, view, width, height);
    if (!rendered) return nullptr;
    ResampledImage scaled;
    std::string errorText;
    if (ScaleToThumbnail(reinterpret_cast<const std::uint8_t*>(rendered.get()), width, height,
                         width * 4, scaled, errorText) != ImageFileOk) {
        return nullptr;
    }
    rendered.reset();
    const auto words = static_cast<std::uint32_t>(scaled.words.size());
    auto thumbnail = PrivateAllocBlock<std::uint32_t>(words);
    std::memcpy(thumbnail.get(), scaled.words.data(), static_cast<std::size_t>(words) * 4);
    byteCount = words * 4;
    return thumbnail;
}
