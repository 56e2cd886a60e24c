#include "core/colour.h"
#include "core/matrix4.h"
#include "geometry/part_render_record.h"
#include "geometry/scene_geometry.h"
#include "model/q_document_base.h"
#include "model/q_group.h"
#include "model/q_groups.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
#include "modeller/q_kv_action.h"
#include "view/q_render_view.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

constexpr std::int32_t Width = 160;
constexpr std::int32_t Height = 120;

// The group's turn: 50 degrees about the unit axis (1, 2, 2) / 3.
const Vec3 TurnAxis{1.0 / 3.0, 2.0 / 3.0, 2.0 / 3.0};
const double TurnAngle = 50.0 * 3.14159265358979323846 / 180.0;

// The rotation matrix about the unit axis u by angle a, row-major with translation 0.
Matrix4 Rotation(const Vec3& u, double a) {
    const double c = std::cos(a);
    const double s = std::sin(a);
    const double t = 1.0 - c;
    Matrix4 m;
    m.m = {t * u.x * u.x + c,
           t * u.x * u.y - s * u.z,
           t * u.x * u.z + s * u.y,
           0.0,
           t * u.x * u.y + s * u.z,
           t * u.y * u.y + c,
           t * u.y * u.z - s * u.x,
           0.0,
           t * u.x * u.z - s * u.y,
           t * u.y * u.z + s * u.x,
           t * u.z * u.z + c,
           0.0,
           0.0,
           0.0,
           0.0,
           1.0};
    return m;
}

// World axis j turned about u by a (Rodrigues' formula): v cos a + (u x v) sin a +
// u (u . v)(1 - cos a).
Vec3 Turned(std::int32_t j, const Vec3& u, double a) {
    const Vec3 v{j == 0 ? 1.0 : 0.0, j == 1 ? 1.0 : 0.0, j == 2 ? 1.0 : 0.0};
    const Vec3 cross{u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
    const double dot = u.x * v.x + u.y * v.y + u.z * v.z;
    return Vec3{v.x * std::cos(a) + cross.x * std::sin(a) + u.x * dot * (1.0 - std::cos(a)),
                v.y * std::cos(a) + cross.y * std::sin(a) + u.y * dot * (1.0 - std::cos(a)),
                v.z * std::cos(a) + cross.z * std::sin(a) + u.z * dot * (1.0 - std::cos(a))};
}

Vec3 WorldAxis(std::int32_t j) {
    return Vec3{j == 0 ? 1.0 : 0.0, j == 1 ? 1.0 : 0.0, j == 2 ? 1.0 : 0.0};
}

void ExpectNear(const Vec3& a, const Vec3& b, double tolerance) {
    EXPECT_NEAR(a.x, b.x, tolerance);
    EXPECT_NEAR(a.y, b.y, tolerance);
    EXPECT_NEAR(a.z, b.z, tolerance);
}

// Two small balls in a group turned by TurnAngle about TurnAxis, a third outside it, seen
// from (0, 0, -10), with the overlay and its object-axis arrows on.
struct Scene {
    Scene() : view(&document), pixels(static_cast<std::size_t>(Width * Height), 0u) {
        view.viewSettings.camera.Assign(QCamera());
        view.viewSettings.camera.position = Vec3{0.0, 0.0, -10.0};
        view.viewSettings.lights.RemoveAll();
        EXPECT_TRUE(view.InitViewBuffers(Width * 4, pixels.data(), Width, Height, true));
        view.CreateSecondaryScene(true);
        document.objectAxesShown = 1;
        const Colour white = ColourFromBytes(255, 255, 255);
        QMorvanObjects& objects = *document.Objects();
        objects.AddShapeType1(0.05, white, Vec3{-0.2, 0.0, 0.0});
        objects.AddShapeType1(0.05, white, Vec3{0.2, 0.0, 0.0});
        objects.AddShapeType1(0.05, white, Vec3{0.0, 0.3, 0.0});
        auto made = std::make_unique<QGroup>("Rig");
        made->SetKind(GroupKindWhole);
        made->SetTransform(Rotation(TurnAxis, TurnAngle));
        group = made.get();
        document.Groups()->AddGroup(std::move(made), true);
        objects.At(0)->SetGroup(group);
        objects.At(1)->SetGroup(group);
        action = MouseActionOf(document);
    }
    void Select(std::initializer_list<std::int32_t> ids) {
        document.Objects()->ClearSelection();
        for (const std::int32_t id : ids) document.Objects()->At(id)->SetSelected(true);
    }

    QDocumentBase document;
    QRenderView view;
    std::vector<std::uint32_t> pixels;
    QGroup* group = nullptr;
    QKVAction* action = nullptr;
};

// With both members of a group of its own frame selected, the transform tools' arrows point
// along the group's turned axes (unless the frame mode names the view's or the world's),
// and the scale tool shows none.
TEST(ViewAxisFrames, GroupMembersTakeTheGroupsFrame) {
    Scene scene;
    ASSERT_NE(scene.action, nullptr);
    scene.Select({0, 1});
    struct Case {
        std::int32_t tool;
        std::int32_t frameMode;
        bool isShown;
        bool isTurned;  // the group's axes; else the world's
        std::array<bool, 3> flags;
    };
    const Case cases[] = {
        {102, 2, true, true, {false, true, false}},  // axis choice 2
        {102, 7, true, true, {false, true, false}},  // a mode that names no frame
        {102, 1, true, false, {false, true, false}},
        {103, 2, true, true, {true, false, true}},  // axis mask 5
        {105, 0, true, true, {false, false, false}},
        {104, 2, false, false, {false, false, false}},
    };
    scene.action->axisTools.tool102AxisChoice = 2;
    scene.action->axisTools.tool103AxisMask = 5;
    QMorvanObjects& handles = *scene.view.OverlayDocument()->Objects();
    const SceneGeometry& arrows = *scene.view.OverlayDocument()->Geometry();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.tool << " " << c.frameMode);
        scene.action->tools.SelectTool(c.tool);
        scene.action->axisTools.tool102FrameMode = c.frameMode;
        scene.action->axisTools.tool103FrameMode = c.frameMode;
        Vec3 anchor{};
        std::array<Vec3, 3> axes{};
        std::array<bool, 3> flags{};
        double length = 0.0;
        bool isGroupFrame = false;
        bool isLocalLight = true;
        EXPECT_EQ(
            scene.view.DragAlongObjectAxes(anchor, axes, flags, length, isGroupFrame, isLocalLight),
            c.isShown);
        EXPECT_TRUE(isGroupFrame);
        EXPECT_FALSE(isLocalLight);
        scene.view.SyncObjectsWithView(true);
        for (std::int32_t k = 54; k < 60; ++k) {
            EXPECT_EQ(handles.At(k)->IsVisible(), c.isShown) << k;
        }
        if (!c.isShown) continue;
        EXPECT_EQ(flags, c.flags);
        ExpectNear(anchor, Vec3{0.0, 0.0, 0.0}, 1e-6);
        for (std::int32_t j = 0; j < 3; ++j) {
            SCOPED_TRACE(j);
            const Vec3 expected = c.isTurned ? Turned(j, TurnAxis, TurnAngle) : WorldAxis(j);
            ExpectNear(axes[static_cast<std::size_t>(j)], expected, 1e-12);
            // The shaft lies along the axis, and the head stands on it beyond the anchor.
            const QMorvanObject& shaft = *handles.At(54 + 2 * j);
            const QMorvanObject& head = *handles.At(55 + 2 * j);
            ExpectNear(shaft.GetAxis(1), expected, 1e-4);
            ExpectNear(head.GetAxis(1), expected, 1e-4);
            Vec3 out = Vec3Sub(head.GetCentre(), anchor);
            Vec3Normalize(out);
            ExpectNear(out, expected, 1e-4);
            // A marked axis is drawn magenta in a group's frame.
            const std::uint32_t colour = arrows.Part(54 + 2 * j)->colour & 0xFFFFFFu;
            const std::uint32_t plain = 0xFF0000u >> (8 * j);
            EXPECT_EQ(colour, c.flags[static_cast<std::size_t>(j)] ? 0xFF00FFu : plain);
        }
    }
}

// The group's frame needs every selected object in one group whose kind, rounded, has both
// low bits clear; otherwise the world's frame stands.
TEST(ViewAxisFrames, OnlyOneGroupOfItsOwnFrameTurnsTheArrows) {
    struct Case {
        float kind;
        std::vector<std::int32_t> selected;
        bool isGroupFrame;
    };
    const std::vector<Case> cases = {
        {GroupKindWhole, {0, 1}, true},
        {GroupKindWhole, {1}, true},
        {3.6f, {0, 1}, true},
        {-4.0f, {0}, true},
        {GroupKindLoose, {0, 1}, false},
        {0.6f, {0, 1}, false},
        {2.0f, {0, 1}, false},
        {GroupKindWhole, {0, 2}, false},  // 2 is outside
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.kind << " " << c.selected.size());
        Scene scene;
        scene.group->SetKind(c.kind);
        scene.document.Objects()->ClearSelection();
        for (const std::int32_t id : c.selected)
            scene.document.Objects()->At(id)->SetSelected(true);
        scene.action->tools.SelectTool(105);
        Vec3 anchor{};
        std::array<Vec3, 3> axes{};
        std::array<bool, 3> flags{};
        double length = 0.0;
        bool isGroupFrame = !c.isGroupFrame;
        bool isLocalLight = false;
        ASSERT_TRUE(scene.view.DragAlongObjectAxes(anchor, axes, flags, length, isGroupFrame,
                                                   isLocalLight));
        EXPECT_EQ(isGroupFrame, c.isGroupFrame);
        for (std::int32_t j = 0; j < 3; ++j) {
            ExpectNear(axes[static_cast<std::size_t>(j)],
                       c.isGroupFrame ? Turned(j, TurnAxis, TurnAngle) : WorldAxis(j), 1e-12);
        }
    }
}

}  // namespace
