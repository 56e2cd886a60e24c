#include "texture/q_texture_image.h"

#include "core/crc32.h"
#include "imaging/image_file.h"
#include "texture_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// An image whose pyramid holds width x height colour pixels.
std::unique_ptr<QTextureImage> ImageWithColour(int width, int height, bool bordered) {
    auto image = std::make_unique<QTextureImage>();
    const auto pixels = PatternPixels(width, height);
    EXPECT_EQ(TexPyramidSetImage(*image->pyramid, pixels.data(), width, width, height, bordered), 0);
    return image;
}

TEST(QTextureImage, StartsEmptyAndSelfDeleting) {
    QTextureImage named("maps\\wood.bmp");
    EXPECT_EQ(named.TypeId(), TypeIdTextureImage);
    EXPECT_TRUE(named.IsAutoDelete());
    EXPECT_EQ(named.imageName, "maps\\wood.bmp");
    EXPECT_EQ(named.colourId, 0u);
    EXPECT_EQ(named.bumpId, 0u);
    std::int32_t w = -1, h = -1;
    bool premultiplied = true;
    EXPECT_EQ(named.CopyColorBuffer(w, h, premultiplied), nullptr);
    EXPECT_EQ(named.CopyBumpBuffer(w, h), nullptr);
    EXPECT_EQ(w, -1);
    EXPECT_TRUE(premultiplied);
}

// The copy returns the bytes as they were set, for bordered and unbordered pyramids alike,
// and setting the copy again changes nothing: a save and load cycle keeps the bump map.
TEST(QTextureImage, BumpMapOfImageSizeIsStoredAsGivenAndCopiedBack) {
    for (bool bordered : {false, true}) {
        SCOPED_TRACE(bordered);
        auto image = ImageWithColour(9, 5, bordered);
        const auto bump = PatternBytes(9, 5);
        ASSERT_EQ(image->SetBumpMap(bump.data(), 9, 5, {}), 0);
        EXPECT_EQ(image->bumpId, Crc32(bump.data(), bump.size()));
        for (int cycle = 0; cycle < 3; ++cycle) {
            std::int32_t w = 0, h = 0;
            auto copy = image->CopyBumpBuffer(w, h);
            ASSERT_NE(copy, nullptr);
            ASSERT_EQ(w, 9);
            ASSERT_EQ(h, 5);
            EXPECT_EQ(std::vector<std::uint8_t>(copy.get(), copy.get() + 45), bump);
            ASSERT_EQ(image->SetBumpMap(copy.get(), w, h, {}), 0);
        }
        EXPECT_EQ(image->bumpId, Crc32(bump.data(), bump.size()));
    }
}

TEST(QTextureImage, BumpMapOfAnotherSizeIsResampledToTheImage) {
    auto image = ImageWithColour(8, 6, false);
    const std::vector<std::uint8_t> flat(4 * 3, 200);
    ASSERT_EQ(image->SetBumpMap(flat.data(), 4, 3, {}), 0);
    std::int32_t w = 0, h = 0;
    auto copy = image->CopyBumpBuffer(w, h);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(w, 8);
    EXPECT_EQ(h, 6);
    for (int i = 0; i < 48; ++i) EXPECT_NEAR(copy.get()[i], 200, 1) << i;
    EXPECT_EQ(image->bumpId, Crc32(copy.get(), 48));
}

// The resampled bytes are part of what a scene saves, so they are pinned exactly: the
// checksums were taken from the Gaussian resize (radius 0.5) of the map as the alpha byte of
// otherwise black pixels, which the imaging tests compare with the filter itself.
TEST(QTextureImage, ResampledBumpMapBytesAreExact) {
    struct Case {
        int mapWidth, mapHeight, imageWidth, imageHeight;
        std::uint32_t crc;
    };
    const Case cases[] = {
        {7, 5, 12, 9, 0xBFAD7D06u},
        {16, 12, 5, 3, 0xD51EF9EBu},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.mapWidth) + " x " + std::to_string(c.mapHeight));
        auto image = ImageWithColour(c.imageWidth, c.imageHeight, true);
        const auto bump = PatternBytes(c.mapWidth, c.mapHeight);
        ASSERT_EQ(image->SetBumpMap(bump.data(), c.mapWidth, c.mapHeight, {}), 0);
        std::int32_t w = 0, h = 0;
        auto copy = image->CopyBumpBuffer(w, h);
        ASSERT_NE(copy, nullptr);
        ASSERT_EQ(w, c.imageWidth);
        ASSERT_EQ(h, c.imageHeight);
        EXPECT_EQ(Crc32(copy.get(), static_cast<std::size_t>(w) * h), c.crc);
    }
}

TEST(QTextureImage, BumpMapWithoutPixelsOrColourImage) {
    auto empty = std::make_unique<QTextureImage>();
    EXPECT_EQ(empty->SetBumpMap(nullptr, 0, 0, {}), BumpMapNoColourImage);
    EXPECT_EQ(empty->SetBumpMap(nullptr, 0, 0, "bump.bmp"), BumpMapNoColourImage);
    const std::uint8_t bytes[4] = {1, 2, 3, 4};
    EXPECT_EQ(empty->SetBumpMap(bytes, 2, 2, {}), BumpMapRefused);
    EXPECT_EQ(empty->bumpId, 0u);

    auto image = ImageWithColour(2, 2, false);
    ASSERT_EQ(image->SetBumpMap(bytes, 2, 2, {}), 0);
    const std::uint32_t id = image->bumpId;
    EXPECT_EQ(image->SetBumpMap(nullptr, 0, 0, {}), 0);
    EXPECT_EQ(image->bumpId, id);
    EXPECT_EQ(image->SetBumpMap(nullptr, 0, 0, "/no/such/folder/bump.bmp"), ImageFileNotFound);
    EXPECT_EQ(image->bumpId, id);
}

}  // namespace
