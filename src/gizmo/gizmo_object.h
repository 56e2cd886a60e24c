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
#include "core/matrix4.h"
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

// Guide coordinates: a pair of numbers that name a point of a slider's guide face (axial:
// the angle about the guide axis and the profile parameter; planar: two Cartesian
// coordinates across the axis).
struct GuideCoordinates {
    double u1 = 0.0;
    double u2 = 0.0;
};

// The guide model of a slider (slider_guide.h) and its drag (slider_drag.h). The guide set-up
// fills the model from the slider's control part and its guide part; the guide part's frame
// and the guide surface are kept here, so the slider is placed without reaching back into the
// scene geometry (guide parts do not move).
struct SliderTail {
    Vec3 guideVelocity;                      // world units/s
    Vec3 startGuidePoint;                    // where a reset returns the slider
    Vec3 guidePoint;                         // on the guide surface, world coordinates
    double heightBounds[2] = {0.0, 0.0};     // lower and upper h of the guide face's edges
    double parameterBounds[2] = {0.0, 0.0};  // profile parameter at the two edges
    double coordinateScale = 0.0;            // s: the profile parameter's unit
    double surfaceOffset = 0.0;           // the slider's centre above the surface, along its normal
    std::int32_t coordinateMode = 0;      // 0 axial ("middle"), +1 "top", -1 "bottom": planar
    std::int32_t guideSurfaceIndex = -1;  // the guide surface among the guide part's
    std::int32_t guidePart = -1;          // part index of the guide part
    std::uint8_t followsSurface = 0;      // the slider turns with the surface normal
    std::uint8_t hasRadialTerm = 0;  // the guide surface is curved, not a plane across the axis
    std::uint8_t resetStops = 1;     // a reset stops the slider after placing it
    std::uint8_t takesDrags = 1;     // the slider follows mouse drags
    std::uint8_t axialFrame = 0;     // the slider's frame follows the guide axis' direction
    std::uint8_t hasProfile = 0;     // the set-up found a guide face the slider can move on
    // The guide surface in the guide frame: D = element 0, B = element 2, A = element 5,
    // C = element 10 of A rho^2 + C h^2 + 2 B h + D.
    Matrix4W profile;
    Matrix4W guideFromWorld;     // the guide part's placement
    Matrix4W guideSurfaceWorld;  // the guide surface in world coordinates, negative inside
    double guideRadius = 0.0;    // the guide part's bounding radius
    double mousePixels = 80.0;   // drag pixels per unit of guide coordinate
    Vec2 dragOrigin;             // view pixel of the press
    Vec2 screenDirection;        // screen direction that moves the first coordinate
    GuideCoordinates pressCoordinates;
    GuideCoordinates startTarget;   // at the start of the frame
    GuideCoordinates endTarget;     // at the end of the frame
    std::uint8_t facingAway = 0;    // planar: the camera looks at the guide from behind its map
    std::uint8_t invertFirst = 0;   // "invMouseNear" (planar) or "invMouseCirc" (axial)
    std::uint8_t invertSecond = 0;  // "invMouseFar" (planar) or "invMouseAxial" (axial)
};

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
    // Fixed frame of the angular momentum, which points along its y axis (flyer_physics.h).
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
