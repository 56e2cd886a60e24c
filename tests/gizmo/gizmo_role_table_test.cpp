#include "gizmo/gizmo_role_table.h"

#include "core/colour.h"
#include "geometry/primitive_record.h"
#include "gizmo/gizmo_load_exception.h"
#include "gizmo/preset_motion.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr const char* StageText = "<r><Stage fileID=\"gz\"/></r>";

// A crafted gizmo: the object texts of its parts (part i has text i), its groups, and a part
// record for every part. Parts are unit spheres unless a test gives them another shape.
struct Gizmo {
    std::vector<RoleText> objects;
    std::vector<GroupRoleSource> groups;
    std::vector<PartRecordPtr> records;

    // Adds a part with its text and returns its index.
    std::int32_t Part(std::string text, PartRecordPtr record = {}) {
        const auto index = static_cast<std::int32_t>(objects.size());
        if (!record) record = NewPrimitive1(1.0, index, 0, Vec3{}, Colour{});
        records.push_back(std::move(record));
        objects.push_back({index, std::move(text)});
        return index;
    }

    // Adds a group of new parts, one per member text.
    void Group(std::string name, std::string parms, std::vector<std::string> memberTexts) {
        GroupRoleSource group{std::move(name), std::move(parms), {}};
        for (std::string& text : memberTexts) {
            const std::int32_t part = Part(text);
            group.members.push_back({part, std::move(text)});
        }
        groups.push_back(std::move(group));
    }

    GizmoRoles Read() const {
        std::vector<const std::uint8_t*> table;
        for (const PartRecordPtr& record : records) table.push_back(record.get());
        return ReadGizmoRoles(objects, groups, table);
    }

    // The message of the first failed check, running the checks of each object's build in
    // group order as the loader does; empty when every check passes.
    std::string FirstFailure() const {
        try {
            const GizmoRoles roles = Read();
            for (std::size_t g = 0; g < roles.groups.size(); ++g) {
                const GroupRoleEntry& entry = roles.groups[g];
                if (!entry.makesObject) continue;
                const auto group = static_cast<std::int32_t>(g);
                if (std::holds_alternative<FlipRole>(entry.roles.motion)) {
                    ResolveFlipper(roles, group);
                } else if (std::holds_alternative<SlideRole>(entry.roles.motion)) {
                    ResolveSlider(roles, group);
                } else {
                    ResolveFlyerControl(roles, group);
                }
            }
        } catch (const GizmoLoadException& e) {
            return e.message.empty() ? "(empty message)" : e.message;
        }
        return {};
    }
};

std::string FlipText(const std::string& id, const std::string& state) {
    return "<g><Flip id=\"" + id + "\" state=\"" + state + "\"/></g>";
}

constexpr const char* GoodSlide = "<g><Slide id=\"rail\" orientation=\"fixed\" map=\"top\"/></g>";

TEST(GizmoRoleTable, MessagesOfMalformedGizmos) {
    const struct {
        const char* name;
        void (*build)(Gizmo&);
        const char* message;
    } cases[] = {
        {"guide without id",
         [](Gizmo& g) {
             g.Part(StageText);
             g.Part("<r><Guide/></r>");
         },
         "All slider guide objects must have id"},
        {"guide of a shape that cannot guide",
         [](Gizmo& g) {
             g.Part(StageText);
             g.Part("<r><Guide id=\"rail\"/></r>",
                    NewPrimitive6(false, 1.0, 1.0, 1.0, 1.0, 1, 0, Vec3{}, Colour{}));
         },
         "Slider guide object with id = rail is of the wrong type"},
        {"guide of type 9 with unequal sides",
         [](Gizmo& g) {
             g.Part(StageText);
             g.Part("<r><Guide id=\"disc\"/></r>",
                    NewPrimitive9(2.0, 0.1, 3.0, 1, 0, Vec3{}, Colour{}));
         },
         "Slider guide object with id = disc is of the wrong type"},
        {"no stage, although there are groups",
         [](Gizmo& g) {
             g.Part("<r><Ceiling/></r>");
             g.Group("A", FlipText("f", "0"), {""});
         },
         "There has to be a stage object"},
        {"a bad guide is met before the missing stage", [](Gizmo& g) { g.Part("<r><Guide/></r>"); },
         "All slider guide objects must have id"},
        {"compatibility 3",
         [](Gizmo& g) { g.Part("<r><Stage fileID=\"gz\" compatibility=\"3\"/></r>"); },
         "This file requires the latest version of Orbelle"},
        {"the stage is checked before the groups",
         [](Gizmo& g) {
             g.Part("<r><Stage fileID=\"gz\" compatibility=\"3\"/></r>");
             g.Group("A", "<g><Flip/></g>", {""});
         },
         "This file requires the latest version of Orbelle"},
        {"flipper without id",
         [](Gizmo& g) {
             g.Part(StageText);
             g.Group("Paddle", "<g><Flip state=\"0\"/></g>", {""});
         },
         "Flipper Paddle must have id"},
        {"flipper with state 2",
         [](Gizmo& g) {
             g.Part(StageText);
             g.Group("Paddle", FlipText("f", "2"), {""});
         },
         "Flipper Paddle must have state, 0 or 1"},
        {"slider without id",
         [](Gizmo& g) {
             g.Part(StageText);
             g.Group("Knob", "<g><Slide orientation=\"axial\" map=\"top\"/></g>", {""});
         },
         "Slider Knob must have id"},
        {"slider with orientation Axial",
         [](Gizmo& g) {
             g.Part(StageText);
             g.Group("Knob", "<g><Slide id=\"s\" orientation=\"Axial\" map=\"top\"/></g>", {""});
         },
         "Slider Knob must have orientation - axial or fixed"},
        {"slider without map",
         [](Gizmo& g) {
             g.Part(StageText);
             g.Group("Knob", "<g><Slide id=\"s\" orientation=\"fixed\"/></g>", {""});
         },
         "Slider Knob must have map - top, middle or bottom"},
        {"the group checks run over every group before any object is built",
         [](Gizmo& g) {
             g.Part(StageText);
             g.Group("A", FlipText("f", "0"), {""});
             g.Group("B", FlipText("", "0"), {""});
         },
         "Flipper B must have id"},
        {"flipper without second state",
         [](Gizmo& g) {
             g.Part(StageText);
             g.Group("A", FlipText("f", "0"), {""});
         },
         "Flipper A must have second state"},
        {"flipper whose second state has another id",
         [](Gizmo& g) {
             g.Part(StageText);
             g.Group("A", FlipText("f", "0"), {""});
             g.Group("B", FlipText("g", "1"), {""});
         },
         "Flipper A must have second state"},
        {"second state without members does not count",
         [](Gizmo& g) {
             g.Part(StageText);
             g.Group("A", FlipText("f", "0"), {""});
             g.groups.push_back({"B", FlipText("f", "1"), {}});
         },
         "Flipper A must have second state"},
        {"two first states share one second state",
         [](Gizmo& g) {
             g.Part(StageText);
             g.Group("A", FlipText("f", "0"), {""});
             g.Group("B", FlipText("f", "0"), {""});
             g.Group("C", FlipText("f", "1"), {""});
         },
         "Flipper A must have second state"},
        {"flipper of several members without control",
         [](Gizmo& g) {
             g.Part(StageText);
             g.Group("A", FlipText("f", "0"), {"", "<r><Collide/></r>"});
             g.Group("B", FlipText("f", "1"), {""});
         },
         "Flipper A must have Control object"},
        {"second state of several members without control",
         [](Gizmo& g) {
             g.Part(StageText);
             g.Group("A", FlipText("f", "0"), {"<r><Control/></r>", ""});
             g.Group("B", FlipText("f", "1"), {"", ""});
         },
         "Flipper B must have Control object"},
        {"slider of several members without control",
         [](Gizmo& g) {
             g.Part(StageText);
             g.Part("<r><Guide id=\"rail\"/></r>");
             g.Group("Knob", GoodSlide, {"", ""});
         },
         "Slider Knob must have Control object"},
        {"slider without its guide",
         [](Gizmo& g) {
             g.Part(StageText);
             g.Part("<r><Guide id=\"other\"/></r>");
             g.Group("Knob", GoodSlide, {""});
         },
         "Slider Knob must have a guide object with matching id"},
        {"a missing second state is met before a later slider's guide",
         [](Gizmo& g) {
             g.Part(StageText);
             g.Group("A", FlipText("f", "0"), {""});
             g.Group("Knob", GoodSlide, {""});
         },
         "Flipper A must have second state"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Gizmo gizmo;
        c.build(gizmo);
        EXPECT_EQ(gizmo.FirstFailure(), c.message);
    }
}

TEST(GizmoRoleTable, WellFormedGizmosPass) {
    const struct {
        const char* name;
        void (*build)(Gizmo&);
    } cases[] = {
        {"compatibility 2 and a type 9 guide with equal sides",
         [](Gizmo& g) {
             g.Part("<r><Stage fileID=\"gz\" compatibility=\"2\"/></r>");
             g.Part("<r><Guide id=\"rail\"/></r>",
                    NewPrimitive9(2.0, 0.1, 2.0, 1, 0, Vec3{}, Colour{}));
             g.Group("Knob", GoodSlide, {"", "<r><Control/></r>"});
         }},
        {"flippers paired by id, a flyer of three members without control",
         [](Gizmo& g) {
             g.Part(StageText);
             g.Group("A", FlipText("f", "0"), {""});
             g.Group("B", FlipText("f", "1"), {""});
             g.Group("Ball", "<g><Fly/></g>", {"", "", ""});
         }},
        {"a second state nobody pairs with is no error",
         [](Gizmo& g) {
             g.Part(StageText);
             g.Group("B", FlipText("x", "1"), {""});
             g.Group("C", FlipText("x", "1"), {""});
         }},
        {"texts that hold nothing",
         [](Gizmo& g) {
             g.Part(StageText);
             g.Part("Cube 3");
             g.Group("Plain", "not xml", {""});
             g.Group("Empty", "", {""});
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Gizmo gizmo;
        c.build(gizmo);
        EXPECT_EQ(gizmo.FirstFailure(), "");
    }
}

TEST(GizmoRoleTable, TheFirstStageAndCeilingCount) {
    Gizmo gizmo;
    gizmo.Part("<r><Collide friction=\"0.5\"/></r>");
    gizmo.Part("<r><Stage gravity=\"2.5\" fileID=\"first\" gameMode=\"yes\"/><Ceiling/></r>");
    gizmo.Part("<r><Stage gravity=\"7\" fileID=\"second\" compatibility=\"9\"/></r>");
    gizmo.Part("<r><Ceiling/></r>");
    const GizmoRoles roles = gizmo.Read();
    EXPECT_EQ(roles.stagePart, 1);
    EXPECT_EQ(roles.gravity, -2.5);
    EXPECT_EQ(roles.fileID, "first");
    EXPECT_EQ(roles.stage.overrideGameMode, 1);
    EXPECT_EQ(roles.ceilingPart, 1);
    ASSERT_EQ(roles.objects.size(), 4u);
    EXPECT_EQ(roles.objects[0].roles.collide->friction, 0.5);
    EXPECT_FALSE(roles.objects[2].roles.stage);
}

TEST(GizmoRoleTable, StageGravityAndIdentifier) {
    const struct {
        const char* stage;
        double gravity;
        const char* fileID;  // null: the load is refused with a message
    } cases[] = {
        {"gravity=\"2.5\" fileID=\"gz\"", -2.5, "gz"},
        {"fileID=\"gz\"", -10.0, "gz"},
        {"gravity=\"\" fileID=\"gz\"", -10.0, "gz"},
        // Without "fileID" the identifier is taken from the "gravity" text from its third
        // character, four characters at most, as gizmos without one have always had.
        {"gravity=\"10.000001\"", -10.000001, ".000"},
        {"gravity=\"9.5\" fileID=\"\"", -9.5, "5"},
        {"gravity=\"10\"", -10.0, ""},
        {"gravity=\"5\"", 0.0, nullptr},
        {"", 0.0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stage);
        Gizmo gizmo;
        gizmo.Part(std::string("<r><Stage ") + c.stage + "/></r>");
        if (c.fileID == nullptr) {
            EXPECT_EQ(gizmo.FirstFailure(), "Stage object must have fileID");
            continue;
        }
        const GizmoRoles roles = gizmo.Read();
        EXPECT_EQ(roles.gravity, c.gravity);
        EXPECT_EQ(roles.fileID, c.fileID);
    }
    // A later stage's missing identifier does not matter.
    Gizmo twoStages;
    twoStages.Part(StageText);
    twoStages.Part("<r><Stage/></r>");
    EXPECT_EQ(twoStages.FirstFailure(), "");
}

TEST(GizmoRoleTable, GuidesInObjectOrder) {
    Gizmo gizmo;
    gizmo.Part(StageText);
    const std::int32_t first = gizmo.Part("<r><Guide id=\"rail\"/></r>");
    gizmo.Part("<r><Guide id=\"rail\"/></r>");
    gizmo.Group("Knob",
                "<g><Slide id=\"rail\" orientation=\"axial\" map=\"bottom\" rotSnap=\"2\" "
                "invMouseNear=\"yes\"/></g>",
                {"<r><Control/></r>"});
    const GizmoRoles roles = gizmo.Read();
    ASSERT_EQ(roles.guides.size(), 2u);
    const SliderRoles slider = ResolveSlider(roles, 0);
    EXPECT_EQ(slider.guidePart, first);
    EXPECT_EQ(slider.controlPart, roles.groups[0].members[0].part);
    EXPECT_TRUE(slider.axial);
    EXPECT_EQ(slider.map, -1);
    EXPECT_EQ(slider.rotSnap, 2);
    EXPECT_EQ(slider.mousePixels, 80.0);
    EXPECT_TRUE(slider.invertFirst);
    EXPECT_FALSE(slider.invertSecond);
}

TEST(GizmoRoleTable, FlipperPairAndItsMotion) {
    Gizmo gizmo;
    gizmo.Part(StageText);
    gizmo.Group("B",
                "<g><Flip id=\"f\" state=\"1\" motion=\"EaseIn\" time=\"0.5\" "
                "ForAndBack=\"yes\"><UserActivated mouse=\"yes\"/></Flip></g>",
                {"", "<r><Control/></r>"});
    gizmo.Group("Fly", "<g><Fly state=\"1\"/></g>", {""});
    gizmo.Group("A",
                "<g><Game scoreVal=\"5\"/><Flip id=\"f\" state=\"0\" motion=\"EaseInOut\" "
                "time=\"0.25\"><CollisionActivated/></Flip></g>",
                {"<r><Control/></r>", ""});
    const GizmoRoles roles = gizmo.Read();
    EXPECT_EQ(roles.objectCount, 1);
    EXPECT_FALSE(roles.groups[0].makesObject);
    EXPECT_FALSE(roles.groups[1].makesObject);
    EXPECT_TRUE(roles.groups[2].makesObject);
    ASSERT_EQ(roles.flipList.size(), 2u);
    EXPECT_EQ(roles.flipList[0].group, 2);
    EXPECT_EQ(roles.flipList[1].group, 0);
    EXPECT_EQ(roles.flipIndex, (std::vector<std::int32_t>{1, -1, 0}));

    const FlipperRoles flipper = ResolveFlipper(roles, 2);
    EXPECT_EQ(flipper.secondGroup, 0);
    EXPECT_EQ(flipper.controlPart, roles.groups[2].members[0].part);
    EXPECT_EQ(flipper.secondControlPart, roles.groups[0].members[1].part);
    EXPECT_EQ(flipper.goEase, EaseInOut);
    EXPECT_EQ(flipper.returnEase, EaseOut);  // "EaseIn" returns as the mirror curve
    EXPECT_EQ(flipper.goTime, 0.25);
    EXPECT_EQ(flipper.returnTime, 0.5);
    // Triggers and "ForAndBack" come from the first state only.
    EXPECT_FALSE(flipper.forAndBack);
    EXPECT_FALSE(flipper.mouseActivated);
    EXPECT_TRUE(flipper.collisionActivated);
    EXPECT_TRUE(flipper.activated);
}

TEST(GizmoRoleTable, ObjectCountMatchesTheObjectsMade) {
    // A "Game" written after the motion hides the motion for the count and the build alike.
    Gizmo gizmo;
    gizmo.Part(StageText);
    gizmo.Group("Late", "<g><Slide id=\"s\"/><Game scoreVal=\"3\"/></g>", {""});
    gizmo.Group("Ball", "<g><Fly state=\"0\"/></g>", {""});
    const GizmoRoles roles = gizmo.Read();
    EXPECT_EQ(roles.objectCount, 1);
    EXPECT_FALSE(roles.groups[0].makesObject);
    EXPECT_TRUE(roles.groups[0].roles.game);
    EXPECT_TRUE(roles.groups[1].makesObject);
    EXPECT_EQ(ResolveFlyerControl(roles, 1), roles.groups[1].members[0].part);
}

TEST(GizmoRoleTable, ControlPart) {
    const std::vector<RoleText> one{{7, ""}};
    const std::vector<RoleText> several{
        {3, "x"}, {4, "<r><Control/></r>"}, {5, "<r><Control/></r>"}};
    const std::vector<RoleText> none{{3, ""}, {4, "<r><Collide/></r>"}};
    EXPECT_EQ(FindControlPart(one), 7);
    EXPECT_EQ(FindControlPart(several), 4);
    EXPECT_EQ(FindControlPart(none), -1);
}

TEST(GizmoRoleTable, SliderSetUpFailures) {
    const struct {
        std::int32_t result;
        const char* message;
    } cases[] = {
        {-1, "Slider Knob's axis does not go through its guiding object"},
        {-2, "Slider Knob's axis is not perpendicular to the surface of its guiding object"},
        {0, ""},
        {1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.result);
        std::string message;
        try {
            CheckSliderSetUp("Knob", c.result);
        } catch (const GizmoLoadException& e) {
            message = e.message;
        }
        EXPECT_EQ(message, c.message);
    }
}

}  // namespace
