#include "core/colour.h"
#include "geometry/part_render_record.h"
#include "geometry/scene_geometry.h"
#include "model/q_document_base.h"
#include "model/q_group.h"
#include "model/q_groups.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
#include "modeller/q_kv_action.h"
#include "render/cast_frame_pass.h"
#include "support/even_odd.h"
#include "view/q_render_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

namespace {

constexpr std::int32_t Width = 64;
constexpr std::int32_t Height = 48;

// What a brute-force ray caster sees through a pixel centre: the nearest ball the ray
// enters, the view depth of the entry, and whether the answer is too close to call (the ray
// passes within a twentieth of a pixel of a ball's rim, or two balls are entered at nearly one
// depth). The balls are read from the parts' world-space sphere forms: centre -(e1, e2, e3) /
// e5, squared radius |centre|^2 - e0 / e5.
struct CastHit {
    std::int32_t index = -1;
    double depth = std::numeric_limits<double>::infinity();
    bool isAmbiguous = false;
};

CastHit CastPixel(const QRenderView& view, const SceneGeometry& geometry, std::int32_t x,
                  std::int32_t y) {
    const double focal = view.focalScale * 1000.0;
    Vec3 eye{};
    view.TransformByInverseView(eye);
    // View depth is the ray parameter: the view direction has z = 1.
    const Vec3 d = view.ViewDirToWorld(
        Vec3{(x - view.centreX + 0.5) / focal, (y - view.centreY + 0.5) / focal, 1.0});
    const double dd = Vec3Dot(d, d);
    CastHit hit;
    double second = std::numeric_limits<double>::infinity();
    for (std::int32_t i = 0; i < geometry.PartCount(); ++i) {
        const PartRenderRecord& record = *geometry.Part(i);
        EXPECT_EQ(record.surfaceCount, 1);
        const auto& e = record.Surfaces()[0].m;
        const Vec3 centre{-e[1] / e[5], -e[2] / e[5], -e[3] / e[5]};
        const double radius = std::sqrt(Vec3Dot(centre, centre) - e[0] / e[5]);
        // The ray's nearest approach to the centre, at parameter tc.
        const Vec3 toCentre = Vec3Sub(centre, eye);
        const double tc = Vec3Dot(toCentre, d) / dd;
        const Vec3 nearest = Vec3Sub(toCentre, Vec3Scale(d, tc));
        const double miss = Vec3Length(nearest);
        const double pixel = tc / focal * std::sqrt(dd);
        if (std::fabs(miss - radius) < 0.05 * pixel) hit.isAmbiguous = true;
        if (miss >= radius) continue;
        const double t = tc - std::sqrt(radius * radius - miss * miss) / std::sqrt(dd);
        if (t <= 0.0) continue;
        if (t < hit.depth) {
            second = hit.depth;
            hit.depth = t;
            hit.index = i;
        } else {
            second = std::min(second, t);
        }
    }
    if (std::isfinite(second) && second - hit.depth < 1e-6 * hit.depth) hit.isAmbiguous = true;
    return hit;
}

// A camera at (0, 0, -10) looking along +z: world (x, y, 0) is seen at pixel
// (32 + 100 x, 24 + 100 y).
struct Scene {
    Scene() : view(&document), pixels(static_cast<std::size_t>(Width * Height), 0u) {
        view.viewSettings.camera.Assign(QCamera());
        view.viewSettings.camera.position = Vec3{0.0, 0.0, -10.0};
        EXPECT_TRUE(view.InitViewBuffers(Width * 4, pixels.data(), Width, Height, true));
    }
    void Render() { ASSERT_EQ(view.RenderDocument(), CastDone); }
    SceneGeometry& Geometry() { return *document.Geometry(); }
    QMorvanObjects& Objects() { return *document.Objects(); }

    QDocumentBase document;
    QRenderView view;
    std::vector<std::uint32_t> pixels;
};

// Three overlapping balls about the origin.
void AddOverlappingBalls(Scene& scene) {
    const Colour white = ColourFromBytes(255, 255, 255);
    scene.Objects().AddShapeType1(0.12, white, Vec3{0.0, 0.0, 0.0});
    scene.Objects().AddShapeType1(0.08, white, Vec3{0.12, 0.06, -0.05});
    scene.Objects().AddShapeType1(0.1, white, Vec3{-0.1, -0.08, 0.1});
}

TEST(ViewPicking, PicksWhatARayCasterSeesOverEveryPixel) {
    Scene scene;
    AddOverlappingBalls(scene);
    scene.Render();
    const double focal = scene.view.focalScale * 1000.0;

    std::set<std::int32_t> seen;
    std::int32_t compared = 0;
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            const CastHit expected = CastPixel(scene.view, scene.Geometry(), x, y);
            if (expected.isAmbiguous) continue;
            SCOPED_TRACE(testing::Message() << "pixel " << x << ", " << y);
            std::int32_t index = 99;
            Vec3 point{7.0, 7.0, 7.0};
            Vec3 normal{7.0, 7.0, 7.0};
            const bool isHit = scene.view.PickAtPixel(0, x, y, index, point, normal);
            ++compared;
            ASSERT_EQ(index, expected.index);
            ASSERT_EQ(isHit, expected.index >= 0);
            if (!isHit) {
                EXPECT_EQ(point.x, 7.0);  // a miss leaves the outputs alone
                EXPECT_EQ(normal.x, 7.0);
                continue;
            }
            seen.insert(index);
            EXPECT_NEAR(point.z, expected.depth, 1e-5 * expected.depth);
            EXPECT_NEAR(point.x, (x - scene.view.centreX + 0.5) * point.z / focal, 1e-9);
            EXPECT_NEAR(point.y, (y - scene.view.centreY + 0.5) * point.z / focal, 1e-9);
            // A unit normal, facing the eye.
            EXPECT_NEAR(Vec3Length(normal), 1.0, 1e-9);
            EXPECT_LT(Vec3Dot(normal, point), 0.0);
        }
    }
    EXPECT_GT(compared, Width * Height * 9 / 10);
    EXPECT_EQ(seen, (std::set<std::int32_t>{0, 1, 2}));
}

TEST(ViewPicking, NoHitOutsideTheFrameOrBeforeARender) {
    Scene scene;
    AddOverlappingBalls(scene);
    std::int32_t index = 5;
    Vec3 point{}, normal{};
    EXPECT_FALSE(scene.view.PickAtPixel(0, Width / 2, Height / 2, index, point, normal));
    EXPECT_EQ(index, -1);
    scene.Render();
    const std::int32_t outside[][2] = {{-1, 0}, {0, -1}, {Width, 0}, {0, Height}};
    for (const auto& p : outside) {
        index = 5;
        EXPECT_FALSE(scene.view.PickAtPixel(0, p[0], p[1], index, point, normal));
        EXPECT_EQ(index, -1);
    }
    EXPECT_TRUE(scene.view.PickAtPixel(0, Width / 2, Height / 2, index, point, normal));
}

// Small balls across the frame, five columns by three rows, indices row by row.
void AddBallGrid(Scene& scene) {
    const Colour grey = ColourFromBytes(160, 160, 200);
    for (std::int32_t row = 0; row < 3; ++row) {
        for (std::int32_t column = 0; column < 5; ++column) {
            scene.Objects().AddShapeType1(0.025, grey,
                                          Vec3{-0.24 + 0.12 * column, -0.14 + 0.14 * row, 0.0});
        }
    }
}

std::set<std::int32_t> SelectedRecords(Scene& scene) {
    std::set<std::int32_t> ids;
    for (std::int32_t i = 0; i < scene.Geometry().PartCount(); ++i) {
        if (scene.Geometry().Part(i)->selected != 0) ids.insert(i);
    }
    return ids;
}

std::set<std::int32_t> SelectionOf(Scene& scene) {
    const auto ids = scene.Objects().SelectionIds().Ids();
    return {ids.begin(), ids.end()};
}

TEST(ViewPicking, LassoSelectsThePartsSeenAtPixelCentresInside) {
    Scene scene;
    AddBallGrid(scene);
    scene.Render();

    const std::vector<std::vector<PolygonPoint>> lassos = {
        // A concave hook, a self-crossing bow tie, a thin sliver and one that encloses nothing.
        {{2, 2}, {40, 3}, {41, 20}, {20, 14}, {8, 40}, {3, 30}},
        {{5, 5}, {60, 44}, {60, 5}, {5, 44}},
        {{0, 23.2}, {63, 23.2}, {63, 23.7}, {0, 23.7}},
        {{30.1, 0.1}, {30.3, 0.1}, {30.3, 0.3}},
    };
    for (std::size_t k = 0; k < lassos.size(); ++k) {
        SCOPED_TRACE(k);
        const std::vector<PolygonPoint>& lasso = lassos[k];
        std::set<std::int32_t> expected;
        for (std::int32_t y = 0; y < Height; ++y) {
            for (std::int32_t x = 0; x < Width; ++x) {
                if (!InsideEvenOdd(lasso, x + 0.5, y + 0.5)) continue;
                std::int32_t index = -1;
                Vec3 point{}, normal{};
                if (scene.view.PickAtPixel(0, x, y, index, point, normal)) expected.insert(index);
            }
        }
        scene.view.SelectInPolygon(lasso, false);
        EXPECT_EQ(SelectionOf(scene), expected);
        EXPECT_EQ(SelectedRecords(scene), expected);
    }
}

TEST(ViewPicking, LassoAddsToTheSelectionAndRedrawsOnlyThePartsThatChanged) {
    Scene scene;
    AddBallGrid(scene);
    scene.Render();
    const std::vector<std::uint32_t> plain = scene.pixels;

    // The left column, then the right column added to it.
    const std::vector<PolygonPoint> left{{0, 0}, {12, 0}, {12, 48}, {0, 48}};
    const std::vector<PolygonPoint> right{{52, 0}, {64, 0}, {64, 48}, {52, 48}};
    scene.view.SelectInPolygon(left, false);
    const std::set<std::int32_t> leftIds = SelectionOf(scene);
    ASSERT_EQ(leftIds, (std::set<std::int32_t>{0, 5, 10}));
    scene.view.SelectInPolygon(right, true);
    EXPECT_EQ(SelectionOf(scene), (std::set<std::int32_t>{0, 4, 5, 9, 10, 14}));

    // The selected balls are drawn lighter; every other pixel keeps its value.
    std::int32_t changed = 0;
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            const std::size_t i = static_cast<std::size_t>(y * Width + x);
            std::int32_t index = -1;
            Vec3 point{}, normal{};
            scene.view.PickAtPixel(0, x, y, index, point, normal);
            const bool isSelected = index >= 0 && SelectionOf(scene).count(index) == 1;
            if (!isSelected) {
                ASSERT_EQ(scene.pixels[i], plain[i]) << x << ", " << y;
            } else if (scene.pixels[i] != plain[i]) {
                ++changed;
            }
        }
    }
    EXPECT_GT(changed, 0);

    // The redrawn frame is the frame a full render of the selection gives, to within the
    // dither's last step.
    const std::vector<std::uint32_t> redrawn = scene.pixels;
    scene.Render();
    for (std::size_t i = 0; i < redrawn.size(); ++i) {
        for (std::int32_t shift = 0; shift < 32; shift += 8) {
            const std::int32_t a = static_cast<std::int32_t>((redrawn[i] >> shift) & 0xFF);
            const std::int32_t b = static_cast<std::int32_t>((scene.pixels[i] >> shift) & 0xFF);
            ASSERT_LE(std::abs(a - b), 1) << "pixel " << i;
        }
    }

    // A lasso around nothing, not adding, clears the selection and draws the balls plain.
    scene.view.SelectInPolygon(std::vector<PolygonPoint>{{30, 0.1}, {31, 0.1}, {31, 0.4}}, false);
    EXPECT_TRUE(SelectionOf(scene).empty());
    EXPECT_TRUE(SelectedRecords(scene).empty());
    for (std::size_t i = 0; i < plain.size(); ++i) {
        for (std::int32_t shift = 0; shift < 32; shift += 8) {
            const std::int32_t a = static_cast<std::int32_t>((plain[i] >> shift) & 0xFF);
            const std::int32_t b = static_cast<std::int32_t>((scene.pixels[i] >> shift) & 0xFF);
            ASSERT_LE(std::abs(a - b), 1) << "pixel " << i;
        }
    }
}

TEST(ViewPicking, ClickSelectionTogglesAndClears) {
    Scene scene;
    AddBallGrid(scene);
    scene.Render();
    scene.view.UpdateSelection(3, false, 0, false);
    EXPECT_EQ(SelectionOf(scene), (std::set<std::int32_t>{3}));
    scene.view.UpdateSelection(7, true, 0, false);
    EXPECT_EQ(SelectedRecords(scene), (std::set<std::int32_t>{3, 7}));
    scene.view.UpdateSelection(3, true, 0, false);
    EXPECT_EQ(SelectedRecords(scene), (std::set<std::int32_t>{7}));
    scene.view.UpdateSelection(-1, false, 0, false);
    EXPECT_TRUE(SelectedRecords(scene).empty());
    EXPECT_TRUE(SelectionOf(scene).empty());
}

// Groups over the ball grid (ball (column, row) has index 5 row + column and is seen at
// pixel (8 + 12 column, 10 + 14 row)). "Rig" and "Wheel" are whole groups (kinds 0 and 4.4,
// both truncating to a number with the two low bits clear); "Loose" and "Odd" (3.6, which
// truncates to 3) are not. The table lists, for every member of a whole group, the whole
// group it brings along.
const std::map<std::int32_t, std::set<std::int32_t>>& AddGroups(Scene& scene) {
    const auto add = [&](const char* name, float kind, std::initializer_list<std::int32_t> ids) {
        auto made = std::make_unique<QGroup>(name);
        made->SetKind(kind);
        QGroup* group = made.get();
        scene.document.Groups()->AddGroup(std::move(made), true);
        for (const std::int32_t id : ids) scene.Objects().At(id)->SetGroup(group);
    };
    add("Rig", GroupKindWhole, {0, 5, 14});
    add("Wheel", 4.4f, {2, 12});
    add("Loose", GroupKindLoose, {6, 7, 8});
    add("Odd", 3.6f, {4, 9});
    static const std::map<std::int32_t, std::set<std::int32_t>> whole = {
        {0, {0, 5, 14}}, {5, {0, 5, 14}}, {14, {0, 5, 14}}, {2, {2, 12}}, {12, {2, 12}}};
    return whole;
}

std::set<std::int32_t> WithWholeGroups(
    const std::set<std::int32_t>& ids,
    const std::map<std::int32_t, std::set<std::int32_t>>& whole) {
    std::set<std::int32_t> all = ids;
    for (const std::int32_t id : ids) {
        if (const auto found = whole.find(id); found != whole.end()) {
            all.insert(found->second.begin(), found->second.end());
        }
    }
    return all;
}

// A lasso selects the parts a brute-force ray caster sees at the pixel centres inside it
// (even-odd rule), each with the whole group it belongs to. Pixels the caster cannot call
// (a ray grazing a rim) may go either way.
TEST(ViewPicking, LassoSelectsWholeGroupsOfThePartsInside) {
    Scene scene;
    AddBallGrid(scene);
    const auto& whole = AddGroups(scene);
    scene.Render();

    const std::vector<std::vector<PolygonPoint>> lassos = {
        {{2, 4}, {14, 4}, {14, 16}, {2, 16}},                     // ball 0: all of "Rig"
        {{14, 18}, {38, 18}, {38, 30}, {14, 30}},                 // balls 6 and 7 of "Loose"
        {{50, 4}, {62, 4}, {62, 30}, {50, 30}},                   // balls 4 and 9 of "Odd"
        {{26, 32}, {38, 44}, {26, 44}},                           // ball 12: all of "Wheel"
        {{2, 2}, {40, 3}, {41, 20}, {20, 14}, {8, 40}, {3, 30}},  // a concave hook
        {{5, 5}, {60, 44}, {60, 5}, {5, 44}},                     // a self-crossing bow tie
        {{30.1, 0.1}, {30.3, 0.1}, {30.3, 0.3}},                  // nothing
    };
    const std::vector<std::set<std::int32_t>> named = {{0, 5, 14}, {6, 7}, {4, 9}, {2, 12}};
    for (std::size_t k = 0; k < lassos.size(); ++k) {
        SCOPED_TRACE(k);
        const std::vector<PolygonPoint>& lasso = lassos[k];
        std::set<std::int32_t> sure;
        std::set<std::int32_t> possible;
        for (std::int32_t y = 0; y < Height; ++y) {
            for (std::int32_t x = 0; x < Width; ++x) {
                if (!InsideEvenOdd(lasso, x + 0.5, y + 0.5)) continue;
                const CastHit hit = CastPixel(scene.view, scene.Geometry(), x, y);
                if (hit.index >= 0) possible.insert(hit.index);
                if (hit.index >= 0 && !hit.isAmbiguous) sure.insert(hit.index);
                // A grazed rim may or may not show its ball: any ball seen within 4 pixels
                // of the pixel centre (the balls are 2.5 pixels in radius).
                if (!hit.isAmbiguous) continue;
                for (std::int32_t i = 0; i < 15; ++i) {
                    const double dx = x + 0.5 - (8 + 12 * (i % 5));
                    const double dy = y + 0.5 - (10 + 14 * (i / 5));
                    if (dx * dx + dy * dy < 16.0) possible.insert(i);
                }
            }
        }
        sure = WithWholeGroups(sure, whole);
        possible = WithWholeGroups(possible, whole);
        if (k < named.size()) {
            EXPECT_EQ(sure, named[k]);
        }
        scene.view.SelectInPolygon(lasso, false);
        const std::set<std::int32_t> selected = SelectionOf(scene);
        EXPECT_TRUE(std::includes(selected.begin(), selected.end(), sure.begin(), sure.end()));
        EXPECT_TRUE(
            std::includes(possible.begin(), possible.end(), selected.begin(), selected.end()));
        EXPECT_EQ(SelectedRecords(scene), selected);
    }
}

// A click on a member of a whole group selects the group; a click on a loose group's member
// selects that member alone.
TEST(ViewPicking, ClickSelectsAWholeGroup) {
    Scene scene;
    AddBallGrid(scene);
    AddGroups(scene);
    scene.Render();
    scene.view.UpdateSelection(5, false, 0, false);
    EXPECT_EQ(SelectionOf(scene), (std::set<std::int32_t>{0, 5, 14}));
    scene.view.UpdateSelection(12, true, 0, false);
    EXPECT_EQ(SelectedRecords(scene), (std::set<std::int32_t>{0, 2, 5, 12, 14}));
    scene.view.UpdateSelection(14, true, 0, false);  // toggled off with its group
    EXPECT_EQ(SelectedRecords(scene), (std::set<std::int32_t>{2, 12}));
    scene.view.UpdateSelection(7, false, 0, false);
    EXPECT_EQ(SelectionOf(scene), (std::set<std::int32_t>{7}));
    scene.view.UpdateSelection(9, false, 0, false);
    EXPECT_EQ(SelectionOf(scene), (std::set<std::int32_t>{9}));
}

// Whether a selection change marks the parts: the sketch draw mode marks nothing; otherwise
// the highlight switch or the selection tool lets a selection be marked, and a deselection
// always proceeds.
TEST(ViewPicking, HighlightSettingsGateSelectionMarks) {
    struct Case {
        bool isSketch;
        bool isHighlightOn;
        std::int32_t tool;
        bool value;
        std::uint8_t before;
        std::uint8_t after;
    };
    const Case cases[] = {
        {false, true, 103, true, 0, 1},   {false, false, 103, true, 0, 0},
        {false, false, 105, true, 0, 1},  {false, true, 105, true, 0, 1},
        {true, true, 103, true, 0, 0},    {true, true, 105, true, 0, 0},
        {false, false, 103, false, 1, 0}, {false, true, 103, false, 1, 0},
        {true, true, 103, false, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.isSketch << c.isHighlightOn << " " << c.tool << " " << c.value);
        Scene scene;
        AddOverlappingBalls(scene);
        scene.view.drawState.isSketch = c.isSketch;
        scene.view.viewSettings.SetHighlight(c.isHighlightOn);
        QKVAction* action = MouseActionOf(scene.document);
        ASSERT_NE(action, nullptr);
        action->tools.SelectTool(c.tool);
        scene.Render();
        scene.Geometry().Part(1)->selected = c.before;
        IdSet ids;
        ids.Insert(1);
        scene.view.SetSelection(&ids, c.value, true);
        EXPECT_EQ(scene.Geometry().Part(1)->selected, c.after);
        EXPECT_EQ(scene.Geometry().Part(0)->selected, 0);
    }
}

// The sketch draw mode shows the flat preview: every pixel coloured from the id seen there,
// the part's fill colour unless a neighbour (right, left, below, above; outside the frame
// counts as background) shows a smaller id, then its edge colour; the background word where
// nothing is seen. The ids come from the ray caster; a part marked selected takes the
// selected fill colour.
TEST(ViewPicking, SketchModeShowsTheFlatPreviewOfTheIdsAndReshadesTheSelection) {
    Scene scene;
    AddOverlappingBalls(scene);
    scene.view.SetDrawMode(2);
    scene.Render();
    EXPECT_FALSE(scene.view.isFrameValid);

    const auto check = [&](std::int32_t selected) {
        std::int32_t compared = 0;
        for (std::int32_t y = 0; y < Height; ++y) {
            for (std::int32_t x = 0; x < Width; ++x) {
                const CastHit hit = CastPixel(scene.view, scene.Geometry(), x, y);
                bool isAmbiguous = hit.isAmbiguous;
                bool isEdge = false;
                for (const auto& [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
                    const std::int32_t nx = x + dx;
                    const std::int32_t ny = y + dy;
                    std::int32_t index = -1;
                    if (nx >= 0 && ny >= 0 && nx < Width && ny < Height) {
                        const CastHit next = CastPixel(scene.view, scene.Geometry(), nx, ny);
                        isAmbiguous = isAmbiguous || next.isAmbiguous;
                        index = next.index;
                    }
                    isEdge = isEdge || index < hit.index;
                }
                if (isAmbiguous) continue;
                SCOPED_TRACE(testing::Message() << "pixel " << x << ", " << y);
                std::uint32_t expected = scene.view.colourWords[1];
                if (hit.index >= 0) {
                    const std::uint32_t fill = hit.index == selected ? scene.view.colourWords[3]
                                                                     : scene.view.colourWords[0];
                    expected = (isEdge ? scene.view.colourWords[2] : fill) | 0xFF000000u;
                }
                ASSERT_EQ(scene.pixels[static_cast<std::size_t>(y * Width + x)], expected);
                ++compared;
            }
        }
        EXPECT_GT(compared, Width * Height * 3 / 4);
    };
    check(-1);
    // The sketch draw mode marks no selection: the part is selected, the picture unchanged.
    scene.view.UpdateSelection(1, false, 0, false);
    EXPECT_EQ(SelectionOf(scene), (std::set<std::int32_t>{1}));
    check(-1);
    // A part whose record is marked selected is drawn in the selected fill colour.
    scene.Geometry().Part(1)->selected = 1;
    scene.Render();
    check(1);
}

// An attribute sync takes the records' colours and selected bytes into the renderer's parts
// without a render.
TEST(ViewPicking, SyncObjectAttributesTakesTheRecordsAttributes) {
    Scene scene;
    AddOverlappingBalls(scene);
    scene.Render();
    scene.Objects().At(0)->SetColor(10, 20, 30);
    scene.Geometry().Part(2)->selected = 1;
    const IdSet first = [] {
        IdSet ids;
        ids.Insert(0);
        return ids;
    }();
    scene.view.SyncObjectAttributes(&first);
    EXPECT_EQ(scene.view.parts.Part(0).colour & 0xFFFFFFu, 0x0A141Eu);
    EXPECT_EQ(scene.view.parts.Part(2).isSelected, 0);  // not listed
    scene.view.SyncObjectAttributes();
    EXPECT_EQ(scene.view.parts.Part(2).isSelected, 1);
}

}  // namespace
