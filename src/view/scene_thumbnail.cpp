#include "view/scene_thumbnail.h"

#include "core/private_heap.h"
#include "imaging/image_file.h"
#include "model/q_document_base.h"
#include "model/view_settings.h"
#include "view/q_render_view.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

namespace {

// The long side of the render a thumbnail is scaled down from.
constexpr std::int32_t ThumbnailRenderSide = 256;

// The least frame side the renderer sizes to.
constexpr std::int32_t LeastRenderSide = 8;

// Temporary renders are pictures of a view, never larger than a screen.
constexpr std::int32_t MostRenderSide = 8192;

// A view made for a document becomes its render view; the temporary one must not stay so.
class RenderViewRestorer {
public:
    explicit RenderViewRestorer(QDocumentBase& owner)
        : document(owner), previous(owner.RenderView()) {}
    ~RenderViewRestorer() { document.SetRenderView(previous); }
    DocumentView* Previous() const { return previous; }
    RenderViewRestorer(const RenderViewRestorer&) = delete;
    RenderViewRestorer& operator=(const RenderViewRestorer&) = delete;

private:
    QDocumentBase& document;
    DocumentView* previous = nullptr;
};

}  // namespace

PrivateBlockPtr<std::uint32_t> RenderTemporaryView(std::uint32_t& byteCount, QRenderView& view,
                                                   std::int32_t width, std::int32_t height,
                                                   const ViewSettings* settings) {
    QDocumentBase* document = view.Document();
    if (document == nullptr || width < LeastRenderSide || height < LeastRenderSide ||
        width > MostRenderSide || height > MostRenderSide) {
        return nullptr;
    }
    const auto words = static_cast<std::uint32_t>(width) * static_cast<std::uint32_t>(height);
    try {
        auto pixels = PrivateAllocBlock<std::uint32_t>(words);
        RenderViewRestorer restorer(*document);
        QRenderView temporary(document);
        document->SetRenderView(restorer.Previous());
        temporary.viewSettings = settings != nullptr ? *settings : view.viewSettings;
        // The focal length is in pixels: the picture keeps what the view shows when the
        // magnification follows the change of the long side.
        const std::int32_t viewLong = std::max(view.FrameWidth(), view.FrameHeight());
        if (viewLong > 0) {
            temporary.viewSettings.camera.m *=
                static_cast<double>(std::max(width, height)) / static_cast<double>(viewLong);
        }
        temporary.InitViewBuffers(width * 4, pixels.get(), width, height, true);
        temporary.RenderDocument();
        byteCount = words * 4;
        return pixels;
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
        RenderTemporaryView(renderedBytes, view, width, height, nullptr);
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
