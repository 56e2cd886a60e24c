#include "geometry/shape_library.h"

#include "core/byte_order.h"
#include "geometry/geometry_dump.h"
#include "geometry/part_block.h"
#include "geometry/part_record.h"
#include "geometry/primitive_record.h"
#include "geometry/scene_geometry.h"
#include "part_block_builder.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

using part_block_test::MakeBlock;
using part_block_test::Record;

std::string Bytes(const std::vector<std::uint8_t>& block) {
    return std::string(reinterpret_cast<const char*>(block.data()), block.size());
}

// The object files read by the process's registered reader: binary part blocks, placed at
// 1 / scene scale when read, so sizes of 100 come out as 1.
struct LibraryFolder {
    TempFolder folder;

    LibraryFolder() {
        folder.WriteFile("a_sphere.kvr", Bytes(MakeBlock({Record(ShapeType::Sphere, {100}),
                                                          Record(ShapeType::Box, {1, 1, 1})})));
        folder.WriteFile("b_empty.kvr", "");
        folder.WriteFile("c_box.kvr", Bytes(MakeBlock({Record(ShapeType::Box, {100, 200, 50})})));
        folder.WriteFile("d_sphere.kvr", Bytes(MakeBlock({Record(ShapeType::Sphere, {300})})));
        folder.WriteFile("e_no_records.kvr", Bytes(MakeBlock({})));
        folder.WriteFile("f_cylinder.kvr",
                         Bytes(MakeBlock({Record(ShapeType::Cylinder, {200, 50})})));
        folder.WriteFile("notes.txt", "not an object file");
    }
};

TEST(ShapeLibrary, KeepsTheFirstReadablePresetOfEachType) {
    LibraryFolder files;
    ShapeLibrary library(files.folder.Str());
    EXPECT_EQ(library.LoadResult(), 0);

    // The empty and record-less files and the second sphere add nothing; the indices count
    // the presets, not the files.
    const std::map<std::int32_t, std::pair<std::int32_t, std::int32_t>> expected{
        {1, {20, 0}}, {3, {20 + 84, 1}}, {2, {20 + 84 + 92, 2}}};
    ASSERT_EQ(library.ByType().size(), expected.size());
    for (const auto& [type, preset] : library.ByType()) {
        SCOPED_TRACE(type);
        EXPECT_EQ(preset.offset, expected.at(type).first);
        EXPECT_EQ(preset.index, expected.at(type).second);
        EXPECT_EQ(static_cast<std::int32_t>(PartRecordShapeType(library.Block() + preset.offset)),
                  type);
    }
    const std::uint8_t* block = library.Block();
    EXPECT_EQ(LoadI32LE(block + PartBlockPartCountOffset), 3);
    EXPECT_EQ(LoadU32LE(block + PartBlockRecordBytesOffset), 84u + 92u + 88u);
    EXPECT_EQ(library.BlockBytes(), 20u + 84u + 92u + 88u);
    EXPECT_TRUE(PartBlockIsWellFormed(block, library.BlockBytes()));
    EXPECT_FLOAT_EQ(PartRecordParam(block + 20, 0), 1.0f);
    EXPECT_EQ(library.Geometry().PartCount(), 3);
}

TEST(ShapeLibrary, BlockReloadsToTheSameGeometry) {
    LibraryFolder files;
    ShapeLibrary library(files.folder.Str());
    std::vector<std::uint8_t> copy(library.Block(), library.Block() + library.BlockBytes());
    SceneGeometry reloaded;
    ASSERT_EQ(LoadPartBlock(reloaded, copy.data(), static_cast<std::uint32_t>(copy.size()), true,
                            nullptr, false),
              0);
    EXPECT_EQ(GeometryDumpJson(reloaded), GeometryDumpJson(library.Geometry()));
}

TEST(ShapeLibrary, EmptyOrMissingFolderGivesAnEmptyLibrary) {
    TempFolder empty;
    for (const std::string& folder : {empty.Str(), empty.Str() + "/missing"}) {
        SCOPED_TRACE(folder);
        ShapeLibrary library(folder);
        EXPECT_EQ(library.BlockBytes(), 20u);
        EXPECT_EQ(LoadI32LE(library.Block() + PartBlockPartCountOffset), 0);
        EXPECT_EQ(library.Block()[PartBlockFlagsOffset], 0xC0);
        EXPECT_EQ(library.Geometry().PartCount(), 0);
        EXPECT_TRUE(library.ByType().empty());
        const PartRecordPtr sphere = NewPrimitive1(1, 0, 0, Vec3{}, ColourFromBytes(0, 0, 0));
        EXPECT_TRUE(library.UpdatePart(sphere.get()));
    }
}

TEST(ShapeLibrary, UpdatePartKeepsThePresetsSizeAndCounts) {
    LibraryFolder files;
    ShapeLibrary library(files.folder.Str());
    const std::uint8_t* box = library.Block() + library.ByType().at(3).offset;
    const std::vector<std::uint8_t> after(library.Block() + 20 + 84 + 92,
                                          library.Block() + library.BlockBytes());

    // A longer record: only the preset's three parameters are taken, and the record after
    // the box stays as it was.
    std::vector<std::uint8_t> longer(80 + 4 * 5 + 8, 0);
    StoreI32LE(longer.data() + PartRecordShapeTypeOffset, 3);
    StoreI32LE(longer.data() + PartRecordParamCountOffset, 5);
    StoreU32LE(longer.data() + PartRecordExtensionBytesOffset, 8);
    PartRecordSetPosition(longer.data(), Vec3{1, 2, 3});
    for (std::int32_t i = 0; i < 5; ++i) PartRecordSetParam(longer.data(), i, 0.5f + i);
    EXPECT_TRUE(library.UpdatePart(longer.data()));
    EXPECT_EQ(PartRecordParamCount(box), 3);
    EXPECT_EQ(LoadU32LE(box + PartRecordExtensionBytesOffset), 0u);
    EXPECT_FLOAT_EQ(PartRecordParam(box, 2), 2.5f);
    EXPECT_EQ(PartRecordPosition(box).y, 2.0);
    EXPECT_EQ(std::memcmp(after.data(), library.Block() + 20 + 84 + 92, after.size()), 0);

    // A shorter record: its one parameter is taken, the others stay the preset's.
    std::vector<std::uint8_t> shorter(80 + 4, 0);
    StoreI32LE(shorter.data() + PartRecordShapeTypeOffset, 3);
    StoreI32LE(shorter.data() + PartRecordParamCountOffset, 1);
    PartRecordSetParam(shorter.data(), 0, 0.25f);
    EXPECT_TRUE(library.UpdatePart(shorter.data()));
    EXPECT_EQ(PartRecordParamCount(box), 3);
    EXPECT_FLOAT_EQ(PartRecordParam(box, 0), 0.25f);
    EXPECT_FLOAT_EQ(PartRecordParam(box, 1), 1.5f);

    // Values that give no shape are reported.
    std::vector<std::uint8_t> broken = shorter;
    PartRecordSetParam(broken.data(), 0, std::numeric_limits<float>::quiet_NaN());
    EXPECT_FALSE(library.UpdatePart(broken.data()));
}

}  // namespace
