#include "gizmo/gizmo_scene.h"

#include "core/private_heap.h"
#include "geometry/scene_geometry.h"
#include "gizmo/gizmo_load_exception.h"
#include "gizmo/gizmo_loader.h"
#include "gizmo/scene_document.h"
#include "gizmo/sound_sink.h"
#include "view/q_render_view.h"

#include <new>

namespace {

// list as the renderer takes it: the count, then the part indices.
void FillCountPrefixed(std::vector<std::int32_t>& out, std::span<const std::int32_t> list) {
    out.clear();
    out.push_back(static_cast<std::int32_t>(list.size()));
    out.insert(out.end(), list.begin(), list.end());
}

}  // namespace

bool ViewSimulationRender::IsReady() const { return view->AuxBuffersReady(); }

void ViewSimulationRender::RenderComplement(std::span<const std::int32_t> movingParts,
                                            std::span<const std::int32_t> changedParts) {
    TranslateBadAlloc([&] {
        FillCountPrefixed(movingList, movingParts);
        FillCountPrefixed(changedList, changedParts);
    });
    view->RenderFrame(movingList.data(), true, changedList.data(), 0);
}

void ViewSimulationRender::PartsStarted(std::span<const std::int32_t> movingParts,
                                        std::span<const std::int32_t> objectParts) {
    RenderComplement(movingParts, objectParts);
}

void ViewSimulationRender::PartsStopped(std::span<const std::int32_t> objectParts) {
    RenderComplement(*moving, objectParts);
    // What the stopped parts covered is the background's again: the working buffers are put
    // back from it, and the frame's next render draws the parts still moving.
    view->CopySamplesInRegion(0, view->changeRegion);
    view->CopyPixelsInRegion(view->changeRegion, 0);
    view->ResetRegions();
}

double GeometryPartBounds::BoundingRadius(std::int32_t partIndex) const {
    const PartRenderRecord* part = geometry->Part(partIndex);
    return part != nullptr && partIndex >= 0 ? part->boundRadius : 0.0;
}

GizmoScene::GizmoScene() {
    for (auto& light : lightPositions) light = {1.0, 0.0, 0.0, 0.0};
    ResetSceneDefaults(*this);
}

GizmoScene::~GizmoScene() { UnloadGizmo(*this); }

void ResetSceneDefaults(GizmoScene& scene) {
    scene.world.reset();
    scene.simulationRender.reset();
    scene.partBounds.reset();
    scene.geometry = nullptr;
    scene.view = nullptr;
    scene.partBlock.reset();
    scene.partBlockBytes = 0;
    scene.partTable.clear();
    scene.movingPartList.clear();
    scene.frameList.clear();
    scene.pressStamp = 0;
    scene.frameStamp = 0;
    scene.previousFrameStamp = 0;
    scene.cursorTrail = {};
    scene.dragStartCursor = {};
    scene.lastCursor = {};
    scene.manipulation = 0;
    scene.overrideGameMode = -1;
    scene.overrideEndTime = -1;
    scene.overrideEndScore = -1;
    scene.overrideTimeVal = -1;
    scene.overrideScoreVal = -1;
    scene.stepTime = DefaultStepTime;
    scene.mouseHold = 0;
    scene.active = 0;
    scene.muted = 0;
    scene.savedPause = 0;
    scene.paused = 0;
    scene.redrawWhilePaused = 0;
    scene.windowDrag = 0;
    scene.controlDrag = 0;
    scene.renderAbandoned = 0;
}

std::int32_t LoadGizmo(std::string_view path, GizmoScene& scene) {
    if (scene.active != 0 || scene.document != nullptr) UnloadGizmo(scene);
    std::int32_t result = -1;
    // The load's guard: whatever the load raises fails it, with the load's own message where
    // it has one, and the scene is unloaded.
    try {
        result = LoadScene(path, scene);
    } catch (const GizmoLoadException& failure) {
        scene.errorText = failure.message;
    } catch (const KVOutOfMemoryException&) {
        scene.errorText = "Not enough memory to load the gizmo";
    } catch (const std::bad_alloc&) {
        scene.errorText = "Not enough memory to load the gizmo";
    } catch (...) {
        scene.errorText = "Cannot load a scene file";
    }
    if (result != 0) UnloadGizmo(scene);
    return result;
}

void UnloadGizmo(GizmoScene& scene) {
    scene.active = 0;
    // The world refers to the view and the geometry: it goes first, then the document.
    if (scene.world != nullptr) FreeWorld(*scene.world);
    scene.world.reset();
    scene.simulationRender.reset();
    scene.partBounds.reset();
    CloseSceneDocument(scene.document);
    scene.viewBits.clear();
    scene.viewBits.shrink_to_fit();
    ResetSceneDefaults(scene);
}

void RenderGizmoBackground(GizmoScene& scene) {
    QRenderView& view = *scene.view;
    SceneGeometry& geometry = *scene.geometry;
    // The moving parts leave the picture while it is kept; what each showed is put back
    // whatever happens.
    std::vector<std::uint8_t> shown;
    TranslateBadAlloc([&] { shown.reserve(scene.movingPartList.size()); });
    for (const std::int32_t part : scene.movingPartList) {
        PartRenderRecord* entry = geometry.Part(part);
        shown.push_back(entry != nullptr ? entry->visible : 0);
        if (entry != nullptr) entry->visible = 0;
    }
    const auto restore = [&] {
        for (std::size_t i = 0; i < shown.size(); ++i) {
            PartRenderRecord* entry = geometry.Part(scene.movingPartList[i]);
            if (entry != nullptr) entry->visible = shown[i];
        }
    };
    try {
        view.RenderDocument();
        view.AllocAuxBuffers();
    } catch (...) {
        restore();
        throw;
    }
    restore();
    RenderMovingParts(scene);
}

void RenderMovingParts(GizmoScene& scene) {
    TranslateBadAlloc([&] { FillCountPrefixed(scene.frameList, scene.movingPartList); });
    scene.view->RenderFrame(scene.frameList.data(), false, nullptr, 0);
}

void PlayQueuedSounds(const GizmoScene& scene) {
    SoundSink* sink = CurrentSoundSink();
    if (scene.muted != 0 || scene.world == nullptr || sink == nullptr) return;
    const GizmoWorld& world = *scene.world;
    for (std::int32_t i = world.eventLast; i >= 0;
         i = world.events[static_cast<std::size_t>(i)].previous) {
        const HitEvent& event = world.events[static_cast<std::size_t>(i)];
        if (event.sound < 0 || static_cast<std::size_t>(event.sound) >= scene.soundNames.size()) {
            continue;
        }
        sink->PlaySoundByName(scene.soundNames[static_cast<std::size_t>(event.sound)],
                              static_cast<float>(event.gain), static_cast<float>(event.pitch),
                              1.0f);
    }
}
