#include "geometry/working_part_record.h"

#include "core/byte_order.h"
#include "geometry/part_record.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

TEST(WorkingPartRecord, ExpandWidensEveryField) {
    std::vector<std::uint8_t> record(80 + 4 * 3, 0);
    std::uint8_t* r = record.data();
    PartRecordSetPosition(r, Vec3{1.5, -2, 3});
    PartRecordSetRotation(r, Vec3{0, 0.25, 0});
    r[24] = 0x81;
    r[25] = 7;
    r[26] = 8;
    r[27] = 9;
    PartRecordSetShapeType(r, ShapeType::Box);
    StoreU32LE(r + PartRecordExtensionBytesOffset, 0);
    StoreI32LE(r + PartRecordParamCountOffset, 3);
    StoreI32LE(r + PartRecordPartIdOffset, -4);
    StoreU32LE(r + 44, 0x11111111);
    StoreU32LE(r + 48, 0x222222);
    StoreU32LE(r + 52, 0x333333);
    StoreU32LE(r + 56, 0x444444);
    StoreU32LE(r + 60, 0x00010001);
    StoreF32LE(r + 64, 0.5f);
    StoreF32LE(r + 68, -0.5f);
    StoreF32LE(r + 72, 2.0f);
    StoreF32LE(r + 76, 0.1f);
    for (std::int32_t i = 0; i < 3; ++i) PartRecordSetParam(r, i, 0.1f * static_cast<float>(i + 1));

    WorkingPartRecord w;
    w.params[5] = 99;  // left from an earlier part
    ExpandPartRecord(r, w);
    EXPECT_EQ(w.position.x, 1.5);
    EXPECT_EQ(w.position.y, -2.0);
    EXPECT_EQ(w.rotation.y, 0.25);
    EXPECT_EQ(w.flagBytes, (std::array<std::uint8_t, 4>{0x81, 7, 8, 9}));
    EXPECT_EQ(w.shapeType, ShapeType::Box);
    EXPECT_EQ(w.paramCount, 3);
    EXPECT_EQ(w.partId, -4);
    EXPECT_EQ(w.aux44, 0x11111111u);
    EXPECT_EQ(w.glowColour, 0x222222u);
    EXPECT_EQ(w.derivedColour, 0x333333u);
    EXPECT_EQ(w.colour, 0x444444u);
    EXPECT_EQ(w.textureRef, 0x00010001u);
    EXPECT_EQ(w.aux64[1], -0.5);
    EXPECT_EQ(w.glowIntensity, 2.0);
    EXPECT_EQ(w.fraction, static_cast<double>(0.1f));
    EXPECT_EQ(w.params[2], static_cast<double>(0.3f));
    EXPECT_EQ(w.params[5], 0.0);
}

// A count the working record cannot hold is cut to its room, never written past it.
TEST(WorkingPartRecord, ExpandHoldsTheCountToTheRoom) {
    std::vector<std::uint8_t> record(80 + 4 * 25, 0);
    for (std::int32_t i = 0; i < 25; ++i) PartRecordSetParam(record.data(), i, 1.0f);
    WorkingPartRecord w;
    for (const auto& [stored, taken] : {std::pair{25, 19}, std::pair{-3, 0}, std::pair{19, 19}}) {
        SCOPED_TRACE(stored);
        StoreI32LE(record.data() + PartRecordParamCountOffset, stored);
        ExpandPartRecord(record.data(), w);
        EXPECT_EQ(w.paramCount, taken);
        EXPECT_EQ(w.params[18], taken == 19 ? 1.0 : 0.0);
    }
}

}  // namespace
