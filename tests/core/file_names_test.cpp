#include "core/file_names.h"

#include "core/named_entries.h"
#include "core/number_text.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(FileNames, SplitPaths) {
    const struct {
        const char* path;
        const char* extension;
        const char* name;
        const char* stripped;
    } cases[] = {
        {"C:\\a.b\\Pic.TGA", "tga", "Pic.TGA", "C:\\a.b\\Pic"},
        {"C:\\a\\noext", "", "noext", "C:\\a\\noext"},
        {"C:\\dir\\file.kvr", "kvr", "file.kvr", "C:\\dir\\file"},
        {"file.kvr", "kvr", "file.kvr", "file"},
        {"noext", "", "noext", "noext"},
        {"/home/x.y/scene", "", "scene", "/home/x.y/scene"},
        {"/home/x/arch.tar.GZ", "gz", "arch.tar.GZ", "/home/x/arch.tar"},
        {"dir\\", "", "", "dir\\"},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.path);
        EXPECT_EQ(GetFileExtension(tc.path), tc.extension);
        EXPECT_EQ(GetFileName(tc.path), tc.name);
        EXPECT_EQ(StripExtension(tc.path), tc.stripped);
    }
}

TEST(FileNames, CollectSubfoldersDepthFirstInNameOrder) {
    TempFolder tmp;
    tmp.MakeFolder("b/inner");
    tmp.MakeFolder("a");
    tmp.MakeFolder("c");
    tmp.WriteFile("a/file.txt", "x");
    // A link back to the top would loop forever if links were followed.
    std::filesystem::create_directory_symlink(tmp.Path(), tmp.Path() / "b" / "loop");

    std::vector<std::string> folders;
    CollectSubfolders(folders, tmp.Str());
    const std::string top = tmp.Str() + "/";
    EXPECT_EQ(folders, (std::vector<std::string>{top + "a", top + "b", top + "b/inner", top + "c"}));

    std::vector<std::string> none;
    CollectSubfolders(none, tmp.Str() + "/missing");
    EXPECT_TRUE(none.empty());
}

TEST(FileNames, FindFileInFoldersSearchesBelowAndIgnoresCase) {
    TempFolder tmp;
    const std::string deep = tmp.WriteFile("one/Two/Bot.kvtd", "x");
    tmp.WriteFile("three/bot.kvtd", "y");

    EXPECT_EQ(FindFileInFolders({tmp.Str() + "/one"}, "Bot.kvtd"), deep);
    EXPECT_EQ(FindFileInFolders({tmp.Str() + "\\ONE"}, "two\\BOT.KVTD"), deep);
    EXPECT_EQ(FindFileInFolders({tmp.Str() + "/three", tmp.Str() + "/one"}, "bot.kvtd"),
              tmp.Str() + "/three/bot.kvtd");
    EXPECT_EQ(FindFileInFolders({tmp.Str()}, "missing.kvtd"), "");
    EXPECT_EQ(FindFileInFolders({}, "Bot.kvtd"), "");
}

TEST(NumberText, IntToString) {
    EXPECT_EQ(IntToString(0), "0");
    EXPECT_EQ(IntToString(-42), "-42");
    EXPECT_EQ(IntToString(INT32_MIN), "-2147483648");
    EXPECT_EQ(IntToString(INT32_MAX), "2147483647");
}

TEST(NamedEntries, LookupMissesAndSetsFirstNumber) {
    NamedEntry entry{"anything", "text", {0, 5, 6}};
    EXPECT_FALSE(LookupNamedEntry(entry));
    EXPECT_EQ(entry.numbers[0], 1);
    EXPECT_EQ(entry.numbers[1], 5);
    EXPECT_EQ(entry.text, "text");
}

}  // namespace
