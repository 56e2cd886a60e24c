#pragma once

// One simulated thing of a gizmo: a flipper (a group that moves between two poses by a preset
// motion), a slider (a group the player drags along a guide surface) or a flyer (a free body
// that falls, bounces and scores). The three share a head — placement, velocity, sounds,
// scoring and the object's parts — and each has a tail of its own. Objects live only in
// memory; the world owns them (gizmo_world.h).
//
// The object's parts are kept twice: a rest copy of each part record in object coordinates
// (the object's position at the origin) and the live record that the simulation places from
// it with the object's orientation and position.

#include "core/matrix3.h"
#include "core/private_block.h"
#include "core/vec3.h"

#include <cstdint>
#include <vector>

// A point of contact and the surface normal there, as a collision test finds them. The
// normal is a half-gradient, not of unit length, and points out of the second part tested.
struct Contact {
    Vec3 point;
    Vec3 normal;
};

// No trigger this frame (a time stamp past every frame's).
inline constexpr std::int32_t NoTriggerStamp = 0x7FFFFFFF;

// The clock value of a one-way motion resting at its second pose; any clock below -1.0 means
// the same.
inline constexpr double RestingAtEndClock = -1e100;

struct GizmoObject;

// The preset motion of a flipper (preset_motion.h): its geometry, timing, easing, triggers
// and clocks.
struct FlipperTail {
    double startOffset = 0.0;      // seconds into the frame at which a pending start begins
    double goTime = 1.0;           // seconds from the first pose to the second
    double returnTime = 1.0;       // seconds back
    double angle = 0.0;            // total rotation, radians
    double pivotOffset = 0.0;      // half the cotangent of half the angle
    double motionClock = 0.0;      // committed elapsed time
    double motionClockWork = 0.0;  // working copy, advanced while a frame is searched
    Vec3 moveVector;               // second position - first position
    Vec3 sideVector;               // axis x moveVector
    Vec3 axisVector;               // axis x sideVector
    Vec3 rotationVector;           // angle times the unit axis
    std::uint8_t startPending = 0;
    std::uint8_t collisionActivated = 0;
    std::uint8_t mouseActivated = 0;
    std::uint8_t activated = 0;   // any trigger: the motion runs only when triggered
    std::uint8_t forAndBack = 0;  // one trigger runs there and back
    std::uint8_t rotates = 0;
    std::int32_t keyBits = 0;
    std::int32_t goEase = 0;  // easing codes of preset_motion.h
    std::int32_t returnEase = 0;
    std::int32_t triggerStamp = NoTriggerStamp;  // earliest hit this frame, 1/256-frame units
    GizmoObject* nextTriggered = nullptr;        // the world's hit-triggered list
};

// The guide data of a slider; the slider's guide set-up fills it.
struct SliderTail {};

// The free body of a flyer.
struct FlyerTail {
    Vec3 startVelocity;  // given at the start and after a reset
    double impactSpeed = 0.0;
    double wallDamping = -1.0;  // -1.0: not decided this frame
    double topDamping = -1.0;
    double mass = 0.0;
    double size = 1.0;  // bounding radius; sets the pitch of its sounds
    double snapshotAngularMomentum = 0.0;
    double angularMomentum = 0.0;
    double inertiaTransverse = 1.0;
    double inertiaAxial = 1.0;
    // The state committed at the last contact-free time of the frame.
    Vec3 committedPosition;
    Vec3 committedVelocity;
    // The frame-start snapshot that a rollback returns to.
    Vec3 snapshotPosition;
    Vec3 snapshotVelocity;
    Vec3 snapshotAngles;
    Vec3 committedAngles;
    Vec3 angles;  // spin, nutation, precession
    Vec3 startAngles;
    Matrix3 snapshotFrame = Matrix3SetDiagonal(1.0);
    Matrix3 momentumFrame = Matrix3SetDiagonal(1.0);
    std::uint8_t contactSound = 0;
    std::uint8_t hasTriggered = 0;
    std::uint8_t contactThisStep = 0;
    std::uint8_t live = 0;  // the flyer has volume
    std::uint32_t touchedBits = 0;
    std::uint32_t collisResetBits = 0;
    std::int32_t contactOwnPart = -1;
    std::int32_t hitPart = -1;
    std::int32_t candidatePart = -1;
    std::int32_t score = 0;
    std::int32_t snapshotScore = 0;
    std::int32_t cluster = 0;
    std::int32_t snapshotLastHitPart = -1;
    std::int32_t snapshotLastContact = 0;
    std::int32_t snapshotLastScore = 0;
    std::int32_t lastHitPart = -1;
    std::int32_t lastScoreStamp = 0;  // 1/256-frame units
    std::int32_t lastContactStamp = 0;
    Contact contact;
};

// One part of an object: the rest copy in object coordinates and the live, placed record.
struct ObjectPartPair {
    PrivateBlockPtr<std::uint8_t> rest;
    PrivateBlockPtr<std::uint8_t> live;
};

struct GizmoObject {
    Vec3 angularVelocity;   // rad/s
    Vec3 previousPosition;  // before the last step that ended in a contact
    Vec3 position;          // centre of the object
    Vec3 basePosition;      // flipper: at motion value 0; flyer: its start
    Vec3 velocity;          // units/s
    Matrix3 orientation = Matrix3SetDiagonal(1.0);
    std::uint8_t isSlider = 0;
    std::uint8_t motionDone = 0;  // the preset motion reached its end in this step
    std::uint8_t inMotion = 0;    // the object is in the world's moving list
    std::uint8_t isFlyer = 0;
    std::uint32_t keyResetBits = 0;
    std::int32_t eventHead = -1;  // newest hit event of this frame
    std::int32_t sound = -1;      // index into the gizmo's sound names, -1 = none
    std::int32_t scoreSound = -1;
    std::int32_t scoreMult = 0;
    std::int32_t scoreVal = 0;
    std::vector<std::int32_t> partIds;
    std::vector<ObjectPartPair> partPairs;  // one per part id, in the same order

    FlipperTail flipper;
    SliderTail slider;
    FlyerTail flyer;

    bool IsFlipper() const { return isSlider == 0 && isFlyer == 0; }
};

// A flipper with the defaults of its motion: both times 1.0 s, clocks at 0, no trigger.
GizmoObject NewFlipperObject();
// A slider (isSlider set).
GizmoObject NewSliderObject();
// A flyer (isFlyer set) of size 1.0, at rest, its inertias 1.0.
GizmoObject NewFlyerObject();

// Appends a part: its id, and a rest copy and a live copy of its record. Throws
// KVOutOfMemoryException when the private heap refuses a copy; the object is then unchanged.
void AddObjectPart(GizmoObject& object, std::int32_t partId, const std::uint8_t* record);

// Flyer state copies. CommitState keeps position, velocity and angles as the committed state;
// RestoreState puts the committed state back; TakeSnapshot keeps the committed state, the
// angular momentum and its frame, the last hit part, the contact and score stamps and the
// score as the frame-start snapshot.
void CommitState(GizmoObject& flyer);
void RestoreState(GizmoObject& flyer);
void TakeSnapshot(GizmoObject& flyer);
