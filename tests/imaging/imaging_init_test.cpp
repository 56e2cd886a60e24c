#include "imaging/imaging_init.h"

#include "core/private_heap.h"
#include "imaging/decoder_test_util.h"
#include "imaging/image_file.h"
#include "imaging/pl_any_bmp.h"
#include "imaging/pl_any_pic_decoder.h"
#include "imaging/pl_bmp_encoder.h"
#include "imaging/pl_text_exception.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

namespace {

using decoder_test::CodeOf;

constexpr const char* NotInitialisedText =
    "The image library was not initialised (the process start-up did not run).";

// The image library as a program that skipped the process start-up has it, for the life of
// the object; the start-up runs again afterwards so later tests find the library ready.
class LibraryNotStarted {
public:
    LibraryNotStarted() { ImagingShutdownProcess(); }
    LibraryNotStarted(const LibraryNotStarted&) = delete;
    LibraryNotStarted& operator=(const LibraryNotStarted&) = delete;
    ~LibraryNotStarted() { ImagingInitProcess(); }
};

TEST(ImagingInit, WithoutStartUpEveryDoorSaysSoInsteadOfBlamingTheFile) {
    TempFolder tmp;
    const std::string image = tmp.Str() + "/red.bmp";
    std::array<std::uint8_t, 16> words = {0, 0, 255, 255, 0, 0, 255, 255,
                                          0, 0, 255, 255, 0, 0, 255, 255};
    std::uint8_t* source = words.data();
    std::string error;
    ASSERT_EQ(SaveImageFile(source, 2, 2, image, false, 0, false, 0, 0, error, false, false, 0),
              ImageFileOk)
        << error;

    {
        const LibraryNotStarted notStarted;
        EXPECT_FALSE(ImagingIsInitialised());

        // Inside the library: its own code, from decoders and encoders alike.
        PLAnyBmp bmp;
        std::string text;
        EXPECT_EQ(CodeOf([&] { PLAnyPicDecoder().MakeBmpFromFile(image, bmp); }, &text),
                  PLErrNotInitialised);
        EXPECT_NE(text.find("not initialised"), std::string::npos) << text;
        bmp.CreateFromData(1, 1, PLPixelFormat::X8R8G8B8, nullptr, 0, {0, 0});
        EXPECT_EQ(CodeOf([&] { PLBmpEncoder().MakeFileFromBmp(tmp.Str() + "/x.bmp", bmp); }),
                  PLErrNotInitialised);

        // At the front end: result code 8 with a message naming the cause.
        std::int32_t width = 0;
        std::int32_t height = 0;
        std::int32_t stride = 0;
        bool premultiplied = false;
        std::uint8_t* pixels = nullptr;
        error.clear();
        EXPECT_EQ(LoadImageFile("argb", width, pixels, image, nullptr, 0, premultiplied, height,
                                stride, error),
                  ImageFileUnknownError);
        EXPECT_EQ(error, NotInitialisedText);
        error.clear();
        EXPECT_EQ(LoadGrayscaleImage(height, error, pixels, width, image), ImageFileUnknownError);
        EXPECT_EQ(error, NotInitialisedText);
        EXPECT_EQ(pixels, nullptr);

        std::int32_t resultCode = 0;
        error.clear();
        EXPECT_FALSE(ImageAlphaIsPremultiplied(resultCode, image, error));
        EXPECT_EQ(resultCode, 1);
        EXPECT_EQ(error, NotInitialisedText);
        EXPECT_EQ(ImageFileChecksum(image), 0u);

        for (const char* name : {"out.bmp", "out.jpg", "out.tif"}) {
            SCOPED_TRACE(name);
            error.clear();
            EXPECT_EQ(SaveImageFile(source, 2, 2, tmp.Str() + "/" + name, false, 75, false, 0, 0,
                                    error, false, false, 0),
                      ImageFileUnknownError);
            EXPECT_EQ(error, NotInitialisedText);
        }
        std::uint32_t size = 1;
        EXPECT_EQ(EncodeTiffToMemory("argb", source, 2, 2, 8, false, 0, size), nullptr);
        EXPECT_EQ(size, 0u);
    }
    // Nothing was written beside the image.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp.Path()), {}), 1);

    EXPECT_TRUE(ImagingIsInitialised());
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t stride = 0;
    bool premultiplied = false;
    std::uint8_t* pixels = nullptr;
    ASSERT_EQ(LoadImageFile("argb", width, pixels, image, nullptr, 0, premultiplied, height, stride,
                            error),
              ImageFileOk)
        << error;
    EXPECT_EQ(width, 2);
    EXPECT_EQ(pixels[2], 255);
    PrivateFree(pixels);
}

}  // namespace
