#include "scenefile/list_folder_files.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

// Scene files are matched by extension in any case, folders among them, and the whole list
// is sorted by the bytes of the names, those it held before included.
TEST(ListFolderFiles, MatchesTheExtensionInAnyCaseAndSortsByName) {
    TempFolder folder;
    for (const char* name : {"b.kvr", "A.KVR", "c.Kvr", ".kvr", "d.kvp", "e.kvrx", "kvr",
                             "f.kvr.bak", "g_kvr", "Shapes/inner.kvr"}) {
        folder.WriteFile(name, "x");
    }
    folder.MakeFolder("Z.kvr");
    Names names{"zeta.kvr", "Beta.kvr"};
    ASSERT_EQ(ListFolderFiles(folder.Str(), names), FolderFilesListed);
    EXPECT_EQ(names, (Names{".kvr", "A.KVR", "Beta.kvr", "Z.kvr", "b.kvr", "c.Kvr", "zeta.kvr"}));

    // The folder as a scene file names it: "\" and other case.
    Names inner;
    ASSERT_EQ(ListFolderFiles(folder.Str() + "\\SHAPES", inner), FolderFilesListed);
    EXPECT_EQ(inner, Names{"inner.kvr"});
}

TEST(ListFolderFiles, NothingFoundLeavesTheListAlone) {
    TempFolder folder;
    folder.WriteFile("notes.txt", "x");
    const std::string file = folder.WriteFile("file.kvr", "x");
    struct Case {
        const char* name;
        std::string path;
    };
    const Case cases[] = {
        {"no match", folder.MakeFolder("empty")},
        {"missing folder", folder.Str() + "/missing"},
        {"a file", file},
        {"no folder given", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Names names{"z.kvr", "a.kvr"};
        EXPECT_EQ(ListFolderFiles(c.path, names), FolderFilesNone);
        EXPECT_EQ(names, (Names{"z.kvr", "a.kvr"}));
    }
}

}  // namespace
