#include "imaging/pl_trace.h"

#include "core/operation_log.h"
#include "imaging/pl_any_bmp.h"
#include "imaging/pl_any_pic_decoder.h"
#include "imaging/pl_bmp_encoder.h"
#include "imaging/pl_text_exception.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

namespace {

// The operation log on, into a file of a fresh folder, and a small 8-bit bitmap file to
// decode; the trace and the log are off again afterwards.
class PLTraceTest : public ::testing::Test {
protected:
    void SetUp() override {
        logPath = folder.Str() + "/operations.log";
        OperationLogSetPath(logPath);
        OperationLogSetSwitch(&loggingOn);
        PLAnyBmp image;
        image.CreateFromData(2, 2, PLPixelFormat::I8, nullptr, 0, {0, 0});
        imagePath = folder.Str() + "/grey.bmp";
        PLBmpEncoder().MakeFileFromBmp(imagePath, image);
    }

    void TearDown() override {
        PLTraceOff();
        OperationLogSetSwitch(nullptr);
        OperationLogSetPath("");
    }

    std::string TakeLog() const {
        std::string text;
        {
            std::ifstream in(logPath, std::ios::binary);
            text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        std::ofstream(logPath, std::ios::trunc);
        return text;
    }

    void Decode(const std::string& path) {
        PLAnyPicDecoder decoder;
        PLAnyBmp bmp;
        decoder.MakeBmpFromFile(path, bmp);
    }

    TempFolder folder;
    const std::uint8_t loggingOn = 1;
    std::string logPath;
    std::string imagePath;
};

TEST_F(PLTraceTest, DecodeWritesItsLinesUpToTheLevel) {
    const struct {
        std::int32_t level;
        std::string lines;
    } cases[] = {
        {3, "--- Decoding file " + imagePath + ". ---\n" +
                "Windows bitmap recognized.\n"
                "Bitmap file signature found\n"
                "Reading palette.\n"
                "Bitmap header is ok.\n"
                "Decoding uncompressed 8 bit per pixel bitmap.\n"},
        {2, "--- Decoding file " + imagePath + ". ---\n" +
                "Windows bitmap recognized.\n"
                "Bitmap file signature found\n"
                "Bitmap header is ok.\n"
                "Decoding uncompressed 8 bit per pixel bitmap.\n"},
        {1, "--- Decoding file " + imagePath + ". ---\n"},
        {0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        PLTraceOn(c.level);
        Decode(imagePath);
        EXPECT_EQ(TakeLog(), c.lines);
    }
}

TEST_F(PLTraceTest, ErrorsAreTracedAtLevelZero) {
    PLTraceOn(0);
    const std::string missing = folder.Str() + "/missing.bmp";
    EXPECT_THROW(Decode(missing), PLTextException);
    EXPECT_EQ(TakeLog(), "Decoder error: Opening " + missing + " failed\n");
}

TEST_F(PLTraceTest, NothingIsWrittenWithTheTraceOff) {
    PLTraceOn(3);
    PLTraceOff();
    Decode(imagePath);
    EXPECT_THROW(Decode(folder.Str() + "/missing.bmp"), PLTextException);
    EXPECT_EQ(TakeLog(), "");
    EXPECT_FALSE(PLTraceWants(0));
}

}  // namespace
