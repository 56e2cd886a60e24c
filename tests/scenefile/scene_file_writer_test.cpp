#include "scenefile/scene_file_writer.h"

#include "core/base64.h"
#include "core/byte_order.h"
#include "core/colour.h"
#include "core/private_heap.h"
#include "core/xml_document.h"
#include "geometry/part_record.h"
#include "imaging/image_file.h"
#include "imaging/image_mem_stream.h"
#include "model/q_document_base.h"
#include "model/q_group.h"
#include "model/q_groups.h"
#include "model/q_light.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
#include "model/q_texture_list.h"
#include "model/q_toad_obj.h"
#include "model/q_toad_obj_list.h"
#include "platform/file_system.h"
#include "scene_test_encoder.h"
#include "scenefile/loaded_scene.h"
#include "scenefile/scene_dump.h"
#include "scenefile/scene_file_reader.h"
#include "scenefile/scene_names.h"
#include "scenefile/scene_settings.h"
#include "support/temp_folder.h"
#include "texture/q_texture.h"
#include "texture/texture_xml.h"
#include "texture/texture_test_support.h"
#include "view/q_render_view.h"
#include "xmllint_check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace scene_test;

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Dump(const LoadedScene& scene) {
    return SceneDumpJson(scene.document, scene.settings, scene.result);
}

// The number of children named `name` of the first element named `parent` anywhere below the
// root (searched breadth first one level at a time), or of the root itself.
int CountChildren(const std::string& text, const std::string& parent, const std::string& name) {
    XmlDocument xml(text);
    std::vector<std::int32_t> level{xml.Element(0)->firstChild};
    std::int32_t found = 0;
    while (found == 0 && !level.empty()) {
        std::vector<std::int32_t> next;
        for (std::int32_t e : level) {
            if (xml.GetElementName(e) == parent) {
                found = e;
                break;
            }
            for (std::int32_t c = xml.Element(e)->firstChild; c != 0; c = xml.Element(c)->nextSibling) {
                next.push_back(c);
            }
        }
        level = std::move(next);
    }
    if (found == 0) return -1;
    int count = 0;
    for (std::int32_t c = xml.Element(found)->firstChild; c != 0; c = xml.Element(c)->nextSibling) {
        if (xml.GetElementName(c) == name) ++count;
    }
    return count;
}

// A "KV_TEXTURE" element of a texture with a small image, made in a document of its own.
std::string TextureElementText() {
    QDocumentBase source;
    QTexture* texture = AddNewTexture(source);
    texture->name = "Bark & <moss>";
    texture->type = 1;
    const auto pixels = PatternPixels(8, 6);
    auto* image = new QTextureImage();
    std::string errorText;
    EXPECT_EQ(ImportTextureImage(*texture, pixels.data(), image, false, true, true, errorText, 8,
                                 6, false),
              TextureImportOk);
    XmlDocument xml;
    EXPECT_EQ(WriteTextureXml(*texture, xml, false), 0);
    return xml.Text();
}

// A scene of an independent encoder with every value away from its default, at scale 50.
std::string RichScene() {
    SceneText scene;
    scene.viewAttributes = A("View_0_Scale", 50.0f);
    scene.viewElements =
        "<Camera" + V("p", 100.5f, -200.25f, 300.0f) + V("r", 0.1f, 0.7f, -0.2f) +
        V("t", 10.0f, 20.0f, 30.0f) + V("o", 0.0f, 0.0001f, 0.0f) + A("fov", 0.75f) + "/>\r\n" +
        "<Camera_Stack><Camera" + V("p", 1.0f, 2.0f, 3.0f) + A("fov", 0.5f) +
        " l=\"Front\"/></Camera_Stack>\r\n" +
        "<Fog" + I("on", 1) + A("n", 600.0f) + A("f", 1400.0f) + I("st", 1) + I("type", 1) +
        I("c", 0x102030) + I("vf", 1) + "><VolF" + I("on", 1) + A("h", 50.0f) + A("g", 2.0f) +
        A("a", 0.5f) + A("o", 3.0f) + A("r", 200.0f) + "/><VolF" + A("h", 5.0f) + "/></Fog>\r\n" +
        "<Sky><Grad" + I("on", 1) + A("a", 0.3f) + I("hc", 0xFF0000) + I("pc", 0x00FF00) +
        "/><Stars" + I("on", 1) + I("n", 500) + I("sd", 7) + A("sz", 2.5f) + A("c", 0.25f) +
        "/></Sky>\r\n" + "<Filter" + I("t", 2) + I("a", 70) + "/>\r\n" + "<InlineFilters" +
        I("on", 1) + A("b", 0.1f) + A("s", 1.1f) + A("c", 1.2f) + A("h", 0.4f) + "/>\r\n" +
        "<Shadows" + I("on", 0) + I("rm", 2) + I("cm", 1) + I("auto", 1) + A("cast", 500.0f) +
        A("rs", 2.0f) + A("sd", 0.5f) + V("cp", 1.0f, 2.0f, 3.0f) + "/>\r\n" + "<Display" +
        I("sample", 3) + I("hilite", 1) + I("col", 0x0000FF) + I("sk", 1) + I("wr", 1) +
        I("dz", 2) + A("sm", 0.125f) + I("do", 1) + I("gl", 13) + I("pd", 4) + I("ler", 1) +
        "><AALine" + I("v", 2) + A("ow", 1.5f) + A("lw", 2.5f) + I("oc", 0x0A0B0C) +
        I("lc", 0x010203) + I("lfc", 0x040506) + "/></Display>\r\n" +
        "<Groups><Group name=\"[Default]\" parms=\"&lt;Game/&gt;\"/>"
        "<Group name=\"Flip\" parms=\"&lt;Flip id=&quot;1&quot; state=&quot;0&quot;/&gt;\"/>"
        "<Group name=\"alpha\" parms=\"a &amp; b\"/></Groups>\r\n";
    const std::string qsect = "<QSect" + I("version", 1) + I("np", 2) + "><QSP" + A("xs", 1.5f) +
                              A("rsq", 4.0f) + V("rot", 0.1f, 0.2f, 0.3f) +
                              V("trans", 1.0f, 2.0f, 3.0f) + I("negate", 1) + "/><QSP" +
                              A("ys", 2.5f) + "/></QSect>";
    const std::string toadOp = "<ToadOp" + I("sc", 3) + I("c", 7) + A("fs", 0.5f) + I("k", -5) +
                               I("m", 9) + I("s", 100) + I("sp", 13) + I("co", 200) +
                               I("mo", 3) + "/>";
    scene.objects =
        Obj(1, 1, {150.0f, -250.0f, 50.0f}, {12.5f},
            I("c", "4294967295") + I("tc", 123) + I("tn", 2) + A("ct", 0.625f) + A("glv", 0.5f) +
                I("glc", 0x445566) + I("gi", 1) + I("ti", 0) + I("tb", 1) +
                I("t", "&lt;Stage/&gt; &amp; &quot;it&quot;"),
            toadOp) +
        Obj(20, 2, {0.1f, 0.2f, 0.3f}, {10.0f, 10.0f}, I("gi", 2) + A("ct", 0.5f) + I("tb", 0),
            qsect) +
        Obj(2, 3, {1.0f, 2.0f, 3.0f}, {20.0f, 40.0f}, V("r", 0.0f, 1.5f, 0.0f) + A("ct", 0.25f));
    scene.lights = "<Lights" + I("sel", 1) + I("amb", 0x202020) + ">" + "<L" + I("on", 1) +
                   I("lc", 1) + V("p", 100.0f, 500.0f, 300.0f) + A("i", 0.6f) +
                   I("col", 0xFFFFFF) + A("si", 0.25f) + V("sb", 0.25f, -0.25f, -0.25f) +
                   "><FO" + I("on", 1) + A("n", 1000.0f) + A("s", 0.5f) + A("t", 2.0f) +
                   "/></L>" + "<L" + I("on", 0) + V("p", -100.0f, -500.0f, 0.0f) + A("i", 0.5f) +
                   "/></Lights>\r\n";
    const std::string bot = "<Toad version=\"1.0\"><name>Spinner</name><fileName>s.kvtd</fileName>"
                            "<firstMorph>1</firstMorph><Morph m=\"2\" i=\"3\"><T" + A("s", 2500.0f) +
                            "/><Parms><A p0=\"" + F(1.0f) + "\"/></Parms></Morph>"
                            "<kvfScale>" + F(1.0f) + "</kvfScale><Tnt>1</Tnt></Toad>";
    scene.rootElements = "<Output" + I("x", 640) + I("y", 480) + "><CropRect" + I("on", 1) +
                         A("ct", 0.1f) + A("cl", 0.2f) + A("cw", 0.5f) + A("ch", 0.25f) +
                         "/></Output>\r\n<Textures>" + TextureElementText() +
                         "</Textures>\r\n<Toads>" + bot + "<Toad><name>Second</name></Toad>" +
                         "<Morph next=\"1\"/><Morph prev=\"0\" sm=\"1\"/></Toads>\r\n";
    return scene.Text();
}

// Holds every memory stream of the image library while it lives, so no image can be encoded.
class MemStreamsTaken {
public:
    MemStreamsTaken() {
        for (int slot = MemStreamOpen(nullptr, 0, 'w'); slot >= 0;
             slot = MemStreamOpen(nullptr, 0, 'w')) {
            slots.push_back(slot);
        }
    }
    ~MemStreamsTaken() {
        for (int slot : slots) MemStreamClose(slot);
    }
    MemStreamsTaken(const MemStreamsTaken&) = delete;
    MemStreamsTaken& operator=(const MemStreamsTaken&) = delete;

private:
    std::vector<int> slots;
};

class SceneFileWriterTest : public testing::Test {
public:
    void SetUp() override { SetCurrentDocument(&document); }
    void TearDown() override { SetCurrentDocument(nullptr); }

    std::string Save(QDocumentBase& saved, const SceneSettings* settings, const std::string& name,
                     SceneSaveMode mode = SceneSaveMode::Everything) {
        const std::string path = folder.Str() + "/" + name;
        EXPECT_EQ(SaveSceneFile(saved, path, mode, settings), SceneSaved) << name;
        EXPECT_TRUE(PassesXmllint(path));
        return path;
    }

    TempFolder folder;
    QDocumentBase document;
    QRenderView view{&document};
};

// Saves scene as first.kvr, reads that back and saves it as second.kvr, and once more as
// third.kvr: every file passes xmllint and reads, and the second and third files and scenes
// are alike. Returns the scene read from the first file.
std::unique_ptr<LoadedScene> SaveReadSave(SceneFileWriterTest& test, LoadedScene& scene);

// A scene read back is the scene that was saved, and saving it again gives the same bytes:
// a file of another encoder, the corpus's scene and the writer's own files alike.
TEST_F(SceneFileWriterTest, WriteReadWriteGivesIdenticalFiles) {
    struct Case {
        const char* name;
        std::string path;
    };
    const Case cases[] = {
        {"every value set", folder.WriteFile("rich.kvr", RichScene())},
        {"corpus scene", std::string(ORBELLE_TEST_DATA_DIR) + "/corpus/good_scene.kvr"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoadedScene source(c.path);
        ASSERT_EQ(source.result, SceneLoaded);
        const std::unique_ptr<LoadedScene> second = SaveReadSave(*this, source);
        ASSERT_NE(second, nullptr);
        EXPECT_EQ(Dump(*second), Dump(source));
        EXPECT_EQ(FileText(folder.Str() + "/second.kvr"), FileText(folder.Str() + "/first.kvr"));
        EXPECT_EQ(second->document.TextureList()->Textures().size(),
                  source.document.TextureList()->Textures().size());
        EXPECT_EQ(second->document.BotList()->Bots().size(),
                  source.document.BotList()->Bots().size());
    }
}

// Every scene of the reader's regression files that reads at all saves as a well-formed file
// that reads back to the same scene and saves again to the same bytes: hostile counts,
// indices, NaNs, old elements and broken textures included.
TEST_F(SceneFileWriterTest, EveryReadableRegressionSceneRoundTrips) {
    int readable = 0;
    for (const FolderEntry& entry : ListFolder(std::string(ORBELLE_TEST_DATA_DIR) + "/corpus")) {
        SCOPED_TRACE(entry.name);
        LoadedScene scene(std::string(ORBELLE_TEST_DATA_DIR) + "/corpus/" + entry.name);
        if (scene.result != SceneLoaded) continue;
        ++readable;
        EXPECT_NE(SaveReadSave(*this, scene), nullptr);
    }
    EXPECT_GE(readable, 10);
}

std::unique_ptr<LoadedScene> SaveReadSave(SceneFileWriterTest& test, LoadedScene& scene) {
    std::vector<std::unique_ptr<LoadedScene>> read;
    LoadedScene* last = &scene;
    for (const char* name : {"first.kvr", "second.kvr", "third.kvr"}) {
        const std::string path = test.Save(last->document, &last->settings, name);
        read.push_back(std::make_unique<LoadedScene>(path));
        last = read.back().get();
        EXPECT_EQ(last->result, SceneLoaded) << name;
        if (last->result != SceneLoaded) return nullptr;
    }
    const std::string folder = test.folder.Str();
    EXPECT_EQ(FileText(folder + "/third.kvr"), FileText(folder + "/second.kvr"));
    EXPECT_EQ(Dump(*read[2]), Dump(*read[1]));
    return std::move(read[0]);
}

// The view's highlight switch is the scene's "hilite": read into the view, saved from it, and
// a scene saved unchanged keeps its bytes whichever way the switch stands.
TEST_F(SceneFileWriterTest, HighlightSwitchTravelsWithTheView) {
    const std::string on = I("hilite", 1);
    std::string text = RichScene();
    const std::size_t at = text.find(on);
    ASSERT_NE(at, std::string::npos);
    for (const bool isOn : {true, false}) {
        SCOPED_TRACE(isOn);
        text.replace(at, on.size(), I("hilite", isOn ? 1 : 0));
        LoadedScene source(folder.WriteFile(isOn ? "on.kvr" : "off.kvr", text));
        ASSERT_EQ(source.result, SceneLoaded);
        EXPECT_EQ(source.view.viewSettings.IsHighlightOn(), isOn);
        ASSERT_NE(SaveReadSave(*this, source), nullptr);
        EXPECT_EQ(FileText(folder.Str() + "/second.kvr"), FileText(folder.Str() + "/first.kvr"));
        EXPECT_NE(FileText(folder.Str() + "/first.kvr").find(I("hilite", isOn ? 1 : 0)),
                  std::string::npos);

        // Switched over in the view, the next save says so.
        source.view.viewSettings.SetHighlight(!isOn);
        const std::string path = Save(source.document, &source.settings, "switched.kvr");
        LoadedScene switched(path);
        ASSERT_EQ(switched.result, SceneLoaded);
        EXPECT_EQ(switched.view.viewSettings.IsHighlightOn(), !isOn);
    }
}

TEST_F(SceneFileWriterTest, ModesWriteWhatTheySay) {
    LoadedScene rich(folder.WriteFile("rich.kvr", RichScene()));
    ASSERT_EQ(rich.result, SceneLoaded);
    struct Case {
        SceneSaveMode mode;
        int objects;
        int textures;
        int bots;
        int morphLinks;
        const char* botIndex;  // of the first object
    };
    const Case cases[] = {
        {SceneSaveMode::Everything, 3, 1, 2, 2, " tb=\"0\""},
        {SceneSaveMode::WithoutBots, 3, 1, 0, 0, " tb=\"-1\""},
        {SceneSaveMode::ViewOnly, 0, 0, 0, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        const std::string text =
            FileText(Save(rich.document, &rich.settings, "mode.kvr", c.mode));
        EXPECT_EQ(CountChildren(text, "KVR", "Obj"), c.objects);
        EXPECT_EQ(CountChildren(text, "Textures", "KV_TEXTURE"), c.textures);
        EXPECT_EQ(CountChildren(text, "Toads", "Toad"), c.bots);
        EXPECT_EQ(CountChildren(text, "Toads", "Morph"), c.morphLinks);
        EXPECT_EQ(CountChildren(text, "Groups", "Group"), 3);
        EXPECT_EQ(CountChildren(text, "Lights", "L"), 2);
        EXPECT_NE(text.find("<KVR version=\"3\" numGroups=\"1\" flags=\"192\""), std::string::npos);
        if (c.botIndex != nullptr) {
            EXPECT_NE(text.find(std::string(" ti=\"0\" gi=\"2\"")), std::string::npos);
            const std::size_t firstObj = text.find("<Obj ");
            EXPECT_EQ(text.find(" tb=\"", firstObj), text.find(c.botIndex, firstObj));
        }
        // The file reads back as the mode wrote it.
        LoadedScene read(folder.Str() + "/mode.kvr");
        ASSERT_EQ(read.result, SceneLoaded);
        EXPECT_EQ(read.document.Objects()->Count(), c.objects);
        EXPECT_EQ(static_cast<int>(read.document.BotList()->Bots().size()), c.bots);
    }

    // A new document still writes its records' header and empty lists; saving sets the
    // document's file version to the format's.
    document.fileVersion = 0;
    const std::string text = FileText(Save(document, nullptr, "empty.kvr"));
    EXPECT_EQ(document.fileVersion, SceneFileVersion);
    EXPECT_EQ(text.rfind(std::string(SceneXmlDeclaration) + "<KVXMLFile version=\"2.1\">\r\n", 0), 0u);
    EXPECT_NE(text.find("<KVR version=\"3\" numGroups=\"0\" flags=\"192\"/>"), std::string::npos);
    EXPECT_NE(text.find("<Textures/>\r\n<Toads/>\r\n</KVXMLFile>\r\n"), std::string::npos);
    EXPECT_EQ(text.find("<MIN"), std::string::npos);
    EXPECT_EQ(document.progressStage, 0);
    EXPECT_EQ(document.progressPercent, 0);
}

// What the view draws with is what the file keeps: a draw mode, samples per pixel, line
// widths or colours changed in the view after reading are read back from the saved file, and
// the file's other display values stay as they came.
TEST_F(SceneFileWriterTest, DisplayChangedInTheViewIsSaved) {
    struct Case {
        std::int32_t mode;
        std::int32_t samples;
        std::int32_t lineStyle;
        bool sketch;
        bool wireframe;
    };
    const Case cases[] = {
        {0, 1, 0, false, false},  {1, 2, 0, false, true},  {2, 1, 0, true, false},
        {3, 2, -1, false, false}, {4, 1, 1, false, false}, {5, 1, 2, false, false},
    };
    const std::string rich = folder.WriteFile("rich.kvr", RichScene());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        LoadedScene source(rich);
        ASSERT_EQ(source.result, SceneLoaded);
        source.view.SetDrawMode(c.mode);
        ASSERT_EQ(source.view.SetSamplesPerPixel(c.samples), RenderSizeOk);
        source.view.viewSettings.viewScale1 = 3.25f;
        source.view.viewSettings.viewScale2 = 0.75f;
        source.view.viewSettings.colours[3] = ColourFromRgb24(0x112233);
        source.view.viewSettings.colours[4] = ColourFromRgb24(0x445566);
        source.view.viewSettings.colours[5] = ColourFromRgb24(0x778899);
        LoadedScene saved(Save(source.document, &source.settings, "changed.kvr"));
        ASSERT_EQ(saved.result, SceneLoaded);
        EXPECT_EQ(saved.view.drawState.lineStyle, c.lineStyle);
        EXPECT_EQ(saved.view.drawState.isSketch, c.sketch);
        EXPECT_EQ(saved.view.drawState.isWireframe, c.wireframe);
        EXPECT_EQ(saved.view.GetDrawMode(), c.mode);
        EXPECT_EQ(saved.view.SamplesPerPixel(), c.samples);
        EXPECT_EQ(saved.settings.depthBufferCount, c.samples);
        EXPECT_EQ(saved.view.viewSettings.viewScale1, 3.25f);
        EXPECT_EQ(saved.view.viewSettings.viewScale2, 0.75f);
        EXPECT_EQ(ColourToRgb24(saved.view.viewSettings.colours[3]), 0x112233u);
        EXPECT_EQ(ColourToRgb24(saved.view.viewSettings.colours[4]), 0x445566u);
        EXPECT_EQ(ColourToRgb24(saved.view.viewSettings.colours[5]), 0x778899u);
        EXPECT_EQ(saved.settings.sample, 3);
        EXPECT_EQ(saved.settings.displayPd, 4);
        EXPECT_EQ(saved.settings.displaySm, 0.125f);
    }
}

// A stored sample count the view takes as two is written back as it came while the view
// still draws with two, and as the view's count once that changes.
TEST_F(SceneFileWriterTest, StoredSampleCountIsKeptUntilTheViewChangesIt) {
    SceneText scene;
    scene.viewElements = "<Display" + I("dz", 5) + "/>\r\n";
    LoadedScene source(folder.WriteFile("dz.kvr", scene.Text()));
    ASSERT_EQ(source.result, SceneLoaded);
    ASSERT_EQ(source.view.SamplesPerPixel(), 2);
    EXPECT_NE(FileText(Save(source.document, &source.settings, "kept.kvr")).find("dz=\"5\""),
              std::string::npos);
    ASSERT_EQ(source.view.SetSamplesPerPixel(1), RenderSizeOk);
    LoadedScene changed(Save(source.document, &source.settings, "changed.kvr"));
    EXPECT_EQ(changed.settings.depthBufferCount, 1);
    EXPECT_EQ(changed.view.SamplesPerPixel(), 1);
}

// Every object keeps its group, with no second default group, and a scene saved at scale 50
// reads back at scale 50 with its lengths.
TEST_F(SceneFileWriterTest, GroupsAndScaleSurviveTheRoundTrip) {
    QGroups& groups = *document.Groups();
    groups.GetGroup(0)->SetParms("<Game/>");
    for (const char* name : {"beta", "Alpha", "gamma"}) {
        auto group = std::make_unique<QGroup>(name);
        group->SetParms(std::string("<Flip id=\"") + name + "\"/>");
        groups.AddGroup(std::move(group), true);
    }
    QMorvanObjects& objects = *document.Objects();
    const Colour white = ColourFromBytes(255, 255, 255);
    const double scales[] = {1.25, 0.7, 2.0, 0.3, 1.0};
    for (int i = 0; i < 5; ++i) {
        QMorvanObject* object = objects.AddShapeType1(scales[i], white, Vec3{0.37 * i, -1.1, 2.9});
        object->SetGroup(groups.GetGroup(i % groups.Count()));
        object->name = "part " + std::to_string(i);
    }
    view.viewSettings.camera.position = Vec3{1.5, -2.25, 3.0};
    view.viewSettings.nearDepth = 6.5;
    view.viewSettings.lights.RemoveAll();
    auto light = std::make_unique<QLight>(&view);
    light->position = Vec3{10.0, 20.0, -30.0};
    light->localValue1 = 12.0;
    view.viewSettings.lights.AddLight(std::move(light));
    SceneSettings settings;
    settings.scale = 50.0;
    view.shadowRadius = 7.0;  // the view's shadow radius is what is saved

    const std::string text = FileText(Save(document, &settings, "scaled.kvr"));
    EXPECT_NE(text.find("<View_0 View_0_Scale=\"" + F(50.0f) + "\">"), std::string::npos);
    // Stored lengths are the working lengths times the scale.
    EXPECT_NE(text.find(V("p", 75.0f, -112.5f, 150.0f)), std::string::npos);
    EXPECT_NE(text.find("<Group name=\"[Default]\" parms=\"&lt;Game/&gt;\"/>"), std::string::npos);

    LoadedScene read(folder.Str() + "/scaled.kvr");
    ASSERT_EQ(read.result, SceneLoaded);
    EXPECT_EQ(read.settings.scale, 50.0);
    const QGroups& readGroups = *read.document.Groups();
    ASSERT_EQ(readGroups.Count(), groups.Count());
    for (std::int32_t g = 0; g < groups.Count(); ++g) {
        EXPECT_EQ(readGroups.GetGroup(g)->GetName(), groups.GetGroup(g)->GetName());
        EXPECT_EQ(readGroups.GetGroup(g)->GetParms(), groups.GetGroup(g)->GetParms());
    }
    ASSERT_EQ(read.document.Objects()->Count(), objects.Count());
    for (std::int32_t i = 0; i < objects.Count(); ++i) {
        SCOPED_TRACE(i);
        const QMorvanObject& saved = *objects.At(i);
        const QMorvanObject& back = *read.document.Objects()->At(i);
        EXPECT_EQ(back.Group()->GetName(), saved.Group()->GetName());
        EXPECT_EQ(back.name, saved.name);
        const std::uint8_t* a = saved.GetPartRecord();
        const std::uint8_t* b = back.GetPartRecord();
        const Vec3 pa = PartRecordPosition(a);
        const Vec3 pb = PartRecordPosition(b);
        EXPECT_FLOAT_EQ(static_cast<float>(pb.x), static_cast<float>(pa.x));
        EXPECT_FLOAT_EQ(static_cast<float>(pb.y), static_cast<float>(pa.y));
        EXPECT_FLOAT_EQ(static_cast<float>(pb.z), static_cast<float>(pa.z));
        EXPECT_FLOAT_EQ(PartRecordParam(b, 0), PartRecordParam(a, 0));
    }
    EXPECT_FLOAT_EQ(static_cast<float>(read.view.viewSettings.camera.position.y), -2.25f);
    EXPECT_FLOAT_EQ(static_cast<float>(read.view.viewSettings.nearDepth), 6.5f);
    ASSERT_EQ(read.view.viewSettings.lights.Count(), 1);
    EXPECT_FLOAT_EQ(static_cast<float>(read.view.viewSettings.lights.At(0)->position.z), -30.0f);
    EXPECT_FLOAT_EQ(static_cast<float>(read.view.viewSettings.lights.At(0)->localValue1), 12.0f);
    EXPECT_FLOAT_EQ(static_cast<float>(read.settings.shadowCastRadius), 7.0f);
    EXPECT_FLOAT_EQ(static_cast<float>(read.view.shadowRadius), 7.0f);
}

// The shadow values of a scene reach its render view and are saved back as they came while
// the view keeps them, and as the view holds them once it changes them.
TEST_F(SceneFileWriterTest, ShadowValuesReachTheViewAndAreSavedBack) {
    SceneText scene;
    const std::string element = "<Shadows" + I("on", 1) + I("rm", 0) + I("cm", 1) + I("auto", 0) +
                                A("cast", 250.0f) + A("rs", 1.5f) + A("sd", 0.75f) +
                                V("cp", 1.0f, -2.0f, 30.5f) + "/>";
    scene.viewElements = element + "\r\n";
    LoadedScene source(folder.WriteFile("shadows.kvr", scene.Text()));
    ASSERT_EQ(source.result, SceneLoaded);
    const QRenderView& loaded = source.view;
    EXPECT_EQ(loaded.shadowRadiusMode, 0);
    EXPECT_EQ(loaded.shadowCentreMode, 1);
    EXPECT_FALSE(loaded.isShadowAuto);
    EXPECT_DOUBLE_EQ(loaded.shadowRadius, 250.0 / SceneScale);
    EXPECT_TRUE(loaded.isShadowRadiusReady);
    EXPECT_EQ(loaded.shadowRadiusWeight, 1.5);
    EXPECT_EQ(loaded.lightMapScale, 0.75);
    EXPECT_EQ(loaded.shadowCentre.x, 1.0);
    EXPECT_EQ(loaded.shadowCentre.y, -2.0);
    EXPECT_EQ(loaded.shadowCentre.z, 30.5);
    EXPECT_NE(FileText(Save(source.document, &source.settings, "kept.kvr")).find(element),
              std::string::npos);

    // The view moves its bounds: the new ones are saved.
    source.view.shadowCentre = Vec3{0.0, 0.0, 12.0};
    source.view.shadowRadius = 4.0;
    source.view.shadowRadiusMode = 1;
    source.view.viewSettings.shadowsOn = 0;
    LoadedScene changed(Save(source.document, &source.settings, "changed.kvr"));
    ASSERT_EQ(changed.result, SceneLoaded);
    EXPECT_EQ(changed.view.shadowCentre.z, 12.0);
    EXPECT_EQ(changed.view.shadowCentre.x, 0.0);
    EXPECT_DOUBLE_EQ(changed.view.shadowRadius, 4.0);
    EXPECT_EQ(changed.view.shadowRadiusMode, 1);
    EXPECT_EQ(changed.view.viewSettings.shadowsOn, 0);
    EXPECT_EQ(changed.view.lightMapScale, 0.75);
}

// A save that cannot be completed says so and leaves the file that was there, with no
// temporary left beside it.
TEST_F(SceneFileWriterTest, FailedSavesKeepTheOldFile) {
    const std::string old = "old contents";
    const std::string kept = folder.WriteFile("kept.kvr", old);
    folder.MakeFolder("folder.kvr");
    QTexture* texture = AddNewTexture(document);
    const auto pixels = PatternPixels(4, 4);
    auto* image = new QTextureImage();
    std::string errorText;
    ASSERT_EQ(ImportTextureImage(*texture, pixels.data(), image, false, true, true, errorText, 4,
                                 4, false),
              TextureImportOk);

    struct Case {
        const char* name;
        std::string path;
        bool takeStreams;  // no memory stream is left for the texture's image
        std::int16_t result;
    };
    const Case cases[] = {
        {"missing folder", folder.Str() + "/missing/scene.kvr", false, SceneNotWritten},
        {"a folder in the way", folder.Str() + "/folder.kvr", false, SceneNotWritten},
        {"a file as folder", kept + "/scene.kvr", false, SceneNotWritten},
        {"image not encoded", kept, true, SceneTextureNotEncoded},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::int16_t result = 0;
        if (c.takeStreams) {
            const MemStreamsTaken taken;
            result = SaveSceneFile(document, c.path, SceneSaveMode::Everything);
        } else {
            result = SaveSceneFile(document, c.path, SceneSaveMode::Everything);
        }
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(FileText(kept), old);
        std::vector<std::string> names;
        for (const FolderEntry& entry : ListFolder(folder.Str())) names.push_back(entry.name);
        EXPECT_EQ(names, (std::vector<std::string>{"folder.kvr", "kept.kvr"}));
        EXPECT_EQ(document.progressStage, 0);
    }
    // Mode 2 writes no textures, so the image is not needed.
    {
        const MemStreamsTaken taken;
        EXPECT_EQ(SaveSceneFile(document, kept, SceneSaveMode::ViewOnly), SceneSaved);
    }
    EXPECT_NE(FileText(kept), old);
}

TEST_F(SceneFileWriterTest, ThumbnailIsThePreviewGivenAt128) {
    std::vector<std::uint32_t> preview(128 * 128);
    for (std::size_t i = 0; i < preview.size(); ++i) {
        preview[i] = 0xFF000000u | static_cast<std::uint32_t>(i * 2654435761u >> 8);
    }
    const std::string path = folder.Str() + "/preview.kvr";
    ASSERT_EQ(SaveSceneFile(document, path, SceneSaveMode::Everything, nullptr, preview), SceneSaved);
    EXPECT_TRUE(PassesXmllint(path));
    const std::string text = FileText(path);
    XmlDocument xml(text);
    ASSERT_TRUE(xml.FindElement("KVXMLFile"));
    ASSERT_TRUE(xml.EnterElement());
    ASSERT_TRUE(xml.FindElement("MIN"));
    EXPECT_EQ(xml.GetAttribute("w"), "128");
    EXPECT_EQ(xml.GetAttribute("h"), "128");
    const std::vector<std::uint8_t> tiff = Base64Decode(xml.GetData());
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t samples = 0;
    PrivateBlockPtr<std::uint8_t> pixels(DecodeTiffFromMemory(
        tiff.data(), static_cast<std::int32_t>(tiff.size()), "argb", width, height, samples));
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(width, 128);
    EXPECT_EQ(height, 128);
    for (std::size_t i = 0; i < preview.size(); i += 997) {
        EXPECT_EQ(LoadU32LE(pixels.get() + 4 * i), preview[i]) << i;
    }
    // The reader passes over it.
    LoadedScene read(path);
    EXPECT_EQ(read.result, SceneLoaded);

    // A preview of another size is not the scene's preview.
    preview.resize(64 * 64);
    ASSERT_EQ(SaveSceneFile(document, path, SceneSaveMode::Everything, nullptr, preview), SceneSaved);
    EXPECT_EQ(FileText(path).find("<MIN"), std::string::npos);
}

// The bot record's fields are written from the record; what the record does not hold comes
// from the element the bot was read from, in its place.
TEST_F(SceneFileWriterTest, BotElementsKeepWhatTheRecordDoesNotHold) {
    LoadedScene rich(folder.WriteFile("rich.kvr", RichScene()));
    ASSERT_EQ(rich.result, SceneLoaded);
    QToadObj* spinner = rich.document.BotList()->Bots()[1];
    ASSERT_EQ(spinner->GetName(), "Spinner");
    spinner->name = "Spun & <wound>";
    spinner->morphDuration = 1500.0f;
    spinner->morphHead = 0;
    spinner->morphMode = 3;
    spinner->bt[0] = 5.0f;
    spinner->bt[21] = -2.5f;
    auto made = std::make_unique<QToadObj>(&rich.document);
    made->name = "Made";
    made->bt[3] = 0.25f;
    rich.document.BotList()->AddBot(std::move(made), true);

    const std::string text = FileText(Save(rich.document, &rich.settings, "bots.kvr"));
    EXPECT_NE(text.find("<Toad version=\"1.0\">\r\n<name>Spun &amp; &lt;wound&gt;</name>\r\n"
                        "<fileName>s.kvtd</fileName>\r\n<firstMorph>0</firstMorph>\r\n"
                        "<Morph m=\"3\" i=\"3\">\r\n<T s=\"" + F(1500.0f) + "\"/>\r\n"
                        "<Parms><A p0=\"" + F(1.0f) + "\"/></Parms>\r\n</Morph>\r\n<bt>"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("</bt>\r\n<kvfScale>" + F(1.0f) + "</kvfScale>\r\n<Tnt>1</Tnt>\r\n</Toad>"),
              std::string::npos);
    EXPECT_NE(text.find("<Toad version=\"1.0\">\r\n<name>Made</name>\r\n<firstMorph>0</firstMorph>"),
              std::string::npos);

    LoadedScene read(folder.Str() + "/bots.kvr");
    ASSERT_EQ(read.result, SceneLoaded);
    const std::vector<QToadObj*>& bots = read.document.BotList()->Bots();
    ASSERT_EQ(bots.size(), 3u);
    const QToadObj* spun = nullptr;
    const QToadObj* back = nullptr;
    for (const QToadObj* bot : bots) {
        if (bot->GetName() == "Spun & <wound>") spun = bot;
        if (bot->GetName() == "Made") back = bot;
    }
    ASSERT_NE(spun, nullptr);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(spun->morphDuration, 1500.0f);
    EXPECT_EQ(spun->morphMode, 3);
    EXPECT_EQ(spun->morphHead, 0);
    EXPECT_EQ(spun->bt, spinner->bt);
    EXPECT_EQ(back->bt[3], 0.25f);
    // The morph chain and the second bot come back as they were.
    const QToadObj* second = read.document.SecondBot();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->GetName(), rich.document.SecondBot()->GetName());
    ASSERT_NE(second->morphPrev, nullptr);
    EXPECT_EQ(second->morphPrev->GetName(), rich.document.SecondBot()->morphPrev->GetName());
}

}  // namespace
