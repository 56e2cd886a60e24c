#include "geometry/part_block.h"

#include "core/byte_order.h"
#include "geometry/part_record.h"
#include "geometry/scene_geometry.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

std::vector<std::uint8_t> EmptyBlock() {
    std::vector<std::uint8_t> block(PartBlockHeaderBytes);
    PartBlockWriteHeader(block.data());
    return block;
}

// Appends a record of the shape type with the given float parameters and extension bytes.
void AppendRecord(std::vector<std::uint8_t>& block, std::int32_t shapeType,
                  const std::vector<float>& params, std::uint32_t extensionBytes = 0,
                  std::int32_t partId = 0) {
    const std::size_t at = block.size();
    block.resize(at + PartRecordFixedBytes + 4 * params.size() + extensionBytes, 0);
    std::uint8_t* record = block.data() + at;
    StoreI32LE(record + PartRecordShapeTypeOffset, shapeType);
    StoreU32LE(record + PartRecordExtensionBytesOffset, extensionBytes);
    StoreI32LE(record + PartRecordParamCountOffset, static_cast<std::int32_t>(params.size()));
    StoreI32LE(record + PartRecordPartIdOffset, partId);
    for (std::size_t i = 0; i < params.size(); ++i) {
        StoreF32LE(record + PartRecordFixedBytes + 4 * i, params[i]);
    }
    StoreU32LE(block.data() + PartBlockPartCountOffset,
               LoadU32LE(block.data() + PartBlockPartCountOffset) + 1);
}

std::int32_t Load(SceneGeometry& geometry, std::vector<std::uint8_t>& block) {
    return LoadPartBlock(geometry, block.data(), static_cast<std::uint32_t>(block.size()), true,
                         nullptr, false);
}

TEST(PartBlock, EmptyBlockBytes) {
    const auto block = EmptyBlock();
    const std::array<std::uint8_t, 20> expected{3, 0, 0xFF, 0xFF, 0, 0, 0,    0, 0, 0,
                                                0, 0, 0,    0,    0, 0, 0xC0, 0, 0, 0};
    EXPECT_TRUE(std::equal(block.begin(), block.end(), expected.begin()));
}

TEST(PartBlock, EmptyBlockLoadsWithIdBaseOne) {
    SceneGeometry geometry;
    auto block = EmptyBlock();
    EXPECT_EQ(Load(geometry, block), 0);
    EXPECT_EQ(geometry.partCount, 0);
    EXPECT_EQ(geometry.idBase, 1);
}

TEST(PartBlock, ForeignBlockIsConvertedOnce) {
    SceneGeometry geometry;
    std::vector<std::uint8_t> block(PartBlockHeaderBytes, 0);
    StoreU16BE(block.data(), 3);
    StoreU32BE(block.data() + PartBlockIdSpanOffset, 7);
    block[PartBlockFlagsOffset] = 0xC0;
    EXPECT_EQ(Load(geometry, block), 0);
    EXPECT_EQ(LoadU16LE(block.data() + PartBlockMarkerOffset), 0xFFFF);
    EXPECT_EQ(LoadU16LE(block.data()), 3);
    EXPECT_EQ(LoadU32LE(block.data() + PartBlockIdSpanOffset), 7u);
    EXPECT_EQ(geometry.idBase, 7);
    EXPECT_EQ(Load(geometry, block), 0);
    EXPECT_EQ(LoadU32LE(block.data() + PartBlockIdSpanOffset), 7u);
}

TEST(PartBlock, CountsSurfacesAndOffsetsIds) {
    SceneGeometry geometry;
    auto block = EmptyBlock();
    AppendRecord(block, 1, {}, 0, 4);
    AppendRecord(block, 19, {0, 0, 0, 2.5f});
    AppendRecord(block, 19, {0, 0, 0, -2.5f});
    AppendRecord(block, 18, {1.0f});  // a record needs at least 84 bytes
    geometry.idBase = 10;
    EXPECT_EQ(Load(geometry, block), 0);
    EXPECT_EQ(geometry.partCount, 4);
    EXPECT_EQ(geometry.surfaceTotal, 1 + 9 + (-3) + 8);
    EXPECT_EQ(LoadI32LE(block.data() + PartBlockHeaderBytes + PartRecordPartIdOffset), 4);
}

// Counts taken from parameters wrap in 32 bits: NaN rounds to 0x80000000, whose doubled count
// wraps back to 3, and removing parts takes the same counts off the total.
TEST(PartBlock, SurfaceCountsFromHugeOrNaNParametersWrap) {
    SceneGeometry geometry;
    auto block = EmptyBlock();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    AppendRecord(block, 19, {0, 0, 0, nan});
    AppendRecord(block, 25, {0, 0, 0, 0, 0, 3e9f});
    AppendRecord(block, 19, {0, 0, 0, -1073741824.0f});
    AppendRecord(block, 19, {0, 0, 0, -1073741824.0f});
    ASSERT_EQ(Load(geometry, block), 0);
    EXPECT_EQ(geometry.parts[0].surfaceCount, 3);
    EXPECT_EQ(geometry.parts[1].surfaceCount, INT32_MIN + 4);
    EXPECT_EQ(geometry.parts[3].surfaceCount, INT32_MIN + 3);
    EXPECT_EQ(geometry.surfaceTotal, INT32_MIN + 13);
    for (std::int32_t total : {10, INT32_MIN + 7, 3, 0}) {
        geometry.RemoveLastPart();
        EXPECT_EQ(geometry.surfaceTotal, total);
    }
}

TEST(PartBlock, RejectsBadBlocksAndKeepsTheContainer) {
    auto good = EmptyBlock();
    AppendRecord(good, 1, {1.0f, 2.0f});
    auto cut = good;
    cut.pop_back();
    auto wrongVersion = EmptyBlock();
    StoreU16LE(wrongVersion.data(), 2);
    auto extensionPastEnd = good;
    StoreU32LE(extensionPastEnd.data() + PartBlockHeaderBytes + PartRecordExtensionBytesOffset,
               0xFFFFFFF0u);
    auto negativeParams = good;
    StoreI32LE(negativeParams.data() + PartBlockHeaderBytes + PartRecordParamCountOffset, -1);
    auto hugeCount = good;
    StoreU32LE(hugeCount.data() + PartBlockPartCountOffset, 0xFFFFFFFFu);
    auto type13WithoutExtension = EmptyBlock();
    AppendRecord(type13WithoutExtension, 13, {});
    auto type13WrongKind = EmptyBlock();
    AppendRecord(type13WrongKind, 13, {}, 20);
    StoreU16LE(type13WrongKind.data() + PartBlockHeaderBytes + 80, 2);
    StoreU16LE(type13WrongKind.data() + PartBlockHeaderBytes + 82, 0xFFFF);

    struct Case {
        const char* name;
        std::vector<std::uint8_t> block;
    };
    std::vector<Case> cases{{"too short", {3, 0, 0xFF}},
                            {"record cut short", cut},
                            {"wrong version", wrongVersion},
                            {"extension past the end", extensionPastEnd},
                            {"negative parameter count", negativeParams},
                            {"part count past the end", hugeCount},
                            {"type 13 without extension", type13WithoutExtension},
                            {"type 13 of another kind", type13WrongKind}};
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        SceneGeometry geometry;
        geometry.partCount = 0;
        geometry.idBase = 5;
        EXPECT_EQ(Load(geometry, c.block), PartBlockRejected);
        EXPECT_EQ(geometry.partCount, 0);
        EXPECT_EQ(geometry.idBase, 5);
    }
}

TEST(PartBlock, LegacyBlocksAreScaledAndTurnedOnce) {
    SceneGeometry geometry;
    auto block = EmptyBlock();
    block[PartBlockFlagsOffset] = 0;
    AppendRecord(block, 1, {0.5f});
    PartRecordSetPosition(block.data() + PartBlockHeaderBytes, Vec3{1.0, 2.0, 3.0});
    StoreU32LE(block.data() + PartBlockRecordBytesOffset, 84);
    ASSERT_EQ(Load(geometry, block), 0);
    const std::uint8_t* record = block.data() + PartBlockHeaderBytes;
    const Vec3 p = PartRecordPosition(record);
    EXPECT_EQ(p.x, 20.0);
    EXPECT_EQ(p.y, -40.0);
    EXPECT_EQ(p.z, -60.0);
    EXPECT_EQ(PartRecordParam(record, 0), 10.0f);
    EXPECT_EQ(block[PartBlockFlagsOffset], 0xC0);
    ASSERT_EQ(Load(geometry, block), 0);
    EXPECT_EQ(PartRecordPosition(record).x, 20.0);
}

TEST(PartBlock, PartTableFollowsTheRecords) {
    SceneGeometry geometry;
    auto block = EmptyBlock();
    for (std::int32_t type : {1, 3, 2, 4, 5}) AppendRecord(block, type, {1.0f, 1.0f, 1.0f});
    std::uint8_t* second = block.data() + PartBlockHeaderBytes + 92;
    PartRecordSetPosition(second, Vec3{4.0, 5.0, 6.0});
    StoreU32LE(second + PartRecordColourOffset, 0x112233);
    second[PartRecordFlagsOffset] = PartFlagHidden;
    ASSERT_EQ(Load(geometry, block), 0);
    ASSERT_EQ(geometry.parts.size(), 5u);
    const PartEntry& entry = geometry.parts[1];
    EXPECT_EQ(entry.shapeType, ShapeType::Box);
    EXPECT_EQ(entry.colour, 0x112233u);
    EXPECT_EQ(entry.visible, 0);
    EXPECT_EQ(entry.textureParams, &geometry.defaultTexture);
    // World-to-local: the translation undoes the position.
    EXPECT_EQ(entry.localFromWorld.m[4], -4.0);
    EXPECT_EQ(entry.localFromWorld.m[12], -6.0);

    // Appending a sixth record builds only that part; the others keep their entries.
    geometry.parts[0].colour = 0xABCDEF;
    const std::size_t sixth = block.size();
    AppendRecord(block, 1, {2.0f});
    ASSERT_EQ(LoadPartBlock(geometry, block.data(), static_cast<std::uint32_t>(block.size()), true,
                            block.data() + sixth, false),
              0);
    EXPECT_EQ(geometry.partCount, 6);
    EXPECT_EQ(geometry.parts[0].colour, 0xABCDEFu);
    EXPECT_EQ(geometry.parts[5].shapeType, ShapeType::Sphere);
}

TEST(PartBlock, WellFormedBlocks) {
    auto block = EmptyBlock();
    EXPECT_TRUE(PartBlockIsWellFormed(block.data(), block.size()));
    AppendRecord(block, 1, {1.0f});
    EXPECT_FALSE(PartBlockIsWellFormed(block.data(), block.size()));  // length still 0
    StoreU32LE(block.data() + PartBlockRecordBytesOffset, 84);
    EXPECT_TRUE(PartBlockIsWellFormed(block.data(), block.size()));
    EXPECT_FALSE(PartBlockIsWellFormed(block.data(), block.size() - 1));
    EXPECT_FALSE(PartBlockIsWellFormed(nullptr, 20));
}

}  // namespace
