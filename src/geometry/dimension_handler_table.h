#pragma once

// The dimensions a user may drag, per shape type: one static table of runs, one run per
// group of shape types, each opened by a "[Scale Local]" row. A scene object holds the run of
// its shape type; the object layer lists the run's names and drives one row's edit handler
// per drag step. Rows whose handlers belong to dimension editing carry a null handler until
// that editing exists.

#include "geometry/shape_type.h"

#include <cstdint>
#include <span>

struct DimensionHandlerRow;

// What dimension editing needs of the scene object it edits. Scene objects live above the
// geometry and implement it.
class DimensionEditTarget {
public:
    // The object's part record in its document's block; null when it has none.
    virtual std::uint8_t* GetPartRecord() const = 0;

    // Attaches a run of rows of the table to the object.
    virtual void SetDimensionRun(const DimensionHandlerRow* rows, std::int32_t rowCount) = 0;

protected:
    DimensionEditTarget() = default;
    DimensionEditTarget(const DimensionEditTarget&) = default;
    DimensionEditTarget& operator=(const DimensionEditTarget&) = default;
    ~DimensionEditTarget() = default;
};

// Edits the object's record for a drag of amount (the total since the drag began), keeping
// parameters within [minValue, maxValue]; returns true when it acted.
using DimensionEditHandler = bool (*)(DimensionEditTarget& object, const DimensionHandlerRow& row,
                                      float amount, float minValue, float maxValue);

// Listing flag of the "[Scale Local]" rows.
inline constexpr std::uint32_t DimensionFlagScaleLocal = 8;

// One row, 20 bytes in the original table: name, parameter, ordinal, flags, handler.
struct DimensionHandlerRow {
    const char* name = nullptr;
    std::int32_t paramIndex = -1;  // -1 where the handler knows its own parameters
    std::int32_t ordinal = 0;      // 0 for "[Scale Local]", then 1, 2, ...; callers' key
    std::uint32_t flags = 0;       // matched against a listing's filter mask
    DimensionEditHandler handler = nullptr;
};

// A run of rows: the first row and the row count.
struct DimensionRun {
    const DimensionHandlerRow* rows = nullptr;
    std::int32_t rowCount = 0;
};

// The whole table, the runs back to back.
std::span<const DimensionHandlerRow> DimensionHandlerTable();

// The run of a shape type; any type without a run of its own (the rods, the composite, the
// faceted cylinder, the placed solid and ellipsoid, the cut ellipsoid, and numbers outside
// 1..29) gets the single "[Scale Local]" row.
DimensionRun DimensionRunForShapeType(ShapeType shapeType);

// Sets the object's run from the shape type of its record; an object without a record is
// left unchanged.
void SelectDimensionHandlers(DimensionEditTarget& object);

// The generic handler: adds amount to the row's parameter and clamps it to
// [minValue, maxValue]. Returns false, changing nothing, for a row without a parameter or a
// record that does not hold it.
bool EditParameter(DimensionEditTarget& object, const DimensionHandlerRow& row, float amount,
                   float minValue, float maxValue);
