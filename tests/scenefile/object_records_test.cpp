#include "scenefile/object_records.h"

#include "core/byte_order.h"
#include "core/crt_random.h"
#include "core/xml_document.h"
#include "geometry/part_block.h"
#include "geometry/part_record.h"
#include "model/kv_obj_tex_container.h"
#include "scene_test_encoder.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace scene_test;

std::string ObjectFile(const std::string& objects) {
    return "<?xml version=\"1.0\"?>\r\n<KVXMLFile version=\"2.1\"><KVR version=\"3\">" + objects +
           "</KVR></KVXMLFile>";
}

// A binary part block in our byte order with one record per parameter list.
std::vector<std::uint8_t> BinaryBlock(const std::vector<std::vector<float>>& records) {
    std::vector<std::uint8_t> block(PartBlockHeaderBytes);
    PartBlockWriteHeader(block.data());
    std::uint32_t bytes = 0;
    for (const std::vector<float>& params : records) {
        std::vector<std::uint8_t> record(PartRecordFixedBytes + 4 * params.size());
        StoreI32LE(record.data() + PartRecordShapeTypeOffset, 1);
        StoreI32LE(record.data() + PartRecordParamCountOffset, static_cast<std::int32_t>(params.size()));
        StoreF32LE(record.data() + PartRecordPositionOffset, 300.0f);
        for (std::size_t i = 0; i < params.size(); ++i) {
            StoreF32LE(record.data() + PartRecordParamsOffset + 4 * i, params[i]);
        }
        block.insert(block.end(), record.begin(), record.end());
        bytes += static_cast<std::uint32_t>(record.size());
    }
    StoreU32LE(block.data() + PartBlockPartCountOffset, static_cast<std::uint32_t>(records.size()));
    StoreU32LE(block.data() + PartBlockRecordBytesOffset, bytes);
    return block;
}

std::string AsText(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST(ReadQSect, TakesTheObjectFileKeysAndIgnoresTheSceneOnes) {
    const std::string qsect = "<QSect" + I("version", 1) + I("np", 3) + "><QSP" + A("xs", 2.0f) +
                              "/><QSP/><QSP" + I("negate", 1) + "/></QSect>";
    XmlDocument xml(ObjectFile(
        Obj(7, 11, {100.0f, 0, 0}, {50.0f, 60.0f},
            I("c", -16776961) + I("tc", "4294967295") + I("tn", 3) + A("ct", 0.5f) +
                A("glv", 0.25f) + I("glc", 5) + I("f", 9),
            qsect) +
        Obj(1, 12, {0, 0, 0}, {})));
    ASSERT_TRUE(xml.FindElement("KVXMLFile"));
    ASSERT_TRUE(xml.EnterElement());
    PartRecordList records;
    records.push_back(PrivateAllocBlock<std::uint8_t>(4));  // emptied first
    CrtSrand(1);
    ASSERT_EQ(ReadQSect(records, xml), QSectLoaded);
    ASSERT_EQ(records.size(), 2u);
    const std::uint8_t* r = records[0].get();
    EXPECT_EQ(LoadI32LE(r + PartRecordShapeTypeOffset), 7);
    EXPECT_EQ(LoadI32LE(r + PartRecordPartIdOffset), 11);
    EXPECT_EQ(r[PartRecordFlagsOffset], 9);
    EXPECT_EQ(r[PartRecordTintOffset], 3);
    // A colour above 0x7FFFFFFF written as a negative decimal keeps its bits.
    EXPECT_EQ(LoadU32LE(r + PartRecordColourOffset), 0xFF0000FFu);
    EXPECT_EQ(LoadU32LE(r + PartRecordDerivedColourOffset), 0xFFFFFFFFu);
    // The object-file reader draws the fraction and resets the glow whatever the file says.
    EXPECT_EQ(LoadF32LE(r + PartRecordFractionOffset), static_cast<float>(41 / 32767.0));
    EXPECT_EQ(LoadF32LE(r + PartRecordGlowIntensityOffset), 1.0f);
    EXPECT_EQ(LoadU32LE(r + PartRecordGlowColourOffset), 0xFFFFFFu);
    // Placed at 1 / 100.
    EXPECT_FLOAT_EQ(LoadF32LE(r + PartRecordPositionOffset), 1.0f);
    EXPECT_EQ(PartRecordBytes(r), 80u + 8u + 20u + 3 * 44u);
    const std::uint8_t* section = r + PartRecordBaseBytes(r);
    EXPECT_EQ(LoadU32LE(section + 8), 3u);
    EXPECT_EQ(LoadF32LE(section + 20), 2.0f);  // section parts are taken as written
    EXPECT_EQ(section[20 + 2 * 44 + 40], 1);
    EXPECT_EQ(PartRecordBytes(records[1].get()), 80u);
    EXPECT_EQ(xml.GetElementName(xml.CurrentPosition()), "KVR");
}

TEST(ReadQSect, MissingKvrOrRefusedCountsLeaveTheListEmpty) {
    PartRecordList records;
    XmlDocument none("<KVXMLFile><Other/></KVXMLFile>");
    ASSERT_TRUE(none.FindElement("KVXMLFile"));
    ASSERT_TRUE(none.EnterElement());
    records.push_back(PrivateAllocBlock<std::uint8_t>(4));
    EXPECT_EQ(ReadQSect(records, none), QSectNoRecords);
    EXPECT_TRUE(records.empty());

    XmlDocument hostile(ObjectFile(Obj(1, 1, {0, 0, 0}, {1.0f}) + "<Obj n=\"-3\"/>"));
    ASSERT_TRUE(hostile.FindElement("KVXMLFile"));
    ASSERT_TRUE(hostile.EnterElement());
    EXPECT_EQ(ReadQSect(records, hostile), QSectUnreadable);
    EXPECT_TRUE(records.empty());
}

TEST(LoadQSectFile, ResultsForEveryKindOfFile) {
    TempFolder folder;
    std::vector<std::uint8_t> foreign = BinaryBlock({{1.0f}});
    StoreU16LE(foreign.data() + PartBlockMarkerOffset, 0);
    std::vector<std::uint8_t> overcounted = BinaryBlock({{1.0f}, {2.0f}});
    StoreU32LE(overcounted.data() + PartBlockPartCountOffset, 5);
    std::vector<std::uint8_t> negative = BinaryBlock({{1.0f}});
    StoreI32LE(negative.data() + PartBlockHeaderBytes + PartRecordParamCountOffset, -1);
    std::vector<std::uint8_t> overlong = BinaryBlock({{1.0f}});
    StoreU32LE(overlong.data() + PartBlockHeaderBytes + PartRecordExtensionBytesOffset,
               0xFFFFFFF0u);
    const std::vector<std::uint8_t> good = BinaryBlock({{100.0f}, {1.0f, 2.0f}});
    std::string emptyRecords;
    for (int i = 0; i < 100; ++i) emptyRecords += "<Obj n=\"4096\"/>";
    struct Case {
        const char* name;
        std::string contents;
        std::int32_t result;
        std::size_t records;
    };
    const Case cases[] = {
        {"xml", ObjectFile(Obj(1, 1, {0, 0, 0}, {1.0f}) + Obj(2, 2, {0, 0, 0}, {})), 0, 2},
        {"xml without records", "<KVXMLFile><View_0/></KVXMLFile>", QSectNoRecords, 0},
        {"counts far above their children", ObjectFile(emptyRecords), QSectUnreadable, 0},
        {"binary", AsText(good), 0, 2},
        {"binary in the other byte order", AsText(foreign), QSectUnreadable, 0},
        {"more records counted than held", AsText(overcounted), QSectUnreadable, 0},
        {"negative parameter count", AsText(negative), QSectUnreadable, 0},
        {"extension past the end", AsText(overlong), QSectUnreadable, 0},
        {"shorter than a header", "KVR", QSectUnreadable, 0},
        {"empty", "", QSectUnreadable, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PartRecordList records;
        EXPECT_EQ(LoadQSectFile(records, folder.WriteFile("objects.kvr", c.contents)), c.result);
        EXPECT_EQ(records.size(), c.records);
    }
    PartRecordList records;
    EXPECT_EQ(LoadQSectFile(records, ""), QSectUnreadable);
    EXPECT_EQ(LoadQSectFile(records, folder.Str() + "/missing.kvr"), QSectUnreadable);

    // Binary records are placed at 1 / 100 like the XML ones.
    ASSERT_EQ(LoadQSectFile(records, folder.WriteFile("good.bin", AsText(good))), 0);
    EXPECT_FLOAT_EQ(LoadF32LE(records[0].get() + PartRecordPositionOffset), 3.0f);
    EXPECT_FLOAT_EQ(PartRecordParam(records[0].get(), 0), 1.0f);
    EXPECT_EQ(PartRecordBytes(records[1].get()), 88u);
}

TEST(KVObjTexContainerList, AddContainerFromFileTakesTheFirstRecord) {
    TempFolder folder;
    const std::string path =
        folder.WriteFile("shape.kvr", ObjectFile(Obj(4, 21, {0, 0, 0}, {1.0f, 2.0f, 3.0f}) +
                                                 Obj(1, 22, {0, 0, 0}, {1.0f})));
    KVObjTexContainerList list;
    KVObjTexContainer* container = list.AddContainerFromFile(path);
    ASSERT_NE(container, nullptr);
    EXPECT_EQ(list.Count(), 1u);
    EXPECT_EQ(LoadI32LE(container->Record() + PartRecordPartIdOffset), 21);
    EXPECT_EQ(container->Texture(), nullptr);
    EXPECT_EQ(list.AddContainerFromFile(folder.Str() + "/missing.kvr"), nullptr);
    // The name table names no file, so the default container cannot be had.
    EXPECT_EQ(list.AddContainerFromFile(), nullptr);
    EXPECT_EQ(list.Count(), 1u);
}

}  // namespace
