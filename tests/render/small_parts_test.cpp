// Marking of parts thinner than the pixel grid, and the thin parts' coverage once the pixel
// pass has integrated the marked cells.

#include "render/small_parts.h"

#include "core/matrix3.h"
#include "core/matrix4.h"
#include "core/private_heap.h"
#include "geometry/part_render_record.h"
#include "geometry/part_shape_build.h"
#include "geometry/scene_geometry.h"
#include "geometry/shape_surface_count.h"
#include "geometry/shape_type.h"
#include "geometry/working_part_record.h"
#include "render/cast_frame_pass.h"
#include "render/q_render.h"
#include "render/scene_render_parts.h"
#include "render/span_shade.h"
#include "support/shadow_scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <numbers>
#include <string>
#include <vector>

namespace {

// A renderer of two samples per pixel with the pixel pass on, its parts in view space.
struct ThinFrame {
    ThinFrame(std::int32_t w, std::int32_t h, double focal, std::int32_t samples)
        : width(w), height(h), pixels(static_cast<std::size_t>(w * h), 0u) {
        render.SetSamplesPerPixel(samples);
        EXPECT_EQ(render.SetSize(pixels.data(), w, h, w, false), RenderSizeOk);
        render.centreX = w / 2.0;
        render.centreY = h / 2.0;
        render.focalScale = focal / 1000.0;
        render.SetLightCounts(0, 0);
        render.shade.ambient = {1020, 1020, 1020};
        render.edges.isRefined = true;
        render.BuildLevelTable();
    }

    // A part with no surfaces of its own that matter here: a tiny sphere far off screen.
    std::int32_t AddSkeleton(const PartSkeleton& skeleton) {
        const std::int32_t index = render.parts.AddPart(1);
        Matrix4W sphere;
        sphere.m[0] = 1e6 - 1.0;
        sphere.m[3] = sphere.m[12] = -1000.0;
        sphere.m[5] = sphere.m[10] = sphere.m[15] = 1.0;
        render.parts.SetViewForms(index, std::span<const Matrix4W>(&sphere, 1), sphere);
        render.parts.Part(index).skeleton = skeleton;
        return index;
    }

    const SampleCell& Cell(std::int32_t x, std::int32_t y) const {
        return render.SampleBuffer(0)[static_cast<std::size_t>(y + 1) *
                                          static_cast<std::size_t>(render.Level().cellStride) +
                                      static_cast<std::size_t>(x + 1)];
    }
    bool IsMarked(std::int32_t x, std::int32_t y) const {
        return (Cell(x, y).pixel & PixelSmallPartChain) != 0;
    }
    std::vector<std::int32_t> Chain(std::int32_t x, std::int32_t y) const {
        std::vector<std::int32_t> parts;
        AddChainedParts(
            render,
            static_cast<std::size_t>(y + 1) * static_cast<std::size_t>(render.Level().cellStride) +
                static_cast<std::size_t>(x + 1),
            parts);
        return parts;
    }

    std::int32_t width;
    std::int32_t height;
    std::vector<std::uint32_t> pixels;
    QRender render;
};

TEST(SmallParts, BeadsAreMarkedWhenThinnerThanThreeQuartersOfAPixel) {
    // Focal length 100, depth 100: a pixel is one unit. A bead projected at x marks the 4 x 4
    // block of columns nearest(x) - 2 to nearest(x) + 1 inside the clip rectangle, which
    // starts at column 10; the window around it is strict, 10 pixels wide.
    struct Case {
        double radius;
        double x;  // projected column
        std::vector<std::int32_t> columns;
    };
    const Case cases[] = {
        {0.5, 20.3, {18, 19, 20, 21}}, {0.8, 20.3, {}}, {0.5, 8.5, {10}}, {0.5, 0.0, {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE("radius " + std::to_string(c.radius) + " at " + std::to_string(c.x));
        ThinFrame frame(40, 40, 100.0, 2);
        const double cx = frame.render.centreX, cy = frame.render.centreY;
        PartSkeleton bead;
        bead.kind = 0;
        bead.a = Vec3{c.x - cx, 20.0 - cy, 100.0};
        bead.r = Vec3{c.radius, 0, 0};
        const std::int32_t part = frame.AddSkeleton(bead);
        ResetSmallPartChains(frame.render);
        MarkSmallPartsInFrame(frame.render, nullptr, false, RegionRect{10, 0, 40, 40});
        for (std::int32_t y = 0; y < 40; ++y) {
            for (std::int32_t x = 0; x < 40; ++x) {
                const bool inColumns =
                    std::find(c.columns.begin(), c.columns.end(), x) != c.columns.end();
                const bool expected = inColumns && y >= 18 && y <= 21;
                ASSERT_EQ(frame.IsMarked(x, y), expected) << x << ", " << y;
                if (expected) {
                    EXPECT_EQ(frame.Chain(x, y), std::vector<std::int32_t>{part});
                }
            }
        }
    }
}

TEST(SmallParts, SegmentsLeaveNoGapAtAnySlope) {
    // Segments at slopes from flat to steep, each cell listed once per part however often the
    // two walks mark it; two segments crossing share the cells they both touch.
    for (const double angle : {0.0, 0.2, 0.7, 0.785, 1.1, 1.5, 2.4}) {
        SCOPED_TRACE("angle " + std::to_string(angle));
        ThinFrame frame(64, 64, 100.0, 2);
        const double cx = frame.render.centreX, cy = frame.render.centreY;
        const double dx = 25.0 * std::cos(angle), dy = 25.0 * std::sin(angle);
        PartSkeleton rod;
        rod.kind = 1;
        rod.a = Vec3{32.3 - dx - cx, 31.7 - dy - cy, 100.0};
        rod.b = Vec3{32.3 + dx - cx, 31.7 + dy - cy, 100.0};
        rod.r = Vec3{0.2, 0, 0};
        const std::int32_t first = frame.AddSkeleton(rod);
        std::swap(rod.a.x, rod.b.x);
        const std::int32_t second = frame.AddSkeleton(rod);
        ResetSmallPartChains(frame.render);
        MarkSmallPartsInFrame(frame.render, nullptr, false, RegionRect{0, 0, 64, 64});
        // Every cell a point of the first segment falls in is marked for it.
        for (std::int32_t k = 0; k <= 1000; ++k) {
            const double t = k / 1000.0;
            const double x = 32.3 - dx + 2 * dx * t, y = 31.7 - dy + 2 * dy * t;
            const auto column = static_cast<std::int32_t>(std::floor(x));
            const auto row = static_cast<std::int32_t>(std::floor(y));
            ASSERT_TRUE(frame.IsMarked(column, row)) << "at t = " << t;
            const std::vector<std::int32_t> chain = frame.Chain(column, row);
            ASSERT_EQ(std::count(chain.begin(), chain.end(), first), 1) << "at t = " << t;
            ASSERT_LE(std::count(chain.begin(), chain.end(), second), 1) << "at t = " << t;
        }
    }
}

// A flat ring about the view-space point at, radius rho, radial half width delta, in the
// plane turned by tilt about the x axis: its surfaces in its own frame (axis z) seen from view
// space, and its skeleton (the centre circle).
void AddRing(QRender& render, const Vec3& at, double rho, double delta, double tilt) {
    const Matrix3 turn = Matrix3FromMatrix4(MakeRotationAboutAxis(Vec3{1, 0, 0}, tilt));
    const Matrix3 back = Matrix3Transpose(turn);
    const Vec3 shift = Matrix3TransformVec3(back, at);
    Matrix4W localFromView = EmbedMatrix3(back, 0);
    localFromView.m[4] = -shift.x;
    localFromView.m[8] = -shift.y;
    localFromView.m[12] = -shift.z;
    const double outer = rho + delta, inner = rho - delta, half = 1e-4;
    std::array<Matrix4W, 4> forms{};
    forms[0].m[0] = -outer * outer;  // x^2 + y^2 <= outer^2
    forms[0].m[5] = forms[0].m[10] = 1.0;
    forms[1].m[0] = inner * inner;  // x^2 + y^2 >= inner^2
    forms[1].m[5] = forms[1].m[10] = -1.0;
    forms[2].m[0] = -half;  // |z| <= half
    forms[2].m[3] = forms[2].m[12] = 0.5;
    forms[3].m[0] = -half;
    forms[3].m[3] = forms[3].m[12] = -0.5;
    Matrix4W bound;
    const double r = 1.5 * outer;
    bound.m[0] = -1.0;
    bound.m[5] = bound.m[10] = bound.m[15] = 1.0 / (r * r);
    const std::int32_t index = render.parts.AddPart(4);
    RenderPartsSetFromLocal(render.parts, index, forms, bound, localFromView);
    render.parts.Part(index).colour = 0xFFFFFF;
    const Vec3 u = Matrix3TransformVec3(turn, Vec3{rho, 0, 0});
    const Vec3 v = Matrix3TransformVec3(turn, Vec3{0, rho, 0});
    PartSkeleton& circle = render.parts.Part(index).skeleton;
    circle.kind = 3;
    circle.a = Vec3{at.x - u.x, at.y - u.y, at.z - u.z};
    circle.b = Vec3{at.x + u.x, at.y + u.y, at.z + u.z};
    circle.d = v;
    circle.r = Vec3{delta, 0, 0};
}

TEST(SmallParts, AThinRingStaysContinuousWithTwoSamples) {
    // Focal length 400 at depth 20: 0.05 units a pixel. The ring's radius is 30 pixels and its
    // band 0.3 pixel wide, tilted by 30 degrees; point samples fall on it only here and there.
    const double pixel = 20.0 / 400.0;
    const double rho = 30.0 * pixel, delta = 0.15 * pixel, tilt = 0.5236;
    const Vec3 at{0.11 * pixel, -0.27 * pixel, 20.0};
    std::int32_t missedWithOneSample = 0;
    for (const std::int32_t samples : {2, 1}) {
        SCOPED_TRACE("samples " + std::to_string(samples));
        ThinFrame frame(80, 80, 400.0, samples);
        AddRing(frame.render, at, rho, delta, tilt);
        RenderShadedFrame(frame.render);
        // Every pixel the ring's centre circle passes through shows some of it.
        const Matrix3 turn = Matrix3FromMatrix4(MakeRotationAboutAxis(Vec3{1, 0, 0}, tilt));
        for (std::int32_t k = 0; k < 4000; ++k) {
            const double t = 2.0 * std::numbers::pi * k / 4000.0;
            const Vec3 local{rho * std::cos(t), rho * std::sin(t), 0.0};
            const Vec3 turned = Matrix3TransformVec3(turn, local);
            const Vec3 p{turned.x + at.x, turned.y + at.y, turned.z + at.z};
            const auto column = static_cast<std::int32_t>(std::floor(p.x * 400.0 / p.z + 40.0));
            const auto row = static_cast<std::int32_t>(std::floor(p.y * 400.0 / p.z + 40.0));
            const std::uint32_t alpha =
                frame.pixels[static_cast<std::size_t>(row * 80 + column)] >> 24;
            if (samples == 2) {
                ASSERT_GT(alpha, 0u) << "pixel " << column << ", " << row << " at t = " << t;
            } else if (alpha == 0) {
                ++missedWithOneSample;
            }
        }
        if (samples == 2) {
            // Its summed coverage is its projected area, 4 pi rho delta cos(tilt) in pixels
            // (the slab is too thin to add to it), to within the kernel's smoothing and the
            // perspective's few per cent.
            double sum = 0.0;
            for (const std::uint32_t p : frame.pixels) sum += (p >> 24) / 255.0;
            const double area = 4.0 * std::numbers::pi * 30.0 * 0.15 * std::cos(tilt);
            EXPECT_NEAR(sum, area, 0.05 * area);
        }
    }
    EXPECT_GT(missedWithOneSample, 100);
}

// The pixels that the axis of a rod of length 2.8 through centre along direction crosses, at
// focal length 400 and depth 20 about the centre of an 80 x 80 frame, whose alpha is 0.
std::int32_t MissedAlongAxis(const std::vector<std::uint32_t>& pixels, const Vec3& centre,
                             const Vec3& direction) {
    std::int32_t missed = 0;
    for (std::int32_t k = -700; k <= 700; ++k) {
        const double t = k / 500.0;
        const double x = (centre.x + t * direction.x) * 400.0 / 20.0 + 40.0;
        const double y = (centre.y + t * direction.y) * 400.0 / 20.0 + 40.0;
        const auto at = static_cast<std::size_t>(std::floor(y) * 80 + std::floor(x));
        if ((pixels[at] >> 24) == 0) ++missed;
    }
    return missed;
}

// A cylinder 3 long and 0.01 thick, turned by turn radians about z.
WorkingPartRecord ThinCylinderRecord(double turn, std::uint32_t colour) {
    WorkingPartRecord w;
    w.shapeType = ShapeType::Cylinder;
    w.paramCount = 2;
    w.params[0] = 3.0;
    w.params[1] = 0.01;
    w.rotation = Vec3{0.0, 0.0, turn};
    w.colour = colour;
    return w;
}

TEST(SmallParts, ABuiltThinRodIsMarkedFromItsShapeAndFollowedWhereItMoves) {
    // A cylinder 3 long and 0.01 thick (0.4 pixel at depth 20 and focal length 400), turned a
    // radian about z: its builder's capsule is its skeleton, so two samples keep it whole in
    // the whole frame and in the incremental frames that move it.
    SceneGeometry geometry;
    geometry.AddParts(std::vector<std::int32_t>{PartSurfaceLimit}, false);
    WorkingPartRecord w = ThinCylinderRecord(1.0, 0xFFFFFF);
    ASSERT_EQ(BuildPartShape(geometry, nullptr, 0, false, true, false, &w), 0);
    const Vec3 axis{-std::sin(1.0), std::cos(1.0), 0.0};

    ThinFrame frame(80, 80, 400.0, 2);
    Matrix4W viewFromWorld;
    viewFromWorld.m = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 20, 0, 0, 1};
    LoadRenderParts(frame.render, geometry, viewFromWorld);
    const PartSkeleton& skeleton = frame.render.parts.Part(0).skeleton;
    EXPECT_EQ(skeleton.kind, 1);
    EXPECT_NEAR(std::fabs(skeleton.a.x - skeleton.b.x), 3.0 * std::fabs(axis.x), 1e-9);
    EXPECT_NEAR(skeleton.a.z, 20.0, 1e-9);
    EXPECT_NEAR(std::sqrt(skeleton.r.x * skeleton.r.x + skeleton.r.y * skeleton.r.y +
                          skeleton.r.z * skeleton.r.z),
                0.01, 1e-12);
    frame.render.RenderFrame(nullptr, false, nullptr, 0);
    EXPECT_EQ(MissedAlongAxis(frame.pixels, Vec3{}, axis), 0);

    // The background without the rod, then the rod moved there and on.
    geometry.Part(0)->visible = 0;
    frame.render.RenderFrame(nullptr, false, nullptr, 0);
    ASSERT_EQ(frame.render.AllocAuxBuffers(), 0);
    const std::int32_t list[2] = {1, 0};
    for (const Vec3 place : {Vec3{0.3, -0.2, 0.0}, Vec3{-0.35, 0.25, 0.0}}) {
        w.position = place;
        ASSERT_EQ(BuildPartShape(geometry, nullptr, 0, false, true, false, &w), 0);
        geometry.Part(0)->visible = 1;
        frame.render.RenderFrame(list, false, nullptr, 0);
        EXPECT_EQ(MissedAlongAxis(frame.pixels, place, axis), 0)
            << "at " << place.x << ", " << place.y;
        std::int32_t shown = 0;
        for (const std::uint32_t pixel : frame.pixels) shown += (pixel >> 24) != 0 ? 1 : 0;
        // About two pixels across along its 60 pixels, none left where it was.
        EXPECT_LT(shown, 200);
        EXPECT_GT(shown, 60);
    }
    // The marks of a tick are taken back by the next: the chains do not grow.
    const std::size_t entries = frame.render.smallParts.entries.size();
    frame.render.RenderFrame(list, false, nullptr, 0);
    EXPECT_EQ(frame.render.smallParts.entries.size(), entries);
    EXPECT_GT(entries, 0u);
}

// Cells where the whole frame's chains list part rod that the set's cells (sample buffer
// buffer, read through chains) do not mark or whose chains leave the rod out; also counts
// the whole frame's cells of the rod.
std::int32_t MissedRodCells(const ThinFrame& whole, const ThinFrame& frame, std::int32_t buffer,
                            const SmallPartChains& chains, std::int32_t rod, std::int32_t& cells) {
    const QRender& render = frame.render;
    const auto stride = static_cast<std::size_t>(render.Level().cellStride);
    std::int32_t missed = 0;
    cells = 0;
    for (std::int32_t y = 0; y < frame.height; ++y) {
        for (std::int32_t x = 0; x < frame.width; ++x) {
            const std::vector<std::int32_t> expected = whole.Chain(x, y);
            if (std::find(expected.begin(), expected.end(), rod) == expected.end()) continue;
            ++cells;
            const std::size_t at =
                static_cast<std::size_t>(y + 1) * stride + static_cast<std::size_t>(x + 1);
            std::vector<std::int32_t> parts;
            AddChainedParts(chains, at, render.parts.Count(), parts);
            if ((render.SampleBuffer(buffer)[at].pixel & PixelSmallPartChain) == 0 ||
                std::find(parts.begin(), parts.end(), rod) == parts.end()) {
                ++missed;
            }
        }
    }
    return missed;
}

TEST(SmallParts, EachBackupSetKeepsItsOwnThinPartChains) {
    // Two thin rods crossing at the centre, the second in the scene's list: the first backup
    // set is drawn without it, the second keeps both. Drawing either set again leaves the
    // other's rods whole, wherever a whole frame marks them.
    SceneGeometry geometry;
    geometry.AddParts(std::vector<std::int32_t>{PartSurfaceLimit, PartSurfaceLimit}, false);
    for (std::int32_t rod = 0; rod < 2; ++rod) {
        WorkingPartRecord w =
            ThinCylinderRecord(rod == 0 ? 0.3 : -0.9, rod == 0 ? 0xFF2020 : 0x20FF20);
        ASSERT_EQ(BuildPartShape(geometry, nullptr, rod, false, true, false, &w), 0);
    }
    Matrix4W viewFromWorld;
    viewFromWorld.m = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 20, 0, 0, 1};
    ThinFrame whole(80, 80, 400.0, 2);
    LoadRenderParts(whole.render, geometry, viewFromWorld);
    whole.render.RenderFrame(nullptr, false, nullptr, 0);

    ThinFrame frame(80, 80, 400.0, 2);
    LoadRenderParts(frame.render, geometry, viewFromWorld);
    frame.render.RenderFrame(nullptr, false, nullptr, 0);
    const std::array<std::int32_t, 2> sceneList = {1, 1};
    geometry.renderList = PrivateBlockPtr<std::int32_t>(
        static_cast<std::int32_t*>(PrivateAlloc(sizeof(std::int32_t) * sceneList.size())));
    std::copy(sceneList.begin(), sceneList.end(), geometry.renderList.get());
    ASSERT_EQ(frame.render.AllocAuxBuffers(), 0);

    struct Expect {
        std::int32_t buffer;
        std::int32_t rod;
    };
    const auto check = [&](std::initializer_list<Expect> expects, const char* when) {
        for (const Expect& e : expects) {
            const SmallPartChains& chains =
                e.buffer == 1 ? frame.render.smallParts : frame.render.smallPartsBackupB;
            std::int32_t cells = 0;
            EXPECT_EQ(MissedRodCells(whole, frame, e.buffer, chains, e.rod, cells), 0)
                << when << ": rod " << e.rod << " in buffer " << e.buffer;
            EXPECT_GT(cells, 60);
        }
    };
    check({{1, 0}, {3, 0}, {3, 1}}, "sets made");
    // The second set drawn again without the first rod, which starts moving: the first set
    // takes the cells drawn again from the second, and their cells read the second set's parts.
    const std::array<std::int32_t, 2> list = {1, 0};
    frame.render.RenderFrame(list.data(), true, list.data(), 0);
    check({{3, 1}}, "second set drawn");
    const QRender& render = frame.render;
    const auto stride = static_cast<std::size_t>(render.Level().cellStride);
    std::int32_t taken = 0;
    for (std::int32_t y = 0; y < frame.height; ++y) {
        for (std::int32_t x = 0; x < frame.width; ++x) {
            const std::size_t at =
                static_cast<std::size_t>(y + 1) * stride + static_cast<std::size_t>(x + 1);
            const std::uint32_t firstWord = render.SampleBuffer(1)[at].pixel;
            if ((firstWord & PixelSmallPartChain) == 0 ||
                firstWord != render.SampleBuffer(3)[at].pixel) {
                continue;
            }
            std::vector<std::int32_t> firstParts;
            std::vector<std::int32_t> secondParts;
            AddChainedParts(render.smallParts, at, render.parts.Count(), firstParts);
            AddChainedParts(render.smallPartsBackupB, at, render.parts.Count(), secondParts);
            if (std::find(secondParts.begin(), secondParts.end(), 1) == secondParts.end()) continue;
            ++taken;
            EXPECT_EQ(firstParts, secondParts) << "cell " << x << ", " << y;
        }
    }
    EXPECT_GT(taken, 0);
}

TEST(SmallParts, AThinPartStaysInTheCellsAMovingPartCovers) {
    // A rod 0.4 pixel thick (as in the test above) lies in the background; a ball before it
    // moves across its middle and away. In the cells the ball covers, the rod stays marked and
    // chained behind it, so the ball's edge pixels show the rod beside it as a whole frame of
    // the same scene does, at every step and once the ball has passed.
    SceneGeometry geometry;
    geometry.AddParts(std::vector<std::int32_t>{PartSurfaceLimit, PartSurfaceLimit}, false);
    WorkingPartRecord rod = ThinCylinderRecord(1.0, 0xFFFFFF);
    ASSERT_EQ(BuildPartShape(geometry, nullptr, 0, false, true, false, &rod), 0);
    const Vec3 axis{-std::sin(1.0), std::cos(1.0), 0.0};
    const Vec3 across{axis.y, -axis.x, 0.0};
    WorkingPartRecord ball;
    ball.shapeType = ShapeType::Sphere;
    ball.paramCount = 1;
    ball.params[0] = 0.25;  // 6.7 pixels at depth 15
    ball.colour = 0x3060C0;
    Matrix4W viewFromWorld;
    viewFromWorld.m = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 20, 0, 0, 1};
    const auto placeBall = [&](double offset) {
        // Over the rod's point 0.3 from its middle, seen from the eye, moved across it.
        const double along = 0.3 * 15.0 / 20.0;
        ball.position =
            Vec3{along * axis.x + offset * across.x, along * axis.y + offset * across.y, -5.0};
        return BuildPartShape(geometry, nullptr, 1, false, true, false, &ball);
    };
    ASSERT_EQ(placeBall(-1.0), 0);

    ThinFrame frame(80, 80, 400.0, 2);
    LoadRenderParts(frame.render, geometry, viewFromWorld);
    geometry.Part(1)->visible = 0;
    frame.render.RenderFrame(nullptr, false, nullptr, 0);
    ASSERT_EQ(frame.render.AllocAuxBuffers(), 0);
    geometry.Part(1)->visible = 1;

    const std::int32_t moving[2] = {1, 1};
    std::int32_t covered = 0;
    for (const double offset : {-0.3, -0.26, -0.2, -0.1, 0.0, 0.07, 0.15, 0.24, 0.3, 1.0}) {
        SCOPED_TRACE("ball at " + std::to_string(offset));
        ASSERT_EQ(placeBall(offset), 0);
        frame.render.RenderFrame(moving, false, nullptr, 0);
        ThinFrame whole(80, 80, 400.0, 2);
        LoadRenderParts(whole.render, geometry, viewFromWorld);
        whole.render.RenderFrame(nullptr, false, nullptr, 0);
        for (std::int32_t y = 0; y < 80; ++y) {
            for (std::int32_t x = 0; x < 80; ++x) {
                const std::vector<std::int32_t> expected = whole.Chain(x, y);
                if (std::find(expected.begin(), expected.end(), 0) != expected.end()) {
                    ASSERT_TRUE(frame.IsMarked(x, y)) << x << ", " << y;
                    const std::vector<std::int32_t> chain = frame.Chain(x, y);
                    ASSERT_NE(std::find(chain.begin(), chain.end(), 0), chain.end())
                        << x << ", " << y;
                    if (PixelPartIndex(frame.Cell(x, y).pixel) == 1) ++covered;
                }
                const std::size_t at = static_cast<std::size_t>(y * 80 + x);
                ASSERT_LE(
                    shadow_scene::LargestChannelDifference(frame.pixels[at], whole.pixels[at]), 2)
                    << std::hex << frame.pixels[at] << " against " << whole.pixels[at] << std::dec
                    << " at " << x << ", " << y;
            }
        }
        EXPECT_EQ(MissedAlongAxis(frame.pixels, Vec3{}, axis), 0);
    }
    EXPECT_GT(covered, 20);
}

}  // namespace
