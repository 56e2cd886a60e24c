// Temporary renders of the render view: the document drawn at another size through a
// temporary view that sees what this view sees. Everything the render changes outside the
// temporary view (the parts' selected bytes, the document's render view) is put back by
// guards, so a render that throws or is abandoned leaves the scene and this view as they
// were.

#include "core/colour.h"
#include "core/private_heap.h"
#include "geometry/part_render_record.h"
#include "geometry/scene_geometry.h"
#include "model/q_document_base.h"
#include "render/cast_frame_pass.h"
#include "view/document_view_kept.h"
#include "view/q_render_view.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace {

// Clears the selected bytes of the geometry's parts for its lifetime (a picture without
// selection marks) and sets them again when it ends.
class SelectionMarksCleared {
public:
    explicit SelectionMarksCleared(SceneGeometry& scene) : geometry(scene) {
        TranslateBadAlloc([&] {
            for (std::int32_t i = 0; i < geometry.PartCount(); ++i) {
                if (geometry.Part(i)->selected != 0) selected.push_back(i);
            }
        });
        for (const std::int32_t i : selected) geometry.Part(i)->selected = 0;
    }
    ~SelectionMarksCleared() {
        for (const std::int32_t i : selected) {
            if (i < geometry.PartCount()) geometry.Part(i)->selected = 1;
        }
    }
    SelectionMarksCleared(const SelectionMarksCleared&) = delete;
    SelectionMarksCleared& operator=(const SelectionMarksCleared&) = delete;

private:
    SceneGeometry& geometry;
    std::vector<std::int32_t> selected;
};

// The zeroed target of a temporary render, width x height words. Throws ViewBuffersException
// for a side below the renderer's least and KVOutOfMemoryException.
PrivateBlockPtr<std::uint32_t> AllocTarget(std::int32_t width, std::int32_t height) {
    if (width < RenderMinSide || height < RenderMinSide) {
        throw ViewBuffersException(RenderSizeTooSmall);
    }
    const std::uint64_t words =
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    if (words > std::numeric_limits<std::uint32_t>::max() / 4u) ThrowOutOfMemory();
    return PrivateAllocBlock<std::uint32_t>(static_cast<std::uint32_t>(words));
}

// The magnification of a picture width x height of what view shows (or of the rectangle):
// its longer side over the shown longer side; 1 for a view not yet sized.
double PictureScale(const QRenderView& view, std::int32_t width, std::int32_t height,
                    const std::optional<ViewRectangle>& rectangle) {
    double shownSide = std::max(view.renderWidth, view.renderHeight);
    if (rectangle.has_value()) {
        shownSide =
            std::max(rectangle->right - rectangle->left, rectangle->bottom - rectangle->top);
    }
    return shownSide > 0.0 ? std::max(width, height) / shownSide : 1.0;
}

// A picture k times the view's size draws its lines k times as wide, up to the widest
// outline the renderer draws, and its stars k times as large.
void ScaleLinesAndStars(ViewSettings& settings, double k) {
    constexpr double WidestLine = 2.2;
    settings.viewScale1 = static_cast<float>(std::min(settings.viewScale1 * k, WidestLine));
    settings.viewScale2 = static_cast<float>(std::min(settings.viewScale2 * k, WidestLine));
    if (settings.stars.isOn) settings.stars.size = static_cast<float>(settings.stars.size * k);
}

}  // namespace

void QRenderView::RebuildStarField(bool isUnwinding) {
    builtStars.reset();
    if (!isUnwinding) {
        PrepareStars(viewSettings.stars);
        return;
    }
    // While another failure unwinds, a failed rebuild leaves the field to the next render.
    try {
        PrepareStars(viewSettings.stars);
    } catch (...) {
        builtStars.reset();
    }
}

void QRenderView::CopyViewOptions(const QRenderView& source) {
    viewSettings.CopyFrom(source.viewSettings);
    isCameraDriven = source.isCameraDriven;
    storedCameraMatrix = source.storedCameraMatrix;
    drawState = source.drawState;
    options = source.options;
    shade = source.shade;
    colourWords = source.colourWords;
    poll = source.poll;
    viewDistance = source.viewDistance;
    depthConstant = source.depthConstant;
    lightDepthConstant = source.lightDepthConstant;
    lightMapScale = source.lightMapScale;
    isNearestExpansion = source.isNearestExpansion;
    cubicFromLevel = source.cubicFromLevel;
    shadowCentre = source.shadowCentre;
    shadowRadius = source.shadowRadius;
    shadowRadiusWeight = source.shadowRadiusWeight;
    isShadowRadiusReady = source.isShadowRadiusReady;
    isShadowAuto = source.isShadowAuto;
    shadowRadiusMode = source.shadowRadiusMode;
    shadowCentreMode = source.shadowCentreMode;
}

PrivateBlockPtr<std::uint32_t> QRenderView::RenderTemporaryView(
    std::int32_t width, std::int32_t height, const std::optional<ViewRectangle>& rectangle) {
    QDocumentBase* owner = Document();
    if (owner == nullptr || owner->Geometry() == nullptr) return {};
    PrivateBlockPtr<std::uint32_t> pixels = AllocTarget(width, height);

    // The picture is this view's, scaled: the magnification grows by the ratio of the longer
    // sides.
    const double k = PictureScale(*this, width, height, rectangle);

    SelectionMarksCleared marks(*owner->Geometry());
    DocumentViewKept keptView(*owner);
    auto temporary = std::make_unique<QRenderView>(owner);
    temporary->CopyViewOptions(*this);
    temporary->SetDrawMode(0);
    temporary->drawState.isSketch = drawState.isSketch;
    temporary->reductionLevel = 0;
    ScaleLinesAndStars(temporary->viewSettings, k);
    temporary->viewSettings.camera.m *= k;
    // The stars are the document's: the temporary view draws them at its scale, and this
    // view's are drawn again afterwards.
    try {
        temporary->InitViewBuffers(width * 4, pixels.get(), width, height, true);
        temporary->RenderDocument();
    } catch (...) {
        temporary.reset();
        RebuildStarField(true);
        throw;
    }
    temporary.reset();
    RebuildStarField(false);
    return pixels;
}

PrivateBlockPtr<std::uint32_t> QRenderView::RenderToBuffer(
    std::int32_t width, std::int32_t height, std::int32_t backgroundMode,
    const std::optional<ViewRectangle>& rectangle) {
    QDocumentBase* owner = Document();
    if (owner == nullptr || owner->Geometry() == nullptr) return {};
    PrivateBlockPtr<std::uint32_t> pixels = AllocTarget(width, height);

    const double k = PictureScale(*this, width, height, rectangle);

    // Everything the render changes on this view is kept aside and put back afterwards,
    // also when the render throws or is abandoned: the settings, the draw state, the level
    // and the pixels the view was sized on.
    const ViewSettings keptSettings(viewSettings);
    const ViewDrawState keptDrawState = drawState;
    const std::int32_t keptLevel = reductionLevel;
    std::uint32_t* const keptPixels = ownPixels;
    const std::int32_t keptStride = ownStrideBytes;
    const std::int32_t keptWidth = renderWidth;
    const std::int32_t keptHeight = renderHeight;
    const auto restore = [&](bool isUnwinding) {
        viewSettings.CopyFrom(keptSettings);
        drawState = keptDrawState;
        RebuildStarField(isUnwinding);
        reductionLevel = keptLevel;
        if (keptPixels != nullptr) {
            InitViewBuffers(keptStride, keptPixels, keptWidth, keptHeight, false);
        } else {
            ownPixels = nullptr;
            ownStrideBytes = 0;
        }
    };

    {
        SelectionMarksCleared marks(*owner->Geometry());
        try {
            SetDrawMode(0);
            reductionLevel = 0;
            if (backgroundMode == 1 || backgroundMode == 2) {
                viewSettings.colours[0] = ColourZero();
                if (backgroundMode == 2) viewSettings.colours[1] = ColourZero();
            }
            ScaleLinesAndStars(viewSettings, k);
            viewSettings.camera.m *= k;
            InitViewBuffers(width * 4, pixels.get(), width, height, true);
            Refresh();
        } catch (...) {
            restore(true);
            throw;
        }
    }
    restore(false);
    if (keptPixels != nullptr) RedrawAll(true);
    return pixels;
}
