#pragma once

// The parts as the renderer casts them: per part its surfaces and bounding quadric in view
// space, its visibility, colour and casting key. The renderer keeps one such set for the frame
// (RenderParts in QRender); the scene geometry's records are turned into it by transforming
// their part-space forms into view space (RenderPartsSetFromLocal).
//
// Surfaces are conditioned for rendering when they are set (ConditionQuadric: a constant
// term too small against the other terms is lifted, a plane gets the plane marker in element
// 15), exactly once: conditioning a marked plane again would read the marker as a huge term.
//
// Parts are addressed by index, as in the scene geometry's part table. The arrays are sized
// when parts are added, never while a frame is cast.

#include "core/matrix4.h"
#include "core/vec3.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

// Surfaces a part may have.
inline constexpr std::int32_t RenderPartMaxSurfaces = 32;

// The entries of a count-prefixed list of part indices (list[0] the count), or none for a null
// or empty list.
inline std::span<const std::int32_t> ListEntries(const std::int32_t* list) {
    if (list == nullptr || list[0] <= 0) return {};
    return std::span<const std::int32_t>(list + 1, static_cast<std::size_t>(list[0]));
}

// A part's shape as a point, a line or a circular curve, for the marking of parts too thin
// for the pixel grid (small_parts.h), in view space: kind -1 none; 0 a bead about a; 1 the
// segment a-b; 2 the arc from a to b that leaves a along d; 3 the circle with diameter a-b in
// the plane of b - a and d. |r| is the thickness (the bead's or the tube's radius).
struct PartSkeleton {
    std::int32_t kind = -1;
    Vec3 a{};
    Vec3 b{};
    Vec3 d{};
    Vec3 r{};
};

// One part's header: the bounding quadric and where its surfaces are.
struct RenderPart {
    std::int32_t firstSurface = 0;  // index of surface 0 in the surface array
    std::int32_t surfaceRoom = 0;   // surfaces reserved, 0..32
    std::int32_t surfaceCount = 0;  // surfaces in use, 0..surfaceRoom
    std::int32_t key = 0;           // depth word of the bound's nearest point (part order)
    std::uint32_t colour = 0;       // 0xRRGGBB
    std::uint8_t visible = 1;       // 0: never drawn
    std::uint8_t mark = 0;          // scratch mark of the complement part list
    std::uint8_t isSelected = 0;    // selected: highlight colour added, stripes when flat
    std::uint8_t hasSelfLight = 0;  // selfLight is added to the lit colour
    std::array<std::int32_t, 3> selfLight{};  // x 1020
    double highlightSize = 0.1;      // s of the specular lobe (s^2 / (s^2 + 1 - L.R))^2
    double highlightStrength = 0.0;  // 0..1; 0 gives a purely diffuse part
    Matrix4W bound;                 // a quadric holding the whole part, view space
    PartSkeleton skeleton;          // set where the part's shape is known to be thin
};

class RenderParts {
public:
    // Drops every part (the arrays keep their storage).
    void Clear();

    // Appends a part with room for surfaceRoom surfaces (0..32), none in use; returns its
    // index. Throws KVOutOfMemoryException.
    std::int32_t AddPart(std::int32_t surfaceRoom);

    std::int32_t Count() const { return static_cast<std::int32_t>(parts.size()); }
    RenderPart& Part(std::int32_t index) { return parts[static_cast<std::size_t>(index)]; }
    const RenderPart& Part(std::int32_t index) const {
        return parts[static_cast<std::size_t>(index)];
    }

    // The surfaces in use of part index, conditioned.
    std::span<const Matrix4W> Surfaces(std::int32_t index) const;

    // Sets the view-space surfaces of part index (at most its room; checked) and conditions
    // them, and its view-space bound.
    void SetViewForms(std::int32_t index, std::span<const Matrix4W> surfaces,
                      const Matrix4W& bound);

    // The largest absolute eigenvalue of the second-order block of surface of part index
    // (SymEigenMax3), kept per surface from its first use until the part's forms are set
    // again. The surface's largest curvature at a point is this over the length of the form's
    // half gradient there (SurfaceCurvatureAt).
    double SurfaceEigenvalue(std::int32_t index, std::int32_t surface);

private:
    std::vector<RenderPart> parts;
    std::vector<Matrix4W> surfaceForms;
    std::vector<float> surfaceEigenvalues;  // by surface slot; negative until computed
};

// The form S of a quadric over (1, x, y, z) seen through the affine w-first transform
// sourceFromTarget A: the form A^T S A over the target's points.
Matrix4W QuadricTransform(const Matrix4W& form, const Matrix4W& sourceFromTarget);

// Sets part index from part-space surfaces and bound, seen from view space through
// localFromView (the inverse of the part's view-from-local placement).
void RenderPartsSetFromLocal(RenderParts& parts, std::int32_t index,
                             std::span<const Matrix4W> localSurfaces, const Matrix4W& localBound,
                             const Matrix4W& localFromView);
