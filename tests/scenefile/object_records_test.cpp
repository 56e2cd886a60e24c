#include "scenefile/object_records.h"

#include "core/byte_order.h"
#include "core/crt_random.h"
#include "core/xml_document.h"
#include "geometry/part_block.h"
#include "geometry/part_record.h"
#include "model/kv_obj_tex_container.h"
#include "model/q_document_base.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
#include "scene_test_encoder.h"
#include "scenefile/scene_file_reader.h"
#include "scenefile/scene_file_writer.h"
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

// Objects read by the scene reader from records of an independent encoder.
class WriteQSectTest : public testing::Test {
protected:
    void Load(const std::string& objects) {
        SceneText scene;
        scene.objects = objects;
        ASSERT_EQ(LoadSceneFile(document, folder.WriteFile("objects.kvr", scene.Text())),
                  SceneLoaded);
    }

    // The text of the "KVR" element WriteQSect writes at the top level of a new document.
    std::string Write(SceneSaveMode mode, const std::vector<std::int32_t>& textures = {},
                      const std::vector<std::int32_t>& groups = {}) {
        XmlDocument xml;
        WriteQSect(document, xml, textures, groups, mode, 100.0);
        EXPECT_EQ(xml.GetElementName(xml.CurrentPosition()), "KVR");
        return xml.Text();
    }

    TempFolder folder;
    QDocumentBase document;
};

TEST_F(WriteQSectTest, KeysFollowTheRecordInTheFormatsOrder) {
    const std::string qsect = "<QSect" + I("version", 2) + I("np", 3) + "><QSP" + A("xs", 1.5f) +
                              V("rot", 0.1f, 0.2f, 0.3f) + I("negate", 1) + "/><QSP" +
                              A("rsq", 4.0f) + "/><QSP" + V("trans", 1.0f, 2.0f, 3.0f) +
                              "/></QSect>";
    const std::string toadOp = "<ToadOp" + I("sc", -2) + I("c", 7) + A("fs", 0.5f) +
                               A("rt", -1.5f) + I("k", -5) + I("m", 9) + I("s", 11000) +
                               I("sp", 13) + I("co", 200) + I("mo", 3) + "/>";
    Load(Obj(1, 5, {150.0f, 0, 0}, {},
             I("c", -16776961) + I("f", 4) + I("tn", 2) + I("tc", 77) + A("ct", 0.25f) +
                 A("glv", 0.5f) + I("glc", 0x445566) + I("t", "&lt;Stage/&gt; &amp; &quot;x&quot;"),
             toadOp) +
         Obj(20, 6, {0, 0, 0}, {10.0f, 20.0f}, "", qsect));
    ASSERT_EQ(document.Objects()->Count(), 2);

    const std::string text = Write(SceneSaveMode::Everything, {-1, 0}, {0, 3});
    // No parameters and no extension: no "P", no "QSect", the seed point straight away.
    const std::string first =
        "<Obj o=\"1\" f=\"36\" g=\"5\" c=\"-16776961\" n=\"0\" e=\"0\"" + V("p", 150.0f, 0, 0) +
        V("r", 0, 0, 0) + " gi=\"0\"" + A("ct", 0.25f) + " tn=\"2\" tc=\"77\" an=\"0\"" +
        V("mo", 0, 0, 0) + A("glv", 0.5f) + " glc=\"4478310\" tb=\"-1\"" +
        " t=\"&lt;Stage/&gt; &amp; &quot;x&quot;\">\r\n<ToadOp sc=\"-2\" c=\"7\"" + A("fs", 0.5f) +
        A("fa", 0) + A("ft", 0) + A("rs", 0) + A("ra", 0) + A("rt", -1.5f) +
        " k=\"-5\" m=\"9\" s=\"11000\" sp=\"13\" co=\"200\" mo=\"3\"/>\r\n</Obj>";
    EXPECT_NE(text.find(first), std::string::npos) << text;
    EXPECT_NE(text.find("<KVR version=\"3\" numGroups=\"1\" flags=\"192\">"), std::string::npos);
    // The second object: its texture index, parameters at stored lengths and three parts.
    EXPECT_NE(text.find(" ti=\"0\" gi=\"3\""), std::string::npos);
    EXPECT_NE(text.find("<P>" + F(10.0f) + "</P>\r\n<P>" + F(20.0f) + "</P>"), std::string::npos);
    EXPECT_NE(text.find("<QSect version=\"2\" np=\"3\">"), std::string::npos);

    // Read back, the records are the ones the document holds, byte for byte.
    XmlDocument xml(text);
    PartRecordList records;
    ASSERT_EQ(ReadQSect(records, xml), QSectLoaded);
    ASSERT_EQ(records.size(), 2u);
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(i);
        const std::uint8_t* kept = document.Objects()->At(static_cast<std::int32_t>(i))->GetPartRecord();
        const std::uint8_t* read = records[i].get();
        ASSERT_EQ(PartRecordBytes(read), PartRecordBytes(kept));
        // The object-file reader draws ct and resets the glow: compare around them.
        EXPECT_EQ(std::vector<std::uint8_t>(read, read + 48),
                  std::vector<std::uint8_t>(kept, kept + 48));
        EXPECT_EQ(std::vector<std::uint8_t>(read + 52, read + 72),
                  std::vector<std::uint8_t>(kept + 52, kept + 72));
        EXPECT_EQ(std::vector<std::uint8_t>(read + 80, read + PartRecordBytes(read)),
                  std::vector<std::uint8_t>(kept + 80, kept + PartRecordBytes(kept)));
    }
}

TEST_F(WriteQSectTest, ModesDecideObjectsAndBots) {
    Load(Obj(1, 1, {0, 0, 0}, {1.0f}) + Obj(1, 2, {0, 0, 0}, {1.0f}));
    const std::string everything = Write(SceneSaveMode::Everything);
    // Without tables there is no "ti" and no "gi".
    EXPECT_EQ(everything.find(" ti="), std::string::npos);
    EXPECT_EQ(everything.find(" gi="), std::string::npos);
    EXPECT_NE(everything.find("<Obj "), std::string::npos);
    EXPECT_EQ(Write(SceneSaveMode::WithoutBots), everything);  // no object has a bot
    EXPECT_EQ(Write(SceneSaveMode::ViewOnly),
              "<KVR version=\"3\" numGroups=\"1\" flags=\"192\"/>\r\n");
}

// An extension too short for a section header is no section, and a part count above what the
// extension holds writes only the parts that are there.
TEST_F(WriteQSectTest, ExtensionsNeverLeadPastTheRecord) {
    Load(Obj(20, 1, {0, 0, 0}, {1.0f, 1.0f}, "",
             "<QSect" + I("np", 2) + "><QSP/><QSP/></QSect>"));
    std::uint8_t* record = document.Objects()->At(0)->GetPartRecord();
    std::uint8_t* section = record + PartRecordBaseBytes(record);
    StoreU32LE(section + 8, 1000);
    std::string text = Write(SceneSaveMode::Everything);
    EXPECT_NE(text.find("<QSect version=\"0\" np=\"2\">"), std::string::npos) << text;
    StoreU32LE(record + PartRecordExtensionBytesOffset, 12);
    text = Write(SceneSaveMode::Everything);
    EXPECT_NE(text.find(" e=\"12\""), std::string::npos);
    EXPECT_EQ(text.find("<QSect"), std::string::npos);
    StoreU32LE(record + PartRecordExtensionBytesOffset, 20 + 2 * 44);
}

}  // namespace
