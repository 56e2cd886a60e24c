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
    // Ellipsoid
    {ScaleLocal, -1, 0, 8, nullptr}, {"Width", 0, 1, 1, G}, {"Length", 1, 2, 2, G},
    {"Depth", 2, 3, 4, G},
    // Torus
    {ScaleLocal, -1, 0, 8, nullptr}, {"Small Radius", 1, 1, 2, G}, {"Big Radius", 0, 2, 5, G},
    // Cylinder, FlatSidedCylinder, RoundedCylinder, RoundedOctagon
    {ScaleLocal, -1, 0, 8, nullptr}, {"Radius", 1, 1, 5, G}, {"Length", 0, 2, 2, G},
    // Box, RoundedBox
    {ScaleLocal, -1, 0, 8, nullptr}, {"Width", 0, 1, 1, G}, {"Length", 1, 2, 2, G},
    {"Depth", 2, 3, 4, G},
    // Frustum, RoundedFrustum
    {ScaleLocal, -1, 0, 8, nullptr}, {"Length", 0, 1, 2, G}, {"Lower Radius", 1, 2, 1, G},
    {"Upper Radius", 2, 3, 4, G},
    // TaperedPrism, SmoothPlate
    {ScaleLocal, -1, 0, 8, nullptr}, {"Thickness", 0, 1, 0, G}, {"Length", 3, 2, 2, G},
    {"Top Width", 1, 3, 0, G}, {"Bottom Width", 2, 4, 0, G},
    // Sphere
    {ScaleLocal, -1, 0, 8, nullptr}, {"Radius", 0, 1, 0, G},
    // Spheroid
    {ScaleLocal, -1, 0, 8, nullptr}, {"Length", 6, 1, 2, G}, {"Width", 7, 2, 0, G},
    // SphereZone
    {ScaleLocal, -1, 0, 8, nullptr}, {"Radius", 0, 1, 0, G},
    {"Clipping Planes", -1, 2, 2, nullptr}, {"Sphere Offset", -1, 3, 0, nullptr},
    // Bowl
    {ScaleLocal, -1, 0, 8, nullptr}, {"Length", 0, 1, 2, nullptr}, {"Radius", -1, 2, 1, nullptr},
    {"Thickness", -1, 3, 0, nullptr}, {"Cutout Steepness", 2, 4, 0, nullptr},
    {"Cutout Depth", 4, 5, 0, nullptr}, {"Cutting Plane Offset", 5, 6, 4, nullptr},
    // CornerRod
    {ScaleLocal, -1, 0, 8, nullptr},
    // RevolvedPair
    {ScaleLocal, -1, 0, 8, nullptr}, {"Length", -1, 1, 2, nullptr},
    {"Top Radius", -1, 2, 0, nullptr}, {"Bottom Radius", -1, 3, 0, nullptr},
    {"Neck Radius", -1, 4, 0, nullptr}, {"Cap Depth", -1, 5, 0, nullptr},
    // CoredSolid
    {ScaleLocal, -1, 0, 8, nullptr}, {"Length", -1, 1, 2, nullptr},
    {"Top Radius", -1, 2, 0, nullptr}, {"Top Thickness", -1, 3, 0, nullptr},
    {"Bottom Radius", -1, 4, 0, nullptr}, {"Bottom Thickness", -1, 5, 0, nullptr},
    {"Neck Radius", -1, 6, 0, nullptr}, {"Core Size", -1, 7, 0, nullptr},
    // Ring
    {ScaleLocal, -1, 0, 8, nullptr}, {"Outer Radius", 0, 1, 0, nullptr},
    {"Inner Radius", 1, 2, 0, nullptr}, {"Outer Height", 2, 3, 1, G}, {"Flare", 3, 4, 0, nullptr},
    {"Offset", 4, 5, 5, nullptr},
    // FlaredSolid
    {ScaleLocal, -1, 0, 8, nullptr}, {"Flare", 0, 1, 0, nullptr},
    {"Bevel Curvature", 1, 2, 0, nullptr}, {"Radius", 2, 3, 0, G}, {"Neck Radius", 3, 4, 5, G},
    {"Neck Height", 4, 5, 2, G},
    // HoledSolid
    {ScaleLocal, -1, 0, 8, nullptr}, {"Radius", -1, 1, 5, nullptr}, {"Length", -1, 2, 2, nullptr},
    {"Hole Flare", -1, 3, 0, nullptr}, {"Hole Radius", -1, 4, 0, nullptr},
    {"Hole Height", -1, 5, 0, nullptr},
    // every other type
    {ScaleLocal, -1, 0, 8, nullptr},
}};

// First row of each run, in table order.
enum RunStart : std::int32_t {
    RunEllipsoid = 0,
    RunTorus = 4,
    RunCylinder = 7,
    RunBox = 10,
    RunFrustum = 14,
    RunTaperedPrism = 18,
    RunSphere = 23,
    RunSpheroid = 25,
    RunSphereZone = 28,
    RunBowl = 32,
    RunCornerRod = 39,
    RunRevolvedPair = 40,
    RunCoredSolid = 46,
    RunRing = 54,
    RunFlaredSolid = 60,
    RunHoledSolid = 66,
    RunOther = 72,
};

static_assert(RunOther + 1 == Table.size());

DimensionRun Run(std::int32_t first, std::int32_t count) {
    return DimensionRun{&Table[static_cast<std::size_t>(first)], count};
}

}  // namespace

std::span<const DimensionHandlerRow> DimensionHandlerTable() { return Table; }

DimensionRun DimensionRunForShapeType(ShapeType shapeType) {
    using enum ShapeType;
    switch (shapeType) {
        case Sphere: return Run(RunSphere, 2);
        case Cylinder: case FlatSidedCylinder: case RoundedCylinder: case RoundedOctagon:
            return Run(RunCylinder, 3);
        case Box: case RoundedBox: return Run(RunBox, 4);
        case Frustum: case RoundedFrustum: return Run(RunFrustum, 4);
        case Torus: return Run(RunTorus, 3);
        case TaperedPrism: case SmoothPlate: return Run(RunTaperedPrism, 5);
        case SphereZone: return Run(RunSphereZone, 4);
        case Ellipsoid: return Run(RunEllipsoid, 4);
        case Spheroid: return Run(RunSpheroid, 3);
        case Bowl: return Run(RunBowl, 7);
        case RevolvedPair: return Run(RunRevolvedPair, 6);
        case CoredSolid: return Run(RunCoredSolid, 8);
        case FlaredSolid: return Run(RunFlaredSolid, 6);
        case Ring: return Run(RunRing, 6);
        case HoledSolid: return Run(RunHoledSolid, 6);
        case CornerRod: return Run(RunCornerRod, 1);
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
    PartRecordSetParam(record, row.paramIndex, std::min(std::max(value, minValue), maxValue));
    return true;
}
