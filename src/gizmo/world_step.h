#pragma once

// The simulation's frame driver: one call moves every moving object of the world through one
// frame.
//
// A frame is cut into 256 sub-steps. Flyers are stepped in clusters, at first one flyer each.
// For a cluster the driver looks for the first sub-step at which one of its flyers touches
// something, by bisection from the last contact-free sub-step, moves the cluster to just
// before that contact, resolves the contact (bounce, score, sounds, triggers) and goes on
// from there until the frame is used up. Each test moves the flyers from their committed
// state, so a search never accumulates error.
//
// Flippers and sliders belong to no cluster: every test moves them to the test's time, so a
// flyer is always tested against where they are at that time. Flyers of other clusters are
// invisible to a cluster's search; when the frame is done, flyers that ended up touching a
// flyer of another cluster have their clusters merged, and the merged cluster is rolled back
// to its frame-start snapshot and stepped again as one. A flipper that a hit starts within
// the frame starts at the hit's time, and the clusters of the flyers it then touches are
// stepped again with it.
//
// A cluster that keeps finding a contact at the very sub-step it stands on has stalled: after
// too many stalls one of its flyers goes back to its start, so that the frame always ends.

#include <cstdint>

class PartBounds;
struct GizmoObject;
struct GizmoWorld;

// Sub-steps of a frame; time stamps are frameNumber * 256 + sub-step.
inline constexpr std::int32_t SubStepsPerFrame = 256;

// What one frame cost, for tests and measurements.
struct WorldStepCounts {
    std::int32_t contactTests = 0;  // sub-step tests (StepCluster with mode 0)
    std::int32_t outerPasses = 0;   // passes over the dirty clusters
};

// One frame of dt seconds: the frame's hit events are collected afresh, every moving object is
// moved through the frame, contacts are resolved (bounds gives hit parts' radii for sounds),
// hit-triggered flippers start, the flyers are damped at the wall and under the top and
// reset when they touched their collision-reset bits, the motions that ended stop, and
// frameNumber grows by one. Throws KVOutOfMemoryException when the event pool or the
// candidate lists cannot grow.
WorldStepCounts StepWorld(GizmoWorld& world, double dt, const PartBounds& bounds);

// Moves every moving object to endTime seconds into the frame (the current cluster's flyers
// by stepLength from their committed state, other clusters' flyers not at all), then by mode:
// 0 looks for contacts of the current cluster's flyers (contactFound, each flyer's hitPart
// and contactOwnPart), 1 computes the contact of each flyer that has a hit part, -1 only
// moves. A flyer that falls below the floor or flies faster than ten stage radii a second is
// reset.
void StepCluster(GizmoWorld& world, std::int32_t mode, double stepLength, double endTime,
                 double dt);

// Puts the object back to its start. A flyer returns to its start position, velocity and
// angles with no spin; when something then overlaps it, it re-enters above the stage centre
// at dropY, raised in steps of 0.1 until it is free (at most 1,000 steps). A slider returns
// to its start guide point and stops. A flipper returns to its first pose and stops when a
// trigger runs it; one resting at the end of a one-way motion is first set to return.
void ResetObject(GizmoObject& object, GizmoWorld& world);

// Places the object's parts where the object stands: each part's rest copy is moved by the
// object's orientation and position, its shape rebuilt in the scene geometry from the
// placed copy (kept in full precision), the live record set to the placed copy, and the
// parts entered again in the octree. Does nothing when the world has no geometry or the
// object no parts.
void UpdateObjectParts(GizmoWorld& world, GizmoObject& object);

// True when some part that is not the object's own touches one of its parts.
bool ObjectOverlaps(GizmoWorld& world, const GizmoObject& object);
