// The shadow pass in incremental frames: moving parts carry their shadows over the background,
// and every frame matches a whole render of the same state.

#include "render/shadow_pass.h"

#include "render/light_layer_resolve.h"
#include "render/light_map.h"
#include "support/shadow_scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using shadow_scene::Light;
using shadow_scene::ShadowFrame;
using shadow_scene::Solid;

constexpr std::int32_t Width = 160;
constexpr std::int32_t Height = 120;

// A floor with a box and a sphere standing on it, and two spheres (parts 3 and 4) that move.
const std::vector<Solid> StartSolids{
    {true, {0, 3.5, 8}, {20, 0.5, 20}, 0xA0A0A0},    {false, {1.5, 2.2, 8}, {0.8, 0, 0}, 0xC04040},
    {true, {-2, 2.5, 9}, {0.5, 0.5, 0.5}, 0x40C040}, {false, {-2.5, 1.2, 7}, {0.5, 0, 0}, 0x4040C0},
    {false, {2.5, 0.5, 6}, {0.4, 0, 0}, 0xC0C040},
};

Vec3 CentreAt(std::int32_t part, std::int32_t tick) {
    const Vec3& c = StartSolids[static_cast<std::size_t>(part)].centre;
    if (part == 3) return Vec3{c.x + 0.45 * tick, c.y + 0.05 * tick, c.z + 0.1 * tick};
    return Vec3{c.x - 0.35 * tick, c.y + 0.1 * tick, c.z + 0.15 * tick};
}

void PlaceAt(SceneGeometry& geometry, std::int32_t part, std::int32_t tick) {
    Solid solid = StartSolids[static_cast<std::size_t>(part)];
    solid.centre = CentreAt(part, tick);
    shadow_scene::PlaceSolid(geometry, part, solid);
}

std::vector<std::int32_t> CountPrefixed(std::vector<std::int32_t> parts) {
    parts.insert(parts.begin(), static_cast<std::int32_t>(parts.size()));
    return parts;
}

struct LightSetup {
    const char* what;
    std::vector<Light> lights;
    bool withDependents;
    double mapScale;
    bool withLayers = false;
    std::int32_t samples = 1;
};

const LightSetup LightSetups[] = {
    {"one light, dependency lists", {{{1.5, -3, 5}}}, true, 2.0},
    {"three lights, dependency lists", {{{1.5, -3, 5}}, {{-4, -2, 9}}, {{3, -1, 12}}}, true, 2.0},
    {"one light, no lists", {{{1.5, -3, 5}}}, false, 2.0},
    {"lists that overflow their pool", {{{-4, -2, 9}}}, true, 0.25},
    {"two lights, light layers resolved", {{{1.5, -3, 5}}, {{-4, -2, 9}}}, true, 2.0, true},
    {"two lights, two samples", {{{1.5, -3, 5}}, {{-4, -2, 9}}}, true, 2.0, false, 2},
};

std::unique_ptr<ShadowFrame> MakeFrame(SceneGeometry& geometry, const LightSetup& setup) {
    auto frame =
        std::make_unique<ShadowFrame>(geometry, Width, Height, setup.lights, Vec3{0, 2, 8}, 5.0,
                                      setup.withDependents, setup.mapScale, setup.withLayers);
    frame->ok = frame->ok && frame->render.SetSamplesPerPixel(setup.samples) == RenderSizeOk;
    return frame;
}

// Same ids everywhere and colours within 2 a channel.
testing::AssertionResult SamePicture(const ShadowFrame& a, const ShadowFrame& b,
                                     std::int32_t leastShadowed = 50) {
    std::int32_t shadowed = 0;
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            const std::string at = " at (" + std::to_string(x) + ", " + std::to_string(y) + ")";
            std::uint32_t maskA = 0, maskB = 0;
            const std::uint32_t idA = a.render.QueryPixel(x, y, &maskA, nullptr, 0, nullptr);
            const std::uint32_t idB = b.render.QueryPixel(x, y, &maskB, nullptr, 0, nullptr);
            if ((idA & PixelIdMask) != (idB & PixelIdMask)) {
                return testing::AssertionFailure() << "id " << idA << " against " << idB << at;
            }
            if (((maskB >> 16) ^ maskB) & 0xFFFF) ++shadowed;
            const std::uint32_t pa = a.pixels[static_cast<std::size_t>(y * Width + x)];
            const std::uint32_t pb = b.pixels[static_cast<std::size_t>(y * Width + x)];
            for (int shift = 0; shift < 32; shift += 8) {
                const int ca = static_cast<int>((pa >> shift) & 0xFF);
                const int cb = static_cast<int>((pb >> shift) & 0xFF);
                if (std::abs(ca - cb) > 2) {
                    return testing::AssertionFailure()
                           << std::hex << "colour " << pa << " against " << pb << std::dec << at;
                }
            }
        }
    }
    if (shadowed < leastShadowed) {
        return testing::AssertionFailure() << "hardly any shadow: " << shadowed;
    }
    return testing::AssertionSuccess();
}

// The player's start: a whole frame with the moving parts hidden, kept as the background.
void RenderBackground(SceneGeometry& geometry, ShadowFrame& frame,
                      const std::vector<std::int32_t>& moving) {
    for (const std::int32_t i : moving) geometry.Part(i)->visible = 0;
    frame.render.RenderFrame(nullptr, false, nullptr, 0);
    ASSERT_EQ(frame.render.AllocAuxBuffers(), 0);
    for (const std::int32_t i : moving) geometry.Part(i)->visible = 1;
}

// Ticks 0 to 10 of parts 3 and 4, each frame checked against a whole render.
void TicksMatchWholeRenders(SceneGeometry& geometry, ShadowFrame& frame, const LightSetup& setup) {
    const auto moving = CountPrefixed({3, 4});
    for (std::int32_t tick = 0; tick <= 10; ++tick) {
        SCOPED_TRACE(tick);
        PlaceAt(geometry, 3, tick);
        PlaceAt(geometry, 4, tick);
        frame.render.RenderFrame(moving.data(), false, nullptr, 0);
        ASSERT_TRUE(frame.render.AuxBuffersReady());
        auto whole = MakeFrame(geometry, setup);
        whole->render.RenderFrame(nullptr, false, nullptr, 0);
        ASSERT_TRUE(SamePicture(frame, *whole));
    }
}

TEST(ShadowPass, IncrementalFramesWithMovingShadowsMatchWholeRenders) {
    for (const LightSetup& setup : LightSetups) {
        SCOPED_TRACE(setup.what);
        SceneGeometry geometry;
        shadow_scene::MakeGeometry(geometry, StartSolids);
        auto frame = MakeFrame(geometry, setup);
        ASSERT_TRUE(frame->ok);
        RenderBackground(geometry, *frame, {3, 4});
        TicksMatchWholeRenders(geometry, *frame, setup);
    }
}

TEST(ShadowPass, PixelsWhoseShadowsAloneChangedAreRebuiltFromTheirLayers) {
    const LightSetup& setup = LightSetups[4];
    SceneGeometry geometry;
    shadow_scene::MakeGeometry(geometry, StartSolids);
    auto frame = MakeFrame(geometry, setup);
    ASSERT_TRUE(frame->ok);
    RenderBackground(geometry, *frame, {3, 4});
    QRender& render = frame->render;
    ASSERT_NE(render.LayerPlanes(), nullptr);
    ASSERT_TRUE(render.areLayersOfBackups);
    // Layers that say every pixel is pure green and no light changes it: a frame that rebuilds
    // from them the pixels whose shadows alone changed shows green exactly there, and
    // elsewhere the picture of a whole render.
    std::uint32_t* base = render.LayerPlanes();
    const std::size_t plane = render.LayerPlaneWords();
    std::fill_n(base, plane, LayerWordOf(0, 255, 0));
    std::fill_n(base + plane, 2 * plane, NeutralLayerWord);
    const auto moving = CountPrefixed({3, 4});
    PlaceAt(geometry, 3, 3);
    PlaceAt(geometry, 4, 3);
    render.RenderFrame(moving.data(), false, nullptr, 0);
    auto whole = MakeFrame(geometry, setup);
    whole->render.RenderFrame(nullptr, false, nullptr, 0);
    std::int32_t rebuilt = 0;
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            const std::uint32_t pa = frame->pixels[static_cast<std::size_t>(y * Width + x)];
            const std::uint32_t pb = whole->pixels[static_cast<std::size_t>(y * Width + x)];
            std::uint32_t mask = 0, backupMask = 0;
            const std::uint32_t id = render.QueryPixel(x, y, &mask, nullptr, 0, nullptr);
            const std::uint32_t backupId =
                render.QueryPixel(x, y, &backupMask, nullptr, 1, nullptr);
            if ((pa & 0xFFFFFFu) == 0x00FF00u) {
                // The same surface as the background, another light.
                EXPECT_EQ(id & PixelIdMask, backupId & PixelIdMask) << x << ", " << y;
                EXPECT_NE((mask ^ backupMask) & 0xFFFF0000u, 0u) << x << ", " << y;
                ++rebuilt;
                continue;
            }
            for (int shift = 0; shift < 24; shift += 8) {
                const int ca = static_cast<int>((pa >> shift) & 0xFF);
                const int cb = static_cast<int>((pb >> shift) & 0xFF);
                ASSERT_LE(std::abs(ca - cb), 2) << x << ", " << y;
            }
        }
    }
    EXPECT_GT(rebuilt, 20);
}

// Gives the geometry the listed parts as its scene part list.
void SetRenderList(SceneGeometry& geometry, std::initializer_list<std::int32_t> listed) {
    const auto list = CountPrefixed(listed);
    geometry.renderList = PrivateAllocBlock<std::int32_t>(static_cast<std::uint32_t>(list.size()));
    std::copy(list.begin(), list.end(), geometry.renderList.get());
}

// The scene with the listed parts as its list, rendered whole and kept in the backups (ok is
// cleared when they are not made).
std::unique_ptr<ShadowFrame> SceneListBackground(SceneGeometry& geometry, const LightSetup& setup,
                                                 std::initializer_list<std::int32_t> listed = {3,
                                                                                               4}) {
    shadow_scene::MakeGeometry(geometry, StartSolids);
    SetRenderList(geometry, listed);
    auto frame = MakeFrame(geometry, setup);
    frame->render.RenderFrame(nullptr, false, nullptr, 0);
    frame->ok = frame->ok && frame->render.AllocAuxBuffers() == 0;
    return frame;
}

TEST(ShadowPass, ASceneListKeepsItsSecondSetAndItsPartsCarryTheirShadows) {
    for (const LightSetup& setup : {LightSetups[1], LightSetups[4]}) {
        SCOPED_TRACE(setup.what);
        SceneGeometry geometry;
        // The whole picture, parts 3 and 4 in it: the first set loses them and their shadows,
        // the second keeps them.
        const auto frame = SceneListBackground(geometry, setup);
        ASSERT_TRUE(frame->ok);
        QRender& render = frame->render;
        // Kept again over the buffers of the first time, the sets exchange them by pointer.
        const SampleCell* firstCells = render.SampleBuffer(1);
        const SampleCell* secondCells = render.SampleBuffer(3);
        const std::uint32_t* firstFrame = render.ExtraPlanes();
        render.RenderFrame(nullptr, false, nullptr, 0);
        ASSERT_EQ(render.AllocAuxBuffers(), 0);
        EXPECT_EQ(render.SampleBuffer(1), secondCells);
        EXPECT_EQ(render.SampleBuffer(3), firstCells);
        EXPECT_NE(render.ExtraPlanes(), firstFrame);
        ASSERT_TRUE(render.AuxBuffersReady());
        for (std::int32_t y = 0; y < Height; ++y) {
            for (std::int32_t x = 0; x < Width; ++x) {
                const std::size_t cell =
                    static_cast<std::size_t>(y + 1) * (Width + 2) + static_cast<std::size_t>(x + 1);
                ASSERT_EQ(render.SampleBuffer(3)[cell].pixel, render.SampleBuffer(0)[cell].pixel);
                const std::int32_t part = PixelPartIndex(render.SampleBuffer(1)[cell].pixel);
                ASSERT_TRUE(part != 3 && part != 4);
            }
        }
        TicksMatchWholeRenders(geometry, *frame, setup);
    }
}

TEST(ShadowPass, ASecondSetTakesItsPartsOutWithTheirShadows) {
    for (const LightSetup& setup : {LightSetups[1], LightSetups[4], LightSetups[5]}) {
        SCOPED_TRACE(setup.what);
        SceneGeometry geometry;
        const auto frame = SceneListBackground(geometry, setup);
        ASSERT_TRUE(frame->ok);
        const auto list = CountPrefixed({3, 4});
        // The listed parts start moving: the second set, which showed them, loses them and
        // their shadows, and keeps its backups.
        frame->render.RenderFrame(list.data(), true, list.data(), 0);
        ASSERT_TRUE(frame->render.AuxBuffersReady());
        SceneGeometry without;
        shadow_scene::MakeGeometry(without, StartSolids);
        without.Part(3)->visible = 0;
        without.Part(4)->visible = 0;
        auto expected = MakeFrame(without, setup);
        expected->render.RenderFrame(nullptr, false, nullptr, 0);
        std::int32_t shadowed = 0;
        for (std::int32_t y = 0; y < Height; ++y) {
            for (std::int32_t x = 0; x < Width; ++x) {
                const std::size_t cell =
                    static_cast<std::size_t>(y + 1) * (Width + 2) + static_cast<std::size_t>(x + 1);
                const SampleCell& got = frame->render.SampleBuffer(3)[cell];
                const SampleCell& want = expected->render.SampleBuffer(0)[cell];
                ASSERT_EQ(got.pixel & PixelIdMask, want.pixel & PixelIdMask) << x << ", " << y;
                ASSERT_EQ(got.lightMask, want.lightMask) << x << ", " << y;
                if (((want.lightMask >> 16) ^ want.lightMask) & 0xFFFF) ++shadowed;
            }
        }
        EXPECT_GT(shadowed, 50);
        // The working picture and the first set are as they were: the ticks go on over it.
        TicksMatchWholeRenders(geometry, *frame, setup);
    }
}

TEST(ShadowPass, PartsThatStartMovingLeaveTheFirstSetWithTheSecond) {
    for (const LightSetup& setup : {LightSetups[1], LightSetups[4], LightSetups[5]}) {
        SCOPED_TRACE(setup.what);
        SceneGeometry geometry;
        // The first set lacks part 3 alone; 4 starts moving too, and the ticks that move both
        // restore a background without either, with their shadows gone.
        const auto frame = SceneListBackground(geometry, setup, {3});
        ASSERT_TRUE(frame->ok);
        const auto list = CountPrefixed({3, 4});
        frame->render.RenderFrame(list.data(), true, list.data(), 0);
        ASSERT_TRUE(frame->render.AuxBuffersReady());
        TicksMatchWholeRenders(geometry, *frame, setup);
    }
}

bool Holds(const SpanRegion& region, std::int32_t x, std::int32_t y) {
    if (y < region.Top() || y >= region.Bottom()) return false;
    for (const std::int16_t* t = region.Row(y); t[0] != SpanRowEnd; t += 2) {
        if (x >= t[0] && x < t[1]) return true;
    }
    return false;
}

// True when the pixel shows another surface, another light or another colour in the two
// frames; colours count only beyond the dither's step, since the dither carries its remainder
// from pixel to pixel across the whole frame.
bool Differ(const ShadowFrame& a, const ShadowFrame& b, std::int32_t x, std::int32_t y) {
    std::uint32_t maskA = 0, maskB = 0;
    const std::uint32_t idA = a.render.QueryPixel(x, y, &maskA, nullptr, 0, nullptr);
    const std::uint32_t idB = b.render.QueryPixel(x, y, &maskB, nullptr, 0, nullptr);
    if (((idA ^ idB) & PixelIdMask) != 0 || maskA != maskB) return true;
    const std::uint32_t pa = a.pixels[static_cast<std::size_t>(y * Width + x)];
    const std::uint32_t pb = b.pixels[static_cast<std::size_t>(y * Width + x)];
    for (int shift = 0; shift < 32; shift += 8) {
        if (std::abs(static_cast<int>((pa >> shift) & 0xFF) -
                     static_cast<int>((pb >> shift) & 0xFF)) > 1) {
            return true;
        }
    }
    return false;
}

TEST(ShadowPass, PixelsThatChangeWithAMoveLieInTheChangeRegions) {
    const LightSetup& setup = LightSetups[1];
    SceneGeometry geometry;
    shadow_scene::MakeGeometry(geometry, StartSolids);
    auto frame = MakeFrame(geometry, setup);
    RenderBackground(geometry, *frame, {3, 4});
    const auto moving = CountPrefixed({3, 4});
    auto before = MakeFrame(geometry, setup);
    before->render.RenderFrame(nullptr, false, nullptr, 0);
    frame->render.RenderFrame(moving.data(), false, nullptr, 0);
    for (std::int32_t tick = 1; tick <= 8; ++tick) {
        SCOPED_TRACE(tick);
        SpanRegion changedBefore;
        RegionCopy(changedBefore, frame->render.changeRegion);
        PlaceAt(geometry, 3, tick);
        PlaceAt(geometry, 4, tick);
        frame->render.RenderFrame(moving.data(), false, nullptr, 0);
        auto after = MakeFrame(geometry, setup);
        after->render.RenderFrame(nullptr, false, nullptr, 0);
        std::int32_t differing = 0;
        for (std::int32_t y = 0; y < Height; ++y) {
            for (std::int32_t x = 0; x < Width; ++x) {
                if (!Differ(*before, *after, x, y)) continue;
                ++differing;
                // Where the parts and their shadows were, or where they are now.
                ASSERT_TRUE(Holds(changedBefore, x, y) || Holds(frame->render.changeRegion, x, y))
                    << "(" << x << ", " << y << ")";
            }
        }
        EXPECT_GT(differing, 100);
        before = std::move(after);
    }
}

TEST(ShadowPass, TicksAfterAWholeFrameOverTheBackupsStayRight) {
    // A whole frame drawn with the moving parts in view records lists that miss the pixels of
    // the background they hide; the ticks after it must not trust those lists. A light by the
    // eye throws each part's shadow just beside the pixels the part hides.
    const LightSetup setup{"light by the eye", {{{0.6, -0.4, 0.5}}}, true, 2.0};
    SceneGeometry geometry;
    shadow_scene::MakeGeometry(geometry, StartSolids);
    auto frame = MakeFrame(geometry, setup);
    RenderBackground(geometry, *frame, {3, 4});
    PlaceAt(geometry, 3, 6);
    PlaceAt(geometry, 4, 6);
    frame->render.RenderFrame(nullptr, false, nullptr, 0);
    TicksMatchWholeRenders(geometry, *frame, setup);
}

testing::AssertionResult SameAsWholeRender(SceneGeometry& geometry, const ShadowFrame& frame,
                                           const LightSetup& setup) {
    auto whole = MakeFrame(geometry, setup);
    whole->render.RenderFrame(nullptr, false, nullptr, 0);
    return SamePicture(frame, *whole);
}

TEST(ShadowPass, PartsThatStopAndStartTakeTheirShadowsAlong) {
    for (const LightSetup& setup : {LightSetups[0], LightSetups[1], LightSetups[2]}) {
        SCOPED_TRACE(setup.what);
        SceneGeometry geometry;
        shadow_scene::MakeGeometry(geometry, StartSolids);
        auto frame = MakeFrame(geometry, setup);
        QRender& render = frame->render;
        RenderBackground(geometry, *frame, {3, 4});
        auto moving = CountPrefixed({3, 4});
        for (std::int32_t tick = 1; tick <= 4; ++tick) {
            PlaceAt(geometry, 3, tick);
            PlaceAt(geometry, 4, tick);
            render.RenderFrame(moving.data(), false, nullptr, 0);
        }
        ASSERT_TRUE(SameAsWholeRender(geometry, *frame, setup));

        // Part 3 stops where it is and joins the background, shadow and all; as the player
        // does, the change region is then restored from the backups and forgotten.
        moving = CountPrefixed({4});
        const auto stopped = CountPrefixed({3});
        render.RenderFrame(moving.data(), true, stopped.data(), 0);
        ASSERT_TRUE(render.AuxBuffersReady());
        render.CopySamplesInRegion(0, render.changeRegion);
        render.CopyPixelsInRegion(render.changeRegion, 0);
        render.ResetRegions();
        for (std::int32_t tick = 4; tick <= 7; ++tick) {
            SCOPED_TRACE(tick);
            PlaceAt(geometry, 4, tick);
            render.RenderFrame(moving.data(), false, nullptr, 0);
            ASSERT_TRUE(SameAsWholeRender(geometry, *frame, setup));
        }

        // Part 1, which stood still, starts moving and takes its shadow off the background.
        moving = CountPrefixed({4, 1});
        const auto started = CountPrefixed({1});
        render.RenderFrame(moving.data(), true, started.data(), 0);
        for (std::int32_t tick = 1; tick <= 5; ++tick) {
            SCOPED_TRACE(tick);
            Solid one = StartSolids[1];
            one.centre = Vec3{one.centre.x - 0.5 * tick, one.centre.y - 0.1 * tick, one.centre.z};
            shadow_scene::PlaceSolid(geometry, 1, one);
            PlaceAt(geometry, 4, 7 + tick);
            render.RenderFrame(moving.data(), false, nullptr, 0);
            ASSERT_TRUE(SameAsWholeRender(geometry, *frame, setup));
        }
    }
}

// Whether every pixel is recorded at most once in each light's dependency lists.
testing::AssertionResult EachPixelRecordedOnce(const QRender& render) {
    const std::int32_t side = render.LightMapSide();
    for (std::int32_t i = 0; i < render.ShadowLightCount(); ++i) {
        const RenderLightSlot& slot = render.LightSlot(i);
        std::vector<std::uint8_t> seen(static_cast<std::size_t>(Width * Height), 0);
        for (std::int32_t cell = 0; cell < side * side; ++cell) {
            const std::int32_t head = slot.dependents.get()[cell];
            std::int32_t entry = head < 0 ? -1 : head & ~ShadowCellReleased;
            for (std::int32_t k = 0; entry >= 0 && k < slot.dependentNext; ++k) {
                const std::int32_t* record = slot.dependentPool.get() + 3 * static_cast<std::size_t>(entry);
                const auto at = static_cast<std::size_t>(record[1] * Width + record[0]);
                if (seen[at]++ != 0) {
                    return testing::AssertionFailure() << "light " << i << ": pixel (" << record[0]
                                                       << ", " << record[1] << ") twice";
                }
                entry = record[2];
            }
        }
    }
    return testing::AssertionSuccess();
}

TEST(ShadowPass, ManyStartsAndStopsKeepTheBackgroundsListsWhole) {
    // A large part 3 stops and starts again forty times, a little further each time: each
    // complement render records the pixels it draws again in place of their old entries, so
    // the lists never run out of room and keep serving the ticks, which match whole renders.
    for (const LightSetup& setup : {LightSetups[0], LightSetups[4]}) {
        SCOPED_TRACE(setup.what);
        SceneGeometry geometry;
        shadow_scene::MakeGeometry(geometry, StartSolids);
        auto frame = MakeFrame(geometry, setup);
        ASSERT_TRUE(frame->ok);
        QRender& render = frame->render;
        RenderBackground(geometry, *frame, {3, 4});
        const auto both = CountPrefixed({3, 4});
        const auto four = CountPrefixed({4});
        const auto three = CountPrefixed({3});
        for (std::int32_t event = 0; event < 40; ++event) {
            SCOPED_TRACE(event);
            const bool stops = event % 2 == 0;
            const auto placeBig = [&](double step) {
                Solid big = StartSolids[3];
                big.centre = Vec3{-1.5 + 0.08 * step, 1.0 - 0.04 * step, 7.5};
                big.size = Vec3{1.3, 0, 0};
                shadow_scene::PlaceSolid(geometry, 3, big);
            };
            // A moving part stops where it has got to; a part starts from where it stood.
            if (stops) placeBig(event);
            render.RenderFrame(stops ? four.data() : both.data(), true, three.data(), 0);
            ASSERT_TRUE(render.AuxBuffersReady());
            ASSERT_TRUE(render.areShadowListsOfBackups);
            for (std::int32_t i = 0; i < render.ShadowLightCount(); ++i) {
                ASSERT_TRUE(render.LightSlot(i).isDependentsComplete) << i;
            }
            ASSERT_TRUE(EachPixelRecordedOnce(render));
            render.CopySamplesInRegion(0, render.changeRegion);
            render.CopyPixelsInRegion(render.changeRegion, 0);
            render.ResetRegions();
            if (!stops) placeBig(event + 0.5);
            PlaceAt(geometry, 4, event % 7);
            render.RenderFrame(stops ? four.data() : both.data(), false, nullptr, 0);
            if (event % 8 == 7) {
                ASSERT_TRUE(SameAsWholeRender(geometry, *frame, setup));
            }
        }
    }
}

// The scene's geometry and a frame over its background without parts 3 and 4.
std::unique_ptr<ShadowFrame> FrameOverBackground(SceneGeometry& geometry, const LightSetup& setup) {
    shadow_scene::MakeGeometry(geometry, StartSolids);
    auto frame = MakeFrame(geometry, setup);
    if (frame->ok) RenderBackground(geometry, *frame, {3, 4});
    return frame;
}

TEST(ShadowPass, FramesWithAChangedListMatchWholeRendersAndRecordTheirLists) {
    for (const LightSetup& setup : LightSetups) {
        SCOPED_TRACE(setup.what);
        SceneGeometry geometry;
        auto frame = FrameOverBackground(geometry, setup);
        ASSERT_TRUE(frame->ok);
        QRender& render = frame->render;
        const auto moving = CountPrefixed({3, 4});
        for (std::int32_t tick = 0; tick <= 6; ++tick) {
            SCOPED_TRACE(tick);
            PlaceAt(geometry, 3, tick);
            PlaceAt(geometry, 4, tick);
            render.RenderFrame(moving.data(), false, moving.data(), tick % 2);
            ASSERT_TRUE(SameAsWholeRender(geometry, *frame, setup));
        }
    }
}

TEST(ShadowPass, APartPlacedByAChangedFrameJoinsTheBackgroundWithItsLists) {
    // Part 3 is drawn into place by a frame that records the lists again, and the frame is
    // kept as the background; part 4 then passes between it and the first light, each tick
    // trusting the lists to find the pixels of part 3 whose shadows it changes.
    for (const LightSetup& setup : {LightSetups[0], LightSetups[1], LightSetups[4]}) {
        SCOPED_TRACE(setup.what);
        SceneGeometry geometry;
        auto frame = FrameOverBackground(geometry, setup);
        ASSERT_TRUE(frame->ok);
        QRender& render = frame->render;
        geometry.Part(4)->visible = 0;
        PlaceAt(geometry, 3, 3);
        const auto placed = CountPrefixed({3});
        render.RenderFrame(placed.data(), false, placed.data(), 0);
        ASSERT_TRUE(render.areShadowListsOfWorking);
        render.SaveRegionBuffers();
        render.ResetRegions();
        ASSERT_TRUE(render.areShadowListsOfBackups);
        geometry.Part(4)->visible = 1;
        const auto moving = CountPrefixed({4});
        for (std::int32_t tick = 0; tick <= 10; ++tick) {
            SCOPED_TRACE(tick);
            Solid four = StartSolids[4];
            four.centre = Vec3{1.8 - 0.35 * tick, -0.8, 6.15};
            shadow_scene::PlaceSolid(geometry, 4, four);
            render.RenderFrame(moving.data(), false, nullptr, 0);
            ASSERT_TRUE(render.areShadowListsOfBackups);
            ASSERT_TRUE(SameAsWholeRender(geometry, *frame, setup));
        }
    }
}

// The pixels of region inside the frame.
std::int32_t PixelsIn(const SpanRegion& region) {
    std::int32_t count = 0;
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) count += Holds(region, x, y) ? 1 : 0;
    }
    return count;
}

// The ids and light masks of sample buffer buffer against a whole render of the scene with the
// hidden parts left out.
testing::AssertionResult SetShowsSceneWithout(const ShadowFrame& frame, std::int32_t buffer,
                                              SceneGeometry& geometry, const LightSetup& setup,
                                              const std::vector<std::int32_t>& hidden) {
    for (const std::int32_t i : hidden) geometry.Part(i)->visible = 0;
    auto expected = MakeFrame(geometry, setup);
    expected->render.RenderFrame(nullptr, false, nullptr, 0);
    for (const std::int32_t i : hidden) geometry.Part(i)->visible = 1;
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            const std::size_t cell =
                static_cast<std::size_t>(y + 1) * (Width + 2) + static_cast<std::size_t>(x + 1);
            const SampleCell& got = frame.render.SampleBuffer(buffer)[cell];
            const SampleCell& want = expected->render.SampleBuffer(0)[cell];
            if (((got.pixel ^ want.pixel) & PixelIdMask) != 0 || got.lightMask != want.lightMask) {
                return testing::AssertionFailure()
                       << "buffer " << buffer << " at (" << x << ", " << y << "): " << std::hex
                       << got.pixel << "/" << got.lightMask << " against " << want.pixel << "/"
                       << want.lightMask;
            }
        }
    }
    return testing::AssertionSuccess();
}

TEST(ShadowPass, BothBackupSetsKeepTheirListsAsPartsStartAndStop) {
    // Parts 3 and 4 of the scene's list start moving, part 3 stops again, part 1 starts: each
    // complement render draws the second set again only around the changed part and its
    // shadow, both sets then show the scene without the moving parts and keep lists that
    // describe them, and the ticks after it, trusting the first set's lists, match whole
    // renders.
    for (const LightSetup& setup :
         {LightSetups[0], LightSetups[1], LightSetups[4], LightSetups[5]}) {
        SCOPED_TRACE(setup.what);
        SceneGeometry geometry;
        const auto frame = SceneListBackground(geometry, setup);
        ASSERT_TRUE(frame->ok);
        QRender& render = frame->render;
        const auto complement = [&](const std::vector<std::int32_t>& moving,
                                    const std::vector<std::int32_t>& changed) {
            const auto movingList = CountPrefixed(moving);
            const auto changedList = CountPrefixed(changed);
            render.RenderFrame(movingList.data(), true, changedList.data(), 0);
            ASSERT_TRUE(render.AuxBuffersReady());
            EXPECT_TRUE(render.areShadowListsOfSecondSet);
            EXPECT_TRUE(render.areShadowListsOfBackups);
            // What the next tick draws again: the changed part and its shadow, not the frame.
            EXPECT_LT(PixelsIn(render.changeRegion), Width * Height / 3);
            ASSERT_TRUE(SetShowsSceneWithout(*frame, 3, geometry, setup, moving));
            ASSERT_TRUE(SetShowsSceneWithout(*frame, 1, geometry, setup, moving));
            // As the player does: the change region restored from the backups and forgotten.
            render.CopySamplesInRegion(0, render.changeRegion);
            render.CopyPixelsInRegion(render.changeRegion, 0);
            render.ResetRegions();
        };
        const auto ticks = [&](const std::vector<std::int32_t>& moving, std::int32_t from,
                               std::int32_t to) {
            const auto list = CountPrefixed(moving);
            for (std::int32_t tick = from; tick <= to; ++tick) {
                SCOPED_TRACE(tick);
                for (const std::int32_t part : moving) {
                    if (part != 1) PlaceAt(geometry, part, tick);
                }
                if (std::find(moving.begin(), moving.end(), 1) != moving.end()) {
                    Solid one = StartSolids[1];
                    one.centre = Vec3{one.centre.x - 0.4 * tick, one.centre.y, one.centre.z};
                    shadow_scene::PlaceSolid(geometry, 1, one);
                }
                render.RenderFrame(list.data(), false, nullptr, 0);
                ASSERT_TRUE(SameAsWholeRender(geometry, *frame, setup));
            }
        };
        complement({3, 4}, {3, 4});
        ticks({3, 4}, 1, 3);
        complement({4}, {3});
        ticks({4}, 4, 6);
        complement({4, 1}, {1});
        ticks({4, 1}, 7, 9);
    }
}

// Part of the scene placed as a ball of radius 1 about the eye.
void CloseAroundTheEye(SceneGeometry& geometry, std::int32_t part) {
    Solid around = StartSolids[static_cast<std::size_t>(part)];
    around.centre = Vec3{0, 0, 0};
    around.size = Vec3{1, 0, 0};
    shadow_scene::PlaceSolid(geometry, part, around);
}

// Closes part around the eye and renders the frame whole: whether the frame is opaque black
// and its dependency lists do not claim to describe it.
testing::AssertionResult WholeRenderAroundTheEyeIsBlack(SceneGeometry& geometry, ShadowFrame& frame,
                                                        std::int32_t part) {
    CloseAroundTheEye(geometry, part);
    frame.render.RenderFrame(nullptr, false, nullptr, 0);
    for (std::size_t at = 0; at < frame.pixels.size(); ++at) {
        if (frame.pixels[at] != 0xFF000000u) {
            return testing::AssertionFailure()
                   << "pixel " << at << " is " << std::hex << frame.pixels[at];
        }
    }
    if (frame.render.areShadowListsOfWorking) {
        return testing::AssertionFailure() << "the lists claim to describe the black frame";
    }
    return testing::AssertionSuccess();
}

// The light masks of the two lights of the layered scenes: neither, each and both lit.
constexpr std::uint32_t TwoLightMasks[] = {0x00000000u, 0x80000000u, 0x40000000u, 0xC0000000u};

// The pixels of a picture (its sample cells, frame words and light layers) rebuilt from its
// layers with every pixel lit by the two lights as lit says.
std::vector<std::uint32_t> RebuiltFromLayers(const SampleCell* pictureCells,
                                             const std::uint32_t* frame,
                                             const std::uint32_t* layers, std::size_t planeWords,
                                             std::uint32_t lit) {
    std::vector<SampleCell> cells(pictureCells, pictureCells + (Width + 2) * (Height + 2));
    for (SampleCell& cell : cells) {
        cell.pixel &= ~PixelFinished;
        cell.lightMask = lit;
    }
    std::vector<std::uint32_t> rebuilt(frame, frame + Height * Width);
    SpanRegion all;
    RegionSetRect(all, 0, 0, Width, Height);
    CombineLayerBuffers(all, cells.data(), Width + 2, rebuilt.data(), Width, layers, planeWords, 2,
                        Width, Height);
    return rebuilt;
}

// Whether every pixel of the first backup set, rebuilt from its light layers, is opaque black
// whichever of the two lights lights it.
testing::AssertionResult FirstSetRebuildsBlack(const QRender& render) {
    const std::uint32_t* layers = render.LayerPlanes();
    if (layers == nullptr) return testing::AssertionFailure() << "no layers";
    for (const std::uint32_t lit : TwoLightMasks) {
        const std::vector<std::uint32_t> rebuilt = RebuiltFromLayers(
            render.SampleBuffer(1), render.ExtraPlanes(), layers, render.LayerPlaneWords(), lit);
        for (std::size_t at = 0; at < rebuilt.size(); ++at) {
            if (rebuilt[at] != 0xFF000000u) {
                std::ostringstream what;
                what << "light mask " << std::hex << lit << ": pixel " << std::dec << at
                     << " rebuilds as " << std::hex << rebuilt[at];
                return testing::AssertionFailure() << what.str();
            }
        }
    }
    return testing::AssertionSuccess();
}

TEST(ShadowPass, APartClosingAroundTheEyeTurnsTheBackupSetsBlackNotTheFrame) {
    // Part 3 stops around the eye and joins the background through the second set: the sets
    // go black, as a whole render does, and the frame on show stays as it was until the
    // change region is restored from them. With light layers, a later rebuild of the sets'
    // pixels from their layers gives that black again, not the picture they showed before.
    for (const LightSetup& setup : {LightSetups[1], LightSetups[4]}) {
        SCOPED_TRACE(setup.what);
        SceneGeometry geometry;
        const auto frame = SceneListBackground(geometry, setup);
        ASSERT_TRUE(frame->ok);
        QRender& render = frame->render;
        const auto moving = CountPrefixed({3, 4});
        render.RenderFrame(moving.data(), true, moving.data(), 0);
        render.RenderFrame(moving.data(), false, nullptr, 0);
        const std::vector<std::uint32_t> shown = frame->pixels;
        CloseAroundTheEye(geometry, 3);
        const auto four = CountPrefixed({4});
        const auto three = CountPrefixed({3});
        render.RenderFrame(four.data(), true, three.data(), 0);
        EXPECT_EQ(frame->pixels, shown);
        render.CopySamplesInRegion(0, render.changeRegion);
        render.CopyPixelsInRegion(render.changeRegion, 0);
        auto whole = MakeFrame(geometry, setup);
        whole->render.RenderFrame(nullptr, false, nullptr, 0);
        for (std::size_t at = 0; at < frame->pixels.size(); ++at) {
            ASSERT_EQ(whole->pixels[at], 0xFF000000u) << at;
            ASSERT_EQ(frame->pixels[at], 0xFF000000u) << at;
        }
        if (!setup.withLayers) continue;
        ASSERT_TRUE(FirstSetRebuildsBlack(render));
    }
}

TEST(ShadowPass, AWholeRenderWithTheEyeInsideAPartLeavesLayersThatRebuildBlack) {
    // A whole frame with its layers, then part 3 closes around the eye and the next whole
    // frame goes black: its layers must say so too, or backups taken of it rebuild the pixels
    // whose shadows alone change with the colours of the frame before.
    const LightSetup& setup = LightSetups[4];
    SceneGeometry geometry;
    shadow_scene::MakeGeometry(geometry, StartSolids);
    auto frame = MakeFrame(geometry, setup);
    ASSERT_TRUE(frame->ok);
    QRender& render = frame->render;
    render.RenderFrame(nullptr, false, nullptr, 0);
    ASSERT_TRUE(render.areLayersOfWorking);
    ASSERT_TRUE(WholeRenderAroundTheEyeIsBlack(geometry, *frame, 3));
    ASSERT_EQ(render.AllocAuxBuffers(), 0);
    ASSERT_TRUE(render.areLayersOfBackups);
    ASSERT_TRUE(FirstSetRebuildsBlack(render));
}

// Whether the first backup set, rebuilt from its light layers under each mask of the two
// lights, gives within 2 a channel what a whole render of the scene without the hidden parts
// gives rebuilt from its own layers under the same mask.
testing::AssertionResult FirstSetRebuildsSceneWithout(const QRender& render,
                                                      SceneGeometry& geometry,
                                                      const LightSetup& setup,
                                                      const std::vector<std::int32_t>& hidden) {
    if (render.LayerPlanes() == nullptr) return testing::AssertionFailure() << "no layers";
    for (const std::int32_t i : hidden) geometry.Part(i)->visible = 0;
    auto expected = MakeFrame(geometry, setup);
    expected->render.RenderFrame(nullptr, false, nullptr, 0);
    for (const std::int32_t i : hidden) geometry.Part(i)->visible = 1;
    const QRender& whole = expected->render;
    for (const std::uint32_t lit : TwoLightMasks) {
        const std::vector<std::uint32_t> got =
            RebuiltFromLayers(render.SampleBuffer(1), render.ExtraPlanes(), render.LayerPlanes(),
                              render.LayerPlaneWords(), lit);
        const std::vector<std::uint32_t> want =
            RebuiltFromLayers(whole.SampleBuffer(0), expected->pixels.data(), whole.LayerPlanes(),
                              whole.LayerPlaneWords(), lit);
        for (std::size_t at = 0; at < got.size(); ++at) {
            if (shadow_scene::LargestChannelDifference(got[at], want[at]) > 2) {
                std::ostringstream what;
                what << "light mask " << std::hex << lit << ": pixel " << std::dec << at
                     << " rebuilds as " << std::hex << got[at] << " against " << want[at];
                return testing::AssertionFailure() << what.str();
            }
        }
    }
    return testing::AssertionSuccess();
}

TEST(ShadowPass, BackupsOfAWholeRenderWithTheEyeInsideAPartShowTheSceneOnceItLeaves) {
    // A whole frame records its maps, lists and layers; then part 3 of the scene's list closes
    // around the eye and the next whole frame goes black. Backups taken of it draw the first
    // set without the list's parts: the eye is outside the rest, so that set must show the
    // scene with its shadows, from maps and lists of the scene as it is now, not as it was.
    for (const LightSetup& setup : {LightSetups[1], LightSetups[4]}) {
        SCOPED_TRACE(setup.what);
        SceneGeometry geometry;
        shadow_scene::MakeGeometry(geometry, StartSolids);
        SetRenderList(geometry, {3, 4});
        auto frame = MakeFrame(geometry, setup);
        ASSERT_TRUE(frame->ok);
        QRender& render = frame->render;
        render.RenderFrame(nullptr, false, nullptr, 0);
        ASSERT_TRUE(render.areShadowListsOfWorking);
        ASSERT_TRUE(WholeRenderAroundTheEyeIsBlack(geometry, *frame, 3));
        ASSERT_EQ(render.AllocAuxBuffers(), 0);
        ASSERT_TRUE(SetShowsSceneWithout(*frame, 1, geometry, setup, {3, 4}));
        if (setup.withLayers) {
            ASSERT_TRUE(render.areLayersOfBackups);
            ASSERT_TRUE(FirstSetRebuildsSceneWithout(render, geometry, setup, {3, 4}));
        }
        // Part 3 leaves the eye; the ticks restore from that set.
        TicksMatchWholeRenders(geometry, *frame, setup);
    }
}

TEST(ShadowPass, TicksAfterAWholeRenderWithTheEyeInsideRestoreTheBackgroundAndTrustItsLists) {
    // Part 3 closes around the eye for a whole frame over the backups: the frame is black and
    // its lists describe nothing, but the backups' lists it left alone still describe them, and
    // the ticks that take part 3 out again restore the background and match whole renders.
    for (const LightSetup& setup : {LightSetups[1], LightSetups[4]}) {
        SCOPED_TRACE(setup.what);
        SceneGeometry geometry;
        auto frame = FrameOverBackground(geometry, setup);
        ASSERT_TRUE(frame->ok);
        QRender& render = frame->render;
        ASSERT_TRUE(render.areShadowListsOfBackups);
        ASSERT_TRUE(WholeRenderAroundTheEyeIsBlack(geometry, *frame, 3));
        EXPECT_TRUE(render.areShadowListsOfBackups);
        TicksMatchWholeRenders(geometry, *frame, setup);
    }
}

TEST(ShadowPass, TicksOverABackgroundWithTheEyeInsideAPartStayBlackUntilItLeaves) {
    // Part 1 stands around the eye when the background is rendered: the background is black,
    // and so is every tick of parts 3 and 4, as whole renders are. Then part 1 starts moving
    // and leaves the eye: the background is drawn again whole, with its shadows and layers,
    // and the ticks match whole renders again. With parts 3 and 4 as the scene's list, both
    // backup sets are black and the first takes the second, drawn again, whole.
    for (const auto& [setup, withList] :
         {std::pair{LightSetups[1], false}, std::pair{LightSetups[4], false},
          std::pair{LightSetups[1], true}, std::pair{LightSetups[4], true}}) {
        SCOPED_TRACE(setup.what);
        SCOPED_TRACE(withList ? "scene list" : "no scene list");
        SceneGeometry geometry;
        shadow_scene::MakeGeometry(geometry, StartSolids);
        if (withList) SetRenderList(geometry, {3, 4});
        auto frame = MakeFrame(geometry, setup);
        ASSERT_TRUE(frame->ok);
        QRender& render = frame->render;
        render.RenderFrame(nullptr, false, nullptr, 0);
        CloseAroundTheEye(geometry, 1);
        RenderBackground(geometry, *frame, {3, 4});
        EXPECT_FALSE(render.areShadowListsOfBackups);
        if (setup.withLayers) {
            ASSERT_TRUE(FirstSetRebuildsBlack(render));
        }
        auto moving = CountPrefixed({3, 4});
        for (std::int32_t tick = 1; tick <= 3; ++tick) {
            SCOPED_TRACE(tick);
            PlaceAt(geometry, 3, tick);
            PlaceAt(geometry, 4, tick);
            render.RenderFrame(moving.data(), false, nullptr, 0);
            auto whole = MakeFrame(geometry, setup);
            whole->render.RenderFrame(nullptr, false, nullptr, 0);
            for (std::size_t at = 0; at < frame->pixels.size(); ++at) {
                ASSERT_EQ(whole->pixels[at], 0xFF000000u) << at;
                ASSERT_EQ(frame->pixels[at], 0xFF000000u) << at;
            }
        }
        moving = CountPrefixed({3, 4, 1});
        const auto leaving = CountPrefixed({1});
        render.RenderFrame(moving.data(), true, leaving.data(), 0);
        ASSERT_TRUE(render.AuxBuffersReady());
        ASSERT_TRUE(SetShowsSceneWithout(*frame, 1, geometry, setup, {1, 3, 4}));
        if (setup.withLayers) {
            ASSERT_TRUE(FirstSetRebuildsSceneWithout(render, geometry, setup, {1, 3, 4}));
        }
        render.CopySamplesInRegion(0, render.changeRegion);
        render.CopyPixelsInRegion(render.changeRegion, 0);
        render.ResetRegions();
        for (std::int32_t tick = 4; tick <= 7; ++tick) {
            SCOPED_TRACE(tick);
            Solid one = StartSolids[1];
            const double away = (tick - 3) / 4.0;
            one.centre = Vec3{one.centre.x * away, one.centre.y * away, one.centre.z * away};
            shadow_scene::PlaceSolid(geometry, 1, one);
            PlaceAt(geometry, 3, tick);
            PlaceAt(geometry, 4, tick);
            render.RenderFrame(moving.data(), false, nullptr, 0);
            ASSERT_TRUE(SameAsWholeRender(geometry, *frame, setup));
        }
    }
}

TEST(ShadowPass, AShadowFootprintHoldsEveryPixelTheShadowRaysFindBlocked) {
    // For each part alone, every pixel whose shadow ray that part blocks, and every pixel it
    // covers, lies in its shadow footprint; lights before, beside and behind the parts.
    const std::vector<Vec3> lights{{1.5, -3, 5}, {-4, -2, 9}, {3, -1, 12}, {0.5, 0.5, 14}};
    for (const Vec3& light : lights) {
        SCOPED_TRACE(std::to_string(light.x) + " " + std::to_string(light.z));
        SceneGeometry geometry;
        shadow_scene::MakeGeometry(geometry, StartSolids);
        ShadowFrame frame(geometry, Width, Height, {{light}}, Vec3{0, 2, 8}, 5.0);
        ASSERT_TRUE(frame.ok);
        frame.render.RenderFrame(nullptr, false, nullptr, 0);
        for (std::int32_t part = 1; part < 5; ++part) {
            SCOPED_TRACE(part);
            const std::vector<Solid> alone{StartSolids[static_cast<std::size_t>(part)]};
            SpanRegion footprint;
            const auto list = CountPrefixed({part});
            ProjectShadowFootprint(frame.render, list.data(), footprint, light);
            std::int32_t blocked = 0;
            for (std::int32_t y = 0; y < Height; ++y) {
                for (std::int32_t x = 0; x < Width; ++x) {
                    double depth = 0;
                    const std::uint32_t id =
                        frame.render.QueryPixel(x, y, nullptr, &depth, 0, nullptr);
                    if ((id & PixelIdMask) == 0) continue;
                    const Vec3 ray = frame.Ray(x, y);
                    const Vec3 p{ray.x * depth, ray.y * depth, depth};
                    const bool isOwn = PixelPartIndex(id) == part;
                    const bool isShadowed = !isOwn && shadow_scene::IsBlocked(alone, p, light);
                    if (!isOwn && !isShadowed) continue;
                    if (isShadowed) ++blocked;
                    ASSERT_TRUE(Holds(footprint, x, y)) << "at (" << x << ", " << y << ")";
                }
            }
            if (part == 1) {
                EXPECT_GT(blocked, 20);
            }
        }
    }
    // A bound that holds the eye, or the light, gives the whole frame with its border.
    SceneGeometry geometry;
    shadow_scene::MakeGeometry(
        geometry, {StartSolids[0], {false, {0, 0, 1}, {2, 0, 0}}, {false, {0, 0, 8}, {1, 0, 0}}});
    ShadowFrame frame(geometry, Width, Height, {{{1.5, -3, 5}}}, Vec3{0, 2, 8}, 5.0);
    frame.render.RenderFrame(nullptr, false, nullptr, 0);
    for (const auto& [part, light] :
         {std::pair{1, Vec3{1.5, -3, 5}}, std::pair{2, Vec3{0.2, 0, 8}}}) {
        SpanRegion footprint;
        const auto list = CountPrefixed({part});
        ProjectShadowFootprint(frame.render, list.data(), footprint, light);
        const RegionRect bounds = RegionGetBounds(footprint);
        EXPECT_EQ(bounds.x0, -1);
        EXPECT_EQ(bounds.y0, -1);
        EXPECT_EQ(bounds.x1, Width + 1);
        EXPECT_EQ(bounds.y1, Height + 1);
    }
}

TEST(ShadowPass, AMovedOrRecolouredLightRendersTheWholeFrame) {
    // The kept background was lit by the light as it was; a tick over it would show the old
    // light wherever it restores, with shadows or without.
    struct Case {
        const char* what;
        bool hasShadows;
        bool isMoved;
    };
    const Case cases[] = {{"moved, shadows", true, true},
                          {"moved, no shadows", false, true},
                          {"recoloured, shadows", true, false},
                          {"recoloured, no shadows", false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const LightSetup& setup = LightSetups[0];
        SceneGeometry geometry;
        shadow_scene::MakeGeometry(geometry, StartSolids);
        const auto change = [&c](QRender& render) {
            if (!c.hasShadows) render.SetLightCounts(1, 0);
            RenderLightSlot& light = render.LightSlot(0);
            if (c.isMoved) {
                light.position = Vec3{-1, -3, 6};
            } else {
                RenderLightSlotSetColours(light, {0.3, 0.9, 0.4}, {0.1, 0.1, 0.1}, 1.0);
            }
        };
        auto frame = MakeFrame(geometry, setup);
        if (!c.hasShadows) frame->render.SetLightCounts(1, 0);
        RenderBackground(geometry, *frame, {3});
        const auto moving = CountPrefixed({3});
        PlaceAt(geometry, 3, 2);
        change(frame->render);
        frame->render.RenderFrame(moving.data(), false, nullptr, 0);
        EXPECT_FALSE(frame->render.AuxBuffersReady());
        auto whole = MakeFrame(geometry, setup);
        change(whole->render);
        whole->render.RenderFrame(nullptr, false, nullptr, 0);
        EXPECT_TRUE(SamePicture(*frame, *whole, c.hasShadows ? 50 : 0));
    }
}

TEST(ShadowPass, LightsWithoutAMapAndEmptyPixelsAreLeftAsCast) {
    SceneGeometry geometry;
    shadow_scene::MakeGeometry(geometry, StartSolids);
    ShadowFrame frame(geometry, Width, Height, {{{1.5, -3, 5}}, {{-4, -2, 9}}}, Vec3{0, 2, 8}, 5.0);
    frame.render.SetLightCounts(2, 1);
    frame.render.RenderFrame(nullptr, false, nullptr, 0);
    std::int32_t shadowed = 0, empty = 0;
    for (std::int32_t y = 0; y < Height; ++y) {
        for (std::int32_t x = 0; x < Width; ++x) {
            std::uint32_t mask = 0;
            const std::uint32_t word = frame.render.QueryPixel(x, y, &mask, nullptr, 0, nullptr);
            if ((word & PixelIdMask) == 0) {
                ASSERT_EQ(mask, 0u) << x << ", " << y;
                ++empty;
                continue;
            }
            // Light 1 has no map: lit wherever it faces the point.
            ASSERT_EQ((mask >> 30) & 1, (mask >> 14) & 1) << x << ", " << y;
            // Light 0 lights a point only where it faces it.
            ASSERT_FALSE((mask & 0x80008000u) == 0x80000000u) << x << ", " << y;
            if ((mask & 0x80008000u) == 0x8000u) ++shadowed;
        }
    }
    EXPECT_GT(shadowed, 50);
    EXPECT_GT(empty, 50);
}

TEST(ShadowPass, ASampleProbedAtAPixelCentreHasThePixelsLightMask) {
    SceneGeometry geometry;
    shadow_scene::MakeGeometry(geometry, StartSolids);
    const LightSetup& setup = LightSetups[1];
    ShadowFrame frame(geometry, Width, Height, setup.lights, Vec3{0, 2, 8}, 5.0);
    frame.render.RenderFrame(nullptr, false, nullptr, 0);
    std::int32_t compared = 0, shadowed = 0;
    for (std::int32_t y = 1; y + 1 < Height; ++y) {
        for (std::int32_t x = 1; x + 1 < Width; ++x) {
            std::uint32_t mask = 0;
            const std::uint32_t word = frame.render.QueryPixel(x, y, &mask, nullptr, 0, nullptr);
            // Away from edges of surfaces and of shadows, where a sample may fall either way.
            bool isInterior = true;
            for (std::int32_t k = 0; k < 4; ++k) {
                std::uint32_t nearMask = 0;
                const std::int32_t nx = x + (k == 0) - (k == 1), ny = y + (k == 2) - (k == 3);
                const std::uint32_t nearWord =
                    frame.render.QueryPixel(nx, ny, &nearMask, nullptr, 0, nullptr);
                isInterior =
                    isInterior && ((nearWord ^ word) & PixelIdMask) == 0 && nearMask == mask;
            }
            if (!isInterior) continue;
            const Vec3 ray = frame.Ray(x, y);
            ASSERT_EQ(ProbeLightMask(frame.render, nullptr, ray.x, ray.y), mask)
                << "(" << x << ", " << y << ")";
            ++compared;
            if (((mask >> 16) ^ mask) & 0xFFFF) ++shadowed;
        }
    }
    EXPECT_GT(compared, 5000);
    EXPECT_GT(shadowed, 100);
    // Only the listed parts are probed: the sky beside them gives nothing.
    const auto floorOnly = CountPrefixed({0});
    EXPECT_EQ(ProbeLightMask(frame.render, floorOnly.data(), 0.0, -0.5), 0u);
}

}  // namespace
