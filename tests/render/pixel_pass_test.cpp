// The pixel pass over whole frames: coverage of boundary pixels against areas and offsets
// worked out analytically, the exactness of plain pixels, outlines and an abandoned pass.

#include "render/pixel_pass.h"

#include "core/private_heap.h"
#include "platform/scripted_input_state.h"
#include "render/cast_frame_pass.h"
#include "render/footprint_region.h"
#include "render/q_render.h"
#include "render/render_interrupt.h"
#include "render/span_shade.h"
#include "support/quadric_parts.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

namespace {

using quadric_parts::EllipsoidForm;
using quadric_parts::PlaneForm;
using quadric_parts::SphereForm;

// A renderer over its own pixels with the pixel pass on; parts are given in view space.
struct EdgeFrame {
    EdgeFrame(std::int32_t w, std::int32_t h, double focal, bool withEdgeMap = false)
        : width(w), height(h), pixels(static_cast<std::size_t>(w * h), 0x12345678u) {
        render.options.edgeLines = withEdgeMap;
        EXPECT_EQ(render.SetSize(pixels.data(), w, h, w, false), RenderSizeOk);
        render.centreX = w / 2.0;
        render.centreY = h / 2.0;
        render.focalScale = focal / 1000.0;
        render.SetLightCounts(0, 0);
        render.shade.backgroundColour = 0x102030;
        render.shade.ambient = {1020, 1020, 1020};
        render.edges.isRefined = true;
    }

    void Add(std::span<const Matrix4W> surfaces, const Matrix4W& bound, std::uint32_t colour) {
        const std::int32_t index = render.parts.AddPart(static_cast<std::int32_t>(surfaces.size()));
        render.parts.SetViewForms(index, surfaces, bound);
        render.parts.Part(index).colour = colour;
    }

    std::uint32_t Pixel(std::int32_t x, std::int32_t y) const {
        return pixels[static_cast<std::size_t>(y * width + x)];
    }

    double SummedCoverage() const {
        double sum = 0.0;
        for (const std::uint32_t p : pixels) sum += (p >> 24) / 255.0;
        return sum;
    }

    std::int32_t width;
    std::int32_t height;
    std::vector<std::uint32_t> pixels;
    QRender render;
};

// A box from z = near to z = near + depth, x from -50 to right, |y| <= 50: its right edge is
// seen on the column x = right x focal / near + centre.
void AddSlab(EdgeFrame& frame, double near, double right, std::uint32_t colour,
             double depth = 10.0) {
    const std::array<Matrix4W, 6> planes{
        PlaneForm({0, 0, -1}, -near), PlaneForm({0, 0, 1}, near + depth),
        PlaneForm({1, 0, 0}, right),  PlaneForm({-1, 0, 0}, 50),
        PlaneForm({0, 1, 0}, 50),     PlaneForm({0, -1, 0}, 50)};
    frame.Add(planes, EllipsoidForm({0, 0, near + 5}, {200, 200, 200}), colour);
}

TEST(PixelPass, SummedCoverageOfADiscIsItsArea) {
    // A sphere of radius r at depth z projects to a disc of radius R = f r / sqrt(z^2 - r^2)
    // about the point its centre projects to, here a fraction of a pixel off the grid.
    for (const double radius : {10.0, 25.0, 60.0, 120.0, 200.0}) {
        SCOPED_TRACE("radius " + std::to_string(radius));
        const std::int32_t side = static_cast<std::int32_t>(2 * radius) + 12;
        EdgeFrame frame(side, side, 500.0);
        frame.render.centreX += 0.37;
        frame.render.centreY -= 0.21;
        const double z = 100.0;
        const double r = radius * z / std::sqrt(500.0 * 500.0 + radius * radius);
        const Matrix4W sphere = SphereForm({0, 0, z}, r);
        frame.Add(std::span<const Matrix4W>(&sphere, 1), SphereForm({0, 0, z}, r * 1.01), 0xC08040);
        RenderShadedFrame(frame.render);
        const double area = std::numbers::pi * radius * radius;
        EXPECT_NEAR(frame.SummedCoverage(), area, 0.003 * area);

        // Pixels well inside are opaque and pixels well outside clear, exactly.
        const double cx = frame.render.centreX, cy = frame.render.centreY;
        for (std::int32_t y = 0; y < side; ++y) {
            for (std::int32_t x = 0; x < side; ++x) {
                const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
                const std::uint32_t alpha = frame.Pixel(x, y) >> 24;
                if (d < radius - 1.5) {
                    ASSERT_EQ(alpha, 255u) << x << ", " << y;
                } else if (d > radius + 1.5) {
                    ASSERT_EQ(alpha, 0u) << x << ", " << y;
                }
            }
        }
    }
}

TEST(PixelPass, StraightEdgeAtASubPixelOffsetGetsTheKernelsWeight) {
    // The edge at column 20 + 0.5 + offset: pixel 20's centre lies offset inside the part,
    // pixel 21's 1 - offset outside. The part's coverage of a pixel whose centre lies s
    // inside is 0.5 + W(s / 0.9), W(u) = 0.75 u - 0.25 u^3; offset 0.45 leaves the far side
    // 0.15625.
    struct Case {
        double offset;
        double inside;   // coverage of pixel 20
        double outside;  // coverage of pixel 21
    };
    const auto coverage = [](double s) {
        const double u = std::clamp(s / 0.9, -1.0, 1.0);
        return 0.5 + 0.75 * u - 0.25 * u * u * u;
    };
    const Case cases[] = {{0.45, 1.0 - 0.15625, coverage(-0.55)},
                          {0.0, 0.5, coverage(-1.0)},
                          {0.2, coverage(0.2), coverage(-0.8)},
                          {0.7, coverage(0.7), coverage(-0.3)}};
    for (const Case& c : cases) {
        SCOPED_TRACE("offset " + std::to_string(c.offset));
        EdgeFrame frame(40, 24, 400.0);
        const double column = 20.5 + c.offset;
        AddSlab(frame, 10.0, (column - frame.render.centreX) * 10.0 / 400.0, 0xFFFFFF);
        RenderShadedFrame(frame.render);
        for (std::int32_t y = 4; y < 20; ++y) {
            EXPECT_EQ(frame.Pixel(20, y) >> 24,
                      static_cast<std::uint32_t>(std::lround(255 * c.inside)));
            EXPECT_EQ(frame.Pixel(21, y) >> 24,
                      static_cast<std::uint32_t>(std::lround(255 * c.outside)));
            EXPECT_EQ(frame.Pixel(18, y) >> 24, 255u);
            EXPECT_EQ(frame.Pixel(23, y) >> 24, 0u);
        }
        // The colour is the weighted mix of the part's and the background's.
        const auto channel = [&](std::uint32_t p, int shift) {
            return static_cast<double>((p >> shift) & 0xFF);
        };
        const std::uint32_t part = frame.Pixel(10, 12), background = frame.Pixel(30, 12);
        for (const int shift : {0, 8, 16}) {
            EXPECT_NEAR(
                channel(frame.Pixel(20, 12), shift),
                c.inside * channel(part, shift) + (1 - c.inside) * channel(background, shift), 1.0);
        }
    }
}

TEST(PixelPass, WithTwoSamplesASlitShowsThePartBehindIt) {
    // Two thin plates meet with a slit 0.2 pixel wide between columns 20 and 21, which no
    // pixel centre sees; a blue wall lies behind them. The wall is in the second sample of the
    // pixels beside the slit, so with two samples it fills the slit; with one, the slit lets
    // the background through.
    for (const std::int32_t samples : {2, 1}) {
        SCOPED_TRACE("samples " + std::to_string(samples));
        EdgeFrame frame(40, 24, 400.0);
        frame.render.SetSamplesPerPixel(samples);
        const double scale = 10.0 / 400.0;
        AddSlab(frame, 10.0, (20.7 - frame.render.centreX) * scale, 0xFFFFFF, 0.01);
        const double left = (20.9 - frame.render.centreX) * scale;
        const std::array<Matrix4W, 6> plate{
            PlaneForm({0, 0, -1}, -10.0), PlaneForm({0, 0, 1}, 10.01), PlaneForm({-1, 0, 0}, -left),
            PlaneForm({1, 0, 0}, 50),     PlaneForm({0, 1, 0}, 50),    PlaneForm({0, -1, 0}, 50)};
        frame.Add(plate, EllipsoidForm({0, 0, 10}, {200, 200, 200}), 0xFFFFFF);
        AddSlab(frame, 30.0, 50.0, 0x0000FF);
        RenderShadedFrame(frame.render);
        // The slit's share of pixel 20: the kernel's mass between 0.2 and 0.4 from its centre.
        const auto mass = [](double t) {
            const double u = t / 0.9;
            return 0.75 * u - 0.25 * u * u * u;
        };
        const double slit = mass(0.4) - mass(0.2);
        for (std::int32_t y = 4; y < 20; ++y) {
            const std::uint32_t p = frame.Pixel(20, y);
            if (samples == 2) {
                EXPECT_EQ(p >> 24, 255u) << y;
                EXPECT_NEAR(static_cast<double>((p >> 16) & 0xFF), 255.0 * (1.0 - slit), 1.0) << y;
                EXPECT_NEAR(static_cast<double>(p & 0xFF), 255.0, 1.0) << y;
            } else {
                EXPECT_NEAR(static_cast<double>(p >> 24), 255.0 * (1.0 - slit), 1.0) << y;
            }
        }
    }
}

TEST(PixelPass, OffLeavesEveryPixelPointSampled) {
    EdgeFrame refined(64, 64, 300.0), plain(64, 64, 300.0);
    plain.render.edges.isRefined = false;
    for (EdgeFrame* frame : {&refined, &plain}) {
        const Matrix4W sphere = SphereForm({0.3, 0.2, 10}, 1.1);
        frame->Add(std::span<const Matrix4W>(&sphere, 1), sphere, 0x80C0FF);
        RenderShadedFrame(frame->render);
    }
    std::int32_t partial = 0;
    for (std::int32_t y = 0; y < 64; ++y) {
        for (std::int32_t x = 0; x < 64; ++x) {
            const std::uint32_t alpha = plain.Pixel(x, y) >> 24;
            EXPECT_TRUE(alpha == 0 || alpha == 255);
            EXPECT_EQ(plain.render.QueryPixel(x, y, nullptr, nullptr, 0, nullptr) & PixelFinished,
                      0u);
            const std::uint32_t refinedAlpha = refined.Pixel(x, y) >> 24;
            if (refinedAlpha != 0 && refinedAlpha != 255) ++partial;
            // Pixels the pass did not integrate are the same in both, to the dither's step
            // (integrated pixels take no part in the dither's running error).
            if ((refined.render.QueryPixel(x, y, nullptr, nullptr, 0, nullptr) & PixelFinished) ==
                0) {
                const std::uint32_t a = refined.Pixel(x, y), b = plain.Pixel(x, y);
                EXPECT_EQ(a >> 24, b >> 24) << x << ", " << y;
                for (const int shift : {0, 8, 16}) {
                    EXPECT_NEAR(static_cast<int>((a >> shift) & 0xFF),
                                static_cast<int>((b >> shift) & 0xFF), 1)
                        << x << ", " << y;
                }
            }
        }
    }
    EXPECT_GT(partial, 40);
}

TEST(PixelPass, OutlinesWiderThanAPixelAreDrawnAlongTheEdge) {
    // A white slab on the background, drawn in part colours with red outlines 2.5 pixels
    // wide about its edge at x = 20.5: the band [19.25, 21.75] covers pixel 20 and most of
    // pixels 19 and 21. Lines are found at the pixels they cross and shared with the pixels
    // beside them, so pixels 18 and 22, whose footprints the band grazes, stay plain.
    EdgeFrame frame(40, 24, 400.0, true);
    frame.render.shade.drawStyle = 2;
    frame.render.edges.outlineWidth = 2.5;
    frame.render.edges.outlineColour = 0xFF0000;
    AddSlab(frame, 10.0, (20.5 - frame.render.centreX) * 10.0 / 400.0, 0xFFFFFF);
    RenderShadedFrame(frame.render);
    // The kernel's mass left of x for the pixel centred at c.
    const auto massLeftOf = [](double x, double c) {
        const double u = std::clamp((x - c) / 0.9, -1.0, 1.0);
        return 0.5 + 0.75 * u - 0.25 * u * u * u;
    };
    for (std::int32_t y = 4; y < 20; ++y) {
        EXPECT_EQ(frame.Pixel(18, y), 0xFFFFFFFFu);
        EXPECT_EQ(frame.Pixel(22, y) >> 24, 0u);
        for (std::int32_t x = 19; x <= 21; ++x) {
            SCOPED_TRACE("pixel " + std::to_string(x) + ", " + std::to_string(y));
            const double c = x + 0.5;
            const double white = massLeftOf(19.25, c);
            const double background = 1.0 - massLeftOf(21.75, c);
            const double red = 1.0 - white - background;
            const std::uint32_t p = frame.Pixel(x, y);
            EXPECT_NEAR(static_cast<double>(p >> 24), 255.0 * (white + red), 0.51);
            EXPECT_NEAR(static_cast<double>((p >> 16) & 0xFF),
                        255.0 * (white + red) + 0x10 * background, 0.51);
            EXPECT_NEAR(static_cast<double>((p >> 8) & 0xFF), 255.0 * white + 0x20 * background,
                        0.51);
        }
    }
    const std::int32_t* map = frame.render.EdgeIndexMap();
    ASSERT_NE(map, nullptr);
    for (std::size_t i = 0; i < frame.render.PlaneCells(); ++i) ASSERT_EQ(map[i], -1) << i;
}

TEST(PixelPass, ShadingARegionAgainRefinesItsBoundaryPixelsToo) {
    // A sphere drawn, then given another colour and its footprint shaded again: the picture
    // is the one a whole frame in the new colour gives, its rim and outlines included (to
    // within the dither, which runs along each shaded run).
    for (const std::int32_t style : {0, -1}) {
        SCOPED_TRACE("draw style " + std::to_string(style));
        const Matrix4W sphere = SphereForm({0, 0, 100}, 4.0);
        const Matrix4W bound = SphereForm({0, 0, 100}, 4.04);
        const auto draw = [&](EdgeFrame& frame, std::uint32_t colour) {
            frame.render.shade.drawStyle = style;
            frame.render.edges.outlineWidth = 1.5;
            frame.Add(std::span<const Matrix4W>(&sphere, 1), bound, colour);
            RenderShadedFrame(frame.render);
        };
        EdgeFrame frame(60, 60, 500.0, style != 0);
        draw(frame, 0xC08040);
        frame.render.parts.Part(0).colour = 0x4080C0;
        const std::int32_t list[2] = {1, 0};
        ProjectPartOutlines(frame.render, frame.render.selectionRegion, list,
                            RegionRect{-1, -1, 61, 61});
        ReshadeRegion(frame.render, frame.render.selectionRegion);
        EdgeFrame fresh(60, 60, 500.0, style != 0);
        draw(fresh, 0x4080C0);
        for (std::size_t i = 0; i < frame.pixels.size(); ++i) {
            for (const std::uint32_t shift : {0u, 8u, 16u}) {
                const auto a = static_cast<std::int32_t>((frame.pixels[i] >> shift) & 0xFF);
                const auto b = static_cast<std::int32_t>((fresh.pixels[i] >> shift) & 0xFF);
                ASSERT_LE(std::abs(a - b), 1) << "pixel " << i;
            }
            ASSERT_EQ(frame.pixels[i] >> 24, fresh.pixels[i] >> 24) << "pixel " << i;
        }
    }
}

TEST(PixelPass, OutlineBandsThatOverlapMergeAcrossTheFootprint) {
    // Two slabs with a 0.7-pixel gap of background between them, its edges 0.3 pixel left and
    // 0.4 right of pixel 20's centre: the bands of width 1.5 about them overlap and together
    // cover the whole footprint, so the pixel is the outline colour alone.
    EdgeFrame frame(40, 24, 400.0, true);
    frame.render.shade.drawStyle = 2;
    frame.render.edges.outlineWidth = 1.5;
    frame.render.edges.outlineColour = 0x2040C0;
    const double scale = 10.0 / 400.0;
    AddSlab(frame, 10.0, (20.2 - frame.render.centreX) * scale, 0xFFFFFF);
    const double left = (20.9 - frame.render.centreX) * scale;
    const std::array<Matrix4W, 6> planes{PlaneForm({0, 0, -1}, -10.0), PlaneForm({0, 0, 1}, 20.0),
                                         PlaneForm({-1, 0, 0}, -left), PlaneForm({1, 0, 0}, 50),
                                         PlaneForm({0, 1, 0}, 50),     PlaneForm({0, -1, 0}, 50)};
    frame.Add(planes, EllipsoidForm({0, 0, 15}, {200, 200, 200}), 0xFFFFFF);
    RenderShadedFrame(frame.render);
    for (std::int32_t y = 4; y < 20; ++y) EXPECT_EQ(frame.Pixel(20, y), 0xFF2040C0u) << y;
}

TEST(PixelPass, AnAbandonedPassLeavesTheEdgeIndexMapEmpty) {
    EdgeFrame frame(64, 48, 400.0, true);
    frame.render.shade.drawStyle = -1;
    frame.render.edges.outlineWidth = 1.5;
    const Matrix4W sphere = SphereForm({0, 0, 10}, 0.8);
    frame.Add(std::span<const Matrix4W>(&sphere, 1), sphere, 0x80C0FF);
    ASSERT_EQ(RenderCastFrame(frame.render), CastDone);

    ScriptedInputState script;
    ScopedInputStateSource installed(script);
    frame.render.poll.rowMask = 15;
    frame.render.poll.mode = -1;
    // The pass's first polls pass; a click then waits, found inside the outline sweep.
    script.QueueLeftButtonDownAfterPeeks(3);
    const RenderLevel& level = frame.render.Level();
    SpanRegion region;
    RegionSetRect(region, 0, 0, level.width, level.height);
    EXPECT_THROW(RenderPixelPass(frame.render, region, frame.render.SampleBuffer(0),
                                 frame.pixels.data(), 64),
                 UserAbortRender);
    EXPECT_GT(script.PeekCount(), 3);
    const std::int32_t* map = frame.render.EdgeIndexMap();
    for (std::size_t i = 0; i < frame.render.PlaneCells(); ++i) ASSERT_EQ(map[i], -1) << i;

    // The next pass runs whole.
    script.ClearQueue();
    RenderPixelPass(frame.render, region, frame.render.SampleBuffer(0), frame.pixels.data(), 64);
    for (std::size_t i = 0; i < frame.render.PlaneCells(); ++i) ASSERT_EQ(map[i], -1) << i;
}

TEST(PixelPass, ARefusedRegionFailsThePassAndTheNextOneRunsWhole) {
    // The pass's regions come from the private heap: a refusal there throws out of the pass,
    // leaves the edge index map empty, and a later pass draws what an unhindered one draws.
    EdgeFrame failing(64, 48, 400.0, true), plain(64, 48, 400.0, true);
    for (EdgeFrame* frame : {&failing, &plain}) {
        frame->render.shade.drawStyle = -1;
        const Matrix4W sphere = SphereForm({0.1, 0, 10}, 0.8);
        frame->Add(std::span<const Matrix4W>(&sphere, 1), sphere, 0x80C0FF);
        ASSERT_EQ(RenderCastFrame(frame->render), CastDone);
    }
    SpanRegion region;
    RegionSetRect(region, 0, 0, 64, 48);
    PrivateHeapRefuseNext(2);
    EXPECT_THROW(RenderPixelPass(failing.render, region, failing.render.SampleBuffer(0),
                                 failing.pixels.data(), 64),
                 KVOutOfMemoryException);
    PrivateHeapRefuseNext(0);
    const std::int32_t* map = failing.render.EdgeIndexMap();
    for (std::size_t i = 0; i < failing.render.PlaneCells(); ++i) ASSERT_EQ(map[i], -1) << i;
    for (EdgeFrame* frame : {&failing, &plain}) {
        RenderPixelPass(frame->render, region, frame->render.SampleBuffer(0), frame->pixels.data(),
                        64);
    }
    EXPECT_EQ(failing.pixels, plain.pixels);
}

}  // namespace
