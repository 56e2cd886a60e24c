#include "platform/safe_file_writer.h"

#include "support/file_size_limit.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

unsigned int ModeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return static_cast<unsigned int>(st.st_mode) & 07777u;
}

TEST(SafeFileWriter, PutsTheFileInPlaceOnlyOnCommit) {
    TempFolder tmp;
    const fs::path target = tmp.Path() / "out.bin";
    {
        SafeFileWriter writer;
        ASSERT_EQ(writer.Open(target.string()), FileOpenError::None);
        EXPECT_TRUE(writer.Write(AsBytes("lost")));
        // Destroyed without Commit, as when an encoder throws.
    }
    EXPECT_TRUE(Entries(tmp.Path()).empty());

    SafeFileWriter writer;
    ASSERT_EQ(writer.Open(target.string()), FileOpenError::None);
    EXPECT_TRUE(writer.IsOpen());
    EXPECT_TRUE(writer.Write(AsBytes("o")));
    EXPECT_TRUE(writer.Write({}));
    EXPECT_TRUE(writer.Write(AsBytes("k")));
    EXPECT_EQ(Entries(tmp.Path()).size(), 1u);
    EXPECT_FALSE(fs::exists(target));
    ASSERT_TRUE(writer.Commit()) << writer.ErrorNumber();
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_EQ(ReadText(target), "ok");
    EXPECT_EQ(Entries(tmp.Path()), std::vector<std::string>{"out.bin"});

    // A closed writer takes no bytes and commits nothing.
    EXPECT_FALSE(writer.Write(AsBytes("x")));
    EXPECT_FALSE(writer.Commit());
    EXPECT_EQ(writer.ErrorNumber(), EBADF);
    EXPECT_EQ(ReadText(target), "ok");
}

TEST(SafeFileWriter, ReplacesInPlaceKeepingTheTargetsMode) {
    TempFolder tmp;
    const std::string old = tmp.WriteFile("Sub/Keep.txt", "a much longer old content");
    fs::permissions(old, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    SafeFileWriter writer;
    // The existing file is found whatever the case and separators of the path.
    ASSERT_EQ(writer.Open(tmp.Str() + "\\SUB\\keep.TXT"), FileOpenError::None);
    ASSERT_TRUE(writer.Write(AsBytes("new")));
    ASSERT_TRUE(writer.Commit());
    EXPECT_EQ(ReadText(old), "new");
    EXPECT_EQ(ModeOf(old), 0640u);
    EXPECT_EQ(Entries(tmp.Path() / "Sub"), std::vector<std::string>{"Keep.txt"});

    // A new file lands in the folder a reader finds and gets the process's default mode.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ASSERT_EQ(writer.Open(tmp.Str() + "/sub/New.txt"), FileOpenError::None);
    ASSERT_TRUE(writer.Commit());
    EXPECT_EQ(ReadText(tmp.Path() / "Sub" / "New.txt"), "");
    EXPECT_EQ(ModeOf(tmp.Path() / "Sub" / "New.txt"), 0666u & ~static_cast<unsigned int>(mask));
}

TEST(SafeFileWriter, FailedWriteLeavesTheOldFile) {
    TempFolder tmp;
    const std::string path = tmp.WriteFile("keep.bin", "old contents");
    SafeFileWriter writer;
    ASSERT_EQ(writer.Open(path), FileOpenError::None);
    {
        const FileSizeLimit limit(4);
        EXPECT_FALSE(writer.Write(AsBytes("0123456789")));
    }
    EXPECT_EQ(writer.ErrorNumber(), EFBIG);
    // The failure sticks: later bytes are refused and the commit reports it.
    EXPECT_FALSE(writer.Write(AsBytes("x")));
    EXPECT_FALSE(writer.Commit());
    EXPECT_EQ(writer.ErrorNumber(), EFBIG);
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_EQ(ReadText(path), "old contents");
    EXPECT_EQ(Entries(tmp.Path()), std::vector<std::string>{"keep.bin"});
}

TEST(SafeFileWriter, FailedRenameRemovesTheTemporary) {
    TempFolder tmp;
    const fs::path target = tmp.Path() / "out.bin";
    SafeFileWriter writer;
    ASSERT_EQ(writer.Open(target.string()), FileOpenError::None);
    ASSERT_TRUE(writer.Write(AsBytes("bytes")));
    // Something else takes the name meanwhile: a folder that is not empty.
    tmp.WriteFile("out.bin/inside.txt", "theirs");
    EXPECT_FALSE(writer.Commit());
    EXPECT_NE(writer.ErrorNumber(), 0);
    EXPECT_EQ(ReadText(target / "inside.txt"), "theirs");
    EXPECT_EQ(Entries(tmp.Path()), std::vector<std::string>{"out.bin"});
}

TEST(SafeFileWriter, OpenFailuresGiveTheReasonAndLeaveNothing) {
    TempFolder tmp;
    tmp.MakeFolder("dir");
    const std::string file = tmp.WriteFile("file.txt", "x");
    const struct {
        std::string path;
        FileOpenError reason;
        int errorNumber;
    } cases[] = {
        {tmp.Str() + "/missing/out.bin", FileOpenError::PathNotFound, ENOENT},
        {file + "/out.bin", FileOpenError::PathNotFound, ENOTDIR},
        {tmp.Str() + "/DIR", FileOpenError::AccessDenied, EISDIR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        SafeFileWriter writer;
        EXPECT_EQ(writer.Open(c.path), c.reason);
        EXPECT_EQ(writer.ErrorNumber(), c.errorNumber);
        EXPECT_FALSE(writer.IsOpen());
        EXPECT_FALSE(writer.Commit());
    }
    EXPECT_EQ(Entries(tmp.Path()).size(), 2u);
}

TEST(SafeFileWriter, ReadOnlyTargetIsNotReplaced) {
    if (::geteuid() == 0) GTEST_SKIP() << "the superuser may write any file";
    TempFolder tmp;
    const std::string path = tmp.WriteFile("locked.txt", "old");
    fs::permissions(path, fs::perms::owner_read);
    SafeFileWriter writer;
    EXPECT_EQ(writer.Open(path), FileOpenError::AccessDenied);
    EXPECT_EQ(writer.ErrorNumber(), EACCES);
    EXPECT_EQ(ReadText(path), "old");
    EXPECT_EQ(Entries(tmp.Path()), std::vector<std::string>{"locked.txt"});
}

}  // namespace
