#include "view/scene_thumbnail.h"

#include "core/colour.h"
#include "imaging/image_file.h"
#include "model/q_document_base.h"
#include "model/q_morvan_objects.h"
#include "view/q_render_view.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

std::int32_t Channel(std::uint32_t word, std::int32_t shift) {
    return static_cast<std::int32_t>((word >> shift) & 0xFFu);
}

// Two spheres of different colours off the centre, so a picture that is shifted, mirrored or
// cropped on the wrong side does not match.
void AddTwoSpheres(QDocumentBase& document) {
    document.Objects()->AddShapeType1(0.9, ColourFromBytes(230, 40, 30), Vec3{-0.7, 0.2, 0.0});
    document.Objects()->AddShapeType1(0.6, ColourFromBytes(30, 60, 220), Vec3{0.8, -0.4, 0.3});
}

// The centred square of a width x height frame, area-averaged down to side x side.
std::vector<std::uint32_t> ScaleCentredSquare(const std::vector<std::uint32_t>& frame,
                                              std::int32_t width, std::int32_t height,
                                              std::int32_t side) {
    const std::int32_t square = std::min(width, height);
    const std::int32_t x0 = (width - square) / 2;
    const std::int32_t y0 = (height - square) / 2;
    std::vector<std::uint32_t> out(static_cast<std::size_t>(side) * side);
    for (std::int32_t y = 0; y < side; ++y) {
        for (std::int32_t x = 0; x < side; ++x) {
            const std::int32_t sx0 = x * square / side, sx1 = (x + 1) * square / side;
            const std::int32_t sy0 = y * square / side, sy1 = (y + 1) * square / side;
            std::int64_t sum[3] = {0, 0, 0};
            std::int64_t count = 0;
            for (std::int32_t sy = sy0; sy < sy1; ++sy) {
                for (std::int32_t sx = sx0; sx < sx1; ++sx) {
                    const std::uint32_t w = frame[static_cast<std::size_t>(y0 + sy) * width + x0 + sx];
                    for (int c = 0; c < 3; ++c) sum[c] += Channel(w, 16 - 8 * c);
                    ++count;
                }
            }
            std::uint32_t word = 0xFF000000u;
            for (int c = 0; c < 3; ++c) {
                word |= static_cast<std::uint32_t>(sum[c] / count) << (16 - 8 * c);
            }
            out[static_cast<std::size_t>(y) * side + x] = word;
        }
    }
    return out;
}

TEST(SceneThumbnail, MatchesTheFullRenderScaledDown) {
    struct Case {
        std::int32_t width;
        std::int32_t height;
    };
    const Case cases[] = {{600, 400}, {300, 450}, {256, 256}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        QDocumentBase document;
        QRenderView view(&document);
        AddTwoSpheres(document);
        std::vector<std::uint32_t> frame(static_cast<std::size_t>(c.width) * c.height);
        ASSERT_TRUE(view.InitViewBuffers(c.width * 4, frame.data(), c.width, c.height, true));
        ASSERT_EQ(view.RenderDocument(), 0);
        const std::vector<std::uint32_t> rendered = frame;
        const std::vector<std::uint32_t> expected =
            ScaleCentredSquare(rendered, c.width, c.height, ThumbnailSide);

        std::uint32_t byteCount = 0;
        const PrivateBlockPtr<std::uint32_t> thumbnail = MakeSceneThumbnail(view, byteCount);
        ASSERT_NE(thumbnail, nullptr);
        EXPECT_EQ(byteCount, 65536u);

        // The edges of the spheres fall on other pixels at the lower resolution; everywhere
        // else the pictures agree closely.
        std::int64_t totalError = 0;
        std::int32_t farOff = 0;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const std::uint32_t got = thumbnail.get()[i];
            EXPECT_EQ(got >> 24, 0xFFu);
            std::int32_t worst = 0;
            for (int s = 0; s <= 16; s += 8) {
                const std::int32_t d = std::abs(Channel(got, s) - Channel(expected[i], s));
                totalError += d;
                worst = std::max(worst, d);
            }
            if (worst > 40) ++farOff;
        }
        const double meanError = static_cast<double>(totalError) / (3.0 * expected.size());
        EXPECT_LT(meanError, 4.0);
        EXPECT_LT(farOff, static_cast<std::int32_t>(expected.size() / 50));

        // The view's own frame and its place as the document's view are untouched.
        EXPECT_EQ(frame, rendered);
        EXPECT_EQ(document.RenderView(), &view);
    }
}

TEST(SceneThumbnail, NothingWithoutAPicture) {
    QDocumentBase document;
    QRenderView view(&document);
    std::uint32_t byteCount = 7;
    // Not sized: no frame to take the proportions from.
    EXPECT_EQ(MakeSceneThumbnail(view, byteCount), nullptr);
    EXPECT_EQ(byteCount, 7u);
    // A frame so flat that its thumbnail render would be below the renderer's least size.
    std::vector<std::uint32_t> frame(1000 * 20);
    ASSERT_TRUE(view.InitViewBuffers(1000 * 4, frame.data(), 1000, 20, true));
    EXPECT_EQ(MakeSceneThumbnail(view, byteCount), nullptr);
    EXPECT_EQ(byteCount, 7u);
    // A view without a document renders nothing.
    QRenderView loose(nullptr);
    EXPECT_EQ(RenderTemporaryView(byteCount, loose, 64, 64), nullptr);
    EXPECT_EQ(byteCount, 7u);
    // A temporary render of the document's view has the size asked for.
    const PrivateBlockPtr<std::uint32_t> small =
        RenderTemporaryView(byteCount, view, 32, 16);
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(byteCount, 32u * 16u * 4u);
}

}  // namespace
