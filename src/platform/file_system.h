#pragma once

// Files and folders as the rest of the system expects them. Paths read from scene files use
// "\" and may differ in case from the names on disk, so every query here accepts "\" and
// "/" alike and, when a path does not exist as written, looks for it case-insensitively one
// component at a time.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct FolderEntry {
    std::string name;
    bool isDirectory = false;  // a folder, not following links
    bool isSymlink = false;    // the entry itself is a symbolic link
};

struct FileStatus {
    std::uint64_t sizeBytes = 0;
    std::int64_t modifiedSeconds = 0;  // seconds since 1970
    bool isDirectory = false;
};

// Why a file could not be opened or created.
enum class FileOpenError {
    None,
    PathNotFound,  // a folder on the way does not exist
    FileNotFound,  // the folder exists, the file does not
    AccessDenied,  // permissions, a folder where a file was expected, a read-only target
    TooLarge,      // the file or its block does not fit the size its user allows
    Other,         // any other failure of the system
};

// The path with every "\" turned into "/".
std::string NormalizeSeparators(std::string_view path);

// The path as it exists on disk: exact when it exists as written (after separators are
// normalised), else each component matched case-insensitively (the first match in name
// order wins). Empty when nothing matches.
std::optional<std::string> ResolvePath(std::string_view path);

// The path to read, create or replace: ResolvePath's answer when the path exists, else the
// path with its folder resolved that way, so a new file lands in the folder a reader finds.
// Never empty for a non-empty path.
std::string ResolveWritePath(std::string_view path);

// The reason for a system error number from opening or creating the file at path (a path
// as ResolveWritePath gives it). ENOENT is a missing folder when the file's folder does not
// exist, else a missing file.
FileOpenError FileOpenErrorFromErrno(int errorNumber, std::string_view path);

// Status of the file or folder at the path (resolved as ResolvePath does, following links);
// empty when it does not exist.
std::optional<FileStatus> StatPath(std::string_view path);

// The entries of a folder other than "." and "..", sorted by name (byte order). Empty when
// the folder cannot be searched.
std::vector<FolderEntry> ListFolder(std::string_view folder);
