#include "gizmo/world_step.h"

#include "core/check.h"
#include "core/private_heap.h"
#include "geometry/part_placement.h"
#include "geometry/part_record.h"
#include "geometry/part_shape_build.h"
#include "geometry/scene_geometry.h"
#include "geometry/working_part_record.h"
#include "gizmo/flyer_physics.h"
#include "gizmo/gizmo_object.h"
#include "gizmo/gizmo_world.h"
#include "gizmo/hit_scoring.h"
#include "gizmo/physics_maths_internal.h"
#include "gizmo/preset_motion.h"
#include "gizmo/slider_guide.h"
#include "gizmo/world_contacts.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <span>
#include <vector>

namespace {

// Stalls after which a cluster has a flyer reset: in a row, and in one frame.
constexpr std::int32_t StallsInARow = 50;
constexpr std::int32_t StallsInAFrame = 70;

// Stalls of one cluster in one frame after which its search gives up on the frame: every
// reset it was allowed has not freed it (a flyer whose start and drop places both lie in a
// solid). The cluster's flyers then stay where they last stood until the next frame, rather
// than the frame never ending.
constexpr std::int32_t StallsBeforeGivingUp = 4 * (StallsInAFrame + 1);

// Height steps of a reset flyer that re-enters above the stage, and how many it may take.
constexpr double DropRaise = 0.1;
constexpr std::int32_t DropRaiseLimit = 1000;

// A flyer faster than this many stage radii a second has left the stage.
constexpr double EscapeSpeedInRadii = 10.0;

// Stamps wrap as 32-bit numbers, as the stored stamps do.
std::int32_t Stamp(const GizmoWorld& world, std::int32_t subStep) {
    return static_cast<std::int32_t>(std::int64_t{world.frameNumber} * SubStepsPerFrame + subStep);
}

double SubStepTime(std::int32_t subSteps, double dt) {
    return static_cast<double>(subSteps) * dt / SubStepsPerFrame;
}

bool IsClusterFlyer(const GizmoWorld& world, const GizmoObject& object) {
    return object.isFlyer != 0 && object.flyer.cluster == world.currentCluster;
}

GizmoObject* ObjectOfPart(const GizmoWorld& world, std::int32_t part) {
    if (part < 0 || static_cast<std::size_t>(part) >= world.objectById.size()) return nullptr;
    return world.objectById[static_cast<std::size_t>(part)];
}

// Below the floor, or too fast. A flyer whose state is no longer a number has left it too:
// otherwise it would never come back.
bool HasLeftTheStage(const GizmoWorld& world, const GizmoObject& flyer, double escape) {
    const Vec3& p = flyer.position;
    const double speed2 = Vec3Dot(flyer.velocity, flyer.velocity);
    return !(p.y >= world.floorY) || !(speed2 <= escape * escape) || !std::isfinite(p.x) ||
           !std::isfinite(p.z);
}

// Every test starts the current cluster's flyers from their committed state and every moving
// flipper from its committed clock.
void RestoreForTest(GizmoWorld& world) {
    for (GizmoObject* object : world.moving) {
        if (IsClusterFlyer(world, *object)) {
            RestoreState(*object);
        } else if (object->IsFlipper()) {
            object->flipper.motionClockWork = object->flipper.motionClock;
        }
    }
}

void CommitCluster(GizmoWorld& world) {
    for (GizmoObject* object : world.moving) {
        if (IsClusterFlyer(world, *object)) CommitState(*object);
    }
}

void AdvanceInWorld(GizmoWorld& world, GizmoObject& flyer, double t) {
    AdvanceFlyer(flyer, t, world.gravity, world.topY, world.stageRadius, world.stageCentre);
}

// Sets the flyer's current state from its committed one, moved on by nothing, and places its
// parts there.
void PlaceAtCommitted(GizmoWorld& world, GizmoObject& flyer) {
    TakeSnapshot(flyer);
    RestoreState(flyer);
    AdvanceInWorld(world, flyer, 0.0);
    UpdateObjectParts(world, flyer);
}

// The stall rule: the first flyer of the cluster (in moving order) that touched something at
// this sub-step or later goes back to its start; when none did, they all do.
void ResetStalledCluster(GizmoWorld& world, std::int32_t now) {
    for (std::size_t i = 0; i < world.moving.size(); ++i) {
        GizmoObject& object = *world.moving[i];
        if (IsClusterFlyer(world, object) && object.flyer.lastContactStamp >= now) {
            ResetObject(object, world);
            return;
        }
    }
    for (std::size_t i = 0; i < world.moving.size(); ++i) {
        GizmoObject& object = *world.moving[i];
        if (IsClusterFlyer(world, object)) ResetObject(object, world);
    }
}

// Steps the current cluster through the frame, contact by contact.
void StepClusterThroughFrame(GizmoWorld& world, double dt, const PartBounds& bounds,
                             WorldStepCounts& counts) {
    world.stallCount = 0;
    std::int32_t frameStalls = 0;
    std::int32_t allStalls = 0;
    std::int32_t lo = 0;
    while (lo < SubStepsPerFrame) {
        // Bisection between the last free sub-step (probe) and the first with a contact
        // (found): hi ends as the last free one.
        std::int32_t hi = SubStepsPerFrame;
        std::int32_t found = -1;
        std::int32_t probe = lo;
        for (;;) {
            RestoreForTest(world);
            StepCluster(world, 0, SubStepTime(hi - lo, dt), SubStepTime(hi, dt), dt);
            ++counts.contactTests;
            if (world.contactFound != 0) {
                found = hi;
                if (probe == hi - 1) {
                    hi = probe;
                    break;
                }
                hi = (probe + hi) / 2;
            } else {
                if (found < 0) break;
                probe = hi;
                if (hi == found - 1) break;
                hi = (hi + found) / 2;
            }
        }

        if (hi == lo) {
            ++world.stallCount;
            ++frameStalls;
            ++allStalls;
        } else {
            world.stallCount = 0;
        }

        if (found >= 0) {
            // The contact's geometry where it was found, then back to the last free time.
            RestoreForTest(world);
            StepCluster(world, 1, SubStepTime(found - lo, dt), SubStepTime(found, dt), dt);
            RestoreForTest(world);
            StepCluster(world, -1, SubStepTime(hi - lo, dt), SubStepTime(hi, dt), dt);
        }
        lo = hi;
        CommitCluster(world);
        const std::int32_t now = Stamp(world, hi);
        if (found >= 0) ResolveHits(world, now, bounds);

        if (allStalls > StallsBeforeGivingUp) {
            // The flippers and sliders still finish the frame.
            RestoreForTest(world);
            StepCluster(world, -1, 0.0, dt, dt);
            break;
        }
        if (world.stallCount > StallsInARow || frameStalls > StallsInAFrame) {
            world.stallCount = 0;
            frameStalls = 0;
            ResetStalledCluster(world, now);
        }
    }
}

// One mark per cluster of the frame: the clusters still to be stepped. A frame of up to 64
// moving flyers keeps them on the stack.
class ClusterMarks {
public:
    explicit ClusterMarks(std::int32_t count) {
        const auto size = static_cast<std::size_t>(count);
        if (size > small.size()) {
            TranslateBadAlloc([&] { large.resize(size); });
            marks = large;
        } else {
            marks = std::span<std::uint8_t>(small.data(), size);
        }
    }
    ClusterMarks(const ClusterMarks&) = delete;
    ClusterMarks& operator=(const ClusterMarks&) = delete;

    std::uint8_t& operator[](std::int32_t cluster) {
        ORBELLE_CHECK(cluster >= 0 && static_cast<std::size_t>(cluster) < marks.size());
        return marks[static_cast<std::size_t>(cluster)];
    }
    void SetAll(std::uint8_t value) { std::fill(marks.begin(), marks.end(), value); }

private:
    std::array<std::uint8_t, 64> small{};
    std::vector<std::uint8_t> large;
    std::span<std::uint8_t> marks;
};

// Merges the clusters of flyers that touch; returns true when any did.
bool MergeTouchingClusters(GizmoWorld& world, ClusterMarks& dirty) {
    bool changed = false;
    for (std::size_t i = 0; i < world.moving.size(); ++i) {
        GizmoObject& flyer = *world.moving[i];
        if (flyer.isFlyer == 0) continue;
        for (const std::int32_t part : flyer.partIds) {
            world.currentCluster = flyer.flyer.cluster;
            for (const std::int32_t touching : PartsOfOtherClusters(world, part, flyer.partIds)) {
                const GizmoObject* other = ObjectOfPart(world, touching);
                if (other == nullptr || other->isFlyer == 0 || other->inMotion == 0 ||
                    other->flyer.cluster == flyer.flyer.cluster) {
                    continue;
                }
                const std::int32_t joining = other->flyer.cluster;
                for (GizmoObject* member : world.moving) {
                    if (member->isFlyer != 0 && member->flyer.cluster == joining) {
                        member->flyer.cluster = flyer.flyer.cluster;
                    }
                }
                dirty[flyer.flyer.cluster] = 1;
                changed = true;
            }
        }
    }
    return changed;
}

// Starts the flippers that hits triggered, each at the time of its first hit, and marks dirty
// the clusters of the flyers they then touch; returns true when there were any.
bool StartTriggered(GizmoWorld& world, double dt, ClusterMarks& dirty) {
    for (const GizmoObject* object : world.moving) {
        if (object->isFlyer != 0 && object->flyer.hasTriggered != 0) {
            dirty[object->flyer.cluster] = 1;
        }
    }
    bool changed = false;
    for (GizmoObject* object = world.triggeredHead; object != nullptr;
         object = object->flipper.nextTriggered) {
        FlipperTail& m = object->flipper;
        m.startPending = 1;
        m.startOffset = SubStepTime(m.triggerStamp - Stamp(world, 0), dt);
        if (object->inMotion == 0 && m.activated != 0) {
            m.motionClock = m.forAndBack == 0 && m.motionClock < -1.0 ? m.goTime : 0.0;
            StartMoving(world, *object);
        }
        m.motionClockWork = m.motionClock;
        EvaluateMotion(*object, dt);
        UpdateObjectParts(world, *object);
        world.currentCluster = -1;
        for (const std::int32_t part : object->partIds) {
            for (const std::int32_t touching : PartsOfOtherClusters(world, part, object->partIds)) {
                const GizmoObject* flyer = ObjectOfPart(world, touching);
                if (flyer != nullptr && flyer->isFlyer != 0 && flyer->inMotion != 0) {
                    dirty[flyer->flyer.cluster] = 1;
                    changed = true;
                }
            }
        }
    }
    world.triggeredHead = nullptr;
    return changed;
}

}  // namespace

WorldStepCounts StepWorld(GizmoWorld& world, double dt, const PartBounds& bounds) {
    WorldStepCounts counts;
    world.eventCount = 0;
    world.eventFreeHead = -1;
    world.eventLast = -1;
    world.triggeredHead = nullptr;
    world.clusterCount = 0;
    for (GizmoObject* object : world.moving) {
        object->eventHead = -1;
        if (object->isFlyer != 0) {
            object->flyer.hasTriggered = 0;
            object->flyer.touchedBits = 0;
            object->flyer.cluster = world.clusterCount++;
            TakeSnapshot(*object);
        } else if (object->IsFlipper()) {
            object->flipper.triggerStamp = NoTriggerStamp;
            object->flipper.nextTriggered = nullptr;
            object->flipper.startPending = 0;
        }
    }
    // At least one cluster, so that flippers and sliders move when no flyer does.
    world.clusterCount = std::max(world.clusterCount, 1);
    ClusterMarks dirty(world.clusterCount);
    dirty.SetAll(1);

    for (;;) {
        ++counts.outerPasses;
        for (std::int32_t c = 0; c < world.clusterCount; ++c) {
            if (dirty[c] == 0) continue;
            world.currentCluster = c;
            StepClusterThroughFrame(world, dt, bounds, counts);
        }
        dirty.SetAll(0);
        if (!MergeTouchingClusters(world, dirty)) {
            if (world.triggeredHead == nullptr) break;
            if (!StartTriggered(world, dt, dirty)) break;
        }
        for (GizmoObject* object : world.moving) {
            if (object->isFlyer != 0 && dirty[object->flyer.cluster] != 0) {
                RollBack(world, *object);
            }
        }
    }

    for (GizmoObject* object : world.moving) {
        if (object->IsFlipper()) object->flipper.motionClock = object->flipper.motionClockWork;
    }
    for (std::size_t i = 0; i < world.moving.size(); ++i) {
        GizmoObject& object = *world.moving[i];
        if (object.isFlyer == 0) continue;
        DampFlyer(world, object, dt);
        if ((object.flyer.touchedBits & object.flyer.collisResetBits) != 0) {
            ResetObject(object, world);
        }
    }
    for (;;) {
        const auto done = std::find_if(world.moving.begin(), world.moving.end(),
                                       [](const GizmoObject* o) { return o->motionDone != 0; });
        if (done == world.moving.end()) break;
        StopMoving(world, **done);
    }
    ++world.frameNumber;
    return counts;
}

void StepCluster(GizmoWorld& world, std::int32_t mode, double stepLength, double endTime,
                 double dt) {
    world.contactFound = 0;
    const double escape = EscapeSpeedInRadii * world.stageRadius;
    for (std::size_t i = 0; i < world.moving.size(); ++i) {
        GizmoObject& object = *world.moving[i];
        if (object.isFlyer != 0) {
            if (object.flyer.cluster != world.currentCluster) continue;
            object.flyer.contactThisStep = 0;
            object.flyer.candidatePart = -1;
            AdvanceInWorld(world, object, stepLength);
            UpdateObjectParts(world, object);
            if (HasLeftTheStage(world, object, escape)) ResetObject(object, world);
        } else if (object.isSlider != 0) {
            if (object.slider.takesDrags == 0) continue;
            SliderInterpolate(object, endTime, dt);
            PlaceSlider(object);
            UpdateObjectParts(world, object);
        } else {
            EvaluateMotion(object, endTime);
            UpdateObjectParts(world, object);
        }
    }
    if (mode == -1) return;

    if (mode == 0) {
        for (std::size_t i = 0; i < world.moving.size(); ++i) {
            GizmoObject& flyer = *world.moving[i];
            if (!IsClusterFlyer(world, flyer) || flyer.flyer.contactThisStep != 0) continue;
            std::int32_t ownPart = -1;
            std::int32_t hit = -1;
            for (const std::int32_t part : flyer.partIds) {
                hit = FirstTouchingPart(world, part, flyer.partIds);
                if (hit >= 0) {
                    ownPart = part;
                    break;
                }
            }
            flyer.flyer.candidatePart = hit;
            if (hit < 0) continue;
            GizmoObject* other = ObjectOfPart(world, hit);
            if (other != nullptr && other->isFlyer != 0 && other->inMotion != 0) {
                // Two flyers that meet make one contact, found by whichever looks first.
                if (other->flyer.contactThisStep != 0) {
                    flyer.flyer.candidatePart = -1;
                    continue;
                }
                other->flyer.contactThisStep = 1;
            }
            flyer.flyer.contactOwnPart = ownPart;
            flyer.flyer.contactThisStep = 1;
            world.contactFound = 1;
        }
        if (world.contactFound != 0) {
            for (GizmoObject* object : world.moving) {
                if (IsClusterFlyer(world, *object)) {
                    object->flyer.hitPart = object->flyer.candidatePart;
                }
            }
        }
        return;
    }

    for (GizmoObject* object : world.moving) {
        if (!IsClusterFlyer(world, *object) || object->flyer.hitPart < 0) continue;
        FlyerTail& f = object->flyer;
        PartContact(world, f.hitPart, f.contactOwnPart, f.contact);
        object->previousPosition = object->position;
        if (GizmoObject* other = ObjectOfPart(world, f.hitPart)) {
            other->previousPosition = other->position;
        }
    }
}

void ResetObject(GizmoObject& object, GizmoWorld& world) {
    if (object.isFlyer != 0) {
        FlyerTail& f = object.flyer;
        f.angularMomentum = 0.0;
        f.committedPosition = object.basePosition;
        f.committedVelocity = f.startVelocity;
        f.committedAngles = f.startAngles;
        f.momentumFrame = Matrix3SetDiagonal(1.0);
        PlaceAtCommitted(world, object);
        if (!ObjectOverlaps(world, object)) return;
        // Its start is taken: it re-enters from above, over the stage's centre (which is the
        // origin on a stage that is not moved), and rises until it is free.
        f.committedPosition = Vec3{world.stageCentre.x, world.dropY, world.stageCentre.z};
        f.committedVelocity = Vec3{};
        for (std::int32_t raise = 0;; ++raise) {
            PlaceAtCommitted(world, object);
            if (!ObjectOverlaps(world, object) || raise == DropRaiseLimit) return;
            f.committedPosition.y += DropRaise;
        }
    }
    if (object.isSlider != 0) {
        if (object.inMotion == 0) StartMoving(world, object);
        SliderTail& s = object.slider;
        s.guidePoint = s.startGuidePoint;
        s.guideVelocity = Vec3{};
        // The targets follow, so that a slider left moving is not carried back.
        s.startTarget = GuideCoordinatesOf(object);
        s.endTarget = s.startTarget;
        PlaceSlider(object);
        UpdateObjectParts(world, object);
        if (s.resetStops != 0) StopMoving(world, object);
        return;
    }
    FlipperTail& m = object.flipper;
    if (object.inMotion == 0) {
        if (m.motionClock < -1.0) TriggerMotion(world, object, 0.0);
        if (object.inMotion == 0) return;
    }
    m.motionClock = 0.0;
    m.motionClockWork = 0.0;
    EvaluateMotion(object, 0.0);
    UpdateObjectParts(world, object);
    if (m.activated != 0) StopMoving(world, object);
}

void UpdateObjectParts(GizmoWorld& world, GizmoObject& object) {
    // An empty list would ask the octree to enter every part anew.
    if (world.geometry == nullptr || object.partIds.empty()) return;
    const Matrix4W placement = gizmo_physics::Placement(object.orientation, object.position);
    WorkingPartRecord working;
    for (std::size_t i = 0; i < object.partIds.size(); ++i) {
        ObjectPartPair& pair = object.partPairs[i];
        const std::uint8_t* rest = pair.rest.get();
        std::uint8_t* live = pair.live.get();
        std::memcpy(live, rest, static_cast<std::size_t>(PartRecordBytes(rest)));
        SetPartPlacement(live, placement);
        // The shape is built from the rest copy placed in doubles: the float record would
        // drift a part that moves on every frame.
        ExpandPartRecord(rest, working);
        SetPartPlacementSim(working, placement);
        BuildPartShape(*world.geometry, rest, object.partIds[i], true, false, false, &working);
    }
    world.geometry->BuildOctree(object.partIds, 0);
}

bool ObjectOverlaps(GizmoWorld& world, const GizmoObject& object) {
    for (const std::int32_t part : object.partIds) {
        if (PartOverlapsAny(world, part, object.partIds)) return true;
    }
    return false;
}
