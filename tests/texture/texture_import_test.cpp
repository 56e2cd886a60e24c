#include "texture/texture_import.h"

#include "core/crc32.h"
#include "imaging/image_file.h"
#include "object/q_abort_exception.h"
#include "support/temp_folder.h"
#include "texture/object_tex.h"
#include "texture_test_support.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using TextureImportTest = TextureDocumentTest;

TEST_F(TextureImportTest, SamePixelsKeepTheColourIdAndTheBumpMapFollowsANewSize) {
    QTexture* texture = NewTexture(0);
    QTextureImage* image = GiveImage(*texture, 8, 6, false);
    const auto pixels = PatternPixels(8, 6);
    EXPECT_EQ(image->colourId, Crc32(pixels.data(), pixels.size() * 4));
    const std::vector<std::uint8_t> flat(8 * 6, 90);
    ASSERT_EQ(image->SetBumpMap(flat.data(), 8, 6, {}), 0);

    QTextureImage* same = GiveImage(*texture, 8, 6, false);
    EXPECT_EQ(same->colourId, Crc32(pixels.data(), pixels.size() * 4));

    QTextureImage* larger = GiveImage(*texture, 12, 10, false, 5);
    std::int32_t w = 0, h = 0;
    auto bump = larger->CopyBumpBuffer(w, h);
    ASSERT_NE(bump, nullptr);
    EXPECT_EQ(w, 12);
    EXPECT_EQ(h, 10);
    for (int i = 0; i < w * h; ++i) EXPECT_NEAR(bump.get()[i], 90, 1) << i;
}

TEST_F(TextureImportTest, TypeZeroTextureGetsItsImageWithoutAMapping) {
    QTexture* texture = NewTexture(0);
    QTextureImage* image = GiveImage(*texture, 5, 5, true);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(texture->params->mapping, nullptr);
    EXPECT_EQ(texture->params->image, image->pyramid.get());
    EXPECT_EQ(image->pyramid->bordered, 0) << "type 0 images tile";
}

TEST_F(TextureImportTest, TypeOneTextureBuildsTheDefaultMappingOnABorderedPyramid) {
    QTexture* texture = NewTexture(1);
    QTextureImage* image = GiveImage(*texture, 16, 16, true);
    ASSERT_NE(dynamic_cast<VersaTex*>(texture->params->mapping.get()), nullptr);
    EXPECT_EQ(image->pyramid->bordered, 1);
    EXPECT_EQ(TexMapProgressHook, nullptr);
    EXPECT_EQ(document.progressStage, 0);
}

// Listens to the document's progress announcements and asks for a cancel after `limit`.
class ProgressListener : public QReferenceObject {
public:
    ProgressListener(QDocumentBase& d, int cancelAfter) : document(d), limit(cancelAfter) {}
    void HandleMessage(std::int32_t message, std::int32_t a, QReferenceObject*,
                       QReferenceObject*) override {
        if (message != MessageChanged || a != DocumentChangeProgress) return;
        stages.push_back(document.progressStage);
        percents.push_back(document.progressPercent);
        if (static_cast<int>(percents.size()) >= limit) document.abortRequested = true;
    }
    QDocumentBase& document;
    int limit;
    std::vector<std::int32_t> stages;
    std::vector<std::int32_t> percents;
};

TEST_F(TextureImportTest, ProgressIsAnnouncedAndACancelAbandonsIt) {
    ProgressListener listener(document, 2);
    QReferenceObject::AddReference(&document, &listener, 0);
    ReportTextureProgress(2500, 10000);
    EXPECT_EQ(listener.percents.back(), 25);
    EXPECT_EQ(listener.stages.back(), 16);
    EXPECT_THROW(ReportTextureProgress(1, 3), QAbortException);
    EXPECT_EQ(listener.percents.back(), 33);
    QReferenceObject::RemoveReference(&document, &listener, 0);

    SetCurrentDocument(nullptr);
    ReportTextureProgress(1, 2);  // nobody to tell
}

// A cancelled or failed mapping build leaves the texture as it was: its image, record image
// and mapping; the import reports it.
TEST_F(TextureImportTest, CancelledMappingKeepsThePreviousImageAndMapping) {
    QTexture* texture = NewTexture(1);
    QTextureImage* before = GiveImage(*texture, 16, 16, true);
    const ObjectTex* mapping = texture->params->mapping.get();
    ASSERT_NE(mapping, nullptr);

    ProgressListener listener(document, 1);
    QReferenceObject::AddReference(&document, &listener, 0);
    const auto pixels = PatternPixels(20, 20, 9);
    auto* image = new QTextureImage();
    std::string errorText;
    EXPECT_EQ(ImportTextureImage(*texture, pixels.data(), image, false, true, true, errorText,
                                 20, 20, false),
              TextureImportMappingFailed);
    QReferenceObject::RemoveReference(&document, &listener, 0);
    EXPECT_FALSE(listener.percents.empty());
    EXPECT_EQ(texture->Image(), before);
    EXPECT_EQ(texture->params->image, before->pyramid.get());
    EXPECT_EQ(texture->params->mapping.get(), mapping);
    EXPECT_EQ(TexMapProgressHook, nullptr);
    EXPECT_EQ(document.progressStage, 0);
    EXPECT_FALSE(document.abortRequested);
    delete image;
}

// Imports a 128 x 128 image into a type-1 texture that holds an 8 x 8 image with a bump map,
// under a private-heap ceiling a given number of bytes above what is held.
class RefusedImportTest : public TextureImportTest {
protected:
    void SetUp() override {
        TextureImportTest::SetUp();
        StartOver();
    }

    // Makes a new texture the one imported into.
    void StartOver() {
        texture = NewTexture(1);
        before = GiveImage(*texture, 8, 8, true);
        const auto bump = PatternBytes(8, 8);
        ASSERT_EQ(before->SetBumpMap(bump.data(), 8, 8, {}), 0);
        mapping = texture->params->mapping.get();
    }

    // True when the import succeeds. A refused one must leave the record on the texture's
    // own image and mapping. nextExtra receives the smallest ceiling (above what is held) that
    // lets through the first request this one refused, 0 when none was.
    bool ImportUnder(std::size_t extra, std::size_t& nextExtra) {
        SCOPED_TRACE(extra);
        auto* image = new QTextureImage();
        std::string errorText;
        const std::size_t held = PrivateHeapBytesInUse();
        PrivateHeapSetCeiling(held + extra);
        std::int16_t result = TextureImportOk;
        bool isRefused = false;
        try {
            // Premultiplied pixels need no premultiplied copy, so the bump map resampled to
            // the new size is the largest request after the mapping build.
            result = ImportTextureImage(*texture, pixels.data(), image, false, true, true,
                                        errorText, 128, 128, true);
        } catch (const KVOutOfMemoryException&) {
            isRefused = true;
        }
        const std::size_t refusedTotal = PrivateHeapFirstRefusedTotal();
        nextExtra = refusedTotal == 0 ? 0 : refusedTotal - held;
        PrivateHeapSetCeiling(0);
        if (!isRefused && result == TextureImportOk) {
            EXPECT_EQ(texture->params->image, image->pyramid.get());
            return true;
        }
        EXPECT_EQ(texture->Image(), before);
        EXPECT_EQ(texture->params->image, before->pyramid.get());
        EXPECT_EQ(texture->params->mapping.get(), mapping);
        delete image;
        return false;
    }

    const std::vector<std::uint32_t> pixels = PatternPixels(128, 128, 4);
    QTexture* texture = nullptr;
    QTextureImage* before = nullptr;
    const ObjectTex* mapping = nullptr;
};

// Memory refused after the new mapping is built, here by the carried bump map, puts the
// previous mapping and pyramid back: a record left on the pyramid of an image that the caller
// then deletes would read freed memory. The ceiling rises from nothing until the import
// succeeds, each time just far enough to let through the request the last import was refused,
// so every request the import makes is refused once.
TEST_F(RefusedImportTest, LeavesTheRecordOnItsImage) {
    std::size_t extra = 0;
    std::size_t nextExtra = 0;
    while (!ImportUnder(extra, nextExtra)) {
        // A failed import was refused memory above the ceiling it had.
        ASSERT_GT(nextExtra, extra);
        extra = nextExtra;
        ASSERT_LT(extra, std::size_t{1} << 22) << "the import never succeeded";
    }
}

TEST_F(TextureImportTest, FailuresChangeNothing) {
    TempFolder folder;
    // Premultiplied alpha: colours never above their alpha, written with associated alpha.
    std::vector<std::uint32_t> dark(4 * 4, 0x80404040u);
    std::uint32_t size = 0;
    PrivateBlockPtr<std::uint8_t> tiff(EncodeTiffToMemory(
        "argb", reinterpret_cast<const std::uint8_t*>(dark.data()), 4, 4, 16, true, 1, size));
    ASSERT_NE(tiff, nullptr);
    const std::string premultipliedFile = folder.WriteFile(
        "dark.tif", std::string_view(reinterpret_cast<const char*>(tiff.get()), size));

    QTexture* texture = NewTexture(1);
    QTextureImage* before = GiveImage(*texture, 8, 8, true);
    struct Case {
        const char* name;
        std::string imageName;
        bool withPixels;
        std::int32_t width;
        bool acceptPremultiplied;
        std::int16_t expected;
    };
    const Case cases[] = {
        {"no source", "", false, 0, true, TextureImportNoSource},
        {"missing file", folder.Str() + "/none.tif", false, 0, true, TextureImportUndecodable},
        {"premultiplied refused", premultipliedFile, false, 0, false, TextureImportPremultiplied},
        {"no width", "", true, 0, true, TextureImportPyramidRefused},
    };
    const auto pixels = PatternPixels(8, 8);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTextureImage image(c.imageName);
        std::string errorText;
        EXPECT_EQ(ImportTextureImage(*texture, c.withPixels ? pixels.data() : nullptr, &image,
                                     false, c.acceptPremultiplied, true, errorText, c.width, 8,
                                     false),
                  c.expected);
        EXPECT_EQ(texture->Image(), before);
        EXPECT_EQ(texture->params->image, before->pyramid.get());
        if (c.expected == TextureImportUndecodable) {
            EXPECT_FALSE(errorText.empty());
        }
    }

    // Accepted, the same file becomes the texture's image and gets a mapping.
    auto* image = new QTextureImage(premultipliedFile);
    std::string errorText;
    ASSERT_EQ(ImportTextureImage(*texture, nullptr, image, false, true, true, errorText, 0, 0, false),
              TextureImportOk);
    EXPECT_NE(texture->params->mapping, nullptr);
    EXPECT_EQ(texture->Image(), image);
    EXPECT_TRUE(image->premultiplied);
    EXPECT_EQ(image->width, 4);
}

TEST_F(TextureImportTest, RecolourFromTheFileKeepsThePaintedAlpha) {
    TempFolder folder;
    std::vector<std::uint32_t> red(6 * 6, 0xFFFF0000u);
    std::uint8_t* bytes = reinterpret_cast<std::uint8_t*>(red.data());
    std::string errorText;
    const std::string file = folder.Str() + "/red.tif";
    ASSERT_EQ(SaveImageFile(bytes, 6, 6, file, true, 90, true, 0, 0, errorText, false, false, 0), 0);

    QTexture* texture = NewTexture(0);
    QTextureImage* image = GiveImage(*texture, 6, 6, false);
    image->colourPixels.get()[0] = 0x20123456u;
    image->imageName = file;
    ASSERT_EQ(ImportTextureImage(*texture, nullptr, image, false, true, false, errorText, 0, 0, false),
              TextureImportOk);
    EXPECT_EQ(image->colourPixels.get()[0], 0x20FF0000u);
    EXPECT_EQ(image->colourPixels.get()[1] & 0x00FFFFFFu, 0x00FF0000u);
}

// A file of another size is resampled to the image before its colours are taken; the
// checksum of the result was taken from the Gaussian resize (radius 0.5) of the file's
// pixels, which the imaging tests compare with the filter itself.
TEST_F(TextureImportTest, RecolourFromAFileOfAnotherSizeResamplesIt) {
    TempFolder folder;
    auto pattern = PatternPixels(10, 7, 3);
    std::uint8_t* bytes = reinterpret_cast<std::uint8_t*>(pattern.data());
    std::string errorText;
    const std::string file = folder.Str() + "/pattern.tif";
    ASSERT_EQ(SaveImageFile(bytes, 10, 7, file, true, 90, true, 0, 0, errorText, false, false, 0),
              0);

    QTexture* texture = NewTexture(0);
    QTextureImage* image = GiveImage(*texture, 6, 4, false);
    image->colourPixels.get()[0] = 0x20123456u;
    image->imageName = file;
    ASSERT_EQ(ImportTextureImage(*texture, nullptr, image, false, true, false, errorText, 0, 0,
                                 false),
              TextureImportOk);
    ASSERT_EQ(image->width, 6);
    ASSERT_EQ(image->height, 4);
    EXPECT_EQ(image->colourPixels.get()[0] >> 24, 0x20u) << "the painted alpha stays";
    EXPECT_EQ(Crc32(image->colourPixels.get(), 6 * 4 * 4), 0x7C453C44u);
}

}  // namespace
