#pragma once

// What a flyer's contact does besides the bounce: the score of the hit, the motions the hit
// triggers, and the sounds of the hit, queued as the frame's hit events.
//
// Time stamps are in 1/256-frame units: 256 is one frame. A flyer scores on the same target
// at most once every five frames, and on any target at most once a frame.

#include <cstdint>

struct GizmoWorld;

// What the hit code reads of the scene's parts beyond their records: the bounding radius,
// which sets the pitch of a bounce sound. The gizmo loader implements it over the scene
// geometry.
class PartBounds {
public:
    virtual ~PartBounds() = default;
    // The radius of the part's bounding sphere; 0 for an index that is no part.
    virtual double BoundingRadius(std::int32_t partIndex) const = 0;
};

// Stamp units of the score guards: one frame, and five frames on the same target.
inline constexpr std::int32_t ScoreGapAnyTarget = 256;
inline constexpr std::int32_t ScoreGapSameTarget = 1280;

// Resolves the hits of the world's current cluster at stamp `now`: every moving flyer of the
// cluster with a hit part bounces off it (flyer_bounce.h; loss and friction from the two
// parts' records, none once the cluster has stalled more than 15 times), scores
// other.scoreVal * scoreMult + scoreVal * other.scoreMult when the hit part belongs to an
// object and the score guards allow, gathers the hit part's collision bits, registers a
// collision-activated flipper it hit for starting, and queues its score, flipper and bounce
// sounds. The hit part is then cleared. Throws KVOutOfMemoryException when the event pool
// cannot grow.
void ResolveHits(GizmoWorld& world, std::int32_t now, const PartBounds& bounds);

// Mode 0: the sum of the scores of the moving flyers. Any other mode: 1 when the gizmo keeps
// a score at all (some object has a scoreMult and some object a scoreVal), else 0.
std::int32_t SceneScoreOrTargetFlags(const GizmoWorld& world, std::int32_t mode);

// Clears the score of every moving flyer.
void ResetScores(GizmoWorld& world);
