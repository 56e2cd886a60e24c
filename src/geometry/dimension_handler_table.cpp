#include "geometry/dimension_handler_table.h"

#include "geometry/part_record.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

namespace {

constexpr DimensionEditHandler G = EditParameter;
constexpr const char* ScaleLocal = "[Scale Local]";

// Rows in run order.
constexpr std::array<DimensionHandlerRow, 73> Table{{
    // Ellipsoid
    {ScaleLocal, -1, 0, 8, EditScaleLocal},
    {"Width", 0, 1, 1, G},
    {"Length", 1, 2, 2, G},
    {"Depth", 2, 3, 4, G},
    // Torus
    {ScaleLocal, -1, 0, 8, EditScaleLocal},
    {"Small Radius", 1, 1, 2, G},
    {"Big Radius", 0, 2, 5, G},
    // Cylinder, FlatSidedCylinder, RoundedCylinder, RoundedOctagon
    {ScaleLocal, -1, 0, 8, EditScaleLocal},
    {"Radius", 1, 1, 5, G},
    {"Length", 0, 2, 2, G},
    // Box, RoundedBox
    {ScaleLocal, -1, 0, 8, EditScaleLocal},
    {"Width", 0, 1, 1, G},
    {"Length", 1, 2, 2, G},
    {"Depth", 2, 3, 4, G},
    // Frustum, RoundedFrustum
    {ScaleLocal, -1, 0, 8, EditScaleLocal},
    {"Length", 0, 1, 2, G},
    {"Lower Radius", 1, 2, 1, G},
    {"Upper Radius", 2, 3, 4, G},
    // TaperedPrism, SmoothPlate
    {ScaleLocal, -1, 0, 8, EditScaleLocal},
    {"Thickness", 0, 1, 0, G},
    {"Length", 3, 2, 2, G},
    {"Top Width", 1, 3, 0, G},
    {"Bottom Width", 2, 4, 0, G},
    // Sphere
    {ScaleLocal, -1, 0, 8, EditScaleLocal},
    {"Radius", 0, 1, 0, G},
    // Spheroid
    {ScaleLocal, -1, 0, 8, EditScaleLocalLengthWidth},
    {"Length", 6, 1, 2, G},
    {"Width", 7, 2, 0, G},
    // SphereZone
    {ScaleLocal, -1, 0, 8, EditScaleLocal},
    {"Radius", 0, 1, 0, G},
    {"Clipping Planes", -1, 2, 2, EditClippingPlanes},
    {"Sphere Offset", -1, 3, 0, EditSphereOffset},
    // Bowl
    {ScaleLocal, -1, 0, 8, EditScaleLocal},
    {"Length", 0, 1, 2, EditType20Length},
    {"Radius", -1, 2, 1, EditType20Radius},
    {"Thickness", -1, 3, 0, EditType20Thickness},
    {"Cutout Steepness", 2, 4, 0, EditType20CutoutSteepness},
    {"Cutout Depth", 4, 5, 0, EditType20CutoutDepth},
    {"Cutting Plane Offset", 5, 6, 4, EditType20CuttingPlaneOffset},
    // CornerRod
    {ScaleLocal, -1, 0, 8, EditScaleLocal},
    // RevolvedPair
    {ScaleLocal, -1, 0, 8, EditScaleLocal},
    {"Length", -1, 1, 2, EditType21Length},
    {"Top Radius", -1, 2, 0, EditType21TopRadius},
    {"Bottom Radius", -1, 3, 0, EditType21BottomRadius},
    {"Neck Radius", -1, 4, 0, EditType21NeckRadius},
    {"Cap Depth", -1, 5, 0, EditType21CapDepth},
    // CoredSolid
    {ScaleLocal, -1, 0, 8, EditScaleLocal},
    {"Length", -1, 1, 2, EditType22Length},
    {"Top Radius", -1, 2, 0, EditType22TopRadius},
    {"Top Thickness", -1, 3, 0, EditType22TopThickness},
    {"Bottom Radius", -1, 4, 0, EditType22BottomRadius},
    {"Bottom Thickness", -1, 5, 0, EditType22BottomThickness},
    {"Neck Radius", -1, 6, 0, EditType22NeckRadius},
    {"Core Size", -1, 7, 0, EditType22CoreSize},
    // Ring
    {ScaleLocal, -1, 0, 8, EditScaleLocal},
    {"Outer Radius", 0, 1, 0, EditType24OuterRadius},
    {"Inner Radius", 1, 2, 0, EditType24InnerRadius},
    {"Outer Height", 2, 3, 1, G},
    {"Flare", 3, 4, 0, EditType24Flare},
    {"Offset", 4, 5, 5, EditType24Offset},
    // FlaredSolid
    {ScaleLocal, -1, 0, 8, EditScaleLocal},
    {"Flare", 0, 1, 0, EditType23Flare},
    {"Bevel Curvature", 1, 2, 0, EditType23BevelCurvature},
    {"Radius", 2, 3, 0, G},
    {"Neck Radius", 3, 4, 5, G},
    {"Neck Height", 4, 5, 2, G},
    // HoledSolid
    {ScaleLocal, -1, 0, 8, EditScaleLocal},
    {"Radius", -1, 1, 5, EditType25Radius},
    {"Length", -1, 2, 2, EditType25Length},
    {"Hole Flare", -1, 3, 0, EditType25HoleFlare},
    {"Hole Radius", -1, 4, 0, EditType25HoleRadius},
    {"Hole Height", -1, 5, 0, EditType25HoleHeight},
    // every other type
    {ScaleLocal, -1, 0, 8, EditScaleLocal},
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
        case Sphere:
            return Run(RunSphere, 2);
        case Cylinder:
        case FlatSidedCylinder:
        case RoundedCylinder:
        case RoundedOctagon:
            return Run(RunCylinder, 3);
        case Box:
        case RoundedBox:
            return Run(RunBox, 4);
        case Frustum:
        case RoundedFrustum:
            return Run(RunFrustum, 4);
        case Torus:
            return Run(RunTorus, 3);
        case TaperedPrism:
        case SmoothPlate:
            return Run(RunTaperedPrism, 5);
        case SphereZone:
            return Run(RunSphereZone, 4);
        case Ellipsoid:
            return Run(RunEllipsoid, 4);
        case Spheroid:
            return Run(RunSpheroid, 3);
        case Bowl:
            return Run(RunBowl, 7);
        case RevolvedPair:
            return Run(RunRevolvedPair, 6);
        case CoredSolid:
            return Run(RunCoredSolid, 8);
        case FlaredSolid:
            return Run(RunFlaredSolid, 6);
        case Ring:
            return Run(RunRing, 6);
        case HoledSolid:
            return Run(RunHoledSolid, 6);
        case CornerRod:
            return Run(RunCornerRod, 1);
        default:
            return Run(RunOther, 1);
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
    if (row.paramIndex < 0 || record == nullptr || row.paramIndex >= PartRecordParamCount(record)) {
        return false;
    }
    const float value = PartRecordParam(record, row.paramIndex) + amount;
    PartRecordSetParam(record, row.paramIndex, std::min(std::max(value, minValue), maxValue));
    return true;
}

std::int32_t DimensionSteps(float amount, double unit) {
    const double scaled = static_cast<double>(amount) * unit;
    const double rounded = scaled > 0.0 ? scaled + 0.5 : scaled - 0.5;
    // Drags never come near the int range; the clamp only keeps a wild amount defined.
    return static_cast<std::int32_t>(std::clamp(rounded, -2.0e9, 2.0e9));
}

bool Type21NeckValid(double L, double Rb, double Rt, double C, double N) {
    const double m = std::min(Rb, Rt);
    const double ma = (Rb + Rt) / 2.0;
    const double dh = (Rt - Rb) / 2.0;
    const double d = N * N * N * N - ma * ma * Rt * Rb;
    if (C < -L && N > 0.0 && d > 0.0) {
        const double e = 2.0 * L * (C * C - L * L);
        const double root = std::sqrt(4.0 * ma * ma * dh * dh * C * C + L * L * Rt * Rt * Rb * Rb);
        const double x = e / ((dh * dh + ma * ma) * L + root);
        const double y = (Rb * Rt + N * N) * L * L / d - 0.2;
        if (!(y > x)) return false;
    }
    return N >= 0.001 * m;
}

bool Type21FixNeckRadius(double L, double Rb, double Rt, double C, double& N) {
    const double ma = (Rb + Rt) / 2.0;
    const double dh = (Rt - Rb) / 2.0;
    const double d = N * N * N * N - ma * ma * Rt * Rb;
    if (!(C < -L && N > 0.0 && d > 0.0)) return false;
    const double e = 2.0 * L * (C * C - L * L);
    const double root = std::sqrt(4.0 * ma * ma * dh * dh * C * C + L * L * Rt * Rt * Rb * Rb);
    const double x = e / ((dh * dh + ma * ma) * L + root);
    const double y = (Rb * Rt + N * N) * L * L / d - 0.2;
    if (y > x) return false;
    const double k = x + 0.3;
    const double n =
        std::sqrt(L * L / (2.0 * k) + std::sqrt(L * L * L * L / (4.0 * k * k) + ma * ma * Rt * Rb +
                                                Rb * Rt * L * L / k));
    if (!std::isfinite(n)) return false;
    N = n;
    return true;
}

namespace {

// The parameters of a record, read once so that a handler can start every candidate from
// the values the call began with and put them back when it gives up.
class ParamSnapshot {
public:
    explicit ParamSnapshot(const std::uint8_t* record) {
        const std::int32_t n = std::min(PartRecordParamCount(record), MaxParams);
        for (std::int32_t i = 0; i < n; ++i)
            values[static_cast<std::size_t>(i)] = PartRecordParam(record, i);
        count = std::max(n, 0);
    }
    double operator[](std::int32_t i) const { return values[static_cast<std::size_t>(i)]; }
    void Restore(std::uint8_t* record) const {
        for (std::int32_t i = 0; i < count; ++i)
            PartRecordSetParam(record, i, values[static_cast<std::size_t>(i)]);
    }

private:
    static constexpr std::int32_t MaxParams = 32;
    std::array<float, MaxParams> values{};
    std::int32_t count = 0;
};

// The record when it holds parameters 0 .. highest; null otherwise.
std::uint8_t* RecordWith(DimensionEditTarget& object, std::int32_t highest) {
    std::uint8_t* record = object.GetPartRecord();
    if (record == nullptr || PartRecordParamCount(record) <= highest) return nullptr;
    return record;
}

void Set(std::uint8_t* record, std::int32_t i, double value) {
    PartRecordSetParam(record, i, static_cast<float>(value));
}

double Param(const std::uint8_t* record, std::int32_t i) { return PartRecordParam(record, i); }

// The search by trial: apply(k) writes the candidate of k steps from the start values, test()
// says whether it gives a shape. A failed candidate halves the step count; a passing one is
// kept once it lies within one step of the last that failed, and otherwise the search moves
// half way back towards that one. At the bound the start values are put back.
template <typename Apply, typename Test>
bool SearchSteps(std::uint8_t* record, const ParamSnapshot& start, std::int32_t steps, Apply apply,
                 Test test) {
    std::int32_t current = steps;
    std::int32_t last = steps;
    for (std::int32_t tries = 0; tries < DimensionSearchLimit; ++tries) {
        apply(current);
        if (!test()) {
            last = current;
            current /= 2;
            continue;
        }
        if (std::abs(last - current) <= 1) return true;
        current = static_cast<std::int32_t>((static_cast<std::int64_t>(last) + current) / 2);
    }
    start.Restore(record);
    return false;
}

template <typename Apply>
bool SearchByBuild(DimensionEditTarget& object, std::uint8_t* record, const ParamSnapshot& start,
                   std::int32_t steps, Apply apply) {
    return SearchSteps(record, start, steps, apply, [&object] { return object.BuildShape() >= 0; });
}

// Writes the candidate once; while it gives no shape, the core (p5) shrinks by a thousandth
// of the length (p0). At the bound the start values are put back.
template <typename Apply>
bool ApplyWithCoreShrink(DimensionEditTarget& object, std::uint8_t* record,
                         const ParamSnapshot& start, Apply apply) {
    apply();
    for (std::int32_t tries = 0; tries < 10 * DimensionSearchLimit; ++tries) {
        if (object.BuildShape() >= 0) return true;
        Set(record, 5, Param(record, 5) - Param(record, 0) * 0.001);
    }
    start.Restore(record);
    return false;
}

double Ratio(double now, double before) { return before != 0.0 ? now / before : 1.0; }

}  // namespace

bool EditScaleLocal(DimensionEditTarget& object, const DimensionHandlerRow&, float amount, float,
                    float) {
    const std::uint8_t* record = object.GetPartRecord();
    if (record == nullptr) return false;
    const double scale = object.GetSceneScale();
    const double factor = std::clamp(1.0 + amount, 0.5 / scale, 10.0);
    const Vec3 c = object.CommonScaleCentre().value_or(PartRecordPosition(record));
    const Matrix4 placement =
        Matrix4Product(MakeTranslation(c.x, c.y, c.z),
                       Matrix4Product(MakeUniformScale(factor), MakeTranslation(-c.x, -c.y, -c.z)));
    object.ApplyPlacement(placement);
    return true;
}

bool EditScaleLocalLengthWidth(DimensionEditTarget& object, const DimensionHandlerRow&,
                               float amount, float, float) {
    std::uint8_t* record = RecordWith(object, 7);
    if (record == nullptr) return false;
    const double factor = std::clamp(1.0 + amount, 0.5 / object.GetSceneScale(), 10.0);
    Set(record, 6, Param(record, 6) * factor);
    Set(record, 7, Param(record, 7) * factor);
    object.MarkChangedAndRebuild();
    return true;
}

bool EditClippingPlanes(DimensionEditTarget& object, const DimensionHandlerRow&, float amount,
                        float, float) {
    std::uint8_t* record = RecordWith(object, 2);
    if (record == nullptr) return false;
    const double r = 1.0 / object.GetSceneScale();
    const double p0 = Param(record, 0);
    const double p2 = Param(record, 2);
    double p1 = std::max(Param(record, 1) + amount, 2.0 * (p2 - p0) + 0.0001);
    p1 = std::max(p1, r);
    p1 = std::min(p1, 2.0 * (p2 + p0) - 0.0001);
    Set(record, 1, p1);
    return true;
}

bool EditSphereOffset(DimensionEditTarget& object, const DimensionHandlerRow&, float amount, float,
                      float) {
    std::uint8_t* record = RecordWith(object, 2);
    if (record == nullptr) return false;
    const double bound = Param(record, 1) / 2.0 + Param(record, 0) - 0.0001;
    Set(record, 2, std::min(std::max(Param(record, 2) + amount, 0.0), bound));
    return true;
}

// ---- bowl (type 20) ----

bool EditType20Length(DimensionEditTarget& object, const DimensionHandlerRow&, float amount, float,
                      float) {
    std::uint8_t* record = RecordWith(object, 5);
    if (record == nullptr) return false;
    const ParamSnapshot p(record);
    const double low = 0.5 / object.GetSceneScale();
    return SearchByBuild(object, record, p, DimensionSteps(amount, 10000.0), [&](std::int32_t k) {
        const double length = std::max(p[0] + k / 10000.0, low);
        const double ratio = Ratio(length, p[0]);
        Set(record, 0, length);
        Set(record, 2, p[2] * ratio);
        Set(record, 4, p[4] * ratio);
        Set(record, 5, p[5] * ratio);
    });
}

bool EditType20Radius(DimensionEditTarget& object, const DimensionHandlerRow&, float amount, float,
                      float) {
    std::uint8_t* record = RecordWith(object, 3);
    if (record == nullptr) return false;
    const double scale = object.GetSceneScale();
    Set(record, 1, std::max(Param(record, 1) + amount, 1.0 / scale));
    Set(record, 3, std::max(Param(record, 3) + amount, 0.5 / scale));
    return true;
}

bool EditType20Thickness(DimensionEditTarget& object, const DimensionHandlerRow&, float amount,
                         float, float) {
    std::uint8_t* record = RecordWith(object, 3);
    if (record == nullptr) return false;
    const double r = 1.0 / object.GetSceneScale();
    Set(record, 3, std::min(std::max(Param(record, 3) - amount, r), Param(record, 1) - r));
    return true;
}

namespace {

// A bowl search on parameter index of 1/200 steps: value(start, step) is the candidate.
template <typename Value>
bool BowlSearch(DimensionEditTarget& object, float amount, std::int32_t index, Value value) {
    std::uint8_t* record = RecordWith(object, 5);
    if (record == nullptr) return false;
    const ParamSnapshot p(record);
    return SearchByBuild(object, record, p, DimensionSteps(amount, 200.0),
                         [&](std::int32_t k) { Set(record, index, value(p[index], k / 200.0)); });
}

}  // namespace

bool EditType20CutoutSteepness(DimensionEditTarget& object, const DimensionHandlerRow&,
                               float amount, float, float) {
    const double low = 0.5 / object.GetSceneScale();
    return BowlSearch(object, amount, 2,
                      [low](double start, double step) { return std::max(start + step, low); });
}

bool EditType20CutoutDepth(DimensionEditTarget& object, const DimensionHandlerRow&, float amount,
                           float, float) {
    return BowlSearch(object, amount, 4, [](double start, double step) { return start + step; });
}

bool EditType20CuttingPlaneOffset(DimensionEditTarget& object, const DimensionHandlerRow& row,
                                  float amount, float, float) {
    if (row.paramIndex < 0) return false;
    return BowlSearch(object, amount, 5, [](double start, double step) { return start + step; });
}

// ---- revolved pair (type 21) ----

namespace {

bool NeckValid(const std::uint8_t* record) {
    return Type21NeckValid(Param(record, 0), Param(record, 1), Param(record, 2), Param(record, 3),
                           Param(record, 4));
}

// Repairs the neck of the record before a search; the repair is part of the values the
// search starts from.
void RepairNeck(std::uint8_t* record) {
    double n = Param(record, 4);
    if (Type21FixNeckRadius(Param(record, 0), Param(record, 1), Param(record, 2), Param(record, 3),
                            n)) {
        Set(record, 4, n);
    }
}

// Searches parameter index of a revolved pair by the neck test, the candidate of k steps
// being value(start, k).
template <typename Value>
bool SearchNeck(DimensionEditTarget& object, float amount, std::int32_t index, Value value) {
    std::uint8_t* record = RecordWith(object, 4);
    if (record == nullptr) return false;
    const ParamSnapshot original(record);
    RepairNeck(record);
    const ParamSnapshot p(record);
    const double r = 1.0 / object.GetSceneScale();
    if (SearchSteps(
            record, p, DimensionSteps(amount, 200.0),
            [&](std::int32_t k) { Set(record, index, value(p[index], k, r)); },
            [record] { return NeckValid(record); })) {
        return true;
    }
    original.Restore(record);
    return false;
}

}  // namespace

bool EditType21Length(DimensionEditTarget& object, const DimensionHandlerRow&, float amount, float,
                      float) {
    std::uint8_t* record = RecordWith(object, 4);
    if (record == nullptr) return false;
    const ParamSnapshot original(record);
    RepairNeck(record);
    const ParamSnapshot p(record);
    const double r = 1.0 / object.GetSceneScale();
    if (SearchByBuild(object, record, p, DimensionSteps(amount, 200.0), [&](std::int32_t k) {
            const double length = std::min(std::max(p[0] + k / 200.0, r), 1000.0);
            Set(record, 0, length);
            Set(record, 3, p[3] * Ratio(length, p[0]));
        })) {
        return true;
    }
    original.Restore(record);
    return false;
}

bool EditType21TopRadius(DimensionEditTarget& object, const DimensionHandlerRow&, float amount,
                         float, float) {
    return SearchNeck(object, amount, 2, [](double v, std::int32_t k, double r) {
        return std::max(v + k / 200.0, r);
    });
}

bool EditType21BottomRadius(DimensionEditTarget& object, const DimensionHandlerRow&, float amount,
                            float, float) {
    return SearchNeck(object, amount, 1, [](double v, std::int32_t k, double r) {
        return std::max(v + k / 200.0, r);
    });
}

bool EditType21NeckRadius(DimensionEditTarget& object, const DimensionHandlerRow&, float amount,
                          float, float) {
    return SearchNeck(object, amount, 4, [](double v, std::int32_t k, double r) {
        return std::max(v + k / 200.0, r);
    });
}

bool EditType21CapDepth(DimensionEditTarget& object, const DimensionHandlerRow&, float amount,
                        float, float) {
    return SearchNeck(object, amount, 3,
                      [](double v, std::int32_t k, double) { return v - k / 200.0; });
}

// ---- cored solid (type 22) ----

namespace {

// An edit of a cored solid: apply(record, p, step, r) writes the candidate for a change of
// step (the drag in steps of 1/200) from the start values p, r being 1 / scene scale.
// Shrinking edits try the candidate once and shrink the core until it builds; the others
// search by rebuilding.
template <typename Apply>
bool CoredEdit(DimensionEditTarget& object, float amount, bool shrink, Apply apply) {
    std::uint8_t* record = RecordWith(object, 6);
    if (record == nullptr) return false;
    const ParamSnapshot p(record);
    const double r = 1.0 / object.GetSceneScale();
    const std::int32_t steps = DimensionSteps(amount, 200.0);
    if (shrink) {
        return ApplyWithCoreShrink(object, record, p, [&] { apply(record, p, steps / 200.0, r); });
    }
    return SearchByBuild(object, record, p, steps,
                         [&](std::int32_t k) { apply(record, p, k / 200.0, r); });
}

}  // namespace

bool EditType22Length(DimensionEditTarget& object, const DimensionHandlerRow&, float amount, float,
                      float) {
    return CoredEdit(object, amount, true,
                     [](std::uint8_t* record, const ParamSnapshot& p, double step, double r) {
                         const double length = std::max(p[0] + step, r);
                         Set(record, 0, length);
                         Set(record, 5, p[5] * Ratio(length, p[0]));
                     });
}

bool EditType22TopRadius(DimensionEditTarget& object, const DimensionHandlerRow&, float amount,
                         float, float) {
    // Both radii of the top move together, so the wall keeps its thickness.
    return CoredEdit(object, amount, true,
                     [](std::uint8_t* record, const ParamSnapshot& p, double step, double r) {
                         Set(record, 3, std::max(p[3] + step, r));
                         Set(record, 4, std::max(p[4] + step, 2.0 * r));
                     });
}

bool EditType22TopThickness(DimensionEditTarget& object, const DimensionHandlerRow&, float amount,
                            float, float) {
    return CoredEdit(object, amount, true,
                     [](std::uint8_t* record, const ParamSnapshot& p, double step, double r) {
                         Set(record, 3, std::min(std::max(p[3] - step, 0.05), p[4] - r));
                     });
}

bool EditType22BottomRadius(DimensionEditTarget& object, const DimensionHandlerRow&, float amount,
                            float, float) {
    return CoredEdit(object, amount, true,
                     [](std::uint8_t* record, const ParamSnapshot& p, double step, double r) {
                         Set(record, 1, std::max(p[1] + step, r));
                         Set(record, 2, std::max(p[2] + step, 2.0 * r));
                     });
}

bool EditType22BottomThickness(DimensionEditTarget& object, const DimensionHandlerRow&,
                               float amount, float, float) {
    return CoredEdit(object, amount, true,
                     [](std::uint8_t* record, const ParamSnapshot& p, double step, double r) {
                         Set(record, 1, std::min(std::max(p[1] - step, r), p[2] - r));
                     });
}

bool EditType22NeckRadius(DimensionEditTarget& object, const DimensionHandlerRow&, float amount,
                          float, float) {
    return CoredEdit(object, amount, false,
                     [](std::uint8_t* record, const ParamSnapshot& p, double step, double r) {
                         Set(record, 6, std::max({p[6] + step, r, p[5]}));
                     });
}

bool EditType22CoreSize(DimensionEditTarget& object, const DimensionHandlerRow&, float amount,
                        float, float) {
    return CoredEdit(object, amount, false,
                     [](std::uint8_t* record, const ParamSnapshot& p, double step, double) {
                         Set(record, 5, p[5] + step);
                     });
}

// ---- flared solid (type 23) ----

bool EditType23Flare(DimensionEditTarget& object, const DimensionHandlerRow&, float amount, float,
                     float) {
    std::uint8_t* record = RecordWith(object, 0);
    if (record == nullptr) return false;
    const float value = PartRecordParam(record, 0) + amount;
    PartRecordSetParam(record, 0, std::clamp(value, -1.3f, 100000000.0f));
    return true;
}

bool EditType23BevelCurvature(DimensionEditTarget& object, const DimensionHandlerRow&, float amount,
                              float, float) {
    std::uint8_t* record = RecordWith(object, 1);
    if (record == nullptr) return false;
    const double p1 = Param(record, 1);
    double t = p1 / (p1 + 1.0);
    if (!(1.0 - t >= 0.1)) t = 1.0;  // also a curvature of -1, which has no fraction
    t = std::clamp(t + amount, 0.001, 1.0);
    const double rest = 1.0 - t;
    Set(record, 1, t / (rest <= 0.1 ? 0.1 : rest));
    return true;
}

// ---- ring (type 24) ----

namespace {

// A ring radius grows by amount but stays above the offset's reach past the other radius.
bool EditRingRadius(DimensionEditTarget& object, float amount, std::int32_t self,
                    std::int32_t other) {
    std::uint8_t* record = RecordWith(object, 4);
    if (record == nullptr) return false;
    const double r = 1.0 / object.GetSceneScale();
    const double low = r + std::abs(Param(record, 4)) - Param(record, other);
    Set(record, self, std::max(Param(record, self) + amount, low));
    return true;
}

}  // namespace

bool EditType24OuterRadius(DimensionEditTarget& object, const DimensionHandlerRow&, float amount,
                           float, float) {
    return EditRingRadius(object, amount, 0, 1);
}

bool EditType24InnerRadius(DimensionEditTarget& object, const DimensionHandlerRow&, float amount,
                           float, float) {
    return EditRingRadius(object, amount, 1, 0);
}

bool EditType24Flare(DimensionEditTarget& object, const DimensionHandlerRow&, float amount, float,
                     float) {
    std::uint8_t* record = RecordWith(object, 3);
    if (record == nullptr) return false;
    const double scale = object.GetSceneScale();
    Set(record, 3, std::clamp(Param(record, 3) + amount * 1000.0 / scale, 10.0 / scale, 10000.0));
    return true;
}

bool EditType24Offset(DimensionEditTarget& object, const DimensionHandlerRow&, float amount, float,
                      float) {
    std::uint8_t* record = RecordWith(object, 4);
    if (record == nullptr) return false;
    const double r = 1.0 / object.GetSceneScale();
    const double high = Param(record, 0) + Param(record, 1) - r;
    Set(record, 4, std::min(std::max(Param(record, 4) + amount, 0.0), high));
    return true;
}

// ---- holed solid (type 25) ----

namespace {

bool RaiseAtLeastR(DimensionEditTarget& object, std::int32_t index, float amount) {
    std::uint8_t* record = RecordWith(object, 4);
    if (record == nullptr) return false;
    Set(record, index, std::max(Param(record, index) + amount, 1.0 / object.GetSceneScale()));
    return true;
}

}  // namespace

bool EditType25Radius(DimensionEditTarget& object, const DimensionHandlerRow&, float amount, float,
                      float) {
    return RaiseAtLeastR(object, 1, amount);
}

bool EditType25Length(DimensionEditTarget& object, const DimensionHandlerRow&, float amount, float,
                      float) {
    std::uint8_t* record = RecordWith(object, 4);
    if (record == nullptr) return false;
    const double before = Param(record, 0);
    const double length = std::max(before + amount, 1.0 / object.GetSceneScale());
    Set(record, 0, length);
    Set(record, 4, Param(record, 4) * Ratio(length, before));
    return true;
}

bool EditType25HoleFlare(DimensionEditTarget& object, const DimensionHandlerRow&, float amount,
                         float, float) {
    return RaiseAtLeastR(object, 2, amount);
}

bool EditType25HoleRadius(DimensionEditTarget& object, const DimensionHandlerRow&, float amount,
                          float, float) {
    return RaiseAtLeastR(object, 3, amount);
}

bool EditType25HoleHeight(DimensionEditTarget& object, const DimensionHandlerRow&, float amount,
                          float, float) {
    return RaiseAtLeastR(object, 4, amount);
}
