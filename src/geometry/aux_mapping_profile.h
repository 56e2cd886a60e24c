#pragma once

// The measuring tables of a part's surface mapping list. A shape builder describes each
// ellipsoid, hyperboloid of one sheet or elliptic cylinder that carries the texture in an
// entry head (semi-axes, transform into the surface's frame, mapper kind); this build turns
// every head into a complete SurfaceMappingEntry: the sorted axes and moduli, the arc-length
// tables of the principal sections as piecewise cubics of a half-angle tangent, and, for
// ellipsoids, the constants of the conformal correction and the band of the body texture.
// The shader then needs one table index and one cubic per pixel.
//
// Every table of octave number N has N + 2 levels of four quarter steps: level 0 is
// [0, 2^-N], level j the octave [2^(j-1-N), 2^(j-N)], the last level [1, 2]. Its pieces are
// the running integral of the section's density, so piece i starts at the measure up to its
// knot; EvalPiecewiseCubic reads them with base code 4 (127 - N). The pieces of the first
// two levels come in pairs whose middle knot blends the exact density with the cubic over the
// pair by how far the modulus lies into its octave, so the table changes continuously when a
// modulus crosses a power of two.

#include "core/matrix3.h"
#include "core/vec3.h"
#include "geometry/part_render_record.h"
#include "texture/surface_mapping_entry.h"
#include "texture/texture_params.h"

#include <cstdint>
#include <span>

// The point whose length coordinate fixes an ellipsoid's band (bandHalfHeight): by default
// the point of the section through the two larger axes whose normal makes equal angles with
// both; for outer parts the point three quarters of the way up the larger axis; or a point
// (y0, z0) of that section that the builder gives.
struct AuxMappingReference {
    enum class Kind : std::int8_t { Diagonal = 0, Outer = -1, Point = 1 };
    Kind kind = Kind::Diagonal;
    double y0 = 0;
    double z0 = 0;
};

// The reference of a part by its outer flag, as the ellipsoid builders choose it.
inline AuxMappingReference AuxMappingReferenceOf(bool outer) {
    return {outer ? AuxMappingReference::Kind::Outer : AuxMappingReference::Kind::Diagonal};
}

// Completes entries 0 .. list.count - 1 of the list from heads[0 .. count - 1] (the builder
// sets list.firstIndex and list.count first). The pointer array and the buffers grow as
// needed and never shrink; entries beyond count keep their contents. A head whose mapper kind
// is unknown, or whose semi-axes are not positive finite numbers, gives an entry without
// tables (SurfaceMappingEntryUsable is false), so no reader measures it with tables left from
// an earlier build. Throws KVOutOfMemoryException when the private heap refuses a buffer; the
// entries built so far stay complete and the list stays consistent.
void BuildAuxMappingProfile(BufferArray& list, std::span<const SurfaceMappingEntry> heads,
                            const AuxMappingReference& reference);

// The entry of list slot i as the build left it; the slot must have been built.
const SurfaceMappingEntry& AuxMappingEntry(const BufferArray& list, std::int32_t i);

// An entry head of the mapper kind with the semi-axes, no transform (kind 0) and no warp.
SurfaceMappingEntry AuxMappingHead(SurfaceMapperKind kind, double a, double b, double c);

// Gives the head the affine transform (kind 1) that carries the part-space point P to the
// entry-frame point (t.x + row 0 . P, t.y + row 1 . P, t.z + row 2 . P).
void AuxMappingHeadSetAffine(SurfaceMappingEntry& head, const Vec3& t, const Matrix3& rows);

// What a shape builder does with its heads: when the part has a surface mapping list and the
// builder was lent the container's head scratch, the heads go into the scratch, the list maps
// heads.size() surfaces from firstSurface on, and BuildAuxMappingProfile completes it. The
// scratch must hold every head. Throws KVOutOfMemoryException as BuildAuxMappingProfile.
void BuildPartAuxMapping(PartRenderRecord& part, std::span<SurfaceMappingEntry> scratch,
                         std::span<const SurfaceMappingEntry> heads, std::int32_t firstSurface,
                         const AuxMappingReference& reference);
