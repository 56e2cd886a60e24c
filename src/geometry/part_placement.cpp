#include "geometry/part_placement.h"

#include "core/matrix3.h"
#include "core/rotation.h"
#include "geometry/part_record.h"
#include "geometry/shape_type.h"
#include "geometry/shape_type_table.h"
#include "geometry/working_part_record.h"

#include <cmath>
#include <cstddef>

namespace {

// A compact record as the placement rules read and write it: floats widened on reading and
// narrowed on writing.
struct CompactPart {
    std::uint8_t* record;

    ShapeType Type() const { return PartRecordShapeType(record); }
    std::int32_t ParamCount() const { return PartRecordParamCount(record); }
    double Param(std::int32_t i) const { return PartRecordParam(record, i); }
    void SetParam(std::int32_t i, double v) const {
        PartRecordSetParam(record, i, static_cast<float>(v));
    }
    Vec3 ParamVec3(std::int32_t first) const { return PartRecordParamVec3(record, first); }
    void SetParamVec3(std::int32_t first, const Vec3& v) const {
        PartRecordSetParamVec3(record, first, v);
    }
    Vec3 Position() const { return PartRecordPosition(record); }
    void SetPosition(const Vec3& v) const { PartRecordSetPosition(record, v); }
    Vec3 Rotation() const { return PartRecordRotation(record); }
    void SetRotation(const Vec3& v) const { PartRecordSetRotation(record, v); }
};

// A working record: its doubles read and written as they are.
struct WorkingPart {
    WorkingPartRecord* working;

    ShapeType Type() const { return working->shapeType; }
    std::int32_t ParamCount() const { return working->paramCount; }
    double Param(std::int32_t i) const { return working->params[static_cast<std::size_t>(i)]; }
    void SetParam(std::int32_t i, double v) const {
        working->params[static_cast<std::size_t>(i)] = v;
    }
    Vec3 ParamVec3(std::int32_t first) const {
        return Vec3{Param(first), Param(first + 1), Param(first + 2)};
    }
    void SetParamVec3(std::int32_t first, const Vec3& v) const {
        SetParam(first, v.x);
        SetParam(first + 1, v.y);
        SetParam(first + 2, v.z);
    }
    Vec3 Position() const { return working->position; }
    void SetPosition(const Vec3& v) const { working->position = v; }
    Vec3 Rotation() const { return working->rotation; }
    void SetRotation(const Vec3& v) const { working->rotation = v; }
};

Matrix3 LinearPart(const Matrix4W& w) {
    return Matrix3{{w.m[5], w.m[6], w.m[7], w.m[9], w.m[10], w.m[11], w.m[13], w.m[14], w.m[15]}};
}

Vec3 Translation(const Matrix4W& w) { return Vec3{w.m[4], w.m[8], w.m[12]}; }

Vec3 PlacePoint(const Matrix3& l, const Vec3& t, const Vec3& p) {
    return Vec3Add(Matrix3TransformVec3(l, p), t);
}

// Rewrites three parameters from first through f when the part has them.
template <typename Part, typename Fn>
void MapParamTriple(const Part& part, std::int32_t first, Fn f) {
    if (first + 3 > part.ParamCount()) return;
    part.SetParamVec3(first, f(part.ParamVec3(first)));
}

template <typename Part>
void PlacePart(const Part& part, const Matrix4W& placement) {
    const Matrix3 l = LinearPart(placement);
    const Vec3 t = Translation(placement);
    // trace(L L^T) is the sum of the squares of L's elements.
    double sumSquares = 0.0;
    for (double e : l.m) sumSquares += e * e;
    const double k = std::sqrt(sumSquares / 3.0);
    Matrix3 r = l;
    Matrix3DivideScalar(r, k);

    const ShapeType shapeType = part.Type();
    const std::int32_t paramCount = part.ParamCount();
    if (const ShapeTypeRow* row = ShapeTypeTableRow(shapeType)) {
        for (std::int32_t i = 0; i < row->count; ++i) {
            const std::int32_t index = ShapeParamIndex(row->entries[static_cast<std::size_t>(i)]);
            if (index >= paramCount) continue;
            part.SetParam(index, part.Param(index) * k);
        }
    }

    const bool positioned =
        ShapeTypeIsValid(shapeType) && !ShapeTypeIsPlacedByParameters(shapeType);
    if (positioned) {
        part.SetPosition(PlacePoint(l, t, part.Position()));
        const Matrix3 turned = Matrix3Product(r, RotationFromVector(part.Rotation()));
        part.SetRotation(RotationToVector(turned));
    } else if (shapeType == ShapeType::CornerRod) {
        const auto point = [&](const Vec3& p) { return PlacePoint(l, t, p); };
        const auto vector = [&](const Vec3& v) { return Matrix3TransformVec3(l, v); };
        MapParamTriple(part, 0, point);
        MapParamTriple(part, 3, point);
        MapParamTriple(part, 6, vector);
        MapParamTriple(part, 9, vector);
        MapParamTriple(part, 12, vector);
    } else if (shapeType == ShapeType::PlacedSolid || shapeType == ShapeType::PlacedEllipsoid) {
        const auto direction = [&](const Vec3& v) { return Matrix3TransformVec3(r, v); };
        MapParamTriple(part, 0, [&](const Vec3& p) { return PlacePoint(l, t, p); });
        MapParamTriple(part, 3, direction);
        MapParamTriple(part, 6, direction);
    }
}

}  // namespace

void SetPartPlacement(std::uint8_t* record, Matrix4W placement) {
    PlacePart(CompactPart{record}, placement);
}

void SetPartPlacementSim(WorkingPartRecord& working, Matrix4W placement) {
    PlacePart(WorkingPart{&working}, placement);
}
