#include "gizmo/gizmo_scene.h"

#include "core/private_heap.h"
#include "geometry/scene_geometry.h"
#include "gizmo/gizmo_load_exception.h"
#include "gizmo/gizmo_loader.h"
#include "gizmo/scene_document.h"
#include "gizmo/sound_sink.h"
#include "view/q_render_view.h"

bool ViewSimulationRender::IsReady() const {
    return view->BuffersReady() && view->isFrameValid;
}

// The renderer draws every frame whole until it keeps a background to draw moving parts
// over; until then starts and stops change nothing it holds.
void ViewSimulationRender::PartsStarted(std::span<const std::int32_t>,
                                        std::span<const std::int32_t>) {}

void ViewSimulationRender::PartsStopped(std::span<const std::int32_t>) {}

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
