#include "core/colour.h"
#include "geometry/part_render_record.h"
#include "geometry/scene_geometry.h"
#include "geometry/star_field.h"
#include "model/q_document_base.h"
#include "model/q_morvan_objects.h"
#include "platform/input_state.h"
#include "platform/scripted_input_state.h"
#include "render/cast_frame_pass.h"
#include "render/render_interrupt.h"
#include "view/q_render_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// A document of three balls seen from (0, 0, -10) along +z through a width x height view,
// sized to fill about the same part of any view (the focal length is 1000 pixels).
struct Scene {
    Scene(std::int32_t w, std::int32_t h)
        : view(&document), width(w), height(h), pixels(static_cast<std::size_t>(w * h), 0u) {
        view.viewSettings.camera.Assign(QCamera());
        view.viewSettings.camera.position = Vec3{0.0, 0.0, -10.0};
        EXPECT_TRUE(view.InitViewBuffers(w * 4, pixels.data(), w, h, true));
        const double s = w / 64.0;
        const Colour white = ColourFromBytes(255, 255, 255);
        document.Objects()->AddShapeType1(0.12 * s, white, Vec3{0.0, 0.0, 0.0});
        document.Objects()->AddShapeType1(0.08 * s, ColourFromBytes(200, 80, 40),
                                          Vec3{0.12 * s, 0.06 * s, -0.05 * s});
        document.Objects()->AddShapeType1(0.1 * s, ColourFromBytes(60, 200, 90),
                                          Vec3{-0.1 * s, -0.08 * s, 0.1 * s});
    }
    std::int32_t PartAt(std::int32_t x, std::int32_t y) const {
        std::int32_t index = -1;
        Vec3 point{}, normal{};
        view.PickAtPixel(0, x, y, index, point, normal);
        return index;
    }

    QDocumentBase document;
    QRenderView view;
    std::int32_t width;
    std::int32_t height;
    std::vector<std::uint32_t> pixels;
};

// Thumbnail pixel (i, j) looks along the ray halfway between full pixels 10 i + 4 and
// 10 i + 5 (and the rows likewise): where those four show one part (or none), each channel
// lies within their range, give or take the dither.
TEST(ViewTemporaryRender, ThumbnailIsTheViewScaledDown) {
    Scene scene(640, 480);
    ASSERT_EQ(scene.view.RenderDocument(), CastDone);
    const std::vector<std::uint32_t> full = scene.pixels;

    const PrivateBlockPtr<std::uint32_t> thumbnail = scene.view.RenderTemporaryView(64, 48);
    ASSERT_NE(thumbnail.get(), nullptr);
    std::int32_t compared = 0;
    std::int32_t covered = 0;
    for (std::int32_t j = 0; j < 48; ++j) {
        for (std::int32_t i = 0; i < 64; ++i) {
            const std::int32_t x = 10 * i + 4;
            const std::int32_t y = 10 * j + 4;
            const std::int32_t part = scene.PartAt(x, y);
            if (scene.PartAt(x + 1, y) != part || scene.PartAt(x, y + 1) != part ||
                scene.PartAt(x + 1, y + 1) != part) {
                continue;
            }
            ++compared;
            if (part >= 0) ++covered;
            const std::uint32_t got = thumbnail.get()[j * 64 + i];
            for (std::int32_t shift = 0; shift < 32; shift += 8) {
                std::int32_t low = 255;
                std::int32_t high = 0;
                for (std::int32_t dy = 0; dy < 2; ++dy) {
                    for (std::int32_t dx = 0; dx < 2; ++dx) {
                        const std::int32_t c = static_cast<std::int32_t>(
                            (full[static_cast<std::size_t>((y + dy) * 640 + x + dx)] >> shift) &
                            0xFF);
                        low = std::min(low, c);
                        high = std::max(high, c);
                    }
                }
                const std::int32_t c = static_cast<std::int32_t>((got >> shift) & 0xFF);
                EXPECT_GE(c, low - 3) << i << ", " << j << " shift " << shift;
                EXPECT_LE(c, high + 3) << i << ", " << j << " shift " << shift;
            }
        }
    }
    EXPECT_GT(compared, 64 * 48 * 9 / 10);
    EXPECT_GT(covered, 100);

    // The view itself, its picture and the document's view are as they were.
    EXPECT_EQ(scene.pixels, full);
    EXPECT_EQ(scene.document.RenderView(), &scene.view);
    EXPECT_EQ(scene.view.viewSettings.camera.m, 1.0);
}

TEST(ViewTemporaryRender, SelectionIsNotDrawnAndSurvivesAnAbandonedRender) {
    Scene scene(80, 60);
    ASSERT_EQ(scene.view.RenderDocument(), CastDone);
    scene.view.UpdateSelection(1, false, 0, false);
    ASSERT_EQ(scene.document.Geometry()->Part(1)->selected, 1);

    // Without selection marks the thumbnail is the unselected picture.
    const PrivateBlockPtr<std::uint32_t> marked = scene.view.RenderTemporaryView(80, 60);
    scene.view.UpdateSelection(-1, false, 0, false);
    const PrivateBlockPtr<std::uint32_t> plain = scene.view.RenderTemporaryView(80, 60);
    ASSERT_NE(marked.get(), nullptr);
    EXPECT_TRUE(std::equal(marked.get(), marked.get() + 80 * 60, plain.get()));
    scene.view.UpdateSelection(1, false, 0, false);

    // A click waiting for the window abandons the thumbnail's render.
    ScriptedInputState script;
    ScopedInputStateSource installed(script);
    script.QueueLeftButtonDownAfterPeeks(0);
    scene.view.poll.mode = -1;
    scene.view.poll.rowMask = 0;
    const Vec3 position = scene.view.viewSettings.camera.position;
    EXPECT_THROW(scene.view.RenderTemporaryView(40, 30), UserAbortRender);
    EXPECT_EQ(scene.document.Geometry()->Part(1)->selected, 1);
    EXPECT_EQ(scene.document.Objects()->SelectionIds().Count(), 1);
    EXPECT_EQ(scene.document.RenderView(), &scene.view);
    EXPECT_EQ(scene.view.viewSettings.camera.m, 1.0);
    EXPECT_EQ(Vec3Compare(scene.view.viewSettings.camera.position, position), 0);
    EXPECT_EQ(scene.view.viewSettings.lights.Count(), 2);
}

TEST(ViewTemporaryRender, SidesTooSmallThrowTheNamedException) {
    Scene scene(80, 60);
    EXPECT_THROW(scene.view.RenderTemporaryView(7, 30), ViewBuffersException);
    EXPECT_EQ(scene.document.RenderView(), &scene.view);
}

TEST(ViewTemporaryRender, RenderToBufferGivesTheThumbnailAndPutsTheViewBack) {
    Scene scene(80, 60);
    ASSERT_EQ(scene.view.RenderDocument(), CastDone);
    scene.view.UpdateSelection(2, false, 0, false);
    const std::vector<std::uint32_t> before = scene.pixels;

    const PrivateBlockPtr<std::uint32_t> thumbnail = scene.view.RenderTemporaryView(40, 30);
    const PrivateBlockPtr<std::uint32_t> own = scene.view.RenderToBuffer(40, 30, 0);
    ASSERT_NE(own.get(), nullptr);
    EXPECT_TRUE(std::equal(own.get(), own.get() + 40 * 30, thumbnail.get()));
    // The view is sized on its pixels again and has drawn its picture, selection and all.
    EXPECT_EQ(scene.view.Target(), scene.pixels.data());
    EXPECT_EQ(scene.view.renderWidth, 80);
    EXPECT_EQ(scene.view.viewSettings.camera.m, 1.0);
    // (to within the dither's last step: the selection was shaded over the first frame).
    for (std::size_t i = 0; i < before.size(); ++i) {
        for (std::int32_t shift = 0; shift < 32; shift += 8) {
            const std::int32_t a = static_cast<std::int32_t>((before[i] >> shift) & 0xFF);
            const std::int32_t b = static_cast<std::int32_t>((scene.pixels[i] >> shift) & 0xFF);
            ASSERT_LE(std::abs(a - b), 1) << "pixel " << i;
        }
    }
    EXPECT_EQ(scene.document.Geometry()->Part(2)->selected, 1);

    // Background mode 1: black where nothing is drawn.
    const PrivateBlockPtr<std::uint32_t> black = scene.view.RenderToBuffer(40, 30, 1);
    EXPECT_EQ(black.get()[0] & 0xFFFFFFu, 0u);
    EXPECT_NE(scene.view.viewSettings.colours[0].r, 0.0);

    // An abandoned render puts the settings and the pixels back as well.
    ScriptedInputState script;
    ScopedInputStateSource installed(script);
    script.QueueLeftButtonDownAfterPeeks(0);
    scene.view.poll.mode = -1;
    scene.view.poll.rowMask = 0;
    EXPECT_THROW(scene.view.RenderToBuffer(40, 30, 2), UserAbortRender);
    EXPECT_EQ(scene.view.Target(), scene.pixels.data());
    EXPECT_EQ(scene.view.renderWidth, 80);
    EXPECT_EQ(scene.view.viewSettings.camera.m, 1.0);
    EXPECT_NE(scene.view.viewSettings.colours[0].r, 0.0);
    EXPECT_EQ(scene.document.Geometry()->Part(2)->selected, 1);
}

}  // namespace

namespace {

std::vector<float> StarSizes(const QDocumentBase& document) {
    const StarField& field = document.Geometry()->starField;
    std::vector<float> sizes;
    for (std::int32_t i = 0; i < field.count; ++i) sizes.push_back(field.stars.get()[i].size);
    return sizes;
}

// A render at twice the view's size draws its stars and lines at that scale; afterwards the
// view's settings and the document's stars are as before, also after an abandoned render.
TEST(ViewTemporaryRender, ScaledRendersPutTheLinesAndStarsBack) {
    Scene scene(80, 60);
    scene.view.viewSettings.stars = StarSettings{true, 40, 7, 1.5f, 0.8f};
    scene.view.viewSettings.viewScale1 = 0.75f;
    scene.view.viewSettings.viewScale2 = 1.5f;
    ASSERT_EQ(scene.view.RenderDocument(), CastDone);
    const std::vector<float> stars = StarSizes(scene.document);
    ASSERT_EQ(stars.size(), 40u);
    EXPECT_FLOAT_EQ(stars[0], 1.5f);

    const auto unchanged = [&] {
        EXPECT_EQ(StarSizes(scene.document), stars);
        EXPECT_EQ(scene.view.viewSettings.viewScale1, 0.75f);
        EXPECT_EQ(scene.view.viewSettings.viewScale2, 1.5f);
        EXPECT_EQ(scene.view.viewSettings.stars.size, 1.5f);
    };
    ASSERT_NE(scene.view.RenderTemporaryView(160, 120).get(), nullptr);
    unchanged();
    ASSERT_NE(scene.view.RenderToBuffer(160, 120, 0).get(), nullptr);
    unchanged();

    ScriptedInputState script;
    ScopedInputStateSource installed(script);
    scene.view.poll.mode = -1;
    scene.view.poll.rowMask = 0;
    script.QueueLeftButtonDownAfterPeeks(0);
    EXPECT_THROW(scene.view.RenderTemporaryView(160, 120), UserAbortRender);
    unchanged();
    script.QueueLeftButtonDownAfterPeeks(0);
    EXPECT_THROW(scene.view.RenderToBuffer(160, 120, 0), UserAbortRender);
    unchanged();
}

}  // namespace

namespace {

std::int32_t ChannelOf(std::uint32_t word, int shift) {
    return static_cast<std::int32_t>((word >> shift) & 0xFF);
}

// Background modes against the plain picture (mode 0) of the same view, pixel by pixel. A
// pixel of coverage c = alpha / 255 shows c S + (1 - c) B over the background colour B; laid
// on black it must show c S, so each channel drops by (1 - c) B. Mode 3 keeps the background.
TEST(ViewTemporaryRender, BackgroundModesLayThePictureOnBlackOrKeepTheBackground) {
    Scene scene(80, 60);
    scene.view.SetDrawMode(3);  // shaded with outlines: boundary pixels carry their coverage
    scene.view.viewSettings.colours[0] = ColourFromBytes(90, 140, 200);
    ASSERT_EQ(scene.view.RenderDocument(), CastDone);
    const std::uint32_t background = 0x5A8CC8;

    const PrivateBlockPtr<std::uint32_t> plain = scene.view.RenderToBuffer(80, 60, 0);
    ASSERT_NE(plain.get(), nullptr);
    std::int32_t partial = 0;
    for (std::int32_t i = 0; i < 80 * 60; ++i) {
        const std::uint32_t alpha = plain.get()[i] >> 24;
        if (alpha != 0 && alpha != 255) ++partial;
    }
    EXPECT_GT(partial, 40);
    EXPECT_EQ(plain.get()[0], background);

    for (const std::int32_t mode : {1, 2, 3}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        const PrivateBlockPtr<std::uint32_t> got = scene.view.RenderToBuffer(80, 60, mode);
        ASSERT_NE(got.get(), nullptr);
        for (std::int32_t i = 0; i < 80 * 60; ++i) {
            const std::uint32_t p = plain.get()[i];
            const std::uint32_t g = got.get()[i];
            if (mode == 3) {
                ASSERT_EQ(g, p) << "pixel " << i;
                continue;
            }
            ASSERT_EQ(g >> 24, p >> 24) << "pixel " << i;
            const double uncovered = 1.0 - (p >> 24) / 255.0;
            for (const int shift : {0, 8, 16}) {
                const double expected =
                    std::max(0.0, ChannelOf(p, shift) - uncovered * ChannelOf(background, shift));
                ASSERT_NEAR(ChannelOf(g, shift), expected, 1.5)
                    << "pixel " << i << " shift " << shift;
            }
        }
        // The view is as it was: its settings, draw mode and renderer switches, and its
        // renders can be abandoned by a click.
        EXPECT_EQ(ColourToRgb24(scene.view.viewSettings.colours[0]) & 0xFFFFFFu, background);
        EXPECT_EQ(scene.view.viewSettings.viewFlags[0], 0);
        EXPECT_EQ(scene.view.shade.backgroundMode, 0);
        EXPECT_FALSE(scene.view.shade.isAlphaFromFog);
        EXPECT_EQ(scene.view.GetDrawMode(), 3);
        EXPECT_EQ(scene.view.poll.mode, -1);
        EXPECT_EQ(scene.view.Target(), scene.pixels.data());
    }
}

// A view of one ball in flat white with red outlines on black: along a row through the ball's
// centre the red share of the pixels, (R - G) / 255, sums to the width of the two outline
// bands the row crosses. A picture twice the view's size draws its lines twice as wide.
TEST(ViewTemporaryRender, ScaledPicturesDrawTheViewsLinesScaled) {
    QDocumentBase document;
    QRenderView view(&document);
    std::vector<std::uint32_t> pixels(80 * 60, 0u);
    view.viewSettings.camera.Assign(QCamera());
    view.viewSettings.camera.position = Vec3{0.0, 0.0, -10.0};
    ASSERT_TRUE(view.InitViewBuffers(80 * 4, pixels.data(), 80, 60, true));
    document.Objects()->AddShapeType1(0.25, ColourFromBytes(255, 255, 255), Vec3{0.0, 0.0, 0.0});
    view.SetDrawMode(4);  // every part in the flat colour, with outlines
    view.viewSettings.colours[0] = ColourFromBytes(0, 0, 0);
    view.viewSettings.colours[3] = ColourFromBytes(255, 0, 0);
    view.viewSettings.colours[5] = ColourFromBytes(255, 255, 255);
    view.viewSettings.viewScale1 = 1.0f;
    ASSERT_EQ(view.RenderDocument(), CastDone);

    const auto outlineAcross = [](const std::uint32_t* picture, std::int32_t width,
                                  std::int32_t row) {
        double sum = 0.0;
        for (std::int32_t x = 0; x < width; ++x) {
            const std::uint32_t p = picture[row * width + x];
            sum += (ChannelOf(p, 16) - ChannelOf(p, 8)) / 255.0;
        }
        return sum;
    };
    EXPECT_NEAR(outlineAcross(pixels.data(), 80, 30), 2.0, 0.25);
    const PrivateBlockPtr<std::uint32_t> own = view.RenderToBuffer(160, 120, 1);
    const PrivateBlockPtr<std::uint32_t> temporary = view.RenderTemporaryView(160, 120);
    ASSERT_NE(own.get(), nullptr);
    ASSERT_NE(temporary.get(), nullptr);
    EXPECT_NEAR(outlineAcross(own.get(), 160, 60), 4.0, 0.25);
    EXPECT_NEAR(outlineAcross(temporary.get(), 160, 60), 4.0, 0.25);
    EXPECT_EQ(view.GetDrawMode(), 4);
    EXPECT_EQ(view.viewSettings.viewScale1, 1.0f);
}

}  // namespace

namespace {

// After the picture the view draws itself again, and a click may abandon that redraw: the
// finished picture is still handed over, and the view is drawn again by its next redraw.
TEST(ViewTemporaryRender, AClickDuringTheViewsRedrawKeepsThePicture) {
    Scene scene(80, 60);
    ASSERT_EQ(scene.view.RenderDocument(), CastDone);
    ScriptedInputState script;
    ScopedInputStateSource installed(script);
    scene.view.poll.mode = -1;
    scene.view.poll.rowMask = 0;
    const PrivateBlockPtr<std::uint32_t> picture = scene.view.RenderToBuffer(40, 30, 0);
    ASSERT_NE(picture.get(), nullptr);
    const std::int32_t whole = script.PeekCount();
    // The picture alone looks as often as a temporary render of its size.
    ASSERT_NE(scene.view.RenderTemporaryView(40, 30).get(), nullptr);
    const std::int32_t pictureLooks = script.PeekCount() - whole;
    ASSERT_GT(pictureLooks, 0);
    ASSERT_LT(pictureLooks, whole);

    script.QueueLeftButtonDownAfterPeeks(pictureLooks);
    const PrivateBlockPtr<std::uint32_t> kept = scene.view.RenderToBuffer(40, 30, 0);
    ASSERT_NE(kept.get(), nullptr);
    EXPECT_TRUE(std::equal(kept.get(), kept.get() + 40 * 30, picture.get()));
    EXPECT_FALSE(scene.view.isFrameValid);
    EXPECT_EQ(scene.view.Target(), scene.pixels.data());
}

}  // namespace
