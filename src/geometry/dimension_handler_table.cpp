#include "geometry/dimension_handler_table.h"

#include "geometry/part_record.h"

#include <algorithm>
#include <array>

namespace {

constexpr DimensionEditHandler G = EditParameter;
constexpr const char* ScaleLocal = "[Scale Local]";

// Rows in run order. Handlers specific to a shape (local scale, clipping planes, the
// searches of types 20 to 25) are null until dimension editing provides them.
constexpr std::array<DimensionHandlerRow, 73> Table{{
    // 9
    {ScaleLocal, -1, 0, 8, nullptr}, {"Width", 0, 1, 1, G}, {"Length", 1, 2, 2, G},
    {"Depth", 2, 3, 4, G},
    // 5
    {ScaleLocal, -1, 0, 8, nullptr}, {"Small Radius", 1, 1, 2, G}, {"Big Radius", 0, 2, 5, G},
    // 2, 8, 14, 18
    {ScaleLocal, -1, 0, 8, nullptr}, {"Radius", 1, 1, 5, G}, {"Length", 0, 2, 2, G},
    // 3, 15
    {ScaleLocal, -1, 0, 8, nullptr}, {"Width", 0, 1, 1, G}, {"Length", 1, 2, 2, G},
    {"Depth", 2, 3, 4, G},
    // 4, 16
    {ScaleLocal, -1, 0, 8, nullptr}, {"Length", 0, 1, 2, G}, {"Lower Radius", 1, 2, 1, G},
    {"Upper Radius", 2, 3, 4, G},
    // 6, 17
    {ScaleLocal, -1, 0, 8, nullptr}, {"Thickness", 0, 1, 0, G}, {"Length", 3, 2, 2, G},
    {"Top Width", 1, 3, 0, G}, {"Bottom Width", 2, 4, 0, G},
    // 1
    {ScaleLocal, -1, 0, 8, nullptr}, {"Radius", 0, 1, 0, G},
    // 12
    {ScaleLocal, -1, 0, 8, nullptr}, {"Length", 6, 1, 2, G}, {"Width", 7, 2, 0, G},
    // 7
    {ScaleLocal, -1, 0, 8, nullptr}, {"Radius", 0, 1, 0, G},
    {"Clipping Planes", -1, 2, 2, nullptr}, {"Sphere Offset", -1, 3, 0, nullptr},
    // 20
    {ScaleLocal, -1, 0, 8, nullptr}, {"Length", 0, 1, 2, nullptr}, {"Radius", -1, 2, 1, nullptr},
    {"Thickness", -1, 3, 0, nullptr}, {"Cutout Steepness", 2, 4, 0, nullptr},
    {"Cutout Depth", 4, 5, 0, nullptr}, {"Cutting Plane Offset", 5, 6, 4, nullptr},
    // 26
    {ScaleLocal, -1, 0, 8, nullptr},
    // 21
    {ScaleLocal, -1, 0, 8, nullptr}, {"Length", -1, 1, 2, nullptr},
    {"Top Radius", -1, 2, 0, nullptr}, {"Bottom Radius", -1, 3, 0, nullptr},
    {"Neck Radius", -1, 4, 0, nullptr}, {"Cap Depth", -1, 5, 0, nullptr},
    // 22
    {ScaleLocal, -1, 0, 8, nullptr}, {"Length", -1, 1, 2, nullptr},
    {"Top Radius", -1, 2, 0, nullptr}, {"Top Thickness", -1, 3, 0, nullptr},
    {"Bottom Radius", -1, 4, 0, nullptr}, {"Bottom Thickness", -1, 5, 0, nullptr},
    {"Neck Radius", -1, 6, 0, nullptr}, {"Core Size", -1, 7, 0, nullptr},
    // 24
    {ScaleLocal, -1, 0, 8, nullptr}, {"Outer Radius", 0, 1, 0, nullptr},
    {"Inner Radius", 1, 2, 0, nullptr}, {"Outer Height", 2, 3, 1, G}, {"Flare", 3, 4, 0, nullptr},
    {"Offset", 4, 5, 5, nullptr},
    // 23
    {ScaleLocal, -1, 0, 8, nullptr}, {"Flare", 0, 1, 0, nullptr},
    {"Bevel Curvature", 1, 2, 0, nullptr}, {"Radius", 2, 3, 0, G}, {"Neck Radius", 3, 4, 5, G},
    {"Neck Height", 4, 5, 2, G},
    // 25
    {ScaleLocal, -1, 0, 8, nullptr}, {"Radius", -1, 1, 5, nullptr}, {"Length", -1, 2, 2, nullptr},
    {"Hole Flare", -1, 3, 0, nullptr}, {"Hole Radius", -1, 4, 0, nullptr},
    {"Hole Height", -1, 5, 0, nullptr},
    // every other type
    {ScaleLocal, -1, 0, 8, nullptr},
}};

// First row of each run, in table order.
enum RunStart : std::int32_t {
    Run9 = 0,
    Run5 = 4,
    Run2 = 7,
    Run3 = 10,
    Run4 = 14,
    Run6 = 18,
    Run1 = 23,
    Run12 = 25,
    Run7 = 28,
    Run20 = 32,
    Run26 = 39,
    Run21 = 40,
    Run22 = 46,
    Run24 = 54,
    Run23 = 60,
    Run25 = 66,
    RunOther = 72,
};

static_assert(RunOther + 1 == Table.size());

DimensionRun Run(std::int32_t first, std::int32_t count) {
    return DimensionRun{&Table[static_cast<std::size_t>(first)], count};
}

}  // namespace

std::span<const DimensionHandlerRow> DimensionHandlerTable() { return Table; }

DimensionRun DimensionRunForShapeType(std::int32_t shapeType) {
    switch (shapeType) {
        case 1: return Run(Run1, 2);
        case 2: case 8: case 14: case 18: return Run(Run2, 3);
        case 3: case 15: return Run(Run3, 4);
        case 4: case 16: return Run(Run4, 4);
        case 5: return Run(Run5, 3);
        case 6: case 17: return Run(Run6, 5);
        case 7: return Run(Run7, 4);
        case 9: return Run(Run9, 4);
        case 12: return Run(Run12, 3);
        case 20: return Run(Run20, 7);
        case 21: return Run(Run21, 6);
        case 22: return Run(Run22, 8);
        case 23: return Run(Run23, 6);
        case 24: return Run(Run24, 6);
        case 25: return Run(Run25, 6);
        case 26: return Run(Run26, 1);
        default: return Run(RunOther, 1);
    }
}

void SelectDimensionHandlers(DimensionEditTarget& object) {
    const std::uint8_t* record = object.GetPartRecord();
    if (record == nullptr) return;
    const DimensionRun run = DimensionRunForShapeType(PartRecordShapeType(record));
    object.SetDimensionRun(run.rows, run.rowCount);
}

bool EditParameter(DimensionEditTarget& object, const DimensionHandlerRow& row, float amount,
                   float minValue, float maxValue) {
    std::uint8_t* record = object.GetPartRecord();
    if (row.paramIndex < 0 || record == nullptr ||
        row.paramIndex >= PartRecordParamCount(record)) {
        return false;
    }
    const float value = PartRecordParam(record, row.paramIndex) + amount;
    SetPartRecordParam(record, row.paramIndex, std::min(std::max(value, minValue), maxValue));
    return true;
}
