#pragma once

// One entry of a part's surface mapping list: the texture-coordinate record of one ellipsoid,
// hyperboloid of one sheet or elliptic cylinder of a part. The shape builder writes the head
// and the measures; the shader hands the entry to the texture coordinate functions
// (EllipsoidTexCoords, SpheroidTexCoords, SurfaceAngleCoord) at every textured pixel.
//
// An entry is one private-heap buffer: the 368 fixed bytes below, then table 0 (pieceCount0
// cubic pieces) and, for kinds 0 and 1, table 1 right after it. byteSize counts the whole
// buffer, 16 x (pieces + 23). Both tables use the quarter-octave layout of piecewise_cubic.h
// in the half-angle tangent t = tan(theta / 2) of a section angle, so t = 1 is a quarter turn,
// and hold the running integral of a density (geometry/aux_mapping_profile.h builds them):
//   kind 2: table 0 the arc length of the ellipse from the end of its larger semi-axis;
//   kind 1: table 0 the measure around the waist, table 1 the bounded rest of the length
//           along the generators;
//   kind 0: table 0 the measure around the section across the polar axis, table 1 that of
//           the second principal section in the variable of the conformal map (for k >= k'
//           the integral from the point to t = 2, walked from there).

#include "core/matrix4.h"
#include "texture/piecewise_cubic.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

enum class SurfaceMapperKind : std::uint8_t {
    Ellipsoid = 0,        // x^2/a^2 + y^2/b^2 + z^2/c^2 = 1
    Hyperboloid = 1,      // x^2/a^2 + y^2/b^2 - z^2/c^2 = 1, one sheet about z
    EllipticCylinder = 2, // x^2/a^2 + y^2/b^2 = 1 along z
};

struct SurfaceMappingEntry {  // 368 bytes, then the tables
    double warp[6] = {};            // 0: warp parameters of the renderer
    double a = 0;                   // 48: semi-axes along the entry frame's x, y and z
    double b = 0;                   // 56
    double c = 0;                   // 64
    Matrix4W transform;             // 72: part space to entry frame
    std::uint32_t transformKind = 0;  // 200: 0 identity, 1 affine, 2 translation only
    std::uint32_t kindWord = 0;     // 204: low byte SurfaceMapperKind, above it the warp kind
    std::uint32_t byteSize = 0;     // 208: size of the whole buffer
    std::uint32_t pieceCount0 = 0;  // 212: pieces of table 0; table 1 starts there
    std::uint32_t indexBias0 = 0;   // 216: base code of table 0
    std::uint32_t indexBias1 = 0;   // 220: base code of table 1
    float fadeRatio = -1;           // 224: the renderer's seam-fade cache
    std::uint16_t axisCode = 0;     // 228: kind 0, the largest head axis: 0 c, 1 b, 2 a
    std::uint8_t swapFlag = 0;      // 230: the two axes across the polar axis come swapped
    std::uint8_t branchFlag = 0;    // 231
    double fadeLimits[2] = {};      // 232
    double bandHalfHeight = 0;      // 248
    double axisTerm = 0;            // 256: scale of the length coordinate's logarithmic term
    double sectionMeasure1 = 0;     // 264
    double turnScale = 0;           // 272
    double ellipticity = 0;         // 280
    double moduleRatio = 0;         // 288: shape factor of the local stretch
    double moduleNorm = 0;          // 296
    double g = 0;                   // 304
    double gh = 0;                  // 312
    double logProduct = 0;          // 320
    double quarterMeasure = 0;      // 328: table 0 at t = 1, a quarter of the section
    double series[4] = {};          // 336
};
static_assert(sizeof(SurfaceMappingEntry) == 368);
static_assert(offsetof(SurfaceMappingEntry, a) == 48 &&
              offsetof(SurfaceMappingEntry, transform) == 72 &&
              offsetof(SurfaceMappingEntry, byteSize) == 208 &&
              offsetof(SurfaceMappingEntry, axisCode) == 228 &&
              offsetof(SurfaceMappingEntry, bandHalfHeight) == 248 &&
              offsetof(SurfaceMappingEntry, quarterMeasure) == 328);

// A fresh entry buffer holds the head and byteSize only.
inline constexpr std::uint32_t SurfaceMappingEntryFreshBytes = 212;
inline constexpr std::uint32_t SurfaceMappingEntryFixedUnits = 23;

// The surface kind in the low byte of kindWord, as stored (not range-checked).
inline SurfaceMapperKind SurfaceMappingEntryKind(const SurfaceMappingEntry& entry) {
    return static_cast<SurfaceMapperKind>(entry.kindWord & 0xFF);
}

// True when the entry's mapper kind is one of the three above. The shape build writes an
// entry of any other kind without tables, and every reader checks this before it measures.
inline bool SurfaceMapperKindKnown(const SurfaceMappingEntry& entry) {
    return (entry.kindWord & 0xFF) <= static_cast<std::uint32_t>(SurfaceMapperKind::EllipticCylinder);
}

// The entry a list buffer holds, or null when there is no buffer or it was never built: a
// fresh buffer holds only its head and its size (212 bytes), too little for the fields the
// readers take. Readers reach list buffers through this.
inline const SurfaceMappingEntry* SurfaceMappingEntryOf(const void* buffer) {
    if (buffer == nullptr) return nullptr;
    std::uint32_t size = 0;
    std::memcpy(&size, static_cast<const std::byte*>(buffer) + offsetof(SurfaceMappingEntry, byteSize),
                sizeof(size));
    if (size < sizeof(SurfaceMappingEntry)) return nullptr;
    return static_cast<const SurfaceMappingEntry*>(buffer);
}

// The pieces the buffer holds after its fixed fields, by its byteSize.
inline std::size_t SurfaceMappingEntryPieceCount(const SurfaceMappingEntry& entry) {
    const std::uint32_t units = entry.byteSize / 16;
    return units > SurfaceMappingEntryFixedUnits ? units - SurfaceMappingEntryFixedUnits : 0;
}

// Table 0, bounded by the buffer; empty when the entry holds no tables.
inline std::span<const CubicPiece> SurfaceMappingEntryTable0(const SurfaceMappingEntry& entry) {
    const std::size_t total = SurfaceMappingEntryPieceCount(entry);
    const std::size_t count = entry.pieceCount0 < total ? entry.pieceCount0 : total;
    return {reinterpret_cast<const CubicPiece*>(&entry + 1), count};
}

// Table 1: the pieces after table 0, to the end of the buffer.
inline std::span<const CubicPiece> SurfaceMappingEntryTable1(const SurfaceMappingEntry& entry) {
    const std::size_t total = SurfaceMappingEntryPieceCount(entry);
    const std::size_t first = entry.pieceCount0 < total ? entry.pieceCount0 : total;
    return {reinterpret_cast<const CubicPiece*>(&entry + 1) + first, total - first};
}
