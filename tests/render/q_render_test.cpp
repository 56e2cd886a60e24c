#include "render/q_render.h"

#include "core/private_heap.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

TEST(QRender, SetSizeRefusesSmallSidesAndKeepsTheOldBuffers) {
    QRender render;
    EXPECT_FALSE(render.BuffersReady());
    std::vector<std::uint32_t> frame(64 * 64);
    ASSERT_EQ(render.SetSize(frame.data(), 8, 8, 8, false), RenderSizeOk);
    EXPECT_TRUE(render.BuffersReady());
    SampleCell* cells = render.SampleBuffer(0);
    ASSERT_NE(cells, nullptr);
    EXPECT_EQ(render.PlaneCells(), 100u);

    struct Case {
        std::int32_t width, height, stride;
    };
    for (const Case c : {Case{7, 8, 8}, Case{8, 7, 8}, Case{16, 16, 15}}) {
        SCOPED_TRACE(c.width * 100 + c.height);
        EXPECT_EQ(render.SetSize(frame.data(), c.width, c.height, c.stride, false),
                  RenderSizeTooSmall);
        EXPECT_EQ(render.SampleBuffer(0), cells);
        EXPECT_EQ(render.AllocatedWidth(), 8);
        EXPECT_TRUE(render.BuffersReady());
    }
}

TEST(QRender, FailedSizingReportsAndDisablesRendering) {
    QRender render;
    render.options.shadows = true;
    std::vector<std::uint32_t> frame(40 * 30);
    // Give the sizing less memory than it needs, more each time: every shortfall must come
    // back as -1, never as a throw, and leave nothing to render into.
    int failures = 0;
    for (std::size_t budget = 64;; budget *= 2) {
        SCOPED_TRACE(budget);
        ASSERT_EQ(render.SetSize(frame.data(), 8, 8, 8, false), RenderSizeOk);
        PrivateHeapSetCeiling(PrivateHeapBytesInUse() + budget);
        const std::int32_t result = render.SetSize(frame.data(), 40, 30, 40, true);
        PrivateHeapSetCeiling(0);
        if (result == RenderSizeOk) break;
        ++failures;
        EXPECT_EQ(result, RenderSizeNoMemory);
        EXPECT_FALSE(render.BuffersReady());
        EXPECT_EQ(render.QueryPixel(1, 1, nullptr, nullptr, 0, nullptr), 0u);
    }
    EXPECT_GT(failures, 5);
    // Sizes past what a block can hold are refused the same way.
    EXPECT_EQ(render.SetSize(nullptr, 30000, 30000, 30000, false), RenderSizeNoMemory);
    EXPECT_FALSE(render.BuffersReady());
    EXPECT_EQ(render.SetSize(nullptr, 40000, 10, 40000, false), RenderSizeNoMemory);
    EXPECT_EQ(render.SetSize(frame.data(), 40, 30, 40, false), RenderSizeOk);
    EXPECT_TRUE(render.BuffersReady());
}

TEST(QRender, GrowingShadowLightCountSizesTheMapsAndPlanesAgain) {
    QRender render;
    render.options.shadows = true;
    std::vector<std::uint32_t> frame(32 * 16);
    ASSERT_EQ(render.SetSize(frame.data(), 32, 16, 32, true), RenderSizeOk);
    EXPECT_NE(render.LightSlot(0).map.get(), nullptr);
    EXPECT_EQ(render.LightSlot(1).map.get(), nullptr);
    EXPECT_EQ(render.ExtraPlanesWords(), 3u * 16 * 32);

    EXPECT_EQ(render.SetLightCounts(4, 3), RenderSizeOk);
    for (int i = 0; i < 3; ++i) EXPECT_NE(render.LightSlot(i).map.get(), nullptr) << i;
    EXPECT_EQ(render.LightSlot(3).map.get(), nullptr);
    EXPECT_EQ(render.ExtraPlanesWords(), 5u * 16 * 32);
    EXPECT_TRUE(render.BuffersReady());

    // At most 16 lights, and never more shadow lights than lights.
    render.SetLightCounts(40, 50);
    EXPECT_EQ(render.LightCount(), 16);
    EXPECT_EQ(render.ShadowLightCount(), 16);
    EXPECT_EQ(render.ExtraPlanesWords(), 18u * 16 * 32);
    render.SetLightCounts(2, 5);
    EXPECT_EQ(render.ShadowLightCount(), 2);

    // A second sample per pixel sizes the frame again with two planes.
    EXPECT_EQ(render.SetSamplesPerPixel(2), RenderSizeOk);
    EXPECT_EQ(render.SamplesPerPixel(), 2);
    EXPECT_NE(render.LightSlot(0).idPlane.get(), nullptr);
}

TEST(QRender, LightMapSideFollowsTheScaleAndIsAtLeastFour) {
    struct Case {
        double scale;
        std::int32_t side;
    };
    for (const Case c : {Case{1.0, 100}, Case{0.5, 50}, Case{0.045, 5}, Case{0.04, 4},
                         Case{0.001, 4}}) {
        SCOPED_TRACE(c.scale);
        QRender render;
        render.options.shadows = true;
        render.lightMapScale = c.scale;
        ASSERT_EQ(render.SetSize(nullptr, 100, 10, 100, false), RenderSizeOk);
        EXPECT_EQ(render.LightMapSide(), c.side);
    }
}

TEST(QRender, FalloffTableIsRebuiltOnlyWhenItsTermsChange) {
    QRender render;
    RenderLightSlot& slot = render.LightSlot(0);
    slot.enabled = 1;
    slot.falloffExponent = 0.0;
    slot.falloffFactor = 1.0;
    render.BuildLightFalloffTables();
    ASSERT_NE(slot.falloffTable.get(), nullptr);
    const float* pairs = slot.falloffTable.get();
    // f(x) = 1 - x: each pair starts at 1 - x of its interval with slope -1.
    EXPECT_FLOAT_EQ(pairs[0], static_cast<float>(1.0 - std::ldexp(1.0, -16)));
    EXPECT_FLOAT_EQ(pairs[1], -1.0f);
    const double x16 = std::bit_cast<float>(0x37880000u + 15u * 0x80000u);
    EXPECT_FLOAT_EQ(pairs[2 * 16], static_cast<float>(1.0 - x16));
    EXPECT_FLOAT_EQ(pairs[2 * 256], 0.0f);
    EXPECT_FLOAT_EQ(pairs[2 * 256 + 1], 0.0f);

    // Unchanged terms leave the table alone.
    slot.falloffTable.get()[7] = 123.0f;
    render.BuildLightFalloffTables();
    EXPECT_EQ(slot.falloffTable.get()[7], 123.0f);
    // Changed terms rebuild it; large values are held to 8.
    slot.falloffExponent = 1.0;
    render.BuildLightFalloffTables();
    EXPECT_NE(slot.falloffTable.get()[7], 123.0f);
    EXPECT_FLOAT_EQ(slot.falloffTable.get()[0], 8.0f);

    // A light beyond the light count loses its table.
    render.SetLightCounts(0, 0);
    render.BuildLightFalloffTables();
    EXPECT_EQ(slot.falloffTable.get(), nullptr);
    EXPECT_EQ(slot.falloffExponent, 0.0);
    EXPECT_EQ(slot.tableExponent, -777.0);
}

TEST(QRender, SquareRootTableAndFixedSqrt) {
    QRender render;
    const std::int32_t* table = render.SqrtTable();
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[1], 33554432);
    EXPECT_EQ(table[2048], 1518500250);

    EXPECT_EQ(FixedSqrt(0x40000000, 0, table), 0x40000000);
    EXPECT_EQ(FixedSqrt(1, 0, table), 32768);
    EXPECT_EQ(FixedSqrt(0, 3, table), 0);
    EXPECT_EQ(FixedSqrt(-5, 0, table), 0);
    // Everywhere else within the interpolation's error of sqrt(v) x 2^(15 - shift).
    for (std::int64_t v = 1; v <= 0x7FFFFFFF; v = v * 3 + 997) {
        for (std::int32_t shift : {-2, 0, 5}) {
            const double want = std::sqrt(static_cast<double>(v)) * std::ldexp(1.0, 15 - shift);
            if (want >= 2147483647.0) continue;  // no int32 holds it
            EXPECT_NEAR(FixedSqrt(static_cast<std::int32_t>(v), shift, table), want,
                        want * 2e-5 + 1.0)
                << v << " " << shift;
        }
    }
}

TEST(QRender, LevelTableHalvesSizeFocalAndCentre) {
    QRender render;
    ASSERT_EQ(render.SetSize(nullptr, 101, 60, 101, false), RenderSizeOk);
    render.centreX = 50.5;
    render.centreY = 30.0;
    render.focalScale = 0.8;
    render.reductionLevel = 9;
    render.BuildLevelTable();
    EXPECT_EQ(render.reductionLevel, 4);
    const RenderLevel& l0 = render.Level(0);
    EXPECT_EQ(l0.width, 101);
    EXPECT_EQ(l0.cellStride, 103);
    EXPECT_DOUBLE_EQ(l0.focal, 800.0);
    const RenderLevel& l1 = render.Level(1);
    EXPECT_EQ(l1.width, 55);
    EXPECT_EQ(l1.height, 34);
    EXPECT_DOUBLE_EQ(l1.centreX, 27.25);
    EXPECT_DOUBLE_EQ(l1.focal, 400.0);
    EXPECT_EQ(render.Level(4).width, (((((101 + 1) / 2 + 4) + 1) / 2 + 4 + 1) / 2 + 4 + 1) / 2 + 4);
    EXPECT_NE(render.ReducedFrame(4), nullptr);
    EXPECT_EQ(render.ReducedFrame(0), nullptr);
}

TEST(QRender, QueryPixelReadsCellDepthAndFacingNormal) {
    QRender render;
    ASSERT_EQ(render.SetSize(nullptr, 20, 10, 20, false), RenderSizeOk);
    render.centreX = 10.0;
    render.centreY = 5.0;
    render.BuildLevelTable();
    render.SetDepthScale(0.25, render.Level().focal);
    // Part 0: the sphere x^2 + y^2 + (z - 10)^2 <= 4.
    Matrix4W sphere;
    sphere.m = {96, 0, 0, -10, 0, 1, 0, 0, 0, 0, 1, 0, -10, 0, 0, 1};
    render.parts.AddPart(1);
    render.parts.SetViewForms(0, std::span<const Matrix4W>(&sphere, 1), sphere);

    const double z = 8.0;
    const std::int32_t word = static_cast<std::int32_t>(render.depthScale * 1000.0 / z);
    SampleCell& cell = render.SampleBuffer(0)[(5 + 1) * 22 + 10 + 1];
    cell = SampleCell{PixelIdOf(0, 0) | PixelSelected, 0x80008000u, word};

    std::uint32_t mask = 0;
    double depth = 0.0;
    Vec3 normal{};
    EXPECT_EQ(render.QueryPixel(10, 5, &mask, &depth, 0, &normal), PixelIdOf(0, 0) | PixelSelected);
    EXPECT_EQ(mask, 0x80008000u);
    EXPECT_NEAR(depth, z, z * 1e-8);
    // Near (0, 0, 8) the gradient (x, y, z - 10) points back at the eye.
    EXPECT_LT(normal.z, 0.0);
    EXPECT_NEAR(normal.z, -2.0, 1e-6);

    // Empty cells, other buffers and pixels outside give 0.
    EXPECT_EQ(render.QueryPixel(0, 0, nullptr, &depth, 0, nullptr), 0u);
    EXPECT_TRUE(std::isinf(depth));
    EXPECT_EQ(render.QueryPixel(10, 5, nullptr, nullptr, 1, nullptr), 0u);  // not allocated
    EXPECT_EQ(render.QueryPixel(10, 5, nullptr, nullptr, 3, nullptr), 0u);
    EXPECT_EQ(render.QueryPixel(-1, 5, nullptr, nullptr, 0, nullptr), 0u);
    EXPECT_EQ(render.QueryPixel(20, 5, nullptr, nullptr, 0, nullptr), 0u);
}

}  // namespace
