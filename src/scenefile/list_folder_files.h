#pragma once

// The scene files of one folder by name, for the preset shape library, which loads each of
// them as an object file.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Results of ListFolderFiles.
inline constexpr std::int32_t FolderFilesListed = 0;
inline constexpr std::int32_t FolderFilesNone = 1;  // no such folder, or no entry matches

// The extension of the files listed, matched without regard to case.
inline constexpr std::string_view FolderFilesExtension = "kvr";

// Appends to names the names (without the folder) of the folder's entries whose name ends in
// "." and the extension in any case, folders among them, then sorts the whole list by the
// bytes of the names. The folder may be written with "\" or "/" and differ in case from the
// disk. Returns FolderFilesNone, leaving names as they were (unsorted), when the folder does
// not exist or nothing matches. Never fails otherwise (std::bad_alloc).
std::int32_t ListFolderFiles(std::string_view folder, std::vector<std::string>& names);
