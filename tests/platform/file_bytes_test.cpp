#include "platform/file_bytes.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <utility>

namespace {

std::string AsText(const FileBytes& file) {
    return std::string(file.Bytes().begin(), file.Bytes().end());
}

TEST(FileBytes, ReadsTheWholeFileFoundAsReadersFindIt) {
    TempFolder tmp;
    tmp.WriteFile("Sub/Data.BIN", "hello");
    FileBytes file;
    ASSERT_EQ(file.Read(tmp.Str() + "\\sub\\data.bin"), FileOpenError::None);
    EXPECT_TRUE(file.IsRead());
    EXPECT_EQ(AsText(file), "hello");
    EXPECT_EQ(file.ErrorNumber(), 0);

    // An empty file reads as no bytes, not as a failure.
    const std::string empty = tmp.WriteFile("empty.bin", "");
    ASSERT_EQ(file.Read(empty), FileOpenError::None);
    EXPECT_TRUE(file.IsRead());
    EXPECT_TRUE(file.Bytes().empty());

    file.Clear();
    EXPECT_FALSE(file.IsRead());
    EXPECT_TRUE(file.Bytes().empty());
}

TEST(FileBytes, FailuresGiveTheReasonAndTheSystemsNumber) {
    TempFolder tmp;
    const std::string five = tmp.WriteFile("five.bin", "12345");
    tmp.MakeFolder("dir");
    const struct {
        std::string path;
        std::size_t maxBytes;
        FileOpenError reason;
        int errorNumber;
    } cases[] = {
        {tmp.Str() + "/none.bin", 100, FileOpenError::FileNotFound, ENOENT},
        {tmp.Str() + "/no/x.bin", 100, FileOpenError::PathNotFound, ENOENT},
        {five + "/x.bin", 100, FileOpenError::PathNotFound, ENOTDIR},
        {tmp.Str() + "/dir", 100, FileOpenError::AccessDenied, EISDIR},
        {five, 4, FileOpenError::TooLarge, EFBIG},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        FileBytes file;
        // A failed read drops what an earlier one held.
        ASSERT_EQ(file.Read(five), FileOpenError::None);
        EXPECT_EQ(file.Read(c.path, c.maxBytes), c.reason);
        EXPECT_EQ(file.ErrorNumber(), c.errorNumber);
        EXPECT_FALSE(file.IsRead());
        EXPECT_TRUE(file.Bytes().empty());
    }
    FileBytes exact;
    EXPECT_EQ(exact.Read(five, 5), FileOpenError::None);
}

TEST(FileBytes, MovingHandsTheBytesOnAndLeavesTheSourceEmpty) {
    TempFolder tmp;
    FileBytes file;
    ASSERT_EQ(file.Read(tmp.WriteFile("a.bin", "abc")), FileOpenError::None);
    FileBytes moved(std::move(file));
    EXPECT_EQ(AsText(moved), "abc");
    EXPECT_TRUE(moved.IsRead());
    EXPECT_TRUE(file.Bytes().empty());
    EXPECT_FALSE(file.IsRead());

    FileBytes other;
    ASSERT_EQ(other.Read(tmp.WriteFile("b.bin", "de")), FileOpenError::None);
    other = std::move(moved);
    EXPECT_EQ(AsText(other), "abc");
    EXPECT_TRUE(moved.Bytes().empty());
}

}  // namespace
