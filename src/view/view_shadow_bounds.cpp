// The view's shadows: whether the renderer draws them, and the sphere their light maps cover
// (the shadow bounds). The centre comes from the depths of a quick render of the scene, the
// radius from the centre and the view's width.

#include "core/private_heap.h"
#include "core/vec3.h"
#include "geometry/scene_geometry.h"
#include "model/q_document_base.h"
#include "model/q_light.h"
#include "view/document_view_kept.h"
#include "view/q_render_view.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <memory>
#include <vector>

void QRenderView::PrepareShadows(const ViewSettings& settings, std::int32_t lights,
                                 std::int32_t shadowLights) {
    const bool isWanted = settings.shadowsOn != 0 && drawState.lineStyle <= 0 && !isQuickMode;
    if (isWanted == options.shadows || AllocatedWidth() == 0) {
        options.shadows = isWanted;
        if (SetLightCounts(lights, isWanted ? shadowLights : 0) == RenderSizeNoMemory) {
            throw KVOutOfMemoryException();
        }
        return;
    }
    // The light maps come and go with the buffers: the counts are set with the maps off, so
    // only the sizing below allocates.
    options.shadows = false;
    if (SetLightCounts(lights, isWanted ? shadowLights : 0) == RenderSizeNoMemory) {
        throw KVOutOfMemoryException();
    }
    options.shadows = isWanted;
    const std::int32_t width = renderWidth;
    const std::int32_t height = renderHeight;
    const std::int32_t result =
        SetSize(Target(), AllocatedWidth(), AllocatedHeight(), TargetStride(), true);
    renderWidth = width;
    renderHeight = height;
    isFrameValid = false;
    if (result == RenderSizeNoMemory) throw KVOutOfMemoryException();
}

double QRenderView::MeasureDepthSpread(double& nearest, double& farthest, double& mean) const {
    nearest = DBL_MAX;
    farthest = 0.0;
    double sum = 0.0;
    double squares = 0.0;
    std::int32_t count = 0;
    for (std::int32_t y = 0; y < renderHeight; y += 4) {
        for (std::int32_t x = 0; x < renderWidth; x += 4) {
            double depth = 0.0;
            const std::uint32_t word = QueryPixel(x, y, nullptr, &depth, 0, nullptr);
            if (PixelPartIndex(word) < 0 || !std::isfinite(depth)) continue;
            nearest = std::min(nearest, depth);
            farthest = std::max(farthest, depth);
            sum += depth;
            squares += depth * depth;
            ++count;
        }
    }
    if (count == 0) return 0.0;
    mean = sum / count;
    return std::sqrt(std::max(0.0, squares / count - mean * mean));
}

void QRenderView::UpdateCentrePoint(const Vec3& point) {
    if (isDelegate) return;
    if (shadowCentreMode == 1) {
        shadowCentre = point;
        return;
    }
    if (shadowCentreMode != 0) return;
    shadowCentre.x = 0.0;
    shadowCentre.y = 0.0;
    double nearest = 0.0, farthest = 0.0, mean = 0.0;
    const double spread = MeasureDepthSpread(nearest, farthest, mean);
    // A frame that shows nothing says nothing of the depth: it stays.
    if (!(nearest <= farthest)) return;
    const double t = mean + 2.0 * spread;
    shadowCentre.z = (std::min(t, farthest) + nearest) * 0.5;
}

void QRenderView::UpdateProjection() {
    if (isDelegate) return;
    if (!isShadowAuto) {
        isShadowRadiusReady = true;
        return;
    }
    const QCamera& camera = viewSettings.camera;
    if (shadowRadiusMode == 0) {
        shadowRadius =
            std::max(0.1, Vec3Length(shadowCentre) * shadowRadiusWeight) / (camera.fov * camera.m);
    } else if (shadowRadiusMode == 1) {
        // The half-width of the view at the centre's depth: z sin(half the horizontal field).
        const double n = renderWidth;
        const double k = camera.m * camera.fov * 1000.0 / viewDistance;
        shadowRadius = std::max(
            0.1, shadowCentre.z * shadowRadiusWeight * 0.5 * n / std::sqrt(k * k + n * n / 4.0));
    } else {
        return;
    }
    isShadowRadiusReady = true;
}

bool QRenderView::CreateSecondaryView(bool force, double tolerance) {
    if (isDelegate || viewSettings.shadowsOn == 0 || drawState.lineStyle > 0) return false;
    if (isQuickMode) return true;
    PrepareRender(viewSettings);
    QDocumentBase* owner = Document();
    SceneGeometry* geometry = owner != nullptr ? owner->Geometry() : nullptr;
    const bool hasParts = geometry != nullptr && geometry->PartCount() > 0;
    if (!force && isFrameValid) {
        if (hasParts) {
            // The frame on show measures the centre; a move within the tolerance keeps the
            // bounds as they were.
            const Vec3 old = shadowCentre;
            UpdateCentrePoint(Vec3{});
            if (Vec3Length(Vec3Sub(shadowCentre, old)) <= tolerance) {
                shadowCentre = old;
                return false;
            }
        }
    } else if (hasParts && BuffersReady()) {
        // A quick unlit, unshadowed render at half resolution through a temporary view of
        // the same document measures the depths.
        const std::int32_t width = renderWidth;
        const std::int32_t height = renderHeight;
        std::vector<std::uint32_t> pixels;
        TranslateBadAlloc([&] {
            pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        });
        DocumentViewKept keptView(*owner);
        auto temporary = std::make_unique<QRenderView>(owner);
        temporary->CopyViewOptions(*this);
        for (QLight* light : temporary->viewSettings.lights.Lights()) light->isOn = false;
        temporary->viewSettings.shadowsOn = 0;
        temporary->SetDrawMode(0);
        temporary->options.perLightDependents = false;
        temporary->reductionLevel = 1;
        temporary->shadowCentreMode = shadowCentreMode;
        if (temporary->InitViewBuffers(width * 4, pixels.data(), width, height, false)) {
            temporary->Refresh();
            temporary->UpdateCentrePoint(Vec3{});
            shadowCentre = temporary->shadowCentre;
        }
    }
    UpdateProjection();
    return true;
}
