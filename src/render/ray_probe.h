#pragma once

// The exact ray probe: where a ray from the origin with direction (u, v, 1) enters one part.
// A part is the intersection of the insides (form <= 0) of its surfaces; the ray's crossings
// of each surface are sorted by their parameter t (the depth along z, since the direction's z
// is 1) and walked from the origin, each toggling whether the ray is outside its surface; the
// first crossing after which it is inside every surface is where it enters. The casting pass
// finds the same points row by row; the probe answers for one ray at any sub-pixel position.

#include "core/matrix4.h"

#include <cstddef>
#include <cstdint>
#include <span>

// The nearest hit found so far: its depth along the ray and its PixelWord id (0: none).
struct RayHit {
    double depth = 1e100;
    std::uint32_t id = 0;
};

// The surface groups of coincident surfaces (the scene's slot table): equal non-zero entries
// are ordered by id instead of depth. Empty: no groups.
struct SurfaceGroups {
    const std::uint16_t* table = nullptr;
    std::size_t entries = 0;

    std::uint16_t Of(std::uint32_t id) const {
        const std::uint32_t index = id & 0x07FFFFFFu;
        return index < entries ? table[index] : 0;
    }
};

// Intersects the ray (u, v, 1) t, t > 0, with the part of the given surfaces (view space,
// conditioned, at most 32) whose index is partIndex, and keeps the hit in nearest when nearest
// is empty, when it is strictly nearer, or, between surfaces of one non-zero group, when its
// id is lower. Returns true when the ray enters the part at all.
bool ProbeRay(std::span<const Matrix4W> surfaces, std::int32_t partIndex, double u, double v,
              const SurfaceGroups& groups, RayHit& nearest);

// True when form is a plane (the conditioning marker in element 15).
bool IsPlaneForm(const Matrix4W& form);
