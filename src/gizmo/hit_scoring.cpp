#include "gizmo/hit_scoring.h"

#include "gizmo/flyer_bounce.h"
#include "gizmo/gizmo_object.h"
#include "gizmo/gizmo_part_fields.h"
#include "gizmo/gizmo_world.h"

#include <algorithm>
#include <cstddef>

namespace {

// Stalls of a cluster after which its contacts bounce without loss or friction, so that a
// flyer wedged between parts can work itself free.
constexpr std::int32_t StallsBeforeLossless = 15;

// Scores are 32-bit and wrap as the stored counters always have, rather than overflowing.
std::int32_t WrappingProduct(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

std::int32_t WrappingSum(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

const std::uint8_t* RecordOf(const GizmoWorld& world, std::int32_t part) {
    if (world.partTable == nullptr || part < 0 ||
        static_cast<std::size_t>(part) >= world.partTable->size()) {
        return nullptr;
    }
    return (*world.partTable)[static_cast<std::size_t>(part)];
}

ContactMaterial MaterialOf(const GizmoWorld& world, std::int32_t part) {
    const std::uint8_t* record = RecordOf(world, part);
    if (record == nullptr) return ContactMaterial{};
    return ContactMaterial{PartRecordLoss(record), PartRecordFriction(record)};
}

void QueueEvent(GizmoWorld& world, GizmoObject& object, double pitch, double gain,
                std::int32_t sound, std::int32_t stamp) {
    HitEvent& event = world.events[static_cast<std::size_t>(AllocateEvent(world, object))];
    event.pitch = pitch;
    event.gain = gain;
    event.sound = sound;
    event.stamp = stamp;
}

bool IsTriggered(const GizmoWorld& world, const GizmoObject& object) {
    for (const GizmoObject* o = world.triggeredHead; o != nullptr; o = o->flipper.nextTriggered) {
        if (o == &object) return true;
    }
    return false;
}

// The pitch of a bounce sound: high when the flyer is at least as big as what it hit, low
// when it is as big as the stage, and in between by how much bigger the other thing is.
double BouncePitch(double size, double otherSize, double stageRadius) {
    if (size >= otherSize) return 1.5;
    if (size >= stageRadius) return 0.5;
    return std::max(0.5, 1.5 - (otherSize - size) / (stageRadius - size));
}

// Scores the hit; returns false when a score sound was queued (the bounce then stays
// silent).
bool ScoreHit(GizmoWorld& world, GizmoObject& flyer, const GizmoObject& other, std::int32_t now) {
    FlyerTail& f = flyer.flyer;
    const std::int32_t elapsed = now - f.lastScoreStamp;
    if (elapsed < ScoreGapSameTarget &&
        (f.hitPart == f.lastHitPart || elapsed < ScoreGapAnyTarget)) {
        return true;
    }
    const std::int32_t theirs = WrappingProduct(other.scoreVal, flyer.scoreMult);
    const std::int32_t ours = WrappingProduct(flyer.scoreVal, other.scoreMult);
    const std::int32_t points = WrappingSum(theirs, ours);
    f.score = WrappingSum(f.score, points);
    if (points == 0) return true;
    f.lastScoreStamp = now;
    const std::int32_t sound = theirs >= ours ? other.scoreSound : flyer.scoreSound;
    QueueEvent(world, flyer, 1.0, 1.0, sound, now);
    return sound < 0;
}

}  // namespace

void ResolveHits(GizmoWorld& world, std::int32_t now, const PartBounds& bounds) {
    for (std::size_t index = 0; index < world.moving.size(); ++index) {
        GizmoObject& flyer = *world.moving[index];
        FlyerTail& f = flyer.flyer;
        if (flyer.isFlyer == 0 || f.cluster != world.currentCluster || f.hitPart < 0) continue;
        const std::int32_t hitPart = f.hitPart;
        GizmoObject* other = static_cast<std::size_t>(hitPart) < world.objectById.size()
                                 ? world.objectById[static_cast<std::size_t>(hitPart)]
                                 : nullptr;
        bool bounceSoundAllowed = true;

        Bounce(flyer, other, MaterialOf(world, f.contactOwnPart), MaterialOf(world, hitPart),
               now - f.lastContactStamp, world.gravity, world.stallCount > StallsBeforeLossless);
        if (other != nullptr) bounceSoundAllowed = ScoreHit(world, flyer, *other, now);

        f.lastHitPart = hitPart;
        f.lastContactStamp = now;
        if (const std::uint8_t* record = RecordOf(world, hitPart)) {
            f.touchedBits |= PartRecordCollisionBits(record);
        }
        const double hitRadius = bounds.BoundingRadius(hitPart);
        f.hitPart = -1;

        if (other != nullptr && other->IsFlipper() && other->flipper.collisionActivated != 0 &&
            other->flipper.activated != 0) {
            FlipperTail& m = other->flipper;
            if (other->inMotion == 0) {
                if (f.hasTriggered == 0) {
                    if (!IsTriggered(world, *other)) {
                        m.nextTriggered = world.triggeredHead;
                        world.triggeredHead = other;
                    }
                    f.hasTriggered = 1;
                    m.triggerStamp = std::min(m.triggerStamp, now);
                }
            } else {
                if (!bounceSoundAllowed) continue;
                if (m.triggerStamp == now) {
                    // The start this very hit caused, met again as the frame is re-stepped:
                    // the flipper's sound plays once, at the hit.
                    m.triggerStamp = NoTriggerStamp;
                    QueueEvent(world, *other, 1.0, 1.0, other->sound, now);
                    if (other->sound >= 0) continue;
                }
            }
        }

        if (!bounceSoundAllowed || f.contactSound == 0) continue;
        std::int32_t sound = flyer.sound;
        double pitch;
        if (other != nullptr && other->isFlyer != 0 && other->flyer.size > f.size) {
            sound = other->sound;
            pitch = 1.5;
        } else {
            const double otherSize =
                other != nullptr && other->isFlyer != 0 ? other->flyer.size : hitRadius;
            pitch = BouncePitch(f.size, otherSize, world.stageRadius);
        }
        const double gain =
            world.fullVolumeSpeed > f.impactSpeed ? f.impactSpeed / world.fullVolumeSpeed : 1.0;
        QueueEvent(world, flyer, pitch, gain, sound, now);
    }
}

std::int32_t SceneScoreOrTargetFlags(const GizmoWorld& world, std::int32_t mode) {
    if (mode == 0) {
        std::int32_t total = 0;
        for (const GizmoObject* object : world.moving) {
            if (object->isFlyer != 0) total = WrappingSum(total, object->flyer.score);
        }
        return total;
    }
    bool hasMultiplier = false;
    bool hasValue = false;
    for (const auto& object : world.objects) {
        hasMultiplier = hasMultiplier || object->scoreMult != 0;
        hasValue = hasValue || object->scoreVal != 0;
    }
    return hasMultiplier && hasValue ? 1 : 0;
}

void ResetScores(GizmoWorld& world) {
    for (GizmoObject* object : world.moving) {
        if (object->isFlyer != 0) object->flyer.score = 0;
    }
}
