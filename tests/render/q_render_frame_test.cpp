// Incremental frames: the backups, the region copies and the frame render over them, checked
// against whole renders of the same state.

#include "render/q_render.h"

#include "core/private_heap.h"
#include "geometry/part_render_record.h"
#include "geometry/scene_geometry.h"
#include "platform/scripted_input_state.h"
#include "render/cast_frame_pass.h"
#include "render/render_interrupt.h"
#include "render/scene_render_parts.h"
#include "render/span_shade.h"
#include "support/quadric_parts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

namespace {

using quadric_parts::SetBound;
using quadric_parts::SetBox;
using quadric_parts::SetSurfaces;
using quadric_parts::SphereForm;

constexpr std::int32_t Width = 160;
constexpr std::int32_t Height = 120;

// The parts of the scene, placed in world space, which is view space here (eye at the
// origin looking along +z): a wall behind with background beside it, two static parts in
// front of it and three that move.
struct Placement {
    bool isBox = false;
    Vec3 centre{};
    Vec3 size{};  // box half sizes, or the sphere radius in x
    std::uint32_t colour = 0;
};

const std::array<Placement, 6> StartPlaces{{
    {true, {0, 0, 30}, {6, 20, 1}, 0x8090A0},     // 0 the wall
    {false, {-3, -1, 20}, {2, 0, 0}, 0xC04040},   // 1
    {true, {3, 2, 18}, {1.5, 1, 1}, 0x40C040},    // 2
    {false, {-6, 0, 15}, {1.5, 0, 0}, 0x4040C0},  // 3 moves
    {true, {5, -3, 16}, {1, 1, 1}, 0xC0C040},     // 4 moves
    {false, {0, 4, 12}, {1, 0, 0}, 0x40C0C0},     // 5 moves
}};

// Where part is after tick steps along its path.
Vec3 CentreAt(std::int32_t part, std::int32_t tick) {
    static const std::array<Vec3, 6> Steps{{{0, 0, 0},
                                            {0.6, 0.3, 0},
                                            {0, 0, 0},
                                            {0.9, 0.1, 0},
                                            {-0.8, 0.5, 0.2},
                                            {0.2, -0.7, 0}}};
    const Vec3& c = StartPlaces[static_cast<std::size_t>(part)].centre;
    const Vec3& s = Steps[static_cast<std::size_t>(part)];
    return Vec3{c.x + s.x * tick, c.y + s.y * tick, c.z + s.z * tick};
}

void Place(SceneGeometry& geometry, std::int32_t part, const Vec3& centre) {
    const Placement& p = StartPlaces[static_cast<std::size_t>(part)];
    PartRenderRecord& record = *geometry.Part(part);
    record.colour = p.colour;
    if (p.isBox) {
        SetBox(record, centre, p.size);
    } else {
        const Matrix4W sphere = SphereForm(centre, p.size.x);
        SetSurfaces(record, std::span<const Matrix4W>(&sphere, 1));
        const double r = p.size.x * 1.01;
        SetBound(record, centre, Vec3{r, r, r});
    }
}

// Places the parts where tick steps of their paths take them.
void PlaceAll(SceneGeometry& geometry, const std::vector<std::int32_t>& parts, std::int32_t tick) {
    for (const std::int32_t i : parts) Place(geometry, i, CentreAt(i, tick));
}

void MakeScene(SceneGeometry& geometry) {
    std::vector<std::int32_t> rooms;
    for (const Placement& p : StartPlaces) rooms.push_back(p.isBox ? 6 : 1);
    geometry.AddParts(rooms, false);
    for (std::int32_t i = 0; i < static_cast<std::int32_t>(StartPlaces.size()); ++i) {
        Place(geometry, i, StartPlaces[static_cast<std::size_t>(i)].centre);
    }
}

void SetSceneList(SceneGeometry& geometry, const std::vector<std::int32_t>& list) {
    geometry.renderList = PrivateBlockPtr<std::int32_t>(static_cast<std::int32_t*>(
        PrivateAlloc(static_cast<std::uint32_t>(list.size() * sizeof(std::int32_t)))));
    std::copy(list.begin(), list.end(), geometry.renderList.get());
}

// How a frame's boundary pixels are drawn: point sampled, integrated by the pixel pass, or
// integrated with outlines.
enum class Edges { Off, Smooth, Outlined };

const char* EdgesName(Edges edges) {
    return edges == Edges::Off ? "point sampled" : edges == Edges::Smooth ? "smooth" : "outlined";
}

// A renderer over its own pixels, lit by one light, with the geometry's parts.
struct Frame {
    explicit Frame(SceneGeometry& geometry, Edges edges = Edges::Off)
        : pixels(static_cast<std::size_t>(Width * Height)), edgeMode(edges) {
        render.edges.isRefined = edges != Edges::Off;
        render.options.edgeLines = edges == Edges::Outlined;
        if (edges == Edges::Outlined) {
            render.shade.drawStyle = -1;
            render.edges.outlineWidth = 1.5;
            render.edges.outlineColour = 0x101010;
        }
        EXPECT_EQ(render.SetSize(pixels.data(), Width, Height, Width, false), RenderSizeOk);
        render.centreX = Width / 2.0;
        render.centreY = Height / 2.0;
        render.focalScale = 0.2;
        render.shade.backgroundColour = 0x303850;
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

    std::vector<std::uint32_t> pixels;
    Edges edgeMode;
    QRender render;
};

// Same ids and alpha everywhere, colours within 1 (the dither runs differently).
testing::AssertionResult SamePicture(const Frame& a, const Frame& b) {
    std::int32_t idCount = 0;
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            const std::uint32_t pa = a.pixels[static_cast<std::size_t>(y * Width + x)];
            const std::uint32_t pb = b.pixels[static_cast<std::size_t>(y * Width + x)];
            const std::string at = " at (" + std::to_string(x) + ", " + std::to_string(y) + ")";
            if (a.Id(x, y) != b.Id(x, y)) {
                return testing::AssertionFailure()
                       << "id " << a.Id(x, y) << " against " << b.Id(x, y) << at;
            }
            if ((pa >> 24) != (pb >> 24)) {
                return testing::AssertionFailure()
                       << "alpha " << (pa >> 24) << " against " << (pb >> 24) << at;
            }
            for (int shift = 0; shift < 24; shift += 8) {
                const int ca = static_cast<int>((pa >> shift) & 0xFF);
                const int cb = static_cast<int>((pb >> shift) & 0xFF);
                if (std::abs(ca - cb) > 1) {
                    return testing::AssertionFailure()
                           << std::hex << "colour " << pa << " against " << pb << std::dec << at;
                }
            }
            if (a.Id(x, y) != 0) ++idCount;
        }
    }
    if (idCount == 0) return testing::AssertionFailure() << "nothing drawn";
    return testing::AssertionSuccess();
}

testing::AssertionResult SameAsWholeRender(SceneGeometry& geometry, const Frame& frame) {
    Frame whole(geometry, frame.edgeMode);
    whole.render.RenderFrame(nullptr, false, nullptr, 0);
    return SamePicture(frame, whole);
}

std::vector<std::int32_t> CountPrefixed(std::vector<std::int32_t> parts) {
    parts.insert(parts.begin(), static_cast<std::int32_t>(parts.size()));
    return parts;
}

// The player's start: a whole frame with the moving parts hidden, kept as the background.
void RenderBackground(SceneGeometry& geometry, Frame& frame,
                      const std::vector<std::int32_t>& moving) {
    for (const std::int32_t i : moving) geometry.Part(i)->visible = 0;
    frame.render.RenderFrame(nullptr, false, nullptr, 0);
    EXPECT_EQ(frame.render.AllocAuxBuffers(), 0);
    for (const std::int32_t i : moving) geometry.Part(i)->visible = 1;
}

TEST(QRenderFrame, EveryIncrementalFrameMatchesAWholeRender) {
    const std::vector<std::vector<std::int32_t>> cases{{3}, {3, 4}, {3, 4, 5}, {5, 1}};
    for (const Edges edges : {Edges::Off, Edges::Smooth, Edges::Outlined})
    for (const auto& moving : cases) {
        SCOPED_TRACE(std::to_string(moving.size()) + " parts, " + EdgesName(edges));
        SceneGeometry geometry;
        MakeScene(geometry);
        Frame incremental(geometry, edges);
        RenderBackground(geometry, incremental, moving);
        ASSERT_TRUE(incremental.render.AuxBuffersReady());
        const auto list = CountPrefixed(moving);
        for (std::int32_t tick = 0; tick <= 12; ++tick) {
            SCOPED_TRACE(tick);
            PlaceAll(geometry, moving, tick);
            incremental.render.RenderFrame(list.data(), false, nullptr, 0);
            ASSERT_TRUE(SameAsWholeRender(geometry, incremental));
        }
    }
}

TEST(QRenderFrame, PartsThatStopAndStartLeaveNoTrail) {
    for (const Edges edges : {Edges::Off, Edges::Smooth}) {
        SCOPED_TRACE(EdgesName(edges));
        SceneGeometry geometry;
        MakeScene(geometry);
        Frame frame(geometry, edges);
        QRender& render = frame.render;
        RenderBackground(geometry, frame, {3, 4});
        auto moving = CountPrefixed({3, 4});
        for (std::int32_t tick = 1; tick <= 6; ++tick) {
            PlaceAll(geometry, {3, 4}, tick);
            render.RenderFrame(moving.data(), false, nullptr, 0);
        }
        ASSERT_TRUE(SameAsWholeRender(geometry, frame));

        // Part 3 stops where it is and joins the background; as the player does, the change
        // region is then restored from the backups and forgotten, which takes part 4 away until
        // the tick's frame draws it again.
        moving = CountPrefixed({4});
        const auto stopped = CountPrefixed({3});
        render.RenderFrame(moving.data(), true, stopped.data(), 0);
        render.CopySamplesInRegion(0, render.changeRegion);
        render.CopyPixelsInRegion(render.changeRegion, 0);
        render.ResetRegions();
        render.RenderFrame(moving.data(), false, nullptr, 0);
        ASSERT_TRUE(SameAsWholeRender(geometry, frame));

        // Part 4 goes on alone, then part 1, which stood still, starts moving away.
        for (std::int32_t tick = 7; tick <= 9; ++tick) {
            Place(geometry, 4, CentreAt(4, tick));
            render.RenderFrame(moving.data(), false, nullptr, 0);
            ASSERT_TRUE(SameAsWholeRender(geometry, frame)) << tick;
        }
        moving = CountPrefixed({4, 1});
        const auto started = CountPrefixed({1});
        render.RenderFrame(moving.data(), true, started.data(), 0);
        ASSERT_TRUE(SameAsWholeRender(geometry, frame));
        for (std::int32_t tick = 1; tick <= 6; ++tick) {
            Place(geometry, 1, CentreAt(1, tick));
            Place(geometry, 4, CentreAt(4, 9 + tick));
            render.RenderFrame(moving.data(), false, nullptr, 0);
            ASSERT_TRUE(SameAsWholeRender(geometry, frame)) << tick;
        }
        // Both stop without the restore: the next frame still clears what they covered.
        const auto none = CountPrefixed({});
        render.RenderFrame(none.data(), true, moving.data(), 0);
        render.RenderFrame(none.data(), false, nullptr, 0);
        ASSERT_TRUE(SameAsWholeRender(geometry, frame));
    }
}

TEST(QRenderFrame, ADepthOverflowInAnIncrementalFrameIsRepaired) {
    SceneGeometry geometry;
    MakeScene(geometry);
    Frame frame(geometry);
    RenderBackground(geometry, frame, {5});
    const double depth = frame.render.workingDepth;
    // Part 5 comes so near that its depth words pass 31 bits at the depth scale in force.
    Place(geometry, 5, Vec3{0.0, 0.0, 1.05});
    const auto list = CountPrefixed({5});
    frame.render.RenderFrame(list.data(), false, nullptr, 0);
    EXPECT_LT(frame.render.workingDepth, depth);
    EXPECT_EQ(PixelPartIndex(frame.Id(Width / 2, Height / 2)), 5);
    EXPECT_TRUE(SameAsWholeRender(geometry, frame));
}

TEST(QRenderFrame, AFrameWithTheEyeInsideIsBlackAndTheNextWhole) {
    SceneGeometry geometry;
    MakeScene(geometry);
    Frame frame(geometry);
    RenderBackground(geometry, frame, {5});
    const auto list = CountPrefixed({5});
    Place(geometry, 5, Vec3{0.2, 0.0, 0.3});  // radius 1 about a point near the eye
    frame.render.RenderFrame(list.data(), false, nullptr, 0);
    for (const std::uint32_t p : frame.pixels) ASSERT_EQ(p, 0xFF000000u);
    PlaceAll(geometry, {5}, 3);
    frame.render.RenderFrame(list.data(), false, nullptr, 0);
    EXPECT_TRUE(SameAsWholeRender(geometry, frame));
}

TEST(QRenderFrame, AnAbandonedFrameIsMadeGoodByTheNext) {
    SceneGeometry geometry;
    MakeScene(geometry);
    Frame frame(geometry);
    QRender& render = frame.render;
    RenderBackground(geometry, frame, {3, 5});
    const auto list = CountPrefixed({3, 5});
    render.RenderFrame(list.data(), false, nullptr, 0);
    for (const std::int32_t peeks : {0, 2, 5}) {
        SCOPED_TRACE(peeks);
        PlaceAll(geometry, {3, 5}, 2 * peeks + 1);
        {
            ScriptedInputState script;
            ScopedInputStateSource installed(script);
            script.QueueLeftButtonDownAfterPeeks(peeks);
            render.poll.rowMask = 0;
            render.poll.mode = -1;
            EXPECT_THROW(render.RenderFrame(list.data(), false, nullptr, 0), UserAbortRender);
        }
        render.poll.rowMask = 0xFFFFFFFFu;
        PlaceAll(geometry, {3, 5}, 2 * peeks + 2);
        render.RenderFrame(list.data(), false, nullptr, 0);
        ASSERT_TRUE(SameAsWholeRender(geometry, frame));
    }
}

TEST(QRenderFrame, IncrementalFramesAtAReducedLevel) {
    for (const Edges edges : {Edges::Off, Edges::Smooth}) {
        SCOPED_TRACE(EdgesName(edges));
        SceneGeometry geometry;
        MakeScene(geometry);
        Frame incremental(geometry, edges);
        incremental.render.reductionLevel = 1;
        RenderBackground(geometry, incremental, {3, 4});
        const auto list = CountPrefixed({3, 4});
        const RenderLevel& level = incremental.render.Level();
        for (std::int32_t tick = 0; tick <= 6; ++tick) {
            SCOPED_TRACE(tick);
            PlaceAll(geometry, {3, 4}, tick);
            incremental.render.RenderFrame(list.data(), false, nullptr, 0);
            Frame whole(geometry, edges);
            whole.render.reductionLevel = 1;
            whole.render.RenderFrame(nullptr, false, nullptr, 0);
            // The reduced frame: ids, alpha and colours within 1.
            const std::uint32_t* a = incremental.render.ReducedFrame(1);
            const std::uint32_t* b = whole.render.ReducedFrame(1);
            for (std::int32_t y = 0; y < level.height; ++y) {
                for (std::int32_t x = 0; x < level.width; ++x) {
                    const std::size_t i = static_cast<std::size_t>(y * level.width + x);
                    const std::size_t cell = static_cast<std::size_t>(y + 1) * level.cellStride +
                                             static_cast<std::size_t>(x + 1);
                    ASSERT_EQ(incremental.render.SampleBuffer(0)[cell].pixel & PixelIdMask,
                              whole.render.SampleBuffer(0)[cell].pixel & PixelIdMask)
                        << x << ", " << y;
                    ASSERT_EQ(a[i] >> 24, b[i] >> 24) << x << ", " << y;
                    for (int shift = 0; shift < 24; shift += 8) {
                        ASSERT_LE(std::abs(static_cast<int>((a[i] >> shift) & 0xFF) -
                                           static_cast<int>((b[i] >> shift) & 0xFF)),
                                  1)
                            << x << ", " << y;
                    }
                }
            }
        }
    }
}

// ---- Region copies ----

// Fills every cell of sample buffer b with a word that tells the buffer apart.
void MarkSamples(QRender& render, std::int32_t b) {
    SampleCell* cells = render.SampleBuffer(b);
    ASSERT_NE(cells, nullptr);
    const std::size_t count =
        render.PlaneCells() * static_cast<std::size_t>(render.SamplesPerPixel());
    for (std::size_t i = 0; i < count; ++i) {
        cells[i] = SampleCell{static_cast<std::uint32_t>(b) << 24 | static_cast<std::uint32_t>(i),
                              0, 0};
    }
}

TEST(QRenderFrame, SampleCopiesTakeExactlyTheRegionWithItsBorder) {
    struct Case {
        std::int32_t mode;
        std::uint32_t from;
        std::int32_t to;
    };
    const Case cases[] = {{0, 1, 0}, {1, 0, 1}, {2, 1, 2}, {3, 2, 1},
                          {4, 1, 3}, {5, 3, 1}, {6, 1, 3}, {7, 3, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        SceneGeometry geometry;
        MakeScene(geometry);
        SetSceneList(geometry, {0});  // an empty scene list: a second set
        Frame frame(geometry);
        QRender& render = frame.render;
        ASSERT_EQ(render.SetSamplesPerPixel(2), RenderSizeOk);
        render.RenderFrame(nullptr, false, nullptr, 0);
        ASSERT_EQ(render.AllocAuxBuffers(), 0);
        for (std::int32_t b = 0; b < RenderSampleBufferCount; ++b) MarkSamples(render, b);
        // Two runs on the top border row, and a row inside clipped at the right border.
        SpanRegion region;
        RegionSetRect(region, -3, -1, 2, 0);
        RegionSetSpan(1, region, -1, 10, 12);
        SpanRegion more;
        RegionSetRect(more, Width - 1, 5, Width + 4, 6);
        RegionCombine(more, region, 1);
        render.CopySamplesInRegion(c.mode, region);
        const auto copied = [](std::int32_t x, std::int32_t y) {
            return (y == -1 && ((x >= -1 && x < 2) || (x >= 10 && x < 12))) ||
                   (y == 5 && (x == Width - 1 || x == Width));
        };
        const SampleCell* to = render.SampleBuffer(c.to);
        const std::size_t stride = Width + 2;
        for (std::size_t s = 0; s < 2; ++s) {
            for (std::int32_t y = -1; y <= Height; ++y) {
                for (std::int32_t x = -1; x <= Width; ++x) {
                    const std::size_t i = s * render.PlaneCells() +
                                          static_cast<std::size_t>(y + 1) * stride +
                                          static_cast<std::size_t>(x + 1);
                    const std::uint32_t from =
                        copied(x, y) ? c.from : static_cast<std::uint32_t>(c.to);
                    ASSERT_EQ(to[i].pixel >> 24, from) << x << ", " << y << " sample " << s;
                }
            }
        }
    }
}

TEST(QRenderFrame, PixelCopiesMoveFrameWordsBetweenTheSets) {
    SceneGeometry geometry;
    MakeScene(geometry);
    Frame frame(geometry);
    QRender& render = frame.render;
    render.RenderFrame(nullptr, false, nullptr, 0);
    ASSERT_EQ(render.AllocAuxBuffers(), 0);
    SpanRegion region;
    RegionSetRect(region, 5, 6, 9, 8);
    std::uint32_t* background = render.ExtraPlanes();
    ASSERT_NE(background, nullptr);
    const std::vector<std::uint32_t> kept(background, background + Width * Height);
    std::fill(frame.pixels.begin(), frame.pixels.end(), 0x12345678u);
    // Without a scene part list there is no second set: the modes that use it copy nothing.
    render.CopyPixelsInRegion(region, 3);
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), background));

    render.CopyPixelsInRegion(region, 0);
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            const std::size_t i = static_cast<std::size_t>(y * Width + x);
            const bool inside = x >= 5 && x < 9 && y >= 6 && y < 8;
            ASSERT_EQ(frame.pixels[i], inside ? kept[i] : 0x12345678u) << x << ", " << y;
        }
    }
    frame.pixels[6 * Width + 5] = 0xABCDEF01u;
    frame.pixels[5 * Width + 5] = 0xABCDEF01u;
    render.CopyPixelsInRegion(region, 1);
    EXPECT_EQ(background[6 * Width + 5], 0xABCDEF01u);
    EXPECT_EQ(background[5 * Width + 5], kept[5 * Width + 5]);

    // An empty region copies nothing.
    std::copy(kept.begin(), kept.end(), background);
    RegionSetEmpty(region, 0, 0);
    render.CopyPixelsInRegion(region, 1);
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), background));
}

TEST(QRenderFrame, LightMapCopiesFollowTheFlags) {
    SceneGeometry geometry;
    MakeScene(geometry);
    SetSceneList(geometry, {0});
    Frame frame(geometry);
    QRender& render = frame.render;
    render.options.shadows = true;
    ASSERT_EQ(render.SetLightCounts(1, 1), RenderSizeOk);
    ASSERT_EQ(render.SetSize(frame.pixels.data(), Width, Height, Width, false), RenderSizeOk);
    render.RenderFrame(nullptr, false, nullptr, 0);
    ASSERT_EQ(render.AllocAuxBuffers(), 0);
    RenderLightSlot& slot = render.LightSlot(0);
    ASSERT_TRUE(slot.mapBackupA && slot.mapBackupB);
    EXPECT_EQ(slot.idPlaneBackupA, nullptr);  // one sample: no id planes
    const std::size_t side = static_cast<std::size_t>(render.LightMapSide());
    const auto fill = [side](LightMapCell* map, std::uint32_t id) {
        for (std::size_t i = 0; i < side * side; ++i) map[i].id = id;
    };
    struct Case {
        std::int32_t flags;
        LightMapCell* from;
        LightMapCell* to;
    };
    const Case cases[] = {{1, slot.map.get(), slot.mapBackupA.get()},
                          {3, slot.mapBackupB.get(), slot.mapBackupA.get()},
                          {0, slot.mapBackupA.get(), slot.map.get()},
                          {2, slot.mapBackupA.get(), slot.mapBackupB.get()}};
    SpanRegion region;
    RegionSetRect(region, 2, 3, 5, 4);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        fill(slot.map.get(), 1);
        fill(slot.mapBackupA.get(), 2);
        fill(slot.mapBackupB.get(), 3);
        const std::uint32_t source = c.from->id;
        const std::uint32_t before = c.to->id;
        render.CopyLightBuffersInRegion(0, region, c.flags);
        for (std::size_t i = 0; i < side * side; ++i) {
            const bool inside = i / side == 3 && i % side >= 2 && i % side < 5;
            ASSERT_EQ(c.to[i].id, inside ? source : before) << i;
        }
    }
}

// ---- The backups ----

TEST(QRenderFrame, WithoutBackupsAFrameIsRenderedWhole) {
    SceneGeometry geometry;
    MakeScene(geometry);
    Frame frame(geometry);
    QRender& render = frame.render;
    render.RenderFrame(nullptr, false, nullptr, 0);
    // The heap refuses the first backup: nothing is kept, and frames are drawn whole.
    PrivateHeapRefuseNext(1);
    EXPECT_EQ(render.AllocAuxBuffers(), -1);
    PrivateHeapRefuseNext(0);
    EXPECT_FALSE(render.AuxBuffersReady());
    Place(geometry, 3, CentreAt(3, 4));
    const auto list = CountPrefixed({3});
    render.RenderFrame(list.data(), false, nullptr, 0);
    EXPECT_TRUE(SameAsWholeRender(geometry, frame));
    // A complement render has no background to change.
    render.RenderFrame(list.data(), true, list.data(), 0);
    EXPECT_TRUE(SameAsWholeRender(geometry, frame));

    // A failed sizing leaves no buffers to keep or to render into.
    frame.pixels.assign(frame.pixels.size(), 0x5A5A5A5Au);
    PrivateHeapRefuseNext(1);
    EXPECT_EQ(render.SetSize(frame.pixels.data(), Width, Height, Width, false),
              RenderSizeNoMemory);
    PrivateHeapRefuseNext(0);
    EXPECT_EQ(render.AllocAuxBuffers(), -1);
    render.RenderFrame(list.data(), false, nullptr, 0);
    render.RenderFrame(nullptr, false, nullptr, 0);
    for (const std::uint32_t p : frame.pixels) ASSERT_EQ(p, 0x5A5A5A5Au);
}

TEST(QRenderFrame, BackupsSeenOtherwiseAreDropped) {
    struct Case {
        const char* name;
        void (*change)(QRender&);
    };
    const Case cases[] = {
        {"the view moved", [](QRender& r) { r.partsViewFromWorld.m[4] = 0.5; }},
        {"the focal length", [](QRender& r) { r.focalScale = 0.21; }},
        {"the centre", [](QRender& r) { r.centreX += 3.0; }},
        {"the level", [](QRender& r) { r.reductionLevel = 1; }},
        {"the render size", [](QRender& r) { r.renderWidth = Width - 10; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SceneGeometry geometry;
        MakeScene(geometry);
        Frame frame(geometry);
        RenderBackground(geometry, frame, {3});
        c.change(frame.render);
        PlaceAll(geometry, {3}, 2);
        const auto list = CountPrefixed({3});
        frame.render.RenderFrame(list.data(), false, nullptr, 0);
        EXPECT_FALSE(frame.render.AuxBuffersReady());
        Frame whole(geometry);
        c.change(whole.render);
        // Columns a smaller render leaves alone keep what the first frame drew there.
        std::copy(frame.pixels.begin(), frame.pixels.end(), whole.pixels.begin());
        whole.render.RenderFrame(nullptr, false, nullptr, 0);
        EXPECT_TRUE(SamePicture(frame, whole));
    }
}

TEST(QRenderFrame, ASceneListGivesASecondSetWithoutItsVisibleParts) {
    SceneGeometry geometry;
    MakeScene(geometry);
    geometry.Part(4)->visible = 0;
    SetSceneList(geometry, CountPrefixed({3, 4}));
    const std::int32_t* listBlock = geometry.renderList.get();
    Frame frame(geometry);
    QRender& render = frame.render;
    render.RenderFrame(nullptr, false, nullptr, 0);
    ASSERT_EQ(render.AllocAuxBuffers(), 0);
    EXPECT_EQ(geometry.renderList.get(), listBlock);

    // The first set lost part 3 (the visible listed part); the second keeps the frame.
    SceneGeometry without;
    MakeScene(without);
    without.Part(3)->visible = 0;
    without.Part(4)->visible = 0;
    Frame expected(without);
    expected.render.RenderFrame(nullptr, false, nullptr, 0);
    std::int32_t part3 = 0;
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            ASSERT_EQ(render.QueryPixel(x, y, nullptr, nullptr, 1, nullptr) & PixelIdMask,
                      expected.Id(x, y));
            const std::size_t cell = static_cast<std::size_t>(y + 1) * (Width + 2) +
                                     static_cast<std::size_t>(x + 1);
            ASSERT_EQ(render.SampleBuffer(3)[cell].pixel, render.SampleBuffer(0)[cell].pixel);
            if (PixelPartIndex(frame.Id(x, y)) == 3) ++part3;
        }
    }
    EXPECT_GT(part3, 0);
    // Frames of the listed part go over the first set and leave nothing where it was.
    const auto list = CountPrefixed({3});
    for (std::int32_t tick = 1; tick <= 3; ++tick) {
        Place(geometry, 3, CentreAt(3, tick));
        render.RenderFrame(list.data(), false, nullptr, 0);
        ASSERT_TRUE(SameAsWholeRender(geometry, frame)) << tick;
    }
}

TEST(QRenderFrame, AnAbandonedBackgroundRenderPutsTheSceneListBack) {
    SceneGeometry geometry;
    MakeScene(geometry);
    SetSceneList(geometry, CountPrefixed({3}));
    const std::int32_t* listBlock = geometry.renderList.get();
    Frame frame(geometry);
    QRender& render = frame.render;
    render.RenderFrame(nullptr, false, nullptr, 0);

    ScriptedInputState script;
    ScopedInputStateSource installed(script);
    script.QueueLeftButtonDownAfterPeeks(0);
    render.poll.rowMask = 0;
    render.poll.mode = -1;
    EXPECT_THROW(render.AllocAuxBuffers(), UserAbortRender);
    EXPECT_EQ(geometry.renderList.get(), listBlock);
    EXPECT_FALSE(render.AuxBuffersReady());
}

}  // namespace
