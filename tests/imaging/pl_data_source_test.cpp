#include "imaging/pl_data_source.h"

#include "imaging/pl_file_source.h"
#include "imaging/pl_mem_source.h"
#include "imaging/pl_resource_source.h"
#include "imaging/pl_text_exception.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace {

namespace fs = std::filesystem;

// Expects fn to throw PLTextException with code 11 and the end-of-data text.
void ExpectEndOfFile(const std::function<void()>& fn) {
    try {
        fn();
        ADD_FAILURE() << "no exception";
    } catch (const PLTextException& e) {
        EXPECT_EQ(e.GetCode(), PLErrEndOfFile);
        EXPECT_STREQ(e.GetText(), "End of file reached while decoding.\n");
    }
}

class PLDataSourceFiles : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("pl_data_source_test_" + std::to_string(::getpid()));
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string Write(const std::string& name, const std::string& bytes) {
        const fs::path path = folder / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    fs::path folder;
};

TEST(PLMemSource, ReadsUpToTheEndAndNoFurther) {
    const std::uint8_t data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    PLMemSource source;
    ASSERT_EQ(source.Open(data, 10), 0);
    EXPECT_EQ(source.GetName(), "Mem");
    EXPECT_EQ(source.GetFileSize(), 10);
    EXPECT_EQ(source.PeekBytes(10), data);
    EXPECT_EQ(source.ReadBytes(4), data);
    EXPECT_EQ(source.ReadByte(), 4);
    EXPECT_EQ(source.ReadBytes(5), data + 5);
    EXPECT_EQ(source.GetBytesLeft(), 0);
    ExpectEndOfFile([&] { source.ReadBytes(1); });
    ExpectEndOfFile([&] { source.PeekBytes(1); });
    EXPECT_EQ(source.GetBytesRead(), 10);  // a refused read does not move
}

TEST(PLMemSource, SeekStaysInsideTheData) {
    const std::uint8_t data[10] = {};
    PLMemSource source;
    ASSERT_EQ(source.Open(data, 10), 0);
    source.Seek(10);
    EXPECT_EQ(source.GetCurrentPtr(), data + 10);
    ExpectEndOfFile([&] { source.Seek(11); });
    ExpectEndOfFile([&] { source.Seek(-1); });
    source.Seek(3);
    ExpectEndOfFile([&] { source.ReadBytes(-2); });
    ExpectEndOfFile([&] { source.ReadBytes(8); });
    EXPECT_EQ(source.GetBytesRead(), 3);
}

TEST(PLMemSource, RefusesNoBlock) {
    PLMemSource source;
    EXPECT_EQ(source.Open(nullptr, 4), PLErrFileNotFound);
    EXPECT_FALSE(source.IsOpen());
}

TEST_F(PLDataSourceFiles, FileSourcePresentsTheWholeFile) {
    const std::string path = Write("ten.bin", "0123456789");
    PLFileSource source;
    ASSERT_EQ(source.Open(path), 0);
    EXPECT_EQ(source.GetName(), path);
    EXPECT_EQ(source.GetFileSize(), 10);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(source.ReadBytes(10)), 10), "0123456789");
    source.Seek(10);
    ExpectEndOfFile([&] { source.Seek(11); });
    source.Close();
    EXPECT_FALSE(source.IsOpen());
}

TEST_F(PLDataSourceFiles, FileSourceFindsNamesWithOtherCaseAndBackslashes) {
    fs::create_directories(folder / "Sub");
    Write("Sub/Image.BIN", "abc");
    PLFileSource source;
    ASSERT_EQ(source.Open((folder / "sub\\image.bin").string()), 0);
    EXPECT_EQ(source.GetFileSize(), 3);
}

TEST_F(PLDataSourceFiles, WideNamesOpenTheFileTheirUtf8Names) {
    Write("Caf\xC3\xA9.bin", "abc");
    const std::string base = folder.string();
    const std::u16string wideFolder(base.begin(), base.end());
    PLFileSource source;
    ASSERT_EQ(source.OpenWide(wideFolder + u"/CAF\u00E9.BIN"), 0);
    EXPECT_EQ(source.GetName(), "Wide");
    EXPECT_TRUE(source.IsWide());
    EXPECT_EQ(source.GetWideName(), wideFolder + u"/CAF\u00E9.BIN");
    EXPECT_EQ(source.GetFileSize(), 3);
    source.Close();
    EXPECT_FALSE(source.IsWide());
    EXPECT_EQ(source.GetWideName(), u"");

    EXPECT_EQ(source.OpenWide(wideFolder + u"/missing/a.bin"), PLErrPathNotFound);
    EXPECT_EQ(source.OpenWide(wideFolder + u"/Caf" + char16_t(0xDC01) + u".bin"),
              PLErrFileNotFound);
    EXPECT_FALSE(source.IsOpen());
    // A narrow open names the source by its path again.
    ASSERT_EQ(source.Open(base + "/Caf\xC3\xA9.bin"), 0);
    EXPECT_FALSE(source.IsWide());
}

TEST_F(PLDataSourceFiles, FileOpenFailuresGiveTheirCodes) {
    Write("empty.bin", "");
    fs::create_directories(folder / "dir");
    struct Case {
        std::string path;
        std::int32_t code;
    };
    const Case cases[] = {
        {(folder / "missing" / "a.bmp").string(), PLErrPathNotFound},
        {(folder / "missing.bmp").string(), PLErrFileNotFound},
        {(folder / "empty.bin").string(), PLErrAccessDenied},
        {(folder / "dir").string(), PLErrAccessDenied},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        PLFileSource source;
        EXPECT_EQ(source.Open(c.path), c.code);
        EXPECT_FALSE(source.IsOpen());
    }
}

TEST(PLResourceSource, ModuleResourcesAreNotFound) {
    PLResourceSource source;
    EXPECT_EQ(source.Open(nullptr, 101, nullptr), PLErrFileNotFound);
    EXPECT_FALSE(source.IsOpen());
}

}  // namespace
