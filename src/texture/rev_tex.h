#pragma once

// Surface records of the revolution mappings and the profile-curve functions that read them.
//
// A mapping lays one length coordinate along the profile of a surface of revolution, surface
// after surface, and an angle around the axis. Each surface keeps a RevTex record: its profile
// (Rtp, as the shape builder and the texture file describe it), where its part of the length
// coordinate starts, how long it is, and for elliptic and hyperbolic profiles two cubic tables,
// the arc length against a parameter of the profile and its inverse, from which the radius
// follows.
//
// Records live on the private heap with a fixed layout; their `size` field is the record's
// size in bytes as the texture file stores it (104 plain, 112 with lOffset, 128 with the
// slope terms, more with tables). The allocation itself is never smaller than the RevTex head
// below, so every named field may be read whatever `size` says.

#include "texture/piecewise_cubic.h"

#include <cstddef>
#include <cstdint>
#include <span>

enum class ProfileKind : std::int16_t {
    Elliptic = 0,       // semi-axis a across the axis, b along it; measured from the equator
    EllipticPolar = 1,  // the same ellipse measured from the pole: a and b exchange roles
    Straight = 2,       // cone or cylinder: radius = (length - start) a + r1
    HyperbolicPolar = 3,
    Hyperbolic = 4,
    Parabolic = 5,
};

// The profile of one surface of revolution (80 bytes).
struct Rtp {
    double yOffset = 0;  // height offset of the profile's own origin
    double y1 = 0;       // height range of the surface
    double y2 = 0;
    double r1 = 0;  // radii at the two ends
    double r2 = 0;
    double thresh = 0;
    double maxr = 0;  // largest radius
    double a = 0;     // conic semi-axis parameters; a straight profile's slope is a
    double b = 0;
    std::int16_t type = 0;  // ProfileKind
    std::int16_t map = 0;   // band 0 or 1 in a mapping without poles
    std::int16_t obs = 0;
    std::uint8_t axiRad = 0;
    std::uint8_t less = 0;
};
static_assert(sizeof(Rtp) == 80);
static_assert(offsetof(Rtp, a) == 56 && offsetof(Rtp, type) == 72 && offsetof(Rtp, less) == 79);

// One surface record: the profile, then the length coordinate fields, then the cubic tables.
struct RevTex {
    Rtp profile;                         // 0
    double length = 0;                   // 80: the surface's extent along the length coordinate
    double start = 0;                    // 88: where the surface begins
    std::int32_t lType = 0;              // 96: 0 arc length, else the angle-preserving measure
    std::int32_t size = 0;               // 100: size in bytes as stored
    double lOffset = 0;                  // 104: length coordinate of the profile's origin
    double slope = 0;                    // 112: the radius functions add slope * s + offset
    double offset = 0;                   // 120
    std::int32_t secondTableStart = 0;   // 128: piece index of the second table
    std::int32_t secondTableBase = 0;    // 132
    std::int32_t firstTableBase = 0;     // 136
    std::int32_t tablePieceCount = 0;    // 140: pieces of both tables together
};
static_assert(sizeof(RevTex) == 144);
static_assert(offsetof(RevTex, length) == 80 && offsetof(RevTex, size) == 100 &&
              offsetof(RevTex, lOffset) == 104 && offsetof(RevTex, secondTableStart) == 128);

inline constexpr std::int32_t RevTexPlainSize = 104;
inline constexpr std::int32_t RevTexOffsetSize = 112;
inline constexpr std::int32_t RevTexSlopeSize = 128;
inline constexpr std::size_t RevTexTableOffset = sizeof(RevTex);
inline constexpr int RevTexMaxPieces = 512;

// A new zeroed record on the private heap with `size` 104; throws KVOutOfMemoryException.
RevTex* RevTexAlloc();

// Frees a record; null is ignored.
void RevTexFree(RevTex* record);

// Grows a record so its stored size is at least sizeBytes (with room for pieceCount table
// pieces), keeping its contents; throws KVOutOfMemoryException and leaves it as it was.
void RevTexGrow(RevTex*& record, std::int32_t sizeBytes, int pieceCount = 0);

// The record's two tables (empty when it has none).
std::span<const CubicPiece> RevTexFirstTable(const RevTex& record);
std::span<const CubicPiece> RevTexSecondTable(const RevTex& record);

// Builds the two elliptic tables of a kind 0 or 1 record from its a and b, growing it.
// Returns false (record unchanged) when a or b is not a usable positive size.
bool RevTexBuildEllipticTables(RevTex*& record);

// Builds the two hyperbolic tables of a kind 3 or 4 record from its a and b, growing it: the
// arc length from the vertex or waist against sinh of the hyperbola's parameter, and that
// parameter against the arc length. Returns false (record unchanged) when a or b is not a
// usable positive size or their ratio lies outside 1e-6 .. 1e6. Throws
// KVOutOfMemoryException, leaving the record as it was.
bool RevTexBuildHyperbolicTables(RevTex*& record);

// Length measures of a profile point (x across the axis, y along it, relative to the profile's
// origin): the signed length coordinate, with the sign of y. Arc length when lType is 0, the
// angle-preserving (logarithmic) measure otherwise. The elliptic and hyperbolic arc lengths
// read the tables (0 without them).
double ProfileCurveMeasure(double x, double y, const RevTex& record);
double ProfileCurveMeasureHyperbolic(double x, double y, const RevTex& record);
double ProfileCurveMeasureParabolic(double x, double y, const RevTex& record);

// Radius of the profile at length s from the profile's origin, plus slope * s + offset. The
// elliptic and hyperbolic radii read the tables; without them only the linear term remains.
double ProfileRadiusElliptic(double s, const RevTex& record);
double ProfileRadiusHyperbolic(double s, const RevTex& record);
double ProfileRadiusParabolic(double s, const RevTex& record);

// The hyperbolic measure and radius evaluated directly, by Gauss-Legendre integration along
// the hyperbola and bisection on it, without tables: microseconds a call where the table path
// takes nanoseconds. The reference that the tables are checked and timed against.
double ProfileCurveMeasureHyperbolicNumeric(double x, double y, const RevTex& record);
double ProfileRadiusHyperbolicNumeric(double s, const RevTex& record);

// Radius of the surface at a length coordinate of the mapping, by the record's kind; a kind
// outside 0..5 keeps `previous`.
double ProfileRadiusAt(double lengthCoord, const RevTex& record, double previous);
