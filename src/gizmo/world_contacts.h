#pragma once

// The collision questions the frame driver asks, over the world's scene geometry. Each
// question names a part of a moving object and that object's own parts, which never count.
// A world without a geometry has nothing to touch.

#include <cstdint>
#include <span>

struct Contact;
struct GizmoWorld;

// The first part that touches part, leaving out flyers of clusters other than the world's
// current one; -1 when none does.
std::int32_t FirstTouchingPart(GizmoWorld& world, std::int32_t part,
                               std::span<const std::int32_t> own);

// The parts of flyers of clusters other than the world's current one (all flyers when it is
// -1) that touch part. The list is valid until the next question.
std::span<const std::int32_t> PartsOfOtherClusters(GizmoWorld& world, std::int32_t part,
                                                   std::span<const std::int32_t> own);

// The contact of ownPart with hitPart: a point and a normal out of ownPart towards hitPart.
// Returns false, with the contact at the origin and the normal (0, 0, 1), when they do not
// touch.
bool PartContact(GizmoWorld& world, std::int32_t hitPart, std::int32_t ownPart, Contact& contact);

// True when any part but the object's own touches part, flyers of every cluster included.
bool PartOverlapsAny(GizmoWorld& world, std::int32_t part, std::span<const std::int32_t> own);
