#include "imaging/pl_data_sink.h"

#include "imaging/decoder_test_util.h"
#include "imaging/pl_file_sink.h"
#include "imaging/pl_mem_sink.h"
#include "imaging/pl_text_exception.h"
#include "support/file_size_limit.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using decoder_test::CodeOf;

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class PLFileSinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("pl_file_sink_test_" + std::to_string(::getpid()));
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    std::size_t EntryCount() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    }

    fs::path folder;
};

TEST(PLMemSink, WritesUpToTheMaximumAndNoFurther) {
    std::vector<std::uint8_t> block(6, 0xAA);
    PLMemSink sink;
    ASSERT_EQ(sink.Open(block.data(), 5), 0);
    const std::uint8_t bytes[] = {1, 2, 3};
    sink.WriteBytes(bytes, 3);
    sink.WriteByte(4);
    std::string text;
    EXPECT_EQ(CodeOf([&] { sink.WriteBytes(bytes, 2); }, &text), PLErrEndOfFile);
    EXPECT_EQ(text, "Buffer overflow while encoding.\n");
    sink.WriteByte(5);
    EXPECT_THROW(sink.WriteByte(6), PLTextException);
    EXPECT_THROW(sink.Skip(1), PLTextException);
    EXPECT_EQ(sink.GetDataSize(), 5);
    EXPECT_EQ(block, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 0xAA}));
}

TEST_F(PLFileSinkTest, FileEndsAsLongAsWhatWasWritten) {
    const fs::path path = folder / "out.bin";
    PLFileSink sink;
    ASSERT_EQ(sink.Open(path.string(), 8192), 0);
    std::vector<std::uint8_t> bytes(100);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i);
    sink.WriteBytes(bytes.data(), 60);
    sink.Skip(2);
    sink.WriteBytes(bytes.data() + 62, 38);
    sink.Close();
    const std::string written = ReadFile(path);
    ASSERT_EQ(written.size(), 100u);
    EXPECT_EQ(written[61], 0);  // skipped bytes are zero
    EXPECT_EQ(static_cast<std::uint8_t>(written[99]), 99);
    EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(PLFileSinkTest, AbandonedSinkLeavesTheOldFile) {
    const fs::path path = folder / "keep.bin";
    std::ofstream(path, std::ios::binary) << "old contents";
    {
        PLFileSink sink;
        ASSERT_EQ(sink.Open(path.string(), 4), 0);
        const std::uint8_t bytes[] = {1, 2, 3, 4, 5};
        EXPECT_THROW(sink.WriteBytes(bytes, 5), PLTextException);
        // Destroyed without Close, as when an encoder throws.
    }
    EXPECT_EQ(ReadFile(path), "old contents");
    EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(PLFileSinkTest, FailedWriteThrowsAndLeavesTheOldFile) {
    const fs::path path = folder / "keep.bin";
    std::ofstream(path, std::ios::binary) << "old contents";
    PLFileSink sink;
    ASSERT_EQ(sink.Open(path.string(), 100), 0);
    const std::uint8_t bytes[10] = {};
    sink.WriteBytes(bytes, 10);
    std::string text;
    {
        const FileSizeLimit limit(4);
        EXPECT_EQ(CodeOf([&] { sink.Close(); }, &text), PLErrFileNotFound);
    }
    EXPECT_EQ(text, "Writing " + path.string() + " failed: File too large");
    EXPECT_FALSE(sink.IsOpen());
    EXPECT_EQ(ReadFile(path), "old contents");
    EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(PLFileSinkTest, ReplacesAnExistingFileOnClose) {
    const fs::path path = folder / "replace.bin";
    std::ofstream(path, std::ios::binary) << "a much longer old content";
    PLFileSink sink;
    ASSERT_EQ(sink.Open(path.string(), 100), 0);
    const std::uint8_t bytes[] = {'n', 'e', 'w'};
    sink.WriteBytes(bytes, 3);
    sink.Close();
    EXPECT_EQ(ReadFile(path), "new");
}

TEST_F(PLFileSinkTest, WideNamesWriteTheFileOfTheirUtf8Name) {
    const std::string base = folder.string();
    const std::u16string wideFolder(base.begin(), base.end());
    PLFileSink sink;
    ASSERT_EQ(sink.OpenWide(wideFolder + u"/\u00FCber.bin", 16), 0);
    EXPECT_EQ(sink.GetName(), "Wide");
    EXPECT_EQ(sink.GetWideName(), wideFolder + u"/\u00FCber.bin");
    const std::uint8_t bytes[] = {7, 8, 9};
    sink.WriteBytes(bytes, 3);
    sink.Close();
    EXPECT_EQ(ReadFile(folder / (std::string("\xC3\xBC") + "ber.bin")), "\x07\x08\x09");
    EXPECT_EQ(EntryCount(), 1u);

    errno = 0;
    EXPECT_EQ(sink.OpenWide(wideFolder + u"/a" + char16_t(0xD83D) + u".bin", 16),
              PLErrFileNotFound);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(sink.IsOpen());
    EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(PLFileSinkTest, OpenFailuresGiveTheirCodes) {
    fs::create_directories(folder / "dir");
    PLFileSink sink;
    EXPECT_EQ(sink.Open((folder / "missing" / "out.bmp").string(), 100), PLErrPathNotFound);
    EXPECT_EQ(sink.Open((folder / "dir").string(), 100), PLErrAccessDenied);
    EXPECT_FALSE(sink.IsOpen());
}

}  // namespace
