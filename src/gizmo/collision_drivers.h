#pragma once

// The pair test put to work over a whole scene: the collision search for one part, which
// takes its candidates from the scene geometry's octree, and the distance search that
// measures the ball holding every drawn part.

#include "gizmo/gizmo_world.h"

#include <cstdint>
#include <span>

class SceneGeometry;

// The parts that collide with part partIndex. The candidates are the parts whose grid boxes
// overlap the part's (SceneGeometry::QueryOctree), in the query's order. With a world,
// clusterMode true keeps only the flyers of other clusters than the world's current one,
// false only the other parts. Parts in exclude, parts neither drawn and colliding nor
// colliding while hidden, and parts below the geometry's octreeLevelFloor are passed over;
// the rest are tested with CollidePair (candidate first, the part second). With returnFirst
// the first colliding part is returned at once; otherwise, and when none collides, the
// geometry's CandidateList is left holding the colliding parts and -1 is returned. A part
// that is not in the octree, or an index the geometry does not hold, collides with nothing.
// Throws KVOutOfMemoryException when the candidate list cannot grow.
std::int32_t FindCollidingParts(std::int32_t partIndex, SceneGeometry& geometry,
                                std::span<const std::int32_t> exclude, bool returnFirst,
                                const GizmoWorld* world, bool clusterMode);

// The radius of a ball about (x, y, z) that holds every drawn part, to the relative
// tolerance given: bounded from the parts' bounding spheres, then narrowed by probing with
// balls that the parts' own solids must reach out of. Parts smaller than tolerance times the
// sphere bound count by their spheres alone. 0 when no part is drawn.
double EnclosingRadius(const SceneGeometry& geometry, double x, double y, double z,
                       double tolerance);
