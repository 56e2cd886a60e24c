#include "geometry/shape_type_table.h"

namespace {

constexpr std::int32_t N = ShapeParamNoMinimum;

// Row t - 1 belongs to shape type t.
constexpr std::array<ShapeTypeRow, ShapeTypeCount> ShapeTypeTable{{
    {1, {0}},                            // 1 Sphere
    {2, {0, 1}},                         // 2 Cylinder
    {3, {0, 1, 2}},                      // 3 Box
    {3, {0, 1, 2}},                      // 4 Frustum
    {2, {0, 1}},                         // 5 Torus
    {0, {}},                             // 6 TaperedPrism
    {3, {0, 1, 2}},                      // 7 SphereZone
    {2, {0, 1}},                         // 8 FlatSidedCylinder
    {3, {0, 1, 2}},                      // 9 Ellipsoid
    {0, {}},                             // 10 Rod
    {0, {}},                             // 11 CutRod
    {0, {}},                             // 12 Spheroid
    {0, {}},                             // 13 Composite
    {2, {0, 1}},                         // 14 RoundedCylinder
    {3, {0, 1, 2}},                      // 15 RoundedBox
    {3, {0, 1, 2}},                      // 16 RoundedFrustum
    {0, {}},                             // 17 SmoothPlate
    {2, {0, 1}},                         // 18 RoundedOctagon
    {0, {}},                             // 19 FacetedCylinder
    {6, {0, 1, 2, 3, 4 | N, 5 | N}},     // 20 Bowl
    {5, {0, 1, 2, 3 | N, 4 | N}},        // 21 RevolvedPair
    {7, {0, 1, 2, 3, 4, 5 | N, 6 | N}},  // 22 CoredSolid
    {3, {2, 3, 4}},                      // 23 FlaredSolid
    {4, {0, 1, 2, 4 | N}},               // 24 Ring
    {4, {0, 1, 3, 4}},                   // 25 HoledSolid
    {3, {16 | N, 17 | N, 18 | N}},       // 26 CornerRod
    {3, {9, 10, 11}},                    // 27 PlacedSolid
    {3, {9, 10, 11}},                    // 28 PlacedEllipsoid
    {3, {0, 1, 6}},                      // 29 CutEllipsoid
}};

}  // namespace

const ShapeTypeRow* ShapeTypeTableRow(ShapeType shapeType) {
    if (!ShapeTypeIsValid(shapeType)) return nullptr;
    return &ShapeTypeTable[static_cast<std::size_t>(shapeType) - 1];
}
