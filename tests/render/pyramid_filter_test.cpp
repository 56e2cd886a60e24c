#include "render/pyramid_filter.h"

#include "render/cast_frame_pass.h"
#include "render/span_shade.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// One line: out[k] from source around k / 2 + 2.
std::vector<std::uint32_t> ExpandLine(void (*expand)(const ExpandPass&),
                                      const std::vector<std::uint32_t>& source,
                                      std::int32_t outCount) {
    std::vector<std::uint32_t> out(static_cast<std::size_t>(outCount));
    expand(ExpandPass{out.data(), 1, 0, source.data(), 1, 0, outCount,
                      static_cast<std::int32_t>(source.size()), 1});
    return out;
}

TEST(PyramidFilter, UniformStaysUniformWithEveryFilter) {
    const std::vector<std::uint32_t> source(12, 0x80A0C0E0u);
    for (auto expand : {&ExpandNearest, &ExpandLinear, &ExpandCubic}) {
        for (const std::uint32_t v : ExpandLine(expand, source, 16)) EXPECT_EQ(v, 0x80A0C0E0u);
    }
}

TEST(PyramidFilter, LinearAndFiveTapWeights) {
    // Source pixel 3 (covering outputs 2 and 3) is 255 in every channel, its neighbours 0.
    std::vector<std::uint32_t> source(10, 0u);
    source[3] = 0xFFFFFFFFu;
    const auto linear = ExpandLine(&ExpandLinear, source, 12);
    EXPECT_EQ(linear[1], 0x3F3F3F3Fu);  // the dark side: 0 - 0 + 63
    EXPECT_EQ(linear[2], 0xC0C0C0C0u);  // the bright side: 255 - 63 + 0
    EXPECT_EQ(linear[3], 0xC0C0C0C0u);
    EXPECT_EQ(linear[4], 0x3F3F3F3Fu);
    EXPECT_EQ(linear[6], 0u);

    // Five taps: 29/32 of 255 at the pixel's own outputs, 11/32 one output beyond, and the
    // negative lobes clamped to 0.
    const auto cubic = ExpandLine(&ExpandCubic, source, 12);
    EXPECT_EQ(cubic[2], 0xE7E7E7E7u);  // 255 x 29 >> 5 = 231
    EXPECT_EQ(cubic[1], 0x57575757u);  // 255 x 11 >> 5 = 87
    EXPECT_EQ(cubic[4], 0x57575757u);
    EXPECT_EQ(cubic[0], 0u);  // -3 x 255 clamped
    EXPECT_EQ(cubic[5], 0u);
}

TEST(PyramidFilter, NearestCopiesTwoByTwo) {
    std::vector<std::uint32_t> source(8);
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<std::uint32_t>(i) * 0x01010101u;
    const auto out = ExpandLine(&ExpandNearest, source, 7);
    const std::uint32_t expected[] = {2, 2, 3, 3, 4, 4, 5};
    for (std::size_t k = 0; k < 7; ++k) EXPECT_EQ(out[k], expected[k] * 0x01010101u) << k;
}

TEST(PyramidFilter, ReducedRenderFillsTheFrame) {
    constexpr std::int32_t w = 64, h = 48;
    for (const std::int32_t level : {0, 1, 2, 3}) {
        for (const bool nearest : {false, true}) {
            SCOPED_TRACE(testing::Message() << level << " " << nearest);
            QRender render;
            std::vector<std::uint32_t> pixels(w * h, 0xDEADBEEFu);
            ASSERT_EQ(render.SetSize(pixels.data(), w, h, w, false), RenderSizeOk);
            render.centreX = w / 2.0;
            render.centreY = h / 2.0;
            render.reductionLevel = level;
            render.isNearestExpansion = nearest;
            render.shade.backgroundColour = 0x204060;
            ASSERT_EQ(RenderShadedFrame(render), CastDone);
            // A uniform background at any level expands to the same colour everywhere.
            for (const std::uint32_t pixel : pixels) ASSERT_EQ(pixel, 0x00204060u);
        }
    }
}

}  // namespace
