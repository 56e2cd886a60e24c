#include "geometry/part_placement.h"

#include "core/byte_order.h"
#include "core/rotation.h"
#include "geometry/part_record.h"
#include "geometry/shape_type_table.h"
#include "geometry/working_part_record.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

std::vector<std::uint8_t> Record(std::int32_t type, std::vector<float> params,
                                 const Vec3& position = {}, const Vec3& rotation = {}) {
    std::vector<std::uint8_t> record(80 + 4 * params.size(), 0);
    StoreI32LE(record.data() + 28, type);
    StoreI32LE(record.data() + 36, static_cast<std::int32_t>(params.size()));
    for (std::size_t i = 0; i < params.size(); ++i) {
        PartRecordSetParam(record.data(), static_cast<std::int32_t>(i), params[i]);
    }
    PartRecordSetPosition(record.data(), position);
    PartRecordSetRotation(record.data(), rotation);
    return record;
}

Matrix4W Diagonal(double w, double s) {
    Matrix4W m;
    m.m[0] = w;
    m.m[5] = m.m[10] = m.m[15] = s;
    return m;
}

std::vector<float> Params(const std::vector<std::uint8_t>& record) {
    std::vector<float> out;
    for (std::int32_t i = 0; i < PartRecordParamCount(record.data()); ++i) {
        out.push_back(PartRecordParam(record.data(), i));
    }
    return out;
}

TEST(SetPartPlacement, UniformScaleDoublesPositionAndSizes) {
    auto box = Record(3, {1, 2, 3}, Vec3{1, 2, 3}, Vec3{0.1, 0.2, 0.3});
    SetPartPlacement(box.data(), Diagonal(1, 2));
    EXPECT_EQ(Params(box), (std::vector<float>{2, 4, 6}));
    EXPECT_EQ(PartRecordPosition(box.data()).z, 6.0);
    const Vec3 r = PartRecordRotation(box.data());
    EXPECT_NEAR(r.x, 0.1, 1e-6);
    EXPECT_NEAR(r.z, 0.3, 1e-6);

    // Parameters the row does not list keep their value; marked entries scale too.
    auto faceted = Record(19, {1, 2, 3, 4});
    SetPartPlacement(faceted.data(), Diagonal(1, 2));
    EXPECT_EQ(Params(faceted), (std::vector<float>{1, 2, 3, 4}));
    auto bowl = Record(20, {1, 1, 1, 1, 1, 1});
    SetPartPlacement(bowl.data(), Diagonal(1, 2));
    EXPECT_EQ(Params(bowl), (std::vector<float>{2, 2, 2, 2, 2, 2}));
}

TEST(SetPartPlacement, TurnsAndMovesPositionedShapes) {
    auto sphere = Record(1, {1}, Vec3{1, 0, 0});
    Matrix4W turn = EmbedMatrix3(Matrix3FromAxisAngle(Vec3{0, 0, 1}, std::acos(-1.0) / 2), 0);
    turn.m[4] = 10.0;
    SetPartPlacement(sphere.data(), turn);
    const Vec3 p = PartRecordPosition(sphere.data());
    EXPECT_NEAR(p.x, 10.0, 1e-6);
    EXPECT_NEAR(p.y, 1.0, 1e-6);
    EXPECT_NEAR(PartRecordRotation(sphere.data()).z, std::acos(-1.0) / 2, 1e-6);
    EXPECT_EQ(PartRecordParam(sphere.data(), 0), 1.0f);
}

TEST(SetPartPlacement, ParametricShapesMoveTheirPoints) {
    // Type 26: two points and three vectors; type 27: a point and two directions.
    std::vector<float> rod(19, 1.0f);
    auto corner = Record(26, rod);
    Matrix4W move = Diagonal(1, 2);
    move.m[8] = 5.0;
    SetPartPlacement(corner.data(), move);
    EXPECT_EQ(PartRecordParam(corner.data(), 1), 7.0f);   // point: 2 * 1 + 5
    EXPECT_EQ(PartRecordParam(corner.data(), 7), 2.0f);   // vector: 2 * 1
    EXPECT_EQ(PartRecordParam(corner.data(), 16), 2.0f);  // size

    std::vector<float> placed(14, 1.0f);
    auto solid = Record(27, placed);
    SetPartPlacement(solid.data(), move);
    EXPECT_EQ(PartRecordParam(solid.data(), 1), 7.0f);
    EXPECT_EQ(PartRecordParam(solid.data(), 4), 1.0f);  // directions keep their length
    EXPECT_EQ(PartRecordParam(solid.data(), 9), 2.0f);

    // Segments and spheroids have no size row and no position: nothing changes.
    std::vector<float> segment(11, 1.0f);
    auto rodRecord = Record(10, segment, Vec3{1, 1, 1});
    SetPartPlacement(rodRecord.data(), move);
    EXPECT_EQ(Params(rodRecord), segment);
    EXPECT_EQ(PartRecordPosition(rodRecord.data()).y, 1.0);
}

TEST(ShapeTypeTable, MarkedEntriesAndBounds) {
    EXPECT_EQ(ShapeTypeTableRow(ShapeType{0}), nullptr);
    EXPECT_EQ(ShapeTypeTableRow(ShapeType{30}), nullptr);
    const ShapeTypeRow* bowl = ShapeTypeTableRow(ShapeType::Bowl);
    ASSERT_NE(bowl, nullptr);
    EXPECT_EQ(bowl->count, 6);
    EXPECT_EQ(bowl->entries[4], 260);
    EXPECT_EQ(bowl->entries[5], 261);
    const ShapeTypeRow* corner = ShapeTypeTableRow(ShapeType::CornerRod);
    EXPECT_EQ(corner->entries[0], 272);
    EXPECT_EQ(corner->entries[2], 274);
    EXPECT_EQ(ShapeTypeTableRow(ShapeType::TaperedPrism)->count, 0);
    EXPECT_EQ(ShapeTypeTableRow(ShapeType::FlaredSolid)->entries[0], 2);
}

// The motion steps place a working record by the same rules as a compact record, in doubles:
// every type's parameters, position and rotation agree with the compact record's to float
// precision, and the working record keeps digits the floats lose.
TEST(SetPartPlacementSim, PlacesLikeTheCompactRecordInDoubles) {
    Matrix4W placement = EmbedMatrix3(Matrix3FromAxisAngle(Vec3{0.6, 0, 0.8}, 0.7), 0);
    for (std::size_t k : {5, 6, 7, 9, 10, 11, 13, 14, 15}) placement.m[k] *= 1.5;
    placement.m[4] = 1.0 / 3;
    placement.m[8] = -2;
    placement.m[12] = 0.25;
    for (std::int32_t type : {1, 3, 9, 13, 19, 20, 26, 27, 29}) {
        SCOPED_TRACE(type);
        std::vector<float> params(19);
        for (std::size_t i = 0; i < params.size(); ++i) params[i] = 0.5f + 0.25f * i;
        auto record = Record(type, params, Vec3{1, 2, 3}, Vec3{0.1, -0.2, 0.3});
        WorkingPartRecord working;
        ExpandPartRecord(record.data(), working);
        SetPartPlacement(record.data(), placement);
        SetPartPlacementSim(working, placement);
        for (std::int32_t i = 0; i < 19; ++i) {
            EXPECT_NEAR(working.params[static_cast<std::size_t>(i)],
                        PartRecordParam(record.data(), i), 2e-6 * (1 + i));
        }
        const Vec3 p = PartRecordPosition(record.data());
        EXPECT_NEAR(working.position.x, p.x, 1e-6);
        EXPECT_NEAR(working.position.z, p.z, 1e-6);
        const Vec3 r = PartRecordRotation(record.data());
        EXPECT_NEAR(working.rotation.y, r.y, 1e-6);
    }
    WorkingPartRecord sphere;
    sphere.shapeType = ShapeType::Sphere;
    sphere.paramCount = 1;
    sphere.params[0] = 1.0;
    SetPartPlacementSim(sphere, placement);
    EXPECT_EQ(sphere.position.x, 1.0 / 3);
    EXPECT_DOUBLE_EQ(sphere.params[0], 1.5);
}

}  // namespace
