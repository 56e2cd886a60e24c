#include "gizmo/gizmo_run.h"

#include "core/scalar_maths.h"
#include "gizmo/game_input.h"
#include "gizmo/gizmo_scene.h"
#include "gizmo/sound_sink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const std::string FixturePath = std::string(ORBELLE_TEST_DATA_DIR) + "/flipper_table.kvr";

TEST(GizmoRun, ParsesKeyScripts) {
    struct Case {
        const char* script;
        bool valid;
        std::vector<std::pair<std::int32_t, std::int32_t>> keys;  // frame, key index
    };
    const Case cases[] = {
        {"", true, {}},
        {"0:1", true, {{0, 0}}},
        {"40:9,3:2,3:1", true, {{3, 1}, {3, 0}, {40, 8}}},
        {"3", false, {}},
        {"3:0", false, {}},
        {"3:12", false, {}},
        {"-1:1", false, {}},
        {"x:1", false, {}},
        {"1:1,", true, {{1, 0}}},
        {"1:1,,2:2", false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        const auto keys = ParseKeyScript(c.script);
        ASSERT_EQ(keys.has_value(), c.valid);
        if (!keys) continue;
        std::vector<std::pair<std::int32_t, std::int32_t>> got;
        for (const ScriptedKey& key : *keys) got.emplace_back(key.frame, key.keyIndex);
        EXPECT_EQ(got, c.keys);
    }
}

class CountingSink final : public SoundSink {
public:
    std::vector<std::string> played;
    void PlaySoundByName(std::string_view name, float, float, float) override {
        played.emplace_back(name);
    }
};

TEST(GizmoRun, ATriggerKeyStartsItsFlipperAndSoundsOnlyFromRest) {
    CountingSink sink;
    SetSoundSink(&sink);
    GizmoScene scene;
    scene.programFolder = "gizmos/";
    ASSERT_EQ(LoadGizmo(FixturePath, scene), 0) << scene.errorText;
    const GizmoObject& paddle = *scene.world->objects[1];

    TriggerControls(scene, TriggerKeyBit, 1);  // key "2": nothing listens
    EXPECT_EQ(paddle.inMotion, 0);
    EXPECT_TRUE(sink.played.empty());

    TriggerControls(scene, TriggerKeyBit, 0);
    EXPECT_EQ(scene.paused, 0);
    EXPECT_EQ(paddle.inMotion, 1);
    EXPECT_EQ(scene.movingPartList, (std::vector<std::int32_t>{1, 3}));
    EXPECT_EQ(sink.played, std::vector<std::string>{"gizmos/Sounds/flip.wav"});
    TriggerControls(scene, TriggerKeyBit, 0);  // still moving: silent
    EXPECT_EQ(sink.played.size(), 1u);
    SetSoundSink(nullptr);
}

TEST(GizmoRun, APartThatStartsMovingLeavesThePictureAsItWas) {
    // The paddle leaves the kept background and is drawn over it; standing where it stood,
    // the frame is the first frame again, to within the one level of a channel by which the
    // incremental shade may round differently.
    GizmoScene scene;
    ASSERT_EQ(LoadGizmo(FixturePath, scene), 0) << scene.errorText;
    ASSERT_TRUE(scene.simulationRender->IsReady());
    const std::vector<std::uint32_t> first = scene.viewBits;
    TriggerControls(scene, TriggerKeyBit, 0);
    RenderMovingParts(scene);
    EXPECT_EQ(scene.movingPartList.size(), 2u);
    ASSERT_EQ(scene.viewBits.size(), first.size());
    std::int32_t worst = 0;
    for (std::size_t i = 0; i < first.size(); ++i) {
        for (int shift = 0; shift < 32; shift += 8) {
            const auto was = static_cast<std::int32_t>((first[i] >> shift) & 255);
            const auto now = static_cast<std::int32_t>((scene.viewBits[i] >> shift) & 255);
            worst = std::max(worst, std::abs(was - now));
        }
    }
    EXPECT_LE(worst, 1);
}

TEST(GizmoRun, SteppedFramesDropTheBallOntoTheStageAndSwingThePaddle) {
    CountingSink sink;
    SetSoundSink(&sink);
    GizmoScene scene;
    scene.programFolder.clear();
    ASSERT_EQ(LoadGizmo(FixturePath, scene), 0) << scene.errorText;
    const GizmoObject& ball = *scene.world->objects[0];
    const GizmoObject& paddle = *scene.world->objects[1];
    StepGizmoFrame(scene);  // paused as loaded: nothing moves
    EXPECT_EQ(ball.position.y, 2.0);
    scene.paused = 0;
    double lowest = ball.position.y;
    TriggerControls(scene, TriggerKeyBit, 0);
    for (int frame = 0; frame < 30; ++frame) {
        StepGizmoFrame(scene);
        lowest = std::min(lowest, ball.position.y);
    }
    SetSoundSink(nullptr);
    // The ball (radius 0.5) comes down onto the stage's top (y = 0) and bounces off it with
    // its sound; seen at the frames' ends it never sinks into the stage.
    EXPECT_GE(lowest, 0.5 - 1e-6);
    EXPECT_LT(lowest, 0.75);
    EXPECT_GT(ball.position.y, lowest);
    EXPECT_EQ(sink.played, (std::vector<std::string>{"Sounds/flip.wav", "Sounds/bounce.wav"}));
    // The paddle reached its second pose, 30 degrees about z, and rests there.
    EXPECT_EQ(paddle.inMotion, 0);
    EXPECT_NEAR(paddle.orientation.m[0], std::cos(PI / 6.0), 1e-6);
    EXPECT_EQ(scene.movingPartList, std::vector<std::int32_t>{1});
}

TEST(GizmoRun, FramesAreJsonOfPosesScoreAndMovingParts) {
    GizmoScene scene;
    ASSERT_EQ(LoadGizmo(FixturePath, scene), 0) << scene.errorText;
    const std::string line = GizmoFrameJson(scene, 7);
    EXPECT_EQ(line.rfind("{\"frame\":7,\"paused\":1,\"score\":0,\"moving\":[1],\"objects\":[{"
                         "\"kind\":\"flyer\",\"position\":[",
                         0),
              0u)
        << line;
    EXPECT_NE(line.find("{\"kind\":\"flipper\",\"position\":[0,0.15000000596046448,-1.5],"
                        "\"orientation\":[1,0,0,0,1,0,0,0,1]}]}"),
              std::string::npos)
        << line;
    EXPECT_EQ(SoundEventJson(2, "a\"b", 0.5f, 2.0f, 1.0f),
              "{\"frame\":2,\"sound\":\"a\\\"b\",\"gain\":0.5,\"pitch\":2,\"listenerGain\":1}");
}

}  // namespace
