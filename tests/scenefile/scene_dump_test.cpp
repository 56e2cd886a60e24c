#include "scenefile/scene_dump.h"

#include "model/q_document_base.h"
#include "scene_test_encoder.h"
#include "scenefile/scene_file_reader.h"
#include "scenefile/scene_settings.h"
#include "support/temp_folder.h"
#include "view/q_render_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

using namespace scene_test;

TEST(SceneDumpJson, WritesTheSceneAsReadWithSafeTextAndNumbers) {
    TempFolder folder;
    SceneText scene;
    scene.viewElements = "<Groups><Group name=\"[Default]\"/><Group name=\"Flip\" "
                         "parms=\"&lt;Flip id=&quot;1&quot;/&gt;\"/></Groups>";
    scene.objects = Obj(2, 9, {100.0f, 0, 0}, {0.5f, std::nanf("")},
                        I("c", 255) + I("gi", 1) + I("t", "a\\b&#9;\xE9"));
    scene.lights = "<Lights><L" + I("on", 1) + A("i", INFINITY) + "/></Lights>";
    QDocumentBase document;
    QRenderView view(&document);
    view.viewSettings.lights.RemoveAll();
    SceneSettings settings;
    const std::int16_t result =
        LoadSceneFile(document, folder.WriteFile("dump.kvr", scene.Text()), &settings);
    ASSERT_EQ(result, SceneLoaded);
    const std::string json = SceneDumpJson(document, settings, result);
    EXPECT_EQ(json.rfind("{\"result\":0,\"version\":210,\"scale\":100,", 0), 0u) << json;
    EXPECT_NE(json.find("\"brightness\":null"), std::string::npos) << json;
    EXPECT_NE(json.find("{\"name\":\"Flip\",\"parms\":\"<Flip id=\\\"1\\\"/>\"}"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"objects\":[{\"index\":0,\"type\":2,\"flags\":32,\"id\":9,\"colour\":255,"
                        "\"position\":[1,0,0],\"parameters\":[0.004999999888241291,null],\"group\":1,"
                        "\"text\":\"a\\\\b\\u0009\\u00e9\"}]"),
              std::string::npos)
        << json;
    EXPECT_EQ(json.back(), '\n');
}

}  // namespace
