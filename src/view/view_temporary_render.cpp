// Temporary renders of the render view: the document drawn at another size through a
// temporary view that sees what this view sees. Everything the render changes outside the
// temporary view (the parts' selected bytes, the document's render view) is put back by
// guards, so a render that throws or is abandoned leaves the scene and this view as they
// were.

#include "core/colour.h"
#include "core/private_heap.h"
#include "geometry/part_render_record.h"
#include "geometry/scene_geometry.h"
#include "model/document_modeller.h"
#include "model/q_document_base.h"
#include "render/cast_frame_pass.h"
#include "render/render_interrupt.h"
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

// A temporary render draws what the view draws, its lines included (widened with the picture,
// ScaleLinesAndStars), in full: without the point-sampled quick look.
void DrawAsTheViewDoes(ViewDrawState& state, const ViewDrawState& view) {
    state = view;
    state.isWireframe = false;
}

// What RenderToBuffer changes on the view besides its settings and draw state, kept to be put
// back however the render ends.
struct KeptRenderValues {
    explicit KeptRenderValues(const QRenderView& view)
        : level(view.reductionLevel),
          pixels(view.GetFrameBits()),
          strideBytes(view.GetFrameStride()),
          width(view.renderWidth),
          height(view.renderHeight),
          isPerLightDependents(view.options.perLightDependents),
          isSky(view.shade.isSky),
          isSkyGradient(view.shade.isSkyGradient),
          shadowCentre(view.shadowCentre),
          shadowRadius(view.shadowRadius),
          shadowRadiusWeight(view.shadowRadiusWeight),
          isShadowRadiusReady(view.isShadowRadiusReady),
          isShadowAuto(view.isShadowAuto),
          shadowRadiusMode(view.shadowRadiusMode),
          shadowCentreMode(view.shadowCentreMode) {}

    // Puts the values back; the background-mode byte is cleared.
    void Restore(QRenderView& view) const {
        view.reductionLevel = level;
        view.options.perLightDependents = isPerLightDependents;
        view.shade.isSky = isSky;
        view.shade.isSkyGradient = isSkyGradient;
        view.shade.backgroundMode = 0;
        view.shadowCentre = shadowCentre;
        view.shadowRadius = shadowRadius;
        view.shadowRadiusWeight = shadowRadiusWeight;
        view.isShadowRadiusReady = isShadowRadiusReady;
        view.isShadowAuto = isShadowAuto;
        view.shadowRadiusMode = shadowRadiusMode;
        view.shadowCentreMode = shadowCentreMode;
    }

    std::int32_t level;
    std::uint32_t* pixels;
    std::int32_t strideBytes;
    std::int32_t width;
    std::int32_t height;
    bool isPerLightDependents;
    bool isSky;
    bool isSkyGradient;
    Vec3 shadowCentre;
    double shadowRadius;
    double shadowRadiusWeight;
    bool isShadowRadiusReady;
    bool isShadowAuto;
    std::int32_t shadowRadiusMode;
    std::int32_t shadowCentreMode;
};

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
    DrawAsTheViewDoes(temporary->drawState, drawState);
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
    // The modeller's kept drag picture does not survive the view's re-sizing.
    if (owner->Modeller() != nullptr) owner->Modeller()->InvalidateDragRedraw();
    PrivateBlockPtr<std::uint32_t> pixels = AllocTarget(width, height);

    const double k = PictureScale(*this, width, height, rectangle);

    // Everything the render changes on this view is kept aside and put back afterwards, also
    // when the render throws or is abandoned: the settings, the draw state, the renderer's
    // values and the pixels the view was sized on. The view's renders can then be abandoned
    // by a click again (interrupt mode -1).
    const ViewSettings keptSettings(viewSettings);
    const ViewDrawState keptDrawState = drawState;
    const KeptRenderValues kept(*this);
    const auto restore = [&](bool isUnwinding) {
        viewSettings.CopyFrom(keptSettings);
        drawState = keptDrawState;
        kept.Restore(*this);
        RebuildStarField(isUnwinding);
        poll.mode = -1;
        if (kept.pixels != nullptr) {
            InitViewBuffers(kept.strideBytes, kept.pixels, kept.width, kept.height, false);
        } else {
            ownPixels = nullptr;
            ownStrideBytes = 0;
        }
    };

    {
        SelectionMarksCleared marks(*owner->Geometry());
        try {
            DrawAsTheViewDoes(drawState, keptDrawState);
            reductionLevel = 0;
            options.perLightDependents = false;
            // Modes 1 and 2 lay the picture on black, so that its colours carry their
            // coverage, ready to be laid over anything: colour 0 (the background) black and
            // no sky gradient, mode 2 also colour 1 black, and fog makes surfaces transparent
            // instead of painting them (the first draw byte). Mode 3 keeps the view's
            // background and an opaque fog. Each keeps the background transparent under fog
            // (the background-mode byte).
            if (backgroundMode >= 1 && backgroundMode <= 3) {
                if (backgroundMode != 3) {
                    viewSettings.colours[0] = ColourZero();
                    if (backgroundMode == 2) viewSettings.colours[1] = ColourZero();
                    shade.isSky = false;
                    shade.isSkyGradient = false;
                }
                viewSettings.viewFlags[0] = backgroundMode != 3 ? 1 : 0;
                shade.backgroundMode = 1;
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
    if (kept.pixels == nullptr) return pixels;
    // A click that abandons the view's own redraw does not cost the finished picture: the
    // view is drawn again by its next redraw.
    try {
        RedrawAll(true);
    } catch (const UserAbortRender&) {
        isFrameValid = false;
    }
    return pixels;
}
