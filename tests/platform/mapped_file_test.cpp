#include "platform/mapped_file.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

class MappedFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("mapped_file_test_" + std::to_string(::getpid()));
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    fs::path folder;
};

TEST_F(MappedFileTest, ReaderPresentsTheBytesAndReportsWhyItCannot) {
    std::ofstream(folder / "data.bin", std::ios::binary) << "hello";
    std::ofstream(folder / "empty.bin", std::ios::binary);
    MappedFile file;
    ASSERT_EQ(file.Open((folder / "DATA.bin").string()), FileOpenError::None);
    EXPECT_EQ(std::string(file.Bytes().begin(), file.Bytes().end()), "hello");
    EXPECT_EQ(file.Open((folder / "empty.bin").string()), FileOpenError::Empty);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.Open((folder / "none.bin").string()), FileOpenError::FileNotFound);
    EXPECT_EQ(file.Open((folder / "no" / "x.bin").string()), FileOpenError::PathNotFound);
    EXPECT_EQ(file.Open(folder.string()), FileOpenError::AccessDenied);
}

TEST_F(MappedFileTest, WriterPutsTheFileInPlaceOnlyOnCommit) {
    const fs::path target = folder / "out.bin";
    {
        MappedFileWriter writer;
        ASSERT_EQ(writer.Create(target.string(), 16), FileOpenError::None);
        writer.Data()[0] = 'x';
    }
    EXPECT_FALSE(fs::exists(target));
    EXPECT_TRUE(fs::is_empty(folder));

    MappedFileWriter writer;
    ASSERT_EQ(writer.Create(target.string(), 16), FileOpenError::None);
    writer.Data()[0] = 'o';
    writer.Data()[1] = 'k';
    std::string error;
    ASSERT_TRUE(writer.Commit(2, &error)) << error;
    std::ifstream in(target, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "ok");
    EXPECT_FALSE(writer.IsOpen());
}

}  // namespace
