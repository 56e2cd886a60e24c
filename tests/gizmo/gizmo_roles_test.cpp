#include "gizmo/gizmo_roles.h"

#include "gizmo/preset_motion.h"

#include <gtest/gtest.h>

#include <variant>

namespace {

TEST(GizmoRoles, ObjectTextReadsEveryRoleInOrder) {
    const ObjectRoles roles = ReadObjectRoles(
        "<Object><Collide friction=\"0.5\" loss=\"0.25\"/><Invisible/><NonCollis/>"
        "<Game collisReset=\"6\"/><Guide id=\"rail\"/>"
        "<Stage gravity=\"2.5\" fileID=\"gz01\" invisible=\"yes\" compatibility=\"2\" "
        "gameMode=\"yes\" endTime=\"no\" endScore=\"yes\" timeVal=\"90\" scoreVal=\"500\"/>"
        "<Ceiling/></Object>");
    ASSERT_TRUE(roles.collide);
    EXPECT_EQ(roles.collide->friction, 0.5);
    EXPECT_EQ(roles.collide->loss, 0.25);
    EXPECT_TRUE(roles.invisible);
    EXPECT_TRUE(roles.nonCollis);
    EXPECT_EQ(roles.collisReset, 6);
    EXPECT_EQ(roles.guideId, "rail");
    ASSERT_TRUE(roles.stage);
    EXPECT_EQ(roles.stage->gravity, 2.5);
    EXPECT_EQ(roles.stage->fileID, "gz01");
    EXPECT_TRUE(roles.stage->invisible);
    EXPECT_EQ(roles.stage->compatibility, 2);
    EXPECT_EQ(roles.stage->overrideGameMode, 1);
    EXPECT_EQ(roles.stage->overrideEndTime, 0);
    EXPECT_EQ(roles.stage->overrideEndScore, 1);
    EXPECT_EQ(roles.stage->overrideTimeVal, 90);
    EXPECT_EQ(roles.stage->overrideScoreVal, 500);
    EXPECT_TRUE(roles.ceiling);
}

TEST(GizmoRoles, RolesWrittenOutOfOrderAreNotSeen) {
    // "Game" comes before "Collide" in the reading order: the search for it starts behind
    // "Collide" and misses it.
    const ObjectRoles late = ReadObjectRoles(
        "<r><Collide friction=\"1.5\" loss=\"2\"/>"
        "<Invisible/><Game collisReset=\"3\"/></r>");
    ASSERT_TRUE(late.collide);
    EXPECT_EQ(late.collide->friction, 1.5);
    EXPECT_EQ(late.collide->loss, 2.0);
    EXPECT_TRUE(late.invisible);
    EXPECT_EQ(late.collisReset, 3);

    const ObjectRoles missed =
        ReadObjectRoles("<r><Game collisReset=\"3\"/><Collide friction=\"1.5\" loss=\"2\"/></r>");
    ASSERT_TRUE(missed.collide);
    EXPECT_EQ(missed.collide->friction, 1.5);
    EXPECT_FALSE(missed.collisReset);

    // "Guide" comes before "Stage" in the reading order: a guide written after the stage is
    // found and the stage before it is missed.
    const ObjectRoles guideAfterStage =
        ReadObjectRoles("<r><Stage fileID=\"s\"/><Guide id=\"g\"/><Ceiling/></r>");
    EXPECT_FALSE(guideAfterStage.stage);
    EXPECT_EQ(guideAfterStage.guideId, "g");
    EXPECT_TRUE(guideAfterStage.ceiling);
}

TEST(GizmoRoles, TextsWithoutRoles) {
    const char* texts[] = {
        "",                             // skipped
        "Cube 12",                      // a plain name
        "<r><Stage fileID=\"x\"></r>",  // does not parse
        "<Stage fileID=\"x\"/>",        // the stage is the root, not a role inside it
        "<r><stage fileID=\"x\"/><COLLIDE/><Stages/></r>",  // names are exact
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        const ObjectRoles roles = ReadObjectRoles(text);
        EXPECT_FALSE(roles.stage);
        EXPECT_FALSE(roles.collide);
        EXPECT_FALSE(roles.invisible);
        EXPECT_FALSE(HasControlRole(text));
    }
    EXPECT_TRUE(HasControlRole("<any><Control/></any>"));
    EXPECT_TRUE(ReadObjectRoles("<AnyName><Invisible/></AnyName>").invisible);
}

TEST(GizmoRoles, EmptyNumbersKeepTheirDefaults) {
    const ObjectRoles roles = ReadObjectRoles(
        "<r><Collide friction=\"\"/><Game/><Stage gravity=\"\" timeVal=\"\" "
        "compatibility=\"\"/></r>");
    ASSERT_TRUE(roles.collide);
    EXPECT_FALSE(roles.collide->friction);
    EXPECT_FALSE(roles.collide->loss);
    EXPECT_FALSE(roles.collisReset);
    ASSERT_TRUE(roles.stage);
    EXPECT_FALSE(roles.stage->gravity);
    EXPECT_FALSE(roles.stage->compatibility);
    EXPECT_EQ(roles.stage->overrideTimeVal, -1);

    // Numbers are read as the C library reads them: the leading number, else 0.
    const ObjectRoles prefixed = ReadObjectRoles(
        "<r><Collide friction=\"0.75kg\" loss=\"x\"/><Stage gravity=\" 9.5\" "
        "scoreVal=\"12 points\"/></r>");
    EXPECT_EQ(prefixed.collide->friction, 0.75);
    EXPECT_EQ(prefixed.collide->loss, 0.0);
    EXPECT_EQ(prefixed.stage->gravity, 9.5);
    EXPECT_EQ(prefixed.stage->overrideScoreVal, 12);
}

TEST(GizmoRoles, StageSwitchesTakeOnlyExactYesAndNo) {
    const struct {
        const char* value;
        std::int32_t override;
    } cases[] = {{"yes", 1}, {"no", 0}, {"Yes", -1}, {"NO", -1}, {"", -1}, {"yes ", -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        const std::string v = c.value;
        const ObjectRoles roles = ReadObjectRoles("<r><Stage gameMode=\"" + v + "\" endTime=\"" +
                                                  v + "\" endScore=\"" + v + "\"/></r>");
        ASSERT_TRUE(roles.stage);
        EXPECT_EQ(roles.stage->overrideGameMode, c.override);
        EXPECT_EQ(roles.stage->overrideEndTime, c.override);
        EXPECT_EQ(roles.stage->overrideEndScore, c.override);
    }
    EXPECT_FALSE(ReadObjectRoles("<r><Stage invisible=\"Yes\"/></r>").stage->invisible);
}

TEST(GizmoRoles, RolesNotWantedDoNotMoveTheSearch) {
    // A later stage object is not searched for "Stage", so its "Ceiling", written before the
    // "Stage", is still found; when "Stage" is searched for it hides the "Ceiling".
    const char* text = "<r><Ceiling/><Stage gravity=\"4\"/></r>";
    const ObjectRoles first = ReadObjectRoles(text);
    EXPECT_TRUE(first.stage);
    EXPECT_FALSE(first.ceiling);
    const ObjectRoles later = ReadObjectRoles(text, {.stage = false, .ceiling = true});
    EXPECT_FALSE(later.stage);
    EXPECT_TRUE(later.ceiling);
    EXPECT_FALSE(ReadObjectRoles(text, {.stage = false, .ceiling = false}).ceiling);
}

TEST(GizmoRoles, GroupGameAndFlip) {
    const GroupRoles roles = ReadGroupRoles(
        "<g><Game scoreMult=\"2\" scoreVal=\"10\" collisReset=\"1\" keyReset=\"4\" sound=\"ding\" "
        "scoreSound=\"bell\"/><Flip id=\"f\" state=\"0\" motion=\"EaseOut\" time=\"0.25\" "
        "ForAndBack=\"yes\"><UserActivated mouse=\"yes\" key=\"8\"/><CollisionActivated/>"
        "</Flip></g>");
    ASSERT_TRUE(roles.game);
    EXPECT_EQ(roles.game->scoreMult, 2);
    EXPECT_EQ(roles.game->scoreVal, 10);
    EXPECT_EQ(roles.game->collisReset, 1);
    EXPECT_EQ(roles.game->keyReset, 4);
    EXPECT_EQ(roles.game->sound, "ding");
    EXPECT_EQ(roles.game->scoreSound, "bell");
    const FlipRole* flip = std::get_if<FlipRole>(&roles.motion);
    ASSERT_NE(flip, nullptr);
    EXPECT_EQ(flip->id, "f");
    EXPECT_EQ(flip->state, "0");
    EXPECT_EQ(flip->ease, EaseOut);
    EXPECT_EQ(flip->time, 0.25);
    EXPECT_TRUE(flip->forAndBack);
    EXPECT_TRUE(flip->mouseActivated);
    EXPECT_EQ(flip->keyBits, 8);
    EXPECT_TRUE(flip->collisionActivated);

    // Defaults: linear, one second, no trigger; the triggers are read in their order only.
    const GroupRoles plain = ReadGroupRoles(
        "<g><Flip id=\"f\" state=\"1\" motion=\"easein\" time=\"\">"
        "<CollisionActivated/><UserActivated mouse=\"yes\"/></Flip></g>");
    const FlipRole& second = std::get<FlipRole>(plain.motion);
    EXPECT_FALSE(plain.game);
    EXPECT_EQ(second.ease, EaseLinear);
    EXPECT_EQ(second.time, 1.0);
    EXPECT_FALSE(second.forAndBack);
    EXPECT_TRUE(second.mouseActivated);
    EXPECT_FALSE(second.collisionActivated);
}

TEST(GizmoRoles, GroupMotionIsTheFirstOfFlipFlySlide) {
    const struct {
        const char* text;
        std::size_t motion;  // index in the variant: none, Flip, Fly, Slide
    } cases[] = {
        {"<g><Fly/></g>", 2},
        {"<g><Slide id=\"s\"/><Fly/></g>", 2},
        {"<g><Slide id=\"s\"/><Flip id=\"f\"/></g>", 1},
        {"<g><Slide id=\"s\"/></g>", 3},
        {"<g><Game/></g>", 0},
        // The motion must follow "Game".
        {"<g><Flip id=\"f\" state=\"0\"/><Game scoreVal=\"1\"/></g>", 0},
        {"<g><Game scoreVal=\"1\"/><Flip id=\"f\" state=\"0\"/></g>", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ReadGroupRoles(c.text).motion.index(), c.motion);
    }
    EXPECT_EQ(std::get<FlyRole>(ReadGroupRoles("<g><Fly state=\"1\"/></g>").motion).state, "1");
}

TEST(GizmoRoles, SliderReadsTheInversionPairOfItsMap) {
    const struct {
        const char* map;
        bool first;
        bool second;
    } cases[] = {
        {"top", true, false}, {"bottom", true, false}, {"middle", false, true}, {"", false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.map);
        const std::string text = std::string("<g><Slide id=\"s\" orientation=\"axial\" map=\"") +
                                 c.map +
                                 "\" invMouseNear=\"yes\" invMouseFar=\"no\" invMouseCirc=\"no\" "
                                 "invMouseAxial=\"yes\" rotSnap=\"45\" mousePixels=\"120\"/></g>";
        const SlideRole slide = std::get<SlideRole>(ReadGroupRoles(text).motion);
        EXPECT_EQ(slide.invertFirst, c.first);
        EXPECT_EQ(slide.invertSecond, c.second);
        EXPECT_EQ(slide.rotSnap, 45);
        EXPECT_EQ(slide.mousePixels, 120.0);
    }
    const SlideRole plain = std::get<SlideRole>(ReadGroupRoles("<g><Slide/></g>").motion);
    EXPECT_EQ(plain.mousePixels, 80.0);
    EXPECT_EQ(plain.rotSnap, 0);
    EXPECT_EQ(SlideMapCode("top"), 1);
    EXPECT_EQ(SlideMapCode("middle"), 0);
    EXPECT_EQ(SlideMapCode("bottom"), -1);
    EXPECT_EQ(SlideMapCode("Top"), 0);
}

}  // namespace
