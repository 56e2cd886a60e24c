// Colours changed without a cast (QRender::Reshade, into the working picture and into the
// backups of incremental frames) and the flat preview in whole and incremental frames, checked
// against a brute-force ray caster of the spheres and against whole renders.

#include "geometry/part_render_record.h"
#include "geometry/scene_geometry.h"
#include "render/footprint_region.h"
#include "render/q_render.h"
#include "render/scene_render_parts.h"
#include "render/span_shade.h"
#include "support/quadric_parts.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

namespace {

constexpr std::int32_t Width = 96;
constexpr std::int32_t Height = 72;
constexpr double FocalScale = 0.2;  // focal length 200 pixels

struct Ball {
    Vec3 centre;
    double radius;
    std::uint32_t colour;
};

// Balls seen from the eye at the origin along +z: a large one behind, two that overlap it and
// one that moves across them.
const std::array<Ball, 4> Balls{{
    {{0.0, 0.0, 40.0}, 9.0, 0x8090A0},
    {{-3.0, -1.0, 20.0}, 2.5, 0xC04040},
    {{3.0, 2.0, 18.0}, 1.5, 0x40C040},
    {{-8.0, 0.0, 15.0}, 1.5, 0x4040C0},
}};
constexpr std::int32_t Moving = 3;

Vec3 MovingCentreAt(std::int32_t tick) {
    const Vec3& c = Balls[Moving].centre;
    return Vec3{c.x + 0.8 * tick, c.y + 0.2 * tick, c.z};
}

void PlaceBall(SceneGeometry& geometry, std::int32_t part, const Vec3& centre) {
    const Ball& ball = Balls[static_cast<std::size_t>(part)];
    PartRenderRecord& record = *geometry.Part(part);
    record.colour = ball.colour;
    const Matrix4W sphere = quadric_parts::SphereForm(centre, ball.radius);
    quadric_parts::SetSurfaces(record, std::span<const Matrix4W>(&sphere, 1));
    const double r = ball.radius * 1.01;
    quadric_parts::SetBound(record, centre, Vec3{r, r, r});
}

void MakeScene(SceneGeometry& geometry) {
    geometry.AddParts(std::vector<std::int32_t>(Balls.size(), 1), false);
    for (std::int32_t i = 0; i < static_cast<std::int32_t>(Balls.size()); ++i) {
        PlaceBall(geometry, i, Balls[static_cast<std::size_t>(i)].centre);
    }
}

// A renderer over its own pixels with one light and the geometry's parts.
struct Frame {
    explicit Frame(SceneGeometry& geometry, bool flat)
        : pixels(static_cast<std::size_t>(Width * Height)) {
        render.options.flatPreview = flat;
        EXPECT_EQ(render.SetSize(pixels.data(), Width, Height, Width, false), RenderSizeOk);
        render.centreX = Width / 2.0;
        render.centreY = Height / 2.0;
        render.focalScale = FocalScale;
        render.shade.backgroundColour = 0x303850;
        render.shade.highlight = {357, 255, 61};
        render.SetLightCounts(1, 0);
        RenderLightSlot& light = render.LightSlot(0);
        light.enabled = 1;
        light.position = Vec3{-20.0, -30.0, -10.0};
        RenderLightSlotSetColours(light, {1.0, 0.9, 0.8}, {0.0, 0.0, 0.0}, 1.0);
        LoadRenderParts(render, geometry, ToWFirstMatrix(MakeIdentity()));
    }
    std::uint32_t Id(std::int32_t x, std::int32_t y) const {
        return render.QueryPixel(x, y, nullptr, nullptr, 0, nullptr) & PixelIdMask;
    }
    std::uint32_t Pixel(std::int32_t x, std::int32_t y) const {
        return pixels[static_cast<std::size_t>(y * Width + x)];
    }
    std::vector<std::uint32_t> pixels;
    QRender render;
};

// The id a ray cast through the centre of pixel (x, y) meets first among the balls at their
// places (0 for none): sphere surfaces are surface 0 of their part.
std::uint32_t RayCastId(const std::array<Vec3, Balls.size()>& centres, std::int32_t x,
                        std::int32_t y) {
    const double focal = FocalScale * 1000.0;
    const Vec3 d{x - Width / 2.0 + 0.5, y - Height / 2.0 + 0.5, focal};
    const double dd = Vec3Dot(d, d);
    double nearest = INFINITY;
    std::uint32_t id = 0;
    for (std::size_t i = 0; i < Balls.size(); ++i) {
        const Vec3& c = centres[i];
        const double b = Vec3Dot(d, c);
        const double disc = b * b - dd * (Vec3Dot(c, c) - Balls[i].radius * Balls[i].radius);
        if (disc < 0.0) continue;
        const double t = (b - std::sqrt(disc)) / dd;
        if (t > 0.0 && t < nearest) {
            nearest = t;
            id = PixelIdOf(static_cast<std::int32_t>(i), 0);
        }
    }
    return id;
}

// The flat preview of the ray-cast ids: background where nothing is met, the fill colour
// where no four-neighbour has a smaller id, else the edge colour. The frame's one-pixel border
// is cast as well, so the neighbours there are what the rays meet.
testing::AssertionResult IsFlatPreviewOf(const Frame& frame,
                                         const std::array<Vec3, Balls.size()>& centres) {
    const auto idAt = [&](std::int32_t x, std::int32_t y) -> std::uint32_t {
        return RayCastId(centres, x, y);
    };
    const auto& words = frame.render.colourWords;
    std::int32_t covered = 0;
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            const std::uint32_t id = idAt(x, y);
            const std::string at = " at (" + std::to_string(x) + ", " + std::to_string(y) + ")";
            if (frame.Id(x, y) != id) {
                return testing::AssertionFailure()
                       << "id " << frame.Id(x, y) << ", ray " << id << at;
            }
            std::uint32_t expected = words[1];
            if (id != 0) {
                ++covered;
                const bool isEdge = idAt(x + 1, y) < id || idAt(x - 1, y) < id ||
                                    idAt(x, y + 1) < id || idAt(x, y - 1) < id;
                expected = (isEdge ? words[2] : words[0]) | 0xFF000000u;
            }
            if (frame.Pixel(x, y) != expected) {
                return testing::AssertionFailure() << std::hex << "pixel " << frame.Pixel(x, y)
                                                   << ", expected " << expected << std::dec << at;
            }
        }
    }
    if (covered == 0) return testing::AssertionFailure() << "nothing drawn";
    return testing::AssertionSuccess();
}

std::array<Vec3, Balls.size()> CentresAt(std::int32_t tick) {
    std::array<Vec3, Balls.size()> centres{};
    for (std::size_t i = 0; i < Balls.size(); ++i) centres[i] = Balls[i].centre;
    centres[Moving] = MovingCentreAt(tick);
    return centres;
}

// Same ids and alpha everywhere, colours within 1 (the dither runs differently).
testing::AssertionResult SamePicture(const Frame& a, const Frame& b) {
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            const std::uint32_t pa = a.Pixel(x, y);
            const std::uint32_t pb = b.Pixel(x, y);
            const std::string at = " at (" + std::to_string(x) + ", " + std::to_string(y) + ")";
            if (a.Id(x, y) != b.Id(x, y)) return testing::AssertionFailure() << "id" << at;
            for (int shift = 0; shift < 32; shift += 8) {
                const int ca = static_cast<int>((pa >> shift) & 0xFF);
                const int cb = static_cast<int>((pb >> shift) & 0xFF);
                if (std::abs(ca - cb) > 1) {
                    return testing::AssertionFailure()
                           << std::hex << "colour " << pa << " against " << pb << std::dec << at;
                }
            }
        }
    }
    return testing::AssertionSuccess();
}

const std::array<std::int32_t, 2> MovingList{1, Moving};

// A whole frame without the moving ball, kept as the background of incremental frames.
void RenderBackground(SceneGeometry& geometry, Frame& frame) {
    geometry.Part(Moving)->visible = 0;
    frame.render.RenderFrame(nullptr, false, nullptr, 0);
    ASSERT_EQ(frame.render.AllocAuxBuffers(), 0);
    geometry.Part(Moving)->visible = 1;
}

TEST(FlatPreviewFrames, WholeAndIncrementalFramesColourTheRayCastIds) {
    SceneGeometry geometry;
    MakeScene(geometry);
    Frame frame(geometry, true);
    frame.render.RenderFrame(nullptr, false, nullptr, 0);
    ASSERT_TRUE(IsFlatPreviewOf(frame, CentresAt(0)));

    // The moving ball crosses the others: each incremental frame, over the background kept
    // without it, shows the ray-cast picture, edges beside the ball included.
    RenderBackground(geometry, frame);
    for (std::int32_t tick = 0; tick <= 14; tick += 2) {
        SCOPED_TRACE(tick);
        PlaceBall(geometry, Moving, MovingCentreAt(tick));
        frame.render.RenderFrame(MovingList.data(), false, nullptr, 0);
        ASSERT_TRUE(IsFlatPreviewOf(frame, CentresAt(tick)));
    }

    // The ball stops and joins the background; another frame then moves nothing over it.
    const std::array<std::int32_t, 1> none{0};
    frame.render.RenderFrame(none.data(), true, MovingList.data(), 0);
    frame.render.RenderFrame(none.data(), false, nullptr, 0);
    EXPECT_TRUE(IsFlatPreviewOf(frame, CentresAt(14)));
}

// Selects or deselects part and shades its footprint again in the working picture and, with
// withBackup, in the background too.
void ShadeSelectionAgain(SceneGeometry& geometry, Frame& frame, std::int32_t part, bool selected,
                         bool withBackup) {
    geometry.Part(part)->selected = selected ? 1 : 0;
    const std::array<std::int32_t, 1> index{part};
    SyncRenderPartAttributes(frame.render, index);
    const std::array<std::int32_t, 2> list{1, part};
    BuildSelectionRegion(frame.render, list.data());
    if (withBackup) frame.render.Reshade(frame.render.selectionRegion, 1);
    frame.render.Reshade(frame.render.selectionRegion, 0);
}

TEST(ReshadeBackup, IncrementalFramesRestoreTheColoursOfAReshade) {
    for (const bool flat : {false, true}) {
        SCOPED_TRACE(flat ? "flat preview" : "shaded");
        SceneGeometry geometry;
        MakeScene(geometry);
        Frame frame(geometry, flat);
        RenderBackground(geometry, frame);
        // Ball 1 is selected while the background is kept; the moving ball then crosses it.
        ShadeSelectionAgain(geometry, frame, 1, true, true);
        for (std::int32_t tick = 0; tick <= 12; tick += 3) {
            SCOPED_TRACE(tick);
            PlaceBall(geometry, Moving, MovingCentreAt(tick));
            frame.render.RenderFrame(MovingList.data(), false, nullptr, 0);
            Frame whole(geometry, flat);
            whole.render.RenderFrame(nullptr, false, nullptr, 0);
            ASSERT_TRUE(SamePicture(frame, whole));
        }
    }
}

TEST(ReshadeBackup, WorkingPictureAloneLeavesTheBackgroundAsItWas) {
    SceneGeometry geometry;
    MakeScene(geometry);
    Frame frame(geometry, false);
    RenderBackground(geometry, frame);
    const std::vector<std::uint32_t> before(frame.render.ExtraPlanes(),
                                            frame.render.ExtraPlanes() + Width * Height);
    ShadeSelectionAgain(geometry, frame, 1, true, false);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), frame.render.ExtraPlanes()));
    // The working picture changed where ball 1 is (pixel 30, 31 lies on it).
    Frame whole(geometry, false);
    whole.render.RenderFrame(nullptr, false, nullptr, 0);
    EXPECT_EQ(frame.Id(30, 31), PixelIdOf(1, 0));
    EXPECT_TRUE(SamePicture(frame, whole));

    // Without backups a backup reshade does nothing.
    Frame bare(geometry, false);
    bare.render.RenderFrame(nullptr, false, nullptr, 0);
    RegionSetRect(bare.render.workRegion, 0, 0, Width, Height);
    bare.render.Reshade(bare.render.workRegion, 1);
    EXPECT_EQ(bare.render.ExtraPlanes(), nullptr);
}

// A light moved to the other side and a second one switched on after the cast: a reshade of
// the whole frame lights it as a whole render does.
TEST(ReshadeBackup, AReshadeFollowsTheLightsAsTheyStand) {
    SceneGeometry geometry;
    MakeScene(geometry);
    Frame frame(geometry, false);
    frame.render.RenderFrame(nullptr, false, nullptr, 0);
    const auto moveLights = [](QRender& render) {
        render.SetLightCounts(2, 0);
        render.LightSlot(0).position = Vec3{30.0, 20.0, 5.0};
        RenderLightSlot& second = render.LightSlot(1);
        second.enabled = 1;
        second.position = Vec3{-5.0, 40.0, 0.0};
        RenderLightSlotSetColours(second, {0.3, 0.5, 0.9}, {0.0, 0.0, 0.0}, 1.0);
    };
    moveLights(frame.render);
    RegionSetRect(frame.render.workRegion, -1, -1, Width + 1, Height + 1);
    frame.render.Reshade(frame.render.workRegion, 0);
    Frame whole(geometry, false);
    moveLights(whole.render);
    whole.render.RenderFrame(nullptr, false, nullptr, 0);
    EXPECT_TRUE(SamePicture(frame, whole));
}

}  // namespace
