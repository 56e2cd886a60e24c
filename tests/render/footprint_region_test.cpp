#include "render/footprint_region.h"

#include "core/crt_random.h"
#include "render/cast_frame_pass.h"
#include "render/q_render.h"
#include "render/render_parts.h"
#include "render/span_region.h"
#include "support/bare_render.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <utility>
#include <vector>

namespace {

constexpr std::int32_t Width = 64;
constexpr std::int32_t Height = 48;

// The sphere of radius r about c in view space, its own bound.
Matrix4W Sphere(const Vec3& c, double r) {
    Matrix4W q;
    q.m = {c.x * c.x + c.y * c.y + c.z * c.z - r * r, -c.x, -c.y, -c.z, -c.x, 1, 0, 0, -c.y, 0, 1,
           0, -c.z, 0, 0, 1};
    return q;
}

struct Frame : bare_render::Frame {
    Frame() : bare_render::Frame(Width, Height) {}
    std::int32_t AddSphere(const Vec3& c, double r) { return AddPart(Sphere(c, r)); }
};

std::set<std::pair<std::int32_t, std::int32_t>> Pixels(const SpanRegion& region) {
    std::set<std::pair<std::int32_t, std::int32_t>> set;
    for (std::int32_t y = region.Top(); y < region.Bottom(); ++y) {
        for (const std::int16_t* t = region.Row(y); t[0] != SpanRowEnd; t += 2) {
            for (std::int32_t x = t[0]; x < t[1]; ++x) set.insert({x, y});
        }
    }
    return set;
}

const RegionRect Bordered{-1, -1, Width + 1, Height + 1};

TEST(FootprintRegion, HoldsEveryPixelTheCastDraws) {
    CrtSrand(11);
    const auto uniform = [](double lo, double hi) { return lo + (hi - lo) * CrtRand() / 32767.0; };
    for (std::int32_t trial = 0; trial < 40; ++trial) {
        SCOPED_TRACE(trial);
        Frame f;
        const Vec3 centre{uniform(-6, 6), uniform(-5, 5), uniform(3, 12)};
        const double r = uniform(0.3, 2.5);
        f.AddSphere(centre, r);
        const std::int32_t list[] = {1, 0};
        ProjectPartOutlines(f.render, f.render.selectionRegion, list, Bordered);
        const auto footprint = Pixels(f.render.selectionRegion);
        SpanRegion all;
        RegionSetRect(all, -1, -1, Width + 1, Height + 1);
        ASSERT_EQ(CastFramePass(f.render, all, list, false, 0, f.render.Level().centreX,
                                f.render.Level().centreY),
                  CastDone);
        std::int32_t drawn = 0;
        for (std::int32_t y = -1; y <= Height; ++y) {
            for (std::int32_t x = -1; x <= Width; ++x) {
                const std::size_t cell = static_cast<std::size_t>(y + 1) * (Width + 2) +
                                         static_cast<std::size_t>(x + 1);
                if (f.render.SampleBuffer(0)[cell].pixel == 0) continue;
                ++drawn;
                ASSERT_TRUE(footprint.count({x, y}) == 1) << x << ", " << y;
            }
        }
        // The footprint is the silhouette's rows, not a box about it.
        if (drawn > 40) {
            EXPECT_LT(footprint.size(), 2u * static_cast<std::size_t>(drawn));
        }
    }
}

TEST(FootprintRegion, PartsOutsideHiddenOrAboutTheEye) {
    struct Case {
        const char* name;
        Vec3 centre;
        double radius;
        bool visible;
        std::size_t pixels;  // of the bordered frame
    };
    const std::size_t all = (Width + 2) * (Height + 2);
    const Case cases[] = {
        {"wholly left of the frame", {-40, 0, 5}, 1.0, true, 0},
        {"behind the eye", {0, 0, -8}, 1.0, true, 0},
        {"not visible", {0, 0, 8}, 1.0, false, 0},
        {"about the eye: the whole clip rectangle", {0, 0, 0.5}, 2.0, true, all},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Frame f;
        f.AddSphere(c.centre, c.radius);
        f.render.parts.Part(0).visible = c.visible ? 1 : 0;
        RegionSetRect(f.render.selectionRegion, 0, 0, 5, 5);
        ProjectPartOutlines(f.render, f.render.selectionRegion, nullptr, Bordered);
        EXPECT_EQ(Pixels(f.render.selectionRegion).size(), c.pixels);
    }
}

TEST(FootprintRegion, OutlineRingIsThePlusShape) {
    SpanRegion source;
    SpanRegion target;
    RegionSetRect(target, 0, 0, 9, 9);
    BuildOutlineRegion(source, target);
    EXPECT_TRUE(Pixels(target).empty());
    RegionSetRect(source, 5, 7, 6, 8);
    BuildOutlineRegion(source, target);
    const std::set<std::pair<std::int32_t, std::int32_t>> plus{
        {5, 7}, {4, 7}, {6, 7}, {5, 6}, {5, 8}};
    EXPECT_EQ(Pixels(target), plus);
}

TEST(FootprintRegion, ShadeRegionIsTheChangedPixelsAndTheirNeighbours) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::int32_t, std::int32_t>> changed;
        std::size_t expected;
    };
    const Case cases[] = {
        {"nothing changed", {}, 0},
        {"one pixel inside", {{10, 10}}, 5},
        {"the corner pixel, clipped to the frame", {{0, 0}}, 3},
        {"outside the candidate area", {{40, 40}}, 0},
        {"two neighbours", {{10, 10}, {11, 10}}, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Frame f;
        QRender& render = f.render;
        ASSERT_EQ(render.AllocAuxBuffers(), 0);
        for (const auto& [x, y] : c.changed) {
            render.SampleBuffer(0)[static_cast<std::size_t>(y + 1) * (Width + 2) +
                                   static_cast<std::size_t>(x + 1)]
                .pixel = PixelIdOf(0, 1);
        }
        SpanRegion candidate;
        RegionSetRect(candidate, -1, -1, 30, 30);
        SpanRegion change;
        SpanRegion scratch;
        DeriveSpanRegion(render, candidate, 1, change, scratch);
        EXPECT_EQ(Pixels(candidate).size(), c.expected);
    }
}

}  // namespace
