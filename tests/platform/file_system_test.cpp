#include "platform/file_system.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

namespace {

TEST(FileSystem, ResolvesBackslashesAndCase) {
    TempFolder tmp;
    const std::string file = tmp.WriteFile("Scenes/Sub/Ball.KVP", "12345");

    EXPECT_EQ(ResolvePath(file), file);
    EXPECT_EQ(ResolvePath(tmp.Str() + "\\scenes\\SUB\\ball.kvp"), file);
    EXPECT_FALSE(ResolvePath(tmp.Str() + "/scenes/other/ball.kvp"));
    EXPECT_FALSE(ResolvePath(""));

    const auto status = StatPath(tmp.Str() + "/SCENES/sub/BALL.kvp");
    ASSERT_TRUE(status);
    EXPECT_EQ(status->sizeBytes, 5u);
    EXPECT_FALSE(status->isDirectory);
    EXPECT_TRUE(StatPath(tmp.Str() + "/scenes")->isDirectory);
}

TEST(FileSystem, ListFolderSortedWithoutDotEntries) {
    TempFolder tmp;
    tmp.WriteFile("b.txt", "");
    tmp.WriteFile("A.txt", "");
    tmp.MakeFolder("c");
    const auto entries = ListFolder(tmp.Str());
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "A.txt");
    EXPECT_EQ(entries[1].name, "b.txt");
    EXPECT_EQ(entries[2].name, "c");
    EXPECT_TRUE(entries[2].isDirectory);
    EXPECT_TRUE(ListFolder(tmp.Str() + "/missing").empty());
}

}  // namespace
