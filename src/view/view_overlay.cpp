// The overlay of the modeller's view: a secondary view over a document of its own whose
// parts are handles, drawn with the main view's camera. A light's handle is a ball at the
// light whose radius is set from its view depth before every render, so it keeps one size on
// the screen however far it is from the camera.

#include "core/colour.h"
#include "core/private_heap.h"
#include "geometry/part_record.h"
#include "model/q_document_base.h"
#include "model/q_light.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
#include "view/q_render_view.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace {

// The radius of a light's ball in pixels.
constexpr double LightBallPixels = 10.0;

}  // namespace

QRenderView::~QRenderView() {
    // The overlay view goes before its document.
    secondaryView = nullptr;
    overlayView.reset();
    overlayDocument.reset();
}

void QRenderView::CreateSecondaryScene(bool on) {
    if (isDelegate) return;
    // The view goes before its document.
    if (overlayView != nullptr) secondaryView = nullptr;
    overlayView.reset();
    overlayDocument.reset();
    overlayPixels.clear();
    if (!on) return;

    auto handles = std::make_unique<QDocumentBase>();
    auto view = std::make_unique<QRenderView>(handles.get());
    view->viewSettings.lights.RemoveAll();
    view->isDelegate = true;
    view->mainView = this;
    const Colour yellow = ColourFromBytes(255, 255, 0);
    for (std::int32_t i = 0; i < RenderLightSlotCount; ++i) {
        QMorvanObject* ball = handles->Objects()->AddShapeType1(1.0, yellow, Vec3{});
        ball->GetPartRecord()[PartRecordFlagsOffset] |= PartFlagHidden;
        ball->Rebuild(true, false);
    }
    std::vector<std::uint32_t> pixels;
    TranslateBadAlloc([&] {
        pixels.assign(static_cast<std::size_t>(std::max(renderWidth, 0)) *
                          static_cast<std::size_t>(std::max(renderHeight, 0)),
                      0u);
    });
    if (!pixels.empty()) {
        view->InitViewBuffers(renderWidth * 4, pixels.data(), renderWidth, renderHeight, true);
    }
    overlayPixels = std::move(pixels);
    overlayDocument = std::move(handles);
    overlayView = std::move(view);
    secondaryView = overlayView.get();
}

void QRenderView::SyncObjectsWithView(bool render) {
    if (isDelegate || overlayView == nullptr) return;
    QMorvanObjects& balls = *overlayDocument->Objects();
    const auto lights = viewSettings.lights.Lights();
    const double focal = focalScale * 1000.0 / viewDistance;
    for (std::int32_t i = 0; i < RenderLightSlotCount && i < balls.Count(); ++i) {
        QMorvanObject* ball = balls.At(i);
        std::uint8_t* record = ball->GetPartRecord();
        if (record == nullptr) continue;
        std::uint8_t flags = record[PartRecordFlagsOffset] | PartFlagHidden;
        if (i < static_cast<std::int32_t>(lights.size())) {
            const Vec3 position = lights[static_cast<std::size_t>(i)]->position;
            Vec3 seen = position;
            TransformByView(seen);
            // k pixels at depth z span k z / F; a ball at the eye keeps a least size.
            const double radius = std::max(LightBallPixels * std::fabs(seen.z) / focal, 0.0001);
            PartRecordSetPosition(record, position);
            PartRecordSetParam(record, 0, static_cast<float>(radius));
            flags = static_cast<std::uint8_t>(flags & ~PartFlagHidden);
        }
        record[PartRecordFlagsOffset] = flags;
        ball->Rebuild(true, false);
    }
    if (render && !overlayPixels.empty()) overlayView->RenderDocument();
}
