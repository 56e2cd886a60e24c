#include "scenefile/scene_file_reader.h"

#include "core/byte_order.h"
#include "core/crt_random.h"
#include "core/private_heap.h"
#include "core/xml_document.h"
#include "geometry/part_block.h"
#include "geometry/part_record.h"
#include "model/q_document_base.h"
#include "model/q_group.h"
#include "model/q_groups.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
#include "model/q_texture_list.h"
#include "model/q_toad_obj.h"
#include "model/q_toad_obj_list.h"
#include "scene_test_encoder.h"
#include "scenefile/scene_settings.h"
#include "support/temp_folder.h"
#include "texture/q_texture.h"
#include "texture/texture_xml.h"
#include "view/q_render_view.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

namespace {

using namespace scene_test;

class SceneFileReaderTest : public testing::Test {
protected:
    void SetUp() override {
        SetCurrentDocument(&document);
        // The scene brings its own lights, as when the player opens a gizmo.
        view.viewSettings.lights.RemoveAll();
    }
    void TearDown() override { SetCurrentDocument(nullptr); }

    std::int16_t Load(const std::string& text) {
        return LoadFile(folder.WriteFile("scene.kvr", text));
    }
    std::int16_t LoadFile(const std::string& path) {
        return LoadSceneFile(document, path, &settings);
    }

    QMorvanObject& Object(std::int32_t index) {
        QMorvanObject* object = document.Objects()->At(index);
        EXPECT_NE(object, nullptr) << index;
        return *object;
    }
    const std::uint8_t* Record(std::int32_t index) { return Object(index).GetPartRecord(); }

    // What a failed read must leave alone.
    struct Snapshot {
        std::int32_t objects = 0;
        std::vector<std::string> groups;
        std::int32_t lights = 0;
        std::size_t textures = 0;
        std::size_t bots = 0;
        std::vector<std::uint8_t> block;
        std::array<double, 3> cameraPosition{};
        std::int32_t fogLayers = 0;
        bool operator==(const Snapshot&) const = default;
    };
    Snapshot Take() {
        Snapshot s;
        s.objects = document.Objects()->Count();
        for (std::int32_t i = 0; i < document.Groups()->Count(); ++i) {
            s.groups.push_back(document.Groups()->GetGroup(i)->GetName());
        }
        s.lights = view.viewSettings.lights.Count();
        s.textures = document.TextureList()->Textures().size();
        s.bots = document.BotList()->Bots().size();
        const std::uint8_t* block = document.PartBlock();
        s.block.assign(block, block + PartBlockHeaderBytes + document.Objects()->RecordBytes());
        const Vec3& camera = view.viewSettings.camera.position;
        s.cameraPosition = {camera.x, camera.y, camera.z};
        s.fogLayers = static_cast<std::int32_t>(view.viewSettings.fogLayers.layers.size());
        return s;
    }

    TempFolder folder;
    QDocumentBase document;
    QRenderView view{&document};
    SceneSettings settings;
};

// Every morph link has its partner the other way.
void ExpectLinksBothWays(const std::vector<QToadObj*>& bots) {
    for (const QToadObj* b : bots) {
        if (b->morphNext != nullptr) {
            EXPECT_EQ(b->morphNext->morphPrev, b);
        }
        if (b->morphPrev != nullptr) {
            EXPECT_EQ(b->morphPrev->morphNext, b);
        }
    }
}

// The stored length v read back as a working length at the scale 100.
double Working(float v) { return static_cast<double>(v) / 100.0; }

TEST_F(SceneFileReaderTest, ValuesOfAnIndependentEncoderReadBack) {
    SceneText scene;
    scene.viewElements =
        "<Camera" + V("p", 100.5f, -200.25f, 300.0f) + V("r", 0, 0, 0) +
        V("t", 10.0f, 20.0f, 30.0f) + V("o", 0, 0, 0) + A("fov", 0.75f) + "/>\r\n" +
        "<Fog" + I("on", 1) + A("n", 600.0f) + A("f", 1400.0f) + I("st", 1) + I("type", 1) +
        I("c", 0x102030) + I("vf", 1) + "><VolF" + I("on", 1) + A("h", 50.0f) + A("g", 2.0f) +
        A("a", 0.5f) + A("o", 3.0f) + A("r", 200.0f) + "/></Fog>\r\n" +
        "<Sky><Grad" + I("on", 1) + A("a", 0.3f) + I("hc", 0xFF0000) + I("pc", 0x00FF00) +
        "/><Stars" + I("on", 1) + I("n", 500) + I("sd", 7) + A("sz", 2.5f) + A("c", 0.25f) +
        "/></Sky>\r\n" + "<Filter" + I("t", 2) + I("a", 70) + "/>\r\n" + "<InlineFilters" +
        I("on", 1) + A("b", 0.1f) + A("s", 1.1f) + A("c", 1.2f) + A("h", 0.4f) + "/>\r\n" +
        "<Shadows" + I("on", 0) + I("rm", 2) + I("cm", 1) + I("auto", 1) + A("cast", 500.0f) +
        A("rs", 2.0f) + A("sd", 0.5f) + V("cp", 1.0f, 2.0f, 3.0f) + "/>\r\n" + "<Display" +
        I("sample", 3) + I("hilite", 1) + I("col", 0x0000FF) + I("dz", 2) + A("sm", 0.125f) +
        I("gl", 5) + "><AALine" + I("v", 2) + A("ow", 1.5f) + I("lc", 0x010203) +
        "/></Display>\r\n";
    const std::vector<float> params{12.5f, -0.375f, 1e-7f};
    scene.objects = Obj(3, 77, {150.0f, -250.0f, 50.0f}, params,
                        I("c", "4294967295") + I("tc", 123) + I("tn", 2) + A("ct", 0.625f) +
                            A("glv", 0.5f) + I("glc", 0x445566) + I("t", "&lt;Stage/&gt;"));
    scene.lights = "<Lights" + I("sel", 1) + I("amb", 0x202020) + ">" + "<L" + I("on", 1) +
                   I("lc", 1) + V("p", 100.0f, 500.0f, 300.0f) + A("i", 0.6f) +
                   I("col", 0xFFFFFF) + A("si", 0.25f) + V("sb", 0.25f, -0.25f, -0.25f) +
                   "><FO" + I("on", 1) + A("n", 1000.0f) + A("s", 0.5f) + A("t", 2.0f) +
                   "/></L>" + "<L" + I("on", 0) + V("p", -100.0f, -500.0f, 0.0f) + A("i", 0.5f) +
                   "/></Lights>\r\n";
    scene.rootElements = "<Output" + I("x", 640) + I("y", 480) + "><CropRect" + I("on", 1) +
                         A("ct", 0.1f) + A("cl", 0.2f) + A("cw", 0.5f) + A("ch", 0.25f) +
                         "/></Output>\r\n<Textures/>\r\n<Toads/>\r\n";

    ASSERT_EQ(Load(scene.Text()), SceneLoaded);
    EXPECT_EQ(document.fileVersion, 210);
    EXPECT_EQ(settings.scale, 100.0);

    const QCamera& camera = view.viewSettings.camera;
    EXPECT_EQ(camera.position.x, Working(100.5f));
    EXPECT_EQ(camera.position.y, Working(-200.25f));
    EXPECT_EQ(camera.transform.m[3], 0.1);
    EXPECT_EQ(camera.transform.m[7], 0.2);
    EXPECT_EQ(camera.transform.m[11], 0.3);
    EXPECT_EQ(camera.fov, 0.75);

    EXPECT_TRUE(settings.fogOn);
    EXPECT_EQ(settings.fogNear, 6.0);
    EXPECT_EQ(settings.fogFar, 14.0);
    EXPECT_TRUE(settings.fogSt && settings.fogTypeFlag && settings.volumeFog);
    EXPECT_EQ(ColourToRgb24(settings.fogColour), 0x102030u);  // the fog keeps its own colour
    ASSERT_EQ(view.viewSettings.fogLayers.layers.size(), 1u);
    const FogLayer& layer = view.viewSettings.fogLayers.layers[0];
    EXPECT_EQ(layer.flag, 1);
    EXPECT_EQ(layer.values[0], 0.5);
    EXPECT_EQ(layer.values[1], 2.0);
    EXPECT_EQ(layer.values[2], 0.5);
    EXPECT_EQ(layer.values[3], 3.0);
    EXPECT_EQ(layer.values[4], 2.0);

    EXPECT_TRUE(settings.gradientOn);
    EXPECT_EQ(settings.gradientA, 0.3f);
    EXPECT_EQ(ColourToRgb24(settings.gradientHc), 0xFF0000u);
    EXPECT_EQ(settings.starCount, 500);
    EXPECT_EQ(settings.starSeed, 7);
    EXPECT_EQ(settings.starSpread, 0.25f);
    // The view draws its stars from the same settings.
    EXPECT_EQ(view.viewSettings.stars, (StarSettings{true, 500, 7, 2.5f, 0.25f}));
    EXPECT_EQ(settings.filterType, 2);
    EXPECT_EQ(settings.filterAmount, 70);
    EXPECT_EQ(settings.inlineB, 0.1f);
    EXPECT_EQ(settings.inlineH, 0.4f);
    EXPECT_EQ(settings.shadowsOn, 0);
    EXPECT_EQ(view.viewSettings.shadowsOn, 0);  // the view draws no shadows
    EXPECT_EQ(settings.shadowAutoMode, 2);
    EXPECT_EQ(settings.shadowCastRadius, 5.0);
    EXPECT_EQ(settings.shadowRadiusScale, 2.0f);
    EXPECT_EQ(settings.shadowDensity, 0.5f);
    EXPECT_EQ(settings.shadowPoint.z, 3.0);
    EXPECT_EQ(settings.sample, 3);
    EXPECT_EQ(settings.depthBufferCount, 2);
    EXPECT_EQ(settings.displaySm, 0.125f);
    // GL word 5: bit 0 set clears the first switch, bit 2 sets the sustained fast render.
    EXPECT_FALSE(settings.glFirstSwitch);
    EXPECT_FALSE(settings.glSecondSwitch);
    EXPECT_TRUE(settings.sustainedFastRender);
    EXPECT_EQ(settings.lineV, 2);
    EXPECT_EQ(settings.lineOw, 1.5f);
    EXPECT_EQ(ColourToRgb24(settings.lineLc), 0x010203u);
    // The view draws with them: the line style, the line widths and colours, two samples a
    // pixel, and the gradient's colours where the renderer takes them.
    EXPECT_EQ(view.drawState.lineStyle, 2);
    EXPECT_FALSE(view.drawState.isWireframe);
    EXPECT_EQ(view.SamplesPerPixel(), 2);
    EXPECT_EQ(view.viewSettings.viewScale1, 1.5f);
    EXPECT_EQ(ColourToRgb24(view.viewSettings.colours[4]), 0x010203u);
    EXPECT_EQ(ColourToRgb24(view.viewSettings.colours[6]), 0xFF0000u);
    EXPECT_EQ(ColourToRgb24(view.viewSettings.colours[7]), 0x00FF00u);

    ASSERT_EQ(view.viewSettings.lights.Count(), 2);
    const QLight& first = *view.viewSettings.lights.At(0);
    EXPECT_TRUE(first.isOn);
    EXPECT_TRUE(first.isAtObject);
    EXPECT_EQ(first.position.y, 5.0);
    EXPECT_EQ(first.brightness, static_cast<double>(0.6f));
    EXPECT_EQ(first.shadowFactor, 0.25);
    EXPECT_EQ(first.shadowBlendWeights[1], -0.25);
    EXPECT_TRUE(first.flag0);
    EXPECT_EQ(first.localValue1, 10.0);
    EXPECT_EQ(first.localValue3, 2.0);
    const QLight& second = *view.viewSettings.lights.At(1);
    // Without "si" the shadow is 0 with the triple (0, -0, -0).
    EXPECT_EQ(second.shadowFactor, 0.0);
    EXPECT_TRUE(std::signbit(second.shadowBlendWeights[2]));
    EXPECT_EQ(view.selectedLight, 1);
    EXPECT_EQ(ColourToRgb24(settings.ambient), 0x202020u);

    EXPECT_EQ(settings.outputWidth, 640);
    EXPECT_TRUE(settings.cropOn);
    EXPECT_EQ(settings.cropWidth, 0.5);

    ASSERT_EQ(document.Objects()->Count(), 1);
    const std::uint8_t* r = Record(0);
    EXPECT_EQ(LoadI32LE(r + PartRecordShapeTypeOffset), 3);
    EXPECT_EQ(LoadI32LE(r + PartRecordPartIdOffset), 77);
    EXPECT_EQ(LoadU32LE(r + PartRecordColourOffset), 0xFFFFFFFFu);
    EXPECT_EQ(LoadU32LE(r + PartRecordDerivedColourOffset), 123u);
    EXPECT_EQ(r[PartRecordTintOffset], 2);
    EXPECT_EQ(LoadU32LE(r + PartRecordGlowColourOffset), 0x445566u);
    EXPECT_EQ(LoadF32LE(r + PartRecordGlowIntensityOffset), 0.5f);
    EXPECT_EQ(LoadF32LE(r + PartRecordFractionOffset), 0.625f);
    EXPECT_EQ(LoadU32LE(r + PartRecordTextureRefOffset), 0u);
    EXPECT_EQ(PartRecordPosition(r).x, static_cast<double>(static_cast<float>(Working(150.0f))));
    EXPECT_EQ(PartRecordParamCount(r), 3);
    EXPECT_EQ(Object(0).name, "<Stage/>");
}

TEST_F(SceneFileReaderTest, VersionIsReadAsHundredthsRoundedHalfAway) {
    struct Case {
        const char* attribute;  // null: no version attribute
        std::int16_t result;
        std::int32_t version;
    };
    const Case cases[] = {
        {"2.1", SceneLoaded, 210},      {"2.10", SceneLoaded, 210},
        {"2.15", SceneNewerVersion, 215}, {nullptr, SceneLoaded, 0},
        {"2.104", SceneLoaded, 210},    {"2.105", SceneNewerVersion, 211},
        {" +1.5xyz", SceneLoaded, 150}, {"-2.1", SceneLoaded, -210},
        {"banana", SceneLoaded, 0},     {"1e300", SceneNewerVersion, INT32_MIN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.attribute != nullptr ? c.attribute : "(none)");
        QDocumentBase fresh;
        QRenderView freshView(&fresh);
        SceneText scene;
        scene.rootAttributes = c.attribute != nullptr ? I("version", c.attribute) : "";
        scene.objects = Obj(1, 1, {0, 0, 0}, {1.0f});
        const std::string path = folder.WriteFile("version.kvr", scene.Text());
        EXPECT_EQ(LoadSceneFile(fresh, path), c.result);
        EXPECT_EQ(fresh.fileVersion, c.version);
        EXPECT_EQ(fresh.Objects()->Count(), c.result == SceneLoaded ? 1 : 0);
    }
}

TEST_F(SceneFileReaderTest, ZeroOrMissingSettingsTakeTheirDefaults) {
    SceneText scene;
    scene.viewElements = "<Fog" + I("on", 1) + "/>\r\n<Shadows" + I("on", 1) + A("cast", 0.0f) +
                         A("rs", 0.0f) + A("sd", 0.0f) + "/>\r\n<Display" + I("dz", 0) +
                         I("col", 0x336699) + "/>\r\n";
    scene.objects = Obj(1, 1, {0, 0, 0}, {1.0f});
    ASSERT_EQ(Load(scene.Text()), SceneLoaded);
    EXPECT_EQ(settings.shadowCastRadius, 1000.0 / 100.0);
    EXPECT_EQ(settings.shadowRadiusScale, 1.0f);
    EXPECT_EQ(settings.shadowDensity, 1.25f);
    EXPECT_EQ(settings.depthBufferCount, 1);
    // A fog whose type flag is clear takes the display colour.
    EXPECT_EQ(ColourToRgb24(settings.fogColour), 0x336699u);
    // A fog without layers gets the two default layers, the first flagged.
    const auto& layers = view.viewSettings.fogLayers.layers;
    ASSERT_EQ(layers.size(), 2u);
    EXPECT_EQ(layers[0].flag, 1);
    EXPECT_EQ(layers[1].flag, 0);
    EXPECT_EQ(layers[0].values, FogLayer{}.values);
    // Filter absent: type 0 and amount 50.
    EXPECT_EQ(settings.filterType, 0);
    EXPECT_EQ(settings.filterAmount, 50);

    // Without the elements the new document's values stay.
    QDocumentBase plain;
    QRenderView plainView(&plain);
    SceneSettings plainSettings;
    SceneText bare;
    bare.objects = Obj(1, 1, {0, 0, 0}, {1.0f});
    ASSERT_EQ(LoadSceneFile(plain, folder.WriteFile("bare.kvr", bare.Text()), &plainSettings),
              SceneLoaded);
    EXPECT_EQ(plainSettings.shadowsOn, 1);
    EXPECT_EQ(plainView.viewSettings.shadowsOn, 1);
    EXPECT_EQ(plainSettings.shadowDensity, 1.25f);
    EXPECT_EQ(plainSettings.depthBufferCount, 1);
    EXPECT_EQ(plainSettings.scale, 100.0);
}

TEST_F(SceneFileReaderTest, MissingObjectValuesDrawFromTheRuntimeGenerator) {
    SceneText scene;
    scene.objects = Obj(1, 1, {0, 0, 0}, {1.0f}) + Obj(1, 2, {0, 0, 0}, {1.0f}, A("ct", 0.5f)) +
                    Obj(1, 3, {0, 0, 0}, {1.0f});
    CrtSrand(1);
    ASSERT_EQ(Load(scene.Text()), SceneLoaded);
    EXPECT_EQ(LoadF32LE(Record(0) + PartRecordFractionOffset), static_cast<float>(41 / 32767.0));
    EXPECT_EQ(LoadF32LE(Record(1) + PartRecordFractionOffset), 0.5f);
    // The object with its own value draws nothing: the third takes the second value.
    EXPECT_EQ(LoadF32LE(Record(2) + PartRecordFractionOffset),
              static_cast<float>(18467 / 32767.0));
    EXPECT_EQ(LoadF32LE(Record(0) + PartRecordGlowIntensityOffset), 1.0f);
    EXPECT_EQ(LoadU32LE(Record(0) + PartRecordGlowColourOffset), 0xFFFFFFu);
    EXPECT_EQ(Object(0).Texture(), nullptr);
    EXPECT_EQ(Object(0).OwnerBot(), nullptr);
    EXPECT_EQ(Object(0).Group(), document.Groups()->GetGroup(0));
    // A seed point made from the record: its position, variant 11 of shape code 13 at 11000.
    EXPECT_EQ(LoadU16LE(Object(0).seedPoint.data() + 14), 11);
    EXPECT_EQ(LoadU16LE(Object(0).seedPoint.data() + 48), 11000);
    EXPECT_EQ(LoadU16LE(Object(0).seedPoint.data() + 50), 13);
}

TEST_F(SceneFileReaderTest, PartBlockHeaderDecidesVersionAndUnits) {
    {
        SCOPED_TRACE("no version");
        SceneText scene;
        scene.kvrAttributes = I("numGroups", 1) + I("flags", 192);
        scene.objects = Obj(1, 1, {0, 0, 0}, {1.0f});
        const Snapshot before = Take();
        EXPECT_EQ(Load(scene.Text()), SceneUnreadable);
        EXPECT_EQ(Take(), before);
    }
    {
        SCOPED_TRACE("legacy units and axes");
        SceneText scene;
        scene.kvrAttributes = I("version", 3) + I("numGroups", 4);
        scene.objects = Obj(1, 1, {100.0f, 200.0f, 300.0f}, {10.0f});
        ASSERT_EQ(Load(scene.Text()), SceneLoaded);
        const std::uint8_t* r = Record(0);
        // A block without flags is in units a twentieth of ours with y and z turned over.
        EXPECT_FLOAT_EQ(LoadF32LE(r + PartRecordPositionOffset), 20.0f);
        EXPECT_FLOAT_EQ(LoadF32LE(r + PartRecordPositionOffset + 4), -40.0f);
        EXPECT_FLOAT_EQ(LoadF32LE(r + PartRecordPositionOffset + 8), -60.0f);
        EXPECT_FLOAT_EQ(PartRecordParam(r, 0), 2.0f);
        EXPECT_EQ(document.PartBlock()[PartBlockFlagsOffset],
                  PartBlockFlagScaled | PartBlockFlagOriented);
        EXPECT_EQ(LoadU32LE(document.PartBlock() + PartBlockIdSpanOffset), 4u);
    }
}

TEST_F(SceneFileReaderTest, GroupIndicesFollowTheWritersList) {
    SceneText scene;
    scene.viewElements = "<Groups><Group name=\"[Default]\" parms=\"&lt;Game/&gt;\"/>"
                         "<Group name=\"beta\" parms=\"b\"/><Group name=\"Alpha\" parms=\"a\"/>"
                         "<Group name=\"BETA\" parms=\"c\"/></Groups>\r\n";
    scene.objects = Obj(1, 1, {0, 0, 0}, {1.0f}, I("gi", 1)) +
                    Obj(1, 2, {0, 0, 0}, {1.0f}, I("gi", 2)) +
                    Obj(1, 3, {0, 0, 0}, {1.0f}, I("gi", 0)) +
                    Obj(1, 4, {0, 0, 0}, {1.0f}, I("gi", 9)) +
                    Obj(1, 5, {0, 0, 0}, {1.0f}, I("gi", -2)) +
                    Obj(1, 6, {0, 0, 0}, {1.0f}, I("gi", 3));
    ASSERT_EQ(Load(scene.Text()), SceneLoaded);
    const QGroups& groups = *document.Groups();
    ASSERT_EQ(groups.Count(), 4);  // the writer's default group is the document's own
    EXPECT_EQ(groups.GetGroup(0)->GetName(), DefaultGroupName);
    EXPECT_EQ(groups.GetGroup(0)->GetParms(), "<Game/>");
    EXPECT_EQ(groups.GetGroup(1)->GetName(), "Alpha");
    EXPECT_EQ(Object(0).Group()->GetParms(), "b");
    EXPECT_EQ(Object(1).Group()->GetName(), "Alpha");
    EXPECT_EQ(Object(2).Group(), groups.GetGroup(0));
    EXPECT_EQ(Object(3).Group(), groups.GetGroup(0));
    EXPECT_EQ(Object(4).Group(), groups.GetGroup(0));
    // Names equal but for case get a unique name.
    EXPECT_EQ(Object(5).Group()->GetParms(), "c");
    EXPECT_EQ(Object(0).Group()->GetName(), "beta");
    EXPECT_EQ(Object(5).Group()->GetName(), "BETA-0001");
}

TEST_F(SceneFileReaderTest, SectionsAndExtensionsKeepRecordsWhereTheySay) {
    SceneText scene;
    const std::string qsect = "<QSect" + I("version", 2) + I("np", 2) + "><QSP" + A("xs", 1.5f) +
                              A("rsq", 4.0f) + V("rot", 0.1f, 0.2f, 0.3f) +
                              V("trans", 1.0f, 2.0f, 3.0f) + I("negate", 1) + "/><QSP" +
                              A("ys", 2.5f) + "/></QSect>";
    // "e" claims an extension the element does not carry: it is not trusted.
    scene.objects = Obj(1, 1, {0, 0, 0}, {1.0f}, I("e", 64)) +
                    Obj(20, 2, {0, 0, 0}, {3.0f, 4.0f}, "", qsect) +
                    Obj(1, 3, {0, 0, 0}, {5.0f});
    ASSERT_EQ(Load(scene.Text()), SceneLoaded);
    ASSERT_EQ(document.Objects()->Count(), 3);
    EXPECT_EQ(LoadU32LE(Record(0) + PartRecordExtensionBytesOffset), 0u);
    const std::uint8_t* r = Record(1);
    EXPECT_EQ(LoadU32LE(r + PartRecordExtensionBytesOffset), 20u + 2 * 44u);
    const std::uint8_t* section = r + PartRecordBaseBytes(r);
    EXPECT_EQ(LoadU16LE(section), 2);
    EXPECT_EQ(LoadU16LE(section + 2), 0xFFFF);
    EXPECT_EQ(LoadU32LE(section + 4), 108u);
    EXPECT_EQ(LoadU32LE(section + 8), 2u);
    EXPECT_EQ(LoadF32LE(section + 20 + 12), 4.0f);
    EXPECT_EQ(LoadF32LE(section + 20 + 28 + 8), 3.0f);
    EXPECT_EQ(section[20 + 40], 1);
    EXPECT_EQ(LoadF32LE(section + 20 + 44 + 4), 2.5f);
    EXPECT_FLOAT_EQ(PartRecordParam(Record(2), 0), 0.05f);
}

TEST_F(SceneFileReaderTest, HostileFilesLeaveTheDocumentAsItWas) {
    SceneText good;
    good.viewElements = "<Groups><Group name=\"[Default]\"/><Group name=\"Kept\"/></Groups>";
    good.objects = Obj(1, 1, {0, 0, 0}, {1.0f}, I("gi", 1)) + Obj(1, 2, {0, 0, 0}, {2.0f});
    good.lights = "<Lights><L" + I("on", 1) + V("p", 100.0f, 0, 0) + "/></Lights>";
    ASSERT_EQ(Load(good.Text()), SceneLoaded);
    const Snapshot before = Take();

    auto withObjects = [](const std::string& objects) {
        SceneText scene;
        scene.viewElements = "<Camera" + V("p", 9.0f, 9.0f, 9.0f) + "/><Fog/>" +
                             "<Groups><Group name=\"Lost\"/></Groups>";
        scene.objects = Obj(1, 7, {0, 0, 0}, {1.0f}) + objects;
        scene.lights = "<Lights><L" + I("on", 1) + "/></Lights>";
        return scene.Text();
    };
    std::string nested = "<a>";
    for (int i = 0; i < 2000; ++i) nested += "<a>";
    struct Case {
        const char* name;
        std::string text;
        std::int16_t result;
    };
    SceneText noKvr;
    noKvr.withKvr = false;
    SceneText newer;
    newer.rootAttributes = I("version", "3.0");
    newer.objects = Obj(1, 1, {0, 0, 0}, {1.0f});
    const std::string full = withObjects("");
    std::string emptyRecords;  // 100 x 16 KiB of parameters claimed by 1.5 KiB of text
    for (int i = 0; i < 100; ++i) emptyRecords += "<Obj n=\"4096\"/>";
    const Case cases[] = {
        {"negative parameter count", withObjects("<Obj n=\"-1\"/>"), SceneUnreadable},
        {"huge parameter count", withObjects("<Obj n=\"2147483647\"/>"), SceneUnreadable},
        {"parameter count past the limit", withObjects("<Obj n=\"4097\"/>"), SceneUnreadable},
        {"negative section count", withObjects("<Obj><QSect np=\"-5\"/></Obj>"),
         SceneUnreadable},
        {"huge section count", withObjects("<Obj><QSect np=\"1000000000\"/></Obj>"),
         SceneUnreadable},
        {"counts far above their children", withObjects(emptyRecords), SceneUnreadable},
        {"no object records", noKvr.Text(), SceneInvalid},
        {"newer version", newer.Text(), SceneNewerVersion},
        {"truncated", full.substr(0, full.size() / 2), SceneInvalid},
        {"unclosed nesting", full.substr(0, full.find("<KVR")) + nested, SceneInvalid},
        {"empty file", "", SceneUnreadable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Load(c.text), c.result);
        EXPECT_EQ(Take(), before);
    }
    EXPECT_EQ(LoadFile(folder.Str() + "/missing.kvr"), SceneUnreadable);
    EXPECT_EQ(Take(), before);
}

TEST_F(SceneFileReaderTest, FileScaleDividesTheLengthsItGives) {
    struct Case {
        const char* name;
        std::string attributes;
        double scale;
    };
    const Case cases[] = {
        {"50", A("View_0_Scale", 50.0f), 50.0},
        {"absent", "", 100.0},
        {"zero", A("View_0_Scale", 0.0f), 100.0},
        {"negative", A("View_0_Scale", -4.0f), 100.0},
        {"not a number", A("View_0_Scale", std::nanf("")), 100.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDocumentBase fresh;
        QRenderView freshView(&fresh);
        SceneSettings read;
        SceneText scene;
        scene.viewAttributes = c.attributes;
        scene.viewElements = "<Camera" + V("p", 100.0f, 0, 0) + "/><Fog" + A("n", 100.0f) +
                             "><VolF" + A("h", 100.0f) + "/></Fog>";
        scene.objects = Obj(1, 1, {100.0f, 0, 0}, {10.0f});
        ASSERT_EQ(LoadSceneFile(fresh, folder.WriteFile("scale.kvr", scene.Text()), &read),
                  SceneLoaded);
        EXPECT_EQ(read.scale, c.scale);
        EXPECT_EQ(freshView.viewSettings.camera.position.x, 100.0 / c.scale);
        EXPECT_EQ(read.fogNear, 100.0 / c.scale);
        EXPECT_EQ(freshView.viewSettings.fogLayers.layers[0].values[0], 100.0 / c.scale);
        const std::uint8_t* r = fresh.Objects()->At(0)->GetPartRecord();
        EXPECT_FLOAT_EQ(LoadF32LE(r + PartRecordPositionOffset), static_cast<float>(100.0 / c.scale));
        EXPECT_FLOAT_EQ(PartRecordParam(r, 0), static_cast<float>(10.0 / c.scale));
    }
}

TEST_F(SceneFileReaderTest, TexturesAndBotsBindByIndexWithinTheirLists) {
    std::string textureElement;
    {
        QDocumentBase source;
        auto owned = std::make_unique<QTexture>(&source);
        QTexture* texture = owned.get();
        texture->name = "Plain";
        source.TextureList()->AddTexture(std::move(owned));
        XmlDocument xml;
        ASSERT_EQ(WriteTextureXml(*texture, xml, false), 0);
        textureElement = xml.Text();
    }
    SceneText scene;
    scene.objects = Obj(1, 1, {0, 0, 0}, {1.0f}, I("ti", 0) + I("tb", 1)) +
                    Obj(1, 2, {0, 0, 0}, {1.0f}, I("ti", 5) + I("tb", 7)) +
                    Obj(1, 3, {0, 0, 0}, {1.0f}, I("ti", -1) + I("tb", -1));
    const std::string bot = "<Toad version=\"1.0\"><name>Spinner</name><firstMorph>1</firstMorph>"
                            "<Morph m=\"2\" i=\"6\"><T" + A("s", 2500.0f) + "/></Morph>"
                            "<kvfScale>" + F(1.0f) + "</kvfScale></Toad>";
    // Four "Morph" elements for three bots; the links form a cycle and name missing bots.
    scene.rootElements = "<Output/><Textures>" + textureElement + "</Textures><Toads>" + bot +
                         bot + bot + "<Morph next=\"1\" sm=\"1\"/><Morph prev=\"0\" next=\"0\"/>"
                         "<Morph prev=\"9\" next=\"-4\"/><Morph prev=\"0\"/></Toads>";
    ASSERT_EQ(Load(scene.Text()), SceneLoaded);
    ASSERT_EQ(document.TextureList()->Textures().size(), 1u);
    EXPECT_EQ(Object(0).Texture(), document.TextureList()->Textures()[0]);
    EXPECT_EQ(Object(1).Texture(), nullptr);
    EXPECT_EQ(Object(2).Texture(), nullptr);

    const std::vector<QToadObj*>& bots = document.BotList()->Bots();
    ASSERT_EQ(bots.size(), 3u);
    // Names are made unique; each bot keeps its whole element.
    EXPECT_EQ(bots[0]->GetName(), "Spinner");
    EXPECT_NE(bots[1]->GetName(), "Spinner");
    for (const QToadObj* b : bots) {
        EXPECT_EQ(b->storedElement, bot);
        EXPECT_EQ(b->morphMode, 2);
        EXPECT_EQ(b->morphSteps, 6);
        EXPECT_EQ(b->morphHead, 1);
    }
    ASSERT_NE(Object(0).OwnerBot(), nullptr);
    EXPECT_EQ(Object(1).OwnerBot(), nullptr);
    EXPECT_EQ(Object(2).OwnerBot(), nullptr);
    // The links become one chain, both ways; the link that would close the cycle is dropped.
    const QToadObj* second = document.SecondBot();
    ASSERT_NE(second, nullptr);
    ASSERT_NE(second->morphNext, nullptr);
    EXPECT_EQ(second->morphPrev, nullptr);
    EXPECT_EQ(second->morphNext->morphPrev, second);
    EXPECT_EQ(second->morphNext->morphNext, nullptr);
    ExpectLinksBothWays(bots);
}

TEST_F(SceneFileReaderTest, OneSidedMorphLinksCannotOutliveTheirBots) {
    SceneText scene;
    scene.objects = Obj(1, 1, {0, 0, 0}, {1.0f});
    // Bot 1 names 0 as its predecessor while 0 names 2 as its successor.
    scene.rootElements = "<Output/><Textures/><Toads><Toad/><Toad/><Toad/>"
                         "<Morph next=\"2\"/><Morph prev=\"0\"/><Morph prev=\"1\"/></Toads>";
    {
        QDocumentBase scratch;
        QRenderView scratchView(&scratch);
        ASSERT_EQ(LoadSceneFile(scratch, folder.WriteFile("links.kvr", scene.Text())),
                  SceneLoaded);
        ExpectLinksBothWays(scratch.BotList()->Bots());
        // Removing the bots one by one must leave no bot pointing at a removed one.
        while (!scratch.BotList()->Bots().empty()) delete scratch.BotList()->Bots().front();
    }
}

TEST_F(SceneFileReaderTest, NonXmlFileIsReadAsABinaryPartBlock) {
    std::vector<std::uint8_t> block(PartBlockHeaderBytes);
    PartBlockWriteHeader(block.data());
    for (std::int32_t id = 1; id <= 2; ++id) {
        std::vector<std::uint8_t> record(PartRecordFixedBytes + 4);
        StoreI32LE(record.data() + PartRecordShapeTypeOffset, 1);
        StoreI32LE(record.data() + PartRecordParamCountOffset, 1);
        StoreI32LE(record.data() + PartRecordPartIdOffset, id);
        StoreF32LE(record.data() + PartRecordParamsOffset, 0.5f);
        block.insert(block.end(), record.begin(), record.end());
    }
    StoreU32LE(block.data() + PartBlockPartCountOffset, 2);
    // A byte size of 0 stands for the rest of the file.
    StoreU32LE(block.data() + PartBlockRecordBytesOffset, 0);
    const std::string bytes(block.begin(), block.end());
    CrtSrand(1);
    ASSERT_EQ(Load(bytes), SceneLoaded);
    ASSERT_EQ(document.Objects()->Count(), 2);
    EXPECT_EQ(LoadF32LE(Record(0) + PartRecordFractionOffset), static_cast<float>(41 / 32767.0));
    EXPECT_EQ(PartRecordParam(Record(1), 0), 0.5f);
    // A scene without lights gets the default ones.
    EXPECT_EQ(view.viewSettings.lights.Count(), 2);

    const Snapshot before = Take();
    StoreU32LE(block.data() + PartBlockPartCountOffset, 3);
    EXPECT_EQ(Load(std::string(block.begin(), block.end())), SceneInvalid);
    EXPECT_EQ(Take(), before);
    EXPECT_EQ(Load(std::string(block.begin(), block.end() - 10)), SceneInvalid);
    EXPECT_EQ(Take(), before);
}

}  // namespace

namespace {

TEST(LoadSceneFile, PathsMayUseBackslashesAndDifferInCase) {
    TempFolder folder;
    scene_test::SceneText scene;
    scene.objects = scene_test::Obj(1, 1, {0, 0, 0}, {1.0f});
    folder.WriteFile("Gizmos/Flipper.KVP", scene.Text());
    std::vector<std::uint8_t> block(PartBlockHeaderBytes);
    PartBlockWriteHeader(block.data());
    folder.WriteFile("Shapes/Empty.BIN", std::string(block.begin(), block.end()));
    QDocumentBase document;
    EXPECT_EQ(LoadSceneFile(document, folder.Str() + "\\gizmos\\flipper.kvp"), SceneLoaded);
    EXPECT_EQ(document.Objects()->Count(), 1);
    QDocumentBase binary;
    EXPECT_EQ(LoadSceneFile(binary, folder.Str() + "\\shapes\\empty.bin"), SceneLoaded);
    EXPECT_EQ(binary.Objects()->Count(), 0);
}

}  // namespace

namespace {

// Out of memory while the file is read aside passes to the caller with the document as it
// was; while the part block and its geometry are built it gives 4 and no objects.
TEST(LoadSceneFile, OutOfMemoryPassesOrGivesItsCode) {
    TempFolder folder;
    scene_test::SceneText scene;
    const std::vector<float> params(200, 1.0f);
    for (int i = 0; i < 50; ++i) scene.objects += scene_test::Obj(1, i + 1, {0, 0, 0}, params);
    const std::string path = folder.WriteFile("big.kvr", scene.Text());
    constexpr std::size_t RecordBytes = 50 * (80 + 4 * 200);
    struct Case {
        const char* name;
        std::size_t room;
        bool throws;
    };
    const Case cases[] = {
        {"records read aside", RecordBytes / 2, true},
        {"part block", RecordBytes + RecordBytes / 4, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDocumentBase document;
        QRenderView view(&document);
        const std::int32_t groups = document.Groups()->Count();
        PrivateHeapSetCeiling(PrivateHeapBytesInUse() + c.room);
        if (c.throws) {
            EXPECT_THROW(LoadSceneFile(document, path), KVOutOfMemoryException);
        } else {
            EXPECT_EQ(LoadSceneFile(document, path), SceneOutOfMemory);
        }
        PrivateHeapSetCeiling(0);
        EXPECT_EQ(document.Objects()->Count(), 0);
        EXPECT_EQ(document.Groups()->Count(), groups);
        EXPECT_EQ(document.Objects()->RecordBytes(), 0u);
    }
}

}  // namespace
