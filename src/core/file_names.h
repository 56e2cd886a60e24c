#pragma once

// Splitting paths into folder, name and extension, and finding a file by name in a list of
// folders and everything below them. Paths from files use "\" as the separator; both "\"
// and "/" are accepted everywhere.

#include <string>
#include <string_view>
#include <vector>

// The part after the last "." of the file name (after the last separator), lower-cased;
// empty when the name has no ".".
std::string GetFileExtension(std::string_view path);

// The part after the last separator; the whole path when it has none.
std::string GetFileName(std::string_view path);

// The path without the last "." of its file name and what follows; the whole path when the
// name has no ".".
std::string StripExtension(std::string_view path);

// Appends every folder below the given folder, at any depth, depth first in name order.
// Symbolic links to folders are not followed. A folder that cannot be searched adds nothing.
void CollectSubfolders(std::vector<std::string>& folders, std::string_view folder);

// The full path of the first existing file of that name: each listed folder is tried itself,
// then its subfolders in CollectSubfolders order. Empty when none has it.
std::string FindFileInFolders(const std::vector<std::string>& folders, std::string_view name);
