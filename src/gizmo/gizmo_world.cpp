#include "gizmo/gizmo_world.h"

#include "core/check.h"
#include "core/private_heap.h"

#include <algorithm>

GizmoWorld::GizmoWorld(std::vector<std::int32_t>* movingParts, std::vector<std::uint8_t*>* parts)
    : movingPartList(movingParts),
      partTable(parts),
      objectById(1, nullptr),
      events(HitEventGrowth) {
    ORBELLE_CHECK(movingPartList != nullptr);
}

void RegisterObjectParts(GizmoWorld& world, GizmoObject& object) {
    for (const std::int32_t id : object.partIds) {
        ORBELLE_CHECK(id >= 0);
        const auto index = static_cast<std::size_t>(id);
        if (index >= world.objectById.size()) {
            // floor((id + 1) * 1.2) in integers: 6 * (id + 1) / 5.
            const std::size_t size = (index + 1) * 6 / 5;
            TranslateBadAlloc([&] { world.objectById.resize(size, nullptr); });
        }
        world.objectById[index] = &object;
    }
}

std::vector<std::int32_t> CollectSimulatedParts(const GizmoWorld& world) {
    std::vector<std::int32_t> parts;
    for (const auto& object : world.objects) {
        parts.insert(parts.end(), object->partIds.begin(), object->partIds.end());
    }
    return parts;
}

void StartMoving(GizmoWorld& world, GizmoObject& object) {
    std::vector<std::int32_t>& list = *world.movingPartList;
    TranslateBadAlloc([&] {
        list.reserve(list.size() + object.partIds.size());
        world.moving.reserve(world.moving.size() + 1);
    });
    list.insert(list.end(), object.partIds.begin(), object.partIds.end());
    if (world.render != nullptr && world.render->IsReady()) {
        world.render->PartsStarted(list, object.partIds);
    }
    world.moving.push_back(&object);
    object.inMotion = 1;
    object.motionDone = 0;
}

void StopMoving(GizmoWorld& world, GizmoObject& object) {
    std::vector<std::int32_t>& list = *world.movingPartList;
    if (!object.partIds.empty()) {
        const auto first = std::find(list.begin(), list.end(), object.partIds.front());
        const auto runLength = static_cast<std::ptrdiff_t>(object.partIds.size());
        if (first != list.end() && list.end() - first >= runLength) {
            list.erase(first, first + runLength);
        }
    }
    if (world.render != nullptr && world.render->IsReady()) {
        world.render->PartsStopped(object.partIds);
    }
    const auto entry = std::find(world.moving.begin(), world.moving.end(), &object);
    if (entry != world.moving.end()) world.moving.erase(entry);
    object.inMotion = 0;
    object.motionDone = 0;
}

std::int32_t AllocateEvent(GizmoWorld& world, GizmoObject& object) {
    std::int32_t index = world.eventFreeHead;
    if (index >= 0) {
        world.eventFreeHead = world.events[static_cast<std::size_t>(index)].previous;
    } else {
        if (world.eventCount >= static_cast<std::int32_t>(world.events.size())) {
            TranslateBadAlloc([&] { world.events.resize(world.events.size() + HitEventGrowth); });
        }
        index = world.eventCount++;
    }
    HitEvent& event = world.events[static_cast<std::size_t>(index)];
    event.previous = world.eventLast;
    event.next = -1;
    if (world.eventLast >= 0) world.events[static_cast<std::size_t>(world.eventLast)].next = index;
    world.eventLast = index;
    event.nextOfObject = object.eventHead;
    object.eventHead = index;
    return index;
}

void RollBack(GizmoWorld& world, GizmoObject& flyer) {
    FlyerTail& f = flyer.flyer;
    f.angularMomentum = f.snapshotAngularMomentum;
    f.committedPosition = f.snapshotPosition;
    f.committedVelocity = f.snapshotVelocity;
    f.committedAngles = f.snapshotAngles;
    f.momentumFrame = f.snapshotFrame;
    f.lastHitPart = f.snapshotLastHitPart;
    f.lastContactStamp = f.snapshotLastContact;
    f.lastScoreStamp = f.snapshotLastScore;
    f.score = f.snapshotScore;
    f.hasTriggered = 0;

    std::vector<HitEvent>& events = world.events;
    for (std::int32_t index = flyer.eventHead; index >= 0;) {
        HitEvent& event = events[static_cast<std::size_t>(index)];
        const std::int32_t nextOfObject = event.nextOfObject;
        if (event.previous >= 0) events[static_cast<std::size_t>(event.previous)].next = event.next;
        if (event.next >= 0) {
            events[static_cast<std::size_t>(event.next)].previous = event.previous;
        } else {
            world.eventLast = event.previous;
        }
        event.next = -1;
        event.nextOfObject = -1;
        event.previous = world.eventFreeHead;
        world.eventFreeHead = index;
        index = nextOfObject;
    }
    flyer.eventHead = -1;
}

void FreeWorld(GizmoWorld& world) {
    world.triggeredHead = nullptr;
    world.draggedSlider = nullptr;
    world.moving.clear();
    world.objectById.clear();
    world.objects.clear();
    world.events.clear();
    world.eventCount = 0;
    world.eventFreeHead = -1;
    world.eventLast = -1;
}
