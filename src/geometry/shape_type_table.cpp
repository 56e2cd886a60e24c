#include "geometry/shape_type_table.h"

namespace {

constexpr std::int32_t N = ShapeParamNoMinimum;

constexpr std::array<ShapeTypeRow, ShapeTypeCount> ShapeTypeTable{{
    {1, {0}},                         // 1
    {2, {0, 1}},                      // 2
    {3, {0, 1, 2}},                   // 3
    {3, {0, 1, 2}},                   // 4
    {2, {0, 1}},                      // 5
    {0, {}},                          // 6
    {3, {0, 1, 2}},                   // 7
    {2, {0, 1}},                      // 8
    {3, {0, 1, 2}},                   // 9
    {0, {}},                          // 10
    {0, {}},                          // 11
    {0, {}},                          // 12
    {0, {}},                          // 13
    {2, {0, 1}},                      // 14
    {3, {0, 1, 2}},                   // 15
    {3, {0, 1, 2}},                   // 16
    {0, {}},                          // 17
    {2, {0, 1}},                      // 18
    {0, {}},                          // 19
    {6, {0, 1, 2, 3, 4 | N, 5 | N}},  // 20
    {5, {0, 1, 2, 3 | N, 4 | N}},     // 21
    {7, {0, 1, 2, 3, 4, 5 | N, 6 | N}},  // 22
    {3, {2, 3, 4}},                   // 23
    {4, {0, 1, 2, 4 | N}},            // 24
    {4, {0, 1, 3, 4}},                // 25
    {3, {16 | N, 17 | N, 18 | N}},    // 26
    {3, {9, 10, 11}},                 // 27
    {3, {9, 10, 11}},                 // 28
    {3, {0, 1, 6}},                   // 29
}};

}  // namespace

const ShapeTypeRow* ShapeTypeTableRow(std::int32_t shapeType) {
    if (shapeType < 1 || shapeType > ShapeTypeCount) return nullptr;
    return &ShapeTypeTable[static_cast<std::size_t>(shapeType - 1)];
}
