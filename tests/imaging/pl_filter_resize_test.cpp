#include "imaging/pl_filter_resize.h"

#include "core/crt_random.h"
#include "imaging/c2_pass_scale.h"
#include "imaging/decoder_test_util.h"
#include "imaging/pl_any_bmp.h"
#include "imaging/pl_contrib_def.h"
#include "imaging/pl_filter_resize_bilinear.h"
#include "imaging/pl_filter_resize_gaussian.h"
#include "imaging/pl_text_exception.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using decoder_test::CodeOf;

TEST(PLFilterResize, HalvingAFourPixelRowWithTheTent) {
    const PLBilinearContribDef tent(0.64);
    const std::vector<PLContribution> table = PLBuildContributions(tent, 2, 4);
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[0].left, 0);
    EXPECT_EQ(table[0].right, 2);
    EXPECT_EQ(table[0].weights, (std::vector<std::int32_t>{128, 128, 0}));
    EXPECT_EQ(table[1].left, 1);
    EXPECT_EQ(table[1].right, 3);
    EXPECT_EQ(table[1].weights, (std::vector<std::int32_t>{0, 128, 128}));

    const std::uint8_t row[] = {0, 0, 0, 100, 100, 100, 200, 200, 200, 255, 255, 255};
    PLAnyBmp source;
    source.CreateFromData(4, 1, PLPixelFormat::R8G8B8, row, 0, {0, 0});
    PLAnyBmp dest;
    PLFilterResizeBilinear(2, 1).Apply(source, dest);
    EXPECT_EQ(dest.GetPixelFormat(), PLPixelFormat::R8G8B8);
    EXPECT_EQ(dest.GetLineArray()[0][0], 50);
    EXPECT_EQ(dest.GetLineArray()[0][3], 228);
}

TEST(PLFilterResize, WeightsAlwaysAddUpTo256) {
    const PLBilinearContribDef tent(0.64);
    const PLGaussianContribDef gauss(0.5);
    const PLContribDef* kernels[] = {&tent, &gauss};
    const std::int32_t sizes[][2] = {{128, 2048}, {1024, 512}, {7, 3}, {3, 7}, {1, 5}, {5, 1}};
    for (const PLContribDef* kernel : kernels) {
        for (const auto& size : sizes) {
            SCOPED_TRACE(std::to_string(size[0]) + " from " + std::to_string(size[1]));
            for (const PLContribution& c : PLBuildContributions(*kernel, size[0], size[1])) {
                std::int32_t sum = 0;
                for (std::int32_t w : c.weights) sum += w;
                EXPECT_EQ(sum, 256);
                EXPECT_GE(c.left, 0);
                EXPECT_LT(c.right, size[1]);
            }
        }
    }
}

TEST(PLFilterResize, SameSizeReproducesTheImage) {
    CrtSrand(7);
    for (const PLPixelFormat& format : {PLPixelFormat::A8R8G8B8, PLPixelFormat::R8G8B8}) {
        SCOPED_TRACE(format.GetName());
        PLAnyBmp source;
        source.CreateFromData(9, 6, format, nullptr, 0, {0, 0});
        const std::size_t bytes = static_cast<std::size_t>(source.GetBytesPerLine()) * 6;
        for (std::size_t i = 0; i < bytes; ++i) {
            source.GetBits()[i] = static_cast<std::uint8_t>(CrtRand());
        }
        PLAnyBmp dest;
        PLFilterResizeBilinear(9, 6).Apply(source, dest);
        EXPECT_EQ(0, std::memcmp(dest.GetBits(), source.GetBits(), bytes));
    }
}

TEST(PLFilterResize, GaussianSmoothsAFlatImageToItself) {
    PLAnyBmp source;
    source.CreateFromData(40, 30, PLPixelFormat::A8R8G8B8, nullptr, 0, {72, 72});
    for (int i = 0; i < 40 * 30; ++i) {
        std::uint8_t* p = source.GetBits() + 4 * i;
        p[0] = 10, p[1] = 120, p[2] = 250, p[3] = 77;
    }
    for (const PLPoint size : {PLPoint{13, 9}, PLPoint{80, 61}}) {
        PLAnyBmp dest;
        PLFilterResizeGaussian(size.x, size.y, 0.5).Apply(source, dest);
        EXPECT_EQ(dest.GetSize(), size);
        EXPECT_EQ(dest.GetResolution(), (PLPoint{72, 72}));
        for (int i = 0; i < size.x * size.y; ++i) {
            const std::uint8_t* p = dest.GetBits() + 4 * i;
            ASSERT_EQ(p[0], 10);
            ASSERT_EQ(p[1], 120);
            ASSERT_EQ(p[2], 250);
            ASSERT_EQ(p[3], 77);
        }
    }
    source.ApplyFilter(PLFilterResizeGaussian(4, 4, 0.5));
    EXPECT_EQ(source.GetSize(), (PLPoint{4, 4}));
}

TEST(PLFilterResize, DepthsTheScalerCannotReadAreRefused) {
    struct Case {
        PLPixelFormat format;
        bool gaussian;
    };
    const Case cases[] = {
        {PLPixelFormat::I8, false},
        {PLPixelFormat::R5G6B5, false},
        {PLPixelFormat::L1, false},
        {PLPixelFormat::R8G8B8, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format.GetName());
        PLAnyBmp source;
        source.CreateFromData(8, 8, c.format, nullptr, 0, {0, 0});
        PLAnyBmp dest;
        const auto resize = [&] {
            if (c.gaussian) {
                PLFilterResizeGaussian(4, 4, 0.5).Apply(source, dest);
            } else {
                PLFilterResizeBilinear(4, 4).Apply(source, dest);
            }
        };
        EXPECT_EQ(CodeOf(resize), PLErrFormatNotSupported);
    }
}

TEST(PLFilterResize, OversizedIntermediateFailsAsOutOfMemory) {
    // A tall, thin source widened a lot would need an intermediate beyond what is held.
    PLAnyBmp source;
    source.CreateFromData(1, 1 << 20, PLPixelFormat::A8R8G8B8, nullptr, 0, {0, 0});
    PLAnyBmp dest;
    EXPECT_EQ(CodeOf([&] { PLFilterResizeBilinear(1 << 10, 1).Apply(source, dest); }),
              PLErrNoMemory);
}

}  // namespace
