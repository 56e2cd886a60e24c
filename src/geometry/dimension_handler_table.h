#pragma once

// The dimensions a user may drag, per shape type: one static table of runs, one run per
// group of shape types, each opened by a "[Scale Local]" row. A scene object holds the run of
// its shape type; the object layer lists the run's names and drives one row's edit handler
// per drag step. The handlers of the searching rows try candidate values by rebuilding the
// part (or, for the revolved pair, by a closed-form test) and never leave a candidate that
// gives no shape in the record; every search is bounded and, when it gives up, puts back the
// values the call started from.

#include "core/matrix4.h"
#include "core/vec3.h"
#include "geometry/shape_type.h"

#include <cstdint>
#include <optional>
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

    // The scene scale of the object's document (world units per scene unit).
    virtual double GetSceneScale() const = 0;

    // The centre every local scale shares when the modeller's tool settings ask for one;
    // empty when each part scales about its own position.
    virtual std::optional<Vec3> CommonScaleCentre() const = 0;

    // Applies placement (translation in elements 3, 7, 11) to the part and rebuilds it.
    virtual void ApplyPlacement(const Matrix4& placement) = 0;

    // Marks the object changed and rebuilds its part.
    virtual void MarkChangedAndRebuild() = 0;

    // Builds the part from its record as it stands and returns the build result; negative
    // when the values give no shape or the object has no part to build.
    virtual std::int32_t BuildShape() = 0;

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

// The number of steps of 1 / unit a drag of amount makes, rounded half away from zero.
std::int32_t DimensionSteps(float amount, double unit);

// The most candidates a searching handler tries before it gives up.
inline constexpr std::int32_t DimensionSearchLimit = 200;

// The revolved pair's neck test and repair, with length L, bottom radius Rb, top radius Rt,
// cap depth C and neck radius N. The repair raises N to where the test passes with a margin
// and returns whether it changed N.
bool Type21NeckValid(double L, double Rb, double Rt, double C, double N);
bool Type21FixNeckRadius(double L, double Rb, double Rt, double C, double& N);

// The generic handler: adds amount to the row's parameter and clamps it to
// [minValue, maxValue]. Returns false, changing nothing, for a row without a parameter or a
// record that does not hold it.
bool EditParameter(DimensionEditTarget& object, const DimensionHandlerRow& row, float amount,
                   float minValue, float maxValue);

// The handlers of the rows that know their own parameters. Each returns false, changing
// nothing, for a record without the parameters it writes; a searching handler also returns
// false when its search gives up at the bound (as it does when not even the start values give
// a shape), and then leaves the parameters as the call found them.
bool EditScaleLocal(DimensionEditTarget& object, const DimensionHandlerRow& row, float amount,
                    float minValue, float maxValue);
bool EditScaleLocalLengthWidth(DimensionEditTarget& object, const DimensionHandlerRow& row,
                               float amount, float minValue, float maxValue);
bool EditClippingPlanes(DimensionEditTarget& object, const DimensionHandlerRow& row, float amount,
                        float minValue, float maxValue);
bool EditSphereOffset(DimensionEditTarget& object, const DimensionHandlerRow& row, float amount,
                      float minValue, float maxValue);
bool EditType20Length(DimensionEditTarget& object, const DimensionHandlerRow& row, float amount,
                      float minValue, float maxValue);
bool EditType20Radius(DimensionEditTarget& object, const DimensionHandlerRow& row, float amount,
                      float minValue, float maxValue);
bool EditType20Thickness(DimensionEditTarget& object, const DimensionHandlerRow& row, float amount,
                         float minValue, float maxValue);
bool EditType20CutoutSteepness(DimensionEditTarget& object, const DimensionHandlerRow& row,
                               float amount, float minValue, float maxValue);
bool EditType20CutoutDepth(DimensionEditTarget& object, const DimensionHandlerRow& row,
                           float amount, float minValue, float maxValue);
bool EditType20CuttingPlaneOffset(DimensionEditTarget& object, const DimensionHandlerRow& row,
                                  float amount, float minValue, float maxValue);
bool EditType21Length(DimensionEditTarget& object, const DimensionHandlerRow& row, float amount,
                      float minValue, float maxValue);
bool EditType21TopRadius(DimensionEditTarget& object, const DimensionHandlerRow& row, float amount,
                         float minValue, float maxValue);
bool EditType21BottomRadius(DimensionEditTarget& object, const DimensionHandlerRow& row,
                            float amount, float minValue, float maxValue);
bool EditType21NeckRadius(DimensionEditTarget& object, const DimensionHandlerRow& row, float amount,
                          float minValue, float maxValue);
bool EditType21CapDepth(DimensionEditTarget& object, const DimensionHandlerRow& row, float amount,
                        float minValue, float maxValue);
bool EditType22Length(DimensionEditTarget& object, const DimensionHandlerRow& row, float amount,
                      float minValue, float maxValue);
bool EditType22TopRadius(DimensionEditTarget& object, const DimensionHandlerRow& row, float amount,
                         float minValue, float maxValue);
bool EditType22TopThickness(DimensionEditTarget& object, const DimensionHandlerRow& row,
                            float amount, float minValue, float maxValue);
bool EditType22BottomRadius(DimensionEditTarget& object, const DimensionHandlerRow& row,
                            float amount, float minValue, float maxValue);
bool EditType22BottomThickness(DimensionEditTarget& object, const DimensionHandlerRow& row,
                               float amount, float minValue, float maxValue);
bool EditType22NeckRadius(DimensionEditTarget& object, const DimensionHandlerRow& row, float amount,
                          float minValue, float maxValue);
bool EditType22CoreSize(DimensionEditTarget& object, const DimensionHandlerRow& row, float amount,
                        float minValue, float maxValue);
bool EditType23Flare(DimensionEditTarget& object, const DimensionHandlerRow& row, float amount,
                     float minValue, float maxValue);
bool EditType23BevelCurvature(DimensionEditTarget& object, const DimensionHandlerRow& row,
                              float amount, float minValue, float maxValue);
bool EditType24OuterRadius(DimensionEditTarget& object, const DimensionHandlerRow& row,
                           float amount, float minValue, float maxValue);
bool EditType24InnerRadius(DimensionEditTarget& object, const DimensionHandlerRow& row,
                           float amount, float minValue, float maxValue);
bool EditType24Flare(DimensionEditTarget& object, const DimensionHandlerRow& row, float amount,
                     float minValue, float maxValue);
bool EditType24Offset(DimensionEditTarget& object, const DimensionHandlerRow& row, float amount,
                      float minValue, float maxValue);
bool EditType25Radius(DimensionEditTarget& object, const DimensionHandlerRow& row, float amount,
                      float minValue, float maxValue);
bool EditType25Length(DimensionEditTarget& object, const DimensionHandlerRow& row, float amount,
                      float minValue, float maxValue);
bool EditType25HoleFlare(DimensionEditTarget& object, const DimensionHandlerRow& row, float amount,
                         float minValue, float maxValue);
bool EditType25HoleRadius(DimensionEditTarget& object, const DimensionHandlerRow& row, float amount,
                          float minValue, float maxValue);
bool EditType25HoleHeight(DimensionEditTarget& object, const DimensionHandlerRow& row, float amount,
                          float minValue, float maxValue);
