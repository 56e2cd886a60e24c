#include "geometry/primitive_record.h"

#include "core/byte_order.h"
#include "geometry/part_record.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

namespace {

std::vector<float> Params(const std::uint8_t* record) {
    std::vector<float> out;
    for (std::int32_t i = 0; i < PartRecordParamCount(record); ++i) {
        out.push_back(PartRecordParam(record, i));
    }
    return out;
}

TEST(PrimitiveRecord, GoldenBytesOfASphere) {
    const PartRecordPtr record =
        NewPrimitive1(0.5, 7, 0x10, Vec3{1.0, -2.0, 0.25}, ColourFromBytes(0x12, 0x34, 0x56));
    std::array<std::uint8_t, 84> expected{};
    const std::array<std::uint8_t, 12> position{0x00, 0x00, 0x80, 0x3F, 0x00, 0x00,
                                                0x00, 0xC0, 0x00, 0x00, 0x80, 0x3E};
    std::copy(position.begin(), position.end(), expected.begin());
    expected[24] = 0x10;
    expected[28] = 1;
    expected[36] = 1;
    expected[40] = 7;
    expected[56] = 0x56;
    expected[57] = 0x34;
    expected[58] = 0x12;
    expected[82] = 0x00;
    expected[83] = 0x3F;  // 0.5f
    EXPECT_EQ(std::memcmp(record.get(), expected.data(), expected.size()), 0);
}

TEST(PrimitiveRecord, MakersPlaceTheirArguments) {
    const Colour c = ColourFromBytes(0, 0, 0);
    const Vec3 o{};
    struct Case {
        const char* name;
        PartRecordPtr record;
        std::int32_t type;
        std::vector<float> params;
    };
    std::vector<Case> cases;
    cases.push_back({"2", NewPrimitive2(false, 1, 2, 0, 0, o, c), 2, {2, 1}});
    cases.push_back({"2 variant", NewPrimitive2(true, 1, 2, 0, 0, o, c), 14, {2, 1}});
    cases.push_back({"3 variant", NewPrimitive3(true, 1, 2, 3, 0, 0, o, c), 15, {1, 2, 3}});
    cases.push_back({"4 variant", NewPrimitive4(true, 1, 2, 3, 0, 0, o, c), 16, {1, 2, 3}});
    cases.push_back({"5", NewPrimitive5(1, 2, 0, 0, o, c), 5, {2, 1}});
    cases.push_back({"6", NewPrimitive6(false, 1, 2, 3, 4, 0, 0, o, c), 6, {1, 4, 3, 2}});
    cases.push_back({"6 variant", NewPrimitive6(true, 1, 2, 3, 4, 0, 0, o, c), 17, {1, 4, 3, 2}});
    cases.push_back({"7", NewPrimitive7(1, 2, 3, 0, 0, o, c), 7, {1, 2, 3}});
    cases.push_back({"8 variant", NewPrimitive8(true, 1, 2, 0, 0, o, c), 18, {1, 2}});
    cases.push_back({"9", NewPrimitive9(1, 2, 3, 0, 0, o, c), 9, {1, 2, 3}});
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        EXPECT_EQ(LoadI32LE(k.record.get() + PartRecordShapeTypeOffset), k.type);
        EXPECT_EQ(Params(k.record.get()), k.params);
    }
}

TEST(PrimitiveRecord, CloneCopiesTheBaseRecord) {
    std::vector<std::uint8_t> source(80 + 8 + 12, 0);
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<std::uint8_t>(i * 7);
    StoreI32LE(source.data() + 28, 2);
    StoreU32LE(source.data() + 32, 12);
    StoreI32LE(source.data() + 36, 2);

    const PartRecordPtr kept = ClonePrimitive(source.data(), true, 1.0);
    EXPECT_EQ(std::memcmp(kept.get(), source.data(), 32), 0);
    EXPECT_EQ(std::memcmp(kept.get() + 36, source.data() + 36, 52), 0);
    // The copy holds no extension and says so.
    EXPECT_EQ(LoadU32LE(kept.get() + 32), 0u);

    const PartRecordPtr cleared = ClonePrimitive(source.data(), false, 1.0);
    EXPECT_EQ(LoadU32LE(cleared.get() + PartRecordTextureRefOffset), 0u);

    const PartRecordPtr whole = PartRecordCopy(source.data());
    EXPECT_EQ(std::memcmp(whole.get(), source.data(), source.size()), 0);
}

TEST(PrimitiveRecord, CloneAtScaleOneDiffersOnlyInTheTextureHandle) {
    PartRecordPtr cone =
        NewPrimitive4(true, 3, 2, 1, 17, 0x21, Vec3{1, -2, 3}, ColourFromBytes(9, 8, 7));
    StoreU32LE(cone.get() + PartRecordTextureRefOffset, 0x01020304u);
    const std::uint32_t bytes = PartRecordBaseBytes(cone.get());
    const PartRecordPtr copy = ClonePrimitive(cone.get(), false, 1.0);
    for (std::uint32_t i = 0; i < bytes; ++i) {
        if (i >= 60 && i < 64) continue;
        EXPECT_EQ(copy.get()[i], cone.get()[i]) << "byte " << i;
    }
    EXPECT_EQ(LoadU32LE(copy.get() + 60), 0u);
}

TEST(PrimitiveRecord, CloneWithAScaleScalesPositionAndSizes) {
    const PartRecordPtr cylinder =
        NewPrimitive2(false, 0.5, 1.0, 0, 0, Vec3{1, 2, 3}, ColourFromBytes(1, 1, 1));
    const PartRecordPtr scaled = ClonePrimitive(cylinder.get(), false, 100.0);
    const Vec3 p = PartRecordPosition(scaled.get());
    EXPECT_EQ(p.x, 100.0);
    EXPECT_EQ(p.z, 300.0);
    EXPECT_EQ(Params(scaled.get()), (std::vector<float>{100.0f, 50.0f}));
}

TEST(PrimitiveRecord, ExtentsOfEveryRule) {
    // Parameters p_i = i + 1 so that each rule's choice of parameters shows.
    const auto record = [](std::int32_t type) {
        PartRecordPtr r = PrivateAllocBlock<std::uint8_t>(80 + 4 * 19);
        StoreI32LE(r.get() + PartRecordShapeTypeOffset, type);
        StoreI32LE(r.get() + PartRecordParamCountOffset, 19);
        for (std::int32_t i = 0; i < 19; ++i) PartRecordSetParam(r.get(), i, float(i + 1));
        return r;
    };
    struct Case {
        std::int32_t type;
        std::array<float, 3> extents;
    };
    const Case cases[] = {
        {1, {1, 1, 1}},     {2, {1, 2, 2}},     {8, {1, 2, 2}},     {14, {1, 2, 2}},
        {18, {1, 2, 2}},    {3, {2, 1, 3}},     {9, {2, 1, 3}},     {15, {2, 1, 3}},
        {4, {1, 3, 3}},     {16, {1, 3, 3}},    {5, {2, 1, 1}},     {7, {2, 1, 1}},
        {12, {7, 8, 8}},    {20, {7, 2, 2}},    {21, {2, 3, 3}},    {22, {2, 5, 5}},
        {23, {5, 3, 3}},    {24, {4, 1, 1}},    {25, {1, 2, 2}},    {27, {10, 11, 12}},
        {6, {-1, -1, -1}},  {10, {-1, -1, -1}}, {11, {-1, -1, -1}}, {13, {-1, -1, -1}},
        {17, {-1, -1, -1}}, {19, {-1, -1, -1}}, {28, {-1, -1, -1}}, {29, {-1, -1, -1}},
        {40, {-1, -1, -1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        std::array<float, 3> extents{-1, -1, -1};
        GetPrimitiveExtents(record(c.type).get(), extents);
        EXPECT_EQ(extents, c.extents);
    }
    // The corner rod measures the segment between its two corners.
    PartRecordPtr rod = record(26);
    PartRecordSetParamVec3(rod.get(), 0, Vec3{0, 0, 0});
    PartRecordSetParamVec3(rod.get(), 3, Vec3{3, 4, 0});
    std::array<float, 3> extents{};
    GetPrimitiveExtents(rod.get(), extents);
    EXPECT_EQ(extents, (std::array<float, 3>{5, 19, 19}));
}

TEST(PrimitiveRecord, ExtentsByShapeType) {
    const Colour c = ColourFromBytes(0, 0, 0);
    std::array<float, 3> extents{};
    GetPrimitiveExtents(NewPrimitive4(false, 3, 2, 2, 0, 0, Vec3{}, c).get(), extents);
    EXPECT_EQ(extents, (std::array<float, 3>{3, 2, 2}));
    GetPrimitiveExtents(NewPrimitive3(false, 1, 2, 3, 0, 0, Vec3{}, c).get(), extents);
    EXPECT_EQ(extents, (std::array<float, 3>{2, 1, 3}));
    GetPrimitiveExtents(NewPrimitive5(1, 2, 0, 0, Vec3{}, c).get(), extents);
    EXPECT_EQ(extents, (std::array<float, 3>{1, 2, 2}));
    // Types without a rule, and records too short for theirs, leave the output alone.
    extents = {9, 9, 9};
    GetPrimitiveExtents(NewPrimitive6(false, 1, 2, 3, 4, 0, 0, Vec3{}, c).get(), extents);
    EXPECT_EQ(extents, (std::array<float, 3>{9, 9, 9}));
    PartRecordPtr shortRecord = NewPrimitive1(1, 0, 0, Vec3{}, c);
    StoreI32LE(shortRecord.get() + 28, 27);
    GetPrimitiveExtents(shortRecord.get(), extents);
    EXPECT_EQ(extents, (std::array<float, 3>{9, 9, 9}));
}

}  // namespace
