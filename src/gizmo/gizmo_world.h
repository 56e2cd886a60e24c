#pragma once

// The simulation context of one gizmo: every simulated object, the objects now moving, the
// map from part index to object, the world's constants (gravity, stage, floor and top), and
// the pool of hit events that carries one frame's sounds to the shell.
//
// Time inside a frame is counted in 1/256 sub-steps; time stamps are frameNumber * 256 +
// sub-step.
//
// The world owns its objects, its maps and its event pool. The moving-part list (the part
// indices handed to the renderer's incremental frame) and the part-record table belong to the
// gizmo scene; the world refers to them, and tells the renderer through SimulationRender when
// objects start and stop.

#include "core/vec3.h"
#include "gizmo/gizmo_object.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class SceneGeometry;

// What the simulation asks of the renderer's incremental frame render.
class SimulationRender {
public:
    virtual ~SimulationRender() = default;
    // True when the renderer holds a background to render moving parts over.
    virtual bool IsReady() const = 0;
    // The object's parts have joined the moving parts (movingParts lists them all).
    virtual void PartsStarted(std::span<const std::int32_t> movingParts,
                              std::span<const std::int32_t> objectParts) = 0;
    // The object's parts stopped: they go back into the background, and the regions the
    // renderer kept for them are restored and reset.
    virtual void PartsStopped(std::span<const std::int32_t> objectParts) = 0;
};

// One sound of a frame. Events of a frame form the world's list (previous / next, newest at
// eventLast) and each object's list (nextOfObject, newest at the object's eventHead); a freed
// event waits on the free list through previous.
struct HitEvent {
    double pitch = 0.0;
    double gain = 0.0;
    std::int32_t sound = -1;  // index into the gizmo's sound names; negative = silent
    std::int32_t stamp = 0;   // 1/256-frame units
    std::int32_t nextOfObject = -1;
    std::int32_t previous = -1;
    std::int32_t next = -1;
};

// Events the pool starts with and grows by.
inline constexpr std::int32_t HitEventGrowth = 16;

struct GizmoWorld {
    // Refers to the scene's moving-part list and part-record table; starts with a part map of
    // one null entry and a pool of 16 events.
    GizmoWorld(std::vector<std::int32_t>* movingPartList, std::vector<std::uint8_t*>* partTable);

    GizmoWorld(const GizmoWorld&) = delete;
    GizmoWorld& operator=(const GizmoWorld&) = delete;

    std::vector<std::int32_t>* movingPartList = nullptr;  // the scene's; part indices
    std::vector<std::uint8_t*>* partTable = nullptr;      // the scene's; per part index
    SceneGeometry* geometry = nullptr;
    SimulationRender* render = nullptr;
    std::vector<GizmoObject*> objectById;               // per part index; null where no object
    std::vector<GizmoObject*> moving;                   // the objects in motion, in start order
    std::vector<std::unique_ptr<GizmoObject>> objects;  // every object, owned
    GizmoObject* triggeredHead = nullptr;               // this frame's hit-triggered list
    GizmoObject* draggedSlider = nullptr;
    std::int32_t eventCount = 0;  // events handed out since the frame began
    std::int32_t eventFreeHead = -1;
    std::int32_t eventLast = -1;  // newest event of the frame
    std::int32_t currentCluster = 0;
    std::int32_t clusterCount = 0;
    std::int32_t frameNumber = 0;
    std::int32_t stallCount = 0;
    std::int32_t stagePart = -1;
    double fullVolumeSpeed = 0.0;  // impact speed of a bounce sound at full gain
    double gravity = -3.0;
    double stageRadius = 0.0;
    double wallMargin = 0.0;
    double dropY = 0.0;   // where a reset flyer re-enters when its start is taken
    double floorY = 0.0;  // a flyer below it is reset
    double topY = 0.0;
    Vec3 stageCentre;
    std::uint8_t contactFound = 0;
    std::vector<HitEvent> events;  // the pool; its size is the pool's capacity
};

// Stores the object at each of its part indices, growing the map to floor((id + 1) * 1.2)
// entries when an id is beyond it.
void RegisterObjectParts(GizmoWorld& world, GizmoObject& object);

// The part indices of every object, in object order: the parts the scene geometry treats as
// simulated.
std::vector<std::int32_t> CollectSimulatedParts(const GizmoWorld& world);

// Puts the object in motion: its parts join the moving-part list (and the renderer's
// incremental frame when it is ready), it joins the moving list, inMotion = 1, motionDone =
// 0.
void StartMoving(GizmoWorld& world, GizmoObject& object);

// Takes the object out of motion: its run of parts leaves the moving-part list (found by its
// first part, and only when the whole run lies in the list), the renderer takes the parts
// back into its background when it is ready, the object leaves the moving list, and
// inMotion and motionDone are cleared. An object that is not moving only has its flags
// cleared.
void StopMoving(GizmoWorld& world, GizmoObject& object);

// Hands out an event as the newest of the world and of the object, reusing a freed one first
// and growing the pool by 16 when it is full; returns its index. The caller fills pitch,
// gain, sound and stamp.
std::int32_t AllocateEvent(GizmoWorld& world, GizmoObject& object);

// Puts a flyer back to its frame-start snapshot: angular momentum and its frame, the
// committed state, the hit part, the stamps and the score. hasTriggered is cleared, and the
// flyer's events of this frame leave the world's list for the free list.
void RollBack(GizmoWorld& world, GizmoObject& flyer);

// Frees every object and empties the maps and the event pool.
void FreeWorld(GizmoWorld& world);
