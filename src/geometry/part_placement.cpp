#include "geometry/part_placement.h"

#include "core/matrix3.h"
#include "core/rotation.h"
#include "geometry/part_record.h"
#include "geometry/shape_type.h"
#include "geometry/shape_type_table.h"

#include <cmath>

namespace {

Matrix3 LinearPart(const Matrix4W& w) {
    return Matrix3{{w.m[5], w.m[6], w.m[7], w.m[9], w.m[10], w.m[11], w.m[13], w.m[14], w.m[15]}};
}

Vec3 Translation(const Matrix4W& w) { return Vec3{w.m[4], w.m[8], w.m[12]}; }

Vec3 PlacePoint(const Matrix3& l, const Vec3& t, const Vec3& p) {
    return Vec3Add(Matrix3TransformVec3(l, p), t);
}

// Rewrites three parameters from first through f when the record has them.
template <typename Fn>
void MapParamTriple(std::uint8_t* record, std::int32_t first, Fn f) {
    if (first + 3 > PartRecordParamCount(record)) return;
    PartRecordSetParamVec3(record, first, f(PartRecordParamVec3(record, first)));
}

}  // namespace

void SetPartPlacement(std::uint8_t* record, Matrix4W placement) {
    const Matrix3 l = LinearPart(placement);
    const Vec3 t = Translation(placement);
    // trace(L L^T) is the sum of the squares of L's elements.
    double sumSquares = 0.0;
    for (double e : l.m) sumSquares += e * e;
    const double k = std::sqrt(sumSquares / 3.0);
    Matrix3 r = l;
    Matrix3DivideScalar(r, k);

    const ShapeType shapeType = PartRecordShapeType(record);
    const std::int32_t paramCount = PartRecordParamCount(record);
    if (const ShapeTypeRow* row = ShapeTypeTableRow(shapeType)) {
        for (std::int32_t i = 0; i < row->count; ++i) {
            const std::int32_t index = ShapeParamIndex(row->entries[static_cast<std::size_t>(i)]);
            if (index >= paramCount) continue;
            PartRecordSetParam(record, index,
                               static_cast<float>(PartRecordParam(record, index) * k));
        }
    }

    const bool positioned =
        ShapeTypeIsValid(shapeType) && !ShapeTypeIsPlacedByParameters(shapeType);
    if (positioned) {
        PartRecordSetPosition(record, PlacePoint(l, t, PartRecordPosition(record)));
        const Matrix3 turned =
            Matrix3Product(r, RotationFromVector(PartRecordRotation(record)));
        PartRecordSetRotation(record, RotationToVector(turned));
    } else if (shapeType == ShapeType::CornerRod) {
        const auto point = [&](const Vec3& p) { return PlacePoint(l, t, p); };
        const auto vector = [&](const Vec3& v) { return Matrix3TransformVec3(l, v); };
        MapParamTriple(record, 0, point);
        MapParamTriple(record, 3, point);
        MapParamTriple(record, 6, vector);
        MapParamTriple(record, 9, vector);
        MapParamTriple(record, 12, vector);
    } else if (shapeType == ShapeType::PlacedSolid || shapeType == ShapeType::PlacedEllipsoid) {
        const auto direction = [&](const Vec3& v) { return Matrix3TransformVec3(r, v); };
        MapParamTriple(record, 0, [&](const Vec3& p) { return PlacePoint(l, t, p); });
        MapParamTriple(record, 3, direction);
        MapParamTriple(record, 6, direction);
    }
}
