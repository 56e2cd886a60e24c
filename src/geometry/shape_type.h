#pragma once

// The shape types of parts. A part record stores its type as an i32 at byte 28; the
// enumerators carry exactly those stored numbers. A record may hold any other number (a
// damaged or foreign file): it still converts to a ShapeType, one without a name, and every
// branch on the type treats it as its "any other type" case.

#include <cstdint>

enum class ShapeType : std::int32_t {
    Sphere = 1,
    Cylinder = 2,
    Box = 3,
    Frustum = 4,
    Torus = 5,  // two quadrics of revolution standing in for a torus
    TaperedPrism = 6,
    SphereZone = 7,
    FlatSidedCylinder = 8,
    Ellipsoid = 9,
    Rod = 10,
    CutRod = 11,
    Spheroid = 12,
    Composite = 13,  // quadrics listed in the record's extension
    // 14 to 18 are the rounded or smoothed counterparts of 2, 3, 4, 6 and 8.
    RoundedCylinder = 14,
    RoundedBox = 15,
    RoundedFrustum = 16,
    SmoothPlate = 17,
    RoundedOctagon = 18,
    FacetedCylinder = 19,
    Bowl = 20,
    RevolvedPair = 21,  // waisted or capped solid of revolution
    CoredSolid = 22,
    FlaredSolid = 23,
    Ring = 24,
    HoledSolid = 25,
    CornerRod = 26,
    PlacedSolid = 27,  // pair of shaped ellipsoids placed by a point and two directions
    PlacedEllipsoid = 28,
    CutEllipsoid = 29,
};

// Shape types are numbered 1..ShapeTypeCount.
inline constexpr std::int32_t ShapeTypeCount = 29;

// True for the numbers 1..29, false for any other.
bool ShapeTypeIsValid(ShapeType type);

// True for the types whose parameters place them (end points, a centre and an axis, a point
// and directions) instead of the record's position and rotation: the rods, the spheroid and
// the placed solid and ellipsoid. False for every other number.
bool ShapeTypeIsPlacedByParameters(ShapeType type);
