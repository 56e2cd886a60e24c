#include "platform/file_system.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::string JoinPath(const std::string& folder, std::string_view name) {
    if (folder.empty()) return std::string(name);
    std::string out = folder;
    if (out.back() != '/') out += '/';
    out += name;
    return out;
}

}  // namespace

std::string NormalizeSeparators(std::string_view path) {
    std::string out(path);
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

std::optional<std::string> ResolvePath(std::string_view path) {
    const std::string normal = NormalizeSeparators(path);
    if (normal.empty()) return std::nullopt;
    if (Exists(normal)) return normal;

    // Walk the components, extending a prefix that exists on disk.
    std::string resolved = normal.front() == '/' ? "/" : "";
    std::size_t pos = 0;
    while (pos < normal.size()) {
        std::size_t end = normal.find('/', pos);
        if (end == std::string::npos) end = normal.size();
        const std::string_view component(normal.data() + pos, end - pos);
        pos = end + 1;
        if (component.empty()) continue;

        std::string candidate = JoinPath(resolved, component);
        if (!Exists(candidate)) {
            if (component == "." || component == "..") return std::nullopt;
            const std::vector<FolderEntry> entries = ListFolder(resolved.empty() ? "." : resolved);
            const auto match = std::find_if(entries.begin(), entries.end(), [&](const auto& e) {
                return EqualsNoCase(e.name, component);
            });
            if (match == entries.end()) return std::nullopt;
            candidate = JoinPath(resolved, match->name);
        }
        resolved = std::move(candidate);
    }
    return resolved;
}

std::string ResolveWritePath(std::string_view path) {
    if (std::optional<std::string> existing = ResolvePath(path)) return *existing;
    std::string normal = NormalizeSeparators(path);
    const std::size_t slash = normal.rfind('/');
    if (slash == std::string::npos || slash == 0) return normal;
    if (std::optional<std::string> folder = ResolvePath(normal.substr(0, slash))) {
        return *folder + normal.substr(slash);
    }
    return normal;
}

FileOpenError FileOpenErrorFromErrno(int errorNumber, std::string_view path) {
    switch (errorNumber) {
        case 0:
            return FileOpenError::None;
        case ENOENT: {
            const std::size_t slash = path.rfind('/');
            std::string folder = ".";
            if (slash == 0) folder = "/";
            if (slash != std::string_view::npos && slash > 0) folder = path.substr(0, slash);
            struct stat st;
            const bool isFolder = ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
            return isFolder ? FileOpenError::FileNotFound : FileOpenError::PathNotFound;
        }
        case ENOTDIR:
            return FileOpenError::PathNotFound;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
        case ETXTBSY:
            return FileOpenError::AccessDenied;
        default:
            return FileOpenError::Other;
    }
}

std::optional<FileStatus> StatPath(std::string_view path) {
    const std::optional<std::string> resolved = ResolvePath(path);
    if (!resolved) return std::nullopt;
    struct stat st;
    if (::stat(resolved->c_str(), &st) != 0) return std::nullopt;
    FileStatus status;
    status.sizeBytes = static_cast<std::uint64_t>(st.st_size);
    status.modifiedSeconds = static_cast<std::int64_t>(st.st_mtime);
    status.isDirectory = S_ISDIR(st.st_mode);
    return status;
}

std::vector<FolderEntry> ListFolder(std::string_view folder) {
    std::vector<FolderEntry> entries;
    const std::string base = NormalizeSeparators(folder);
    DIR* dir = ::opendir(base.c_str());
    if (dir == nullptr) return entries;
    while (const dirent* d = ::readdir(dir)) {
        const std::string_view name = d->d_name;
        if (name == "." || name == "..") continue;
        FolderEntry entry;
        entry.name = std::string(name);
        struct stat st;
        const std::string full = JoinPath(base, entry.name);
        if (::lstat(full.c_str(), &st) == 0) {
            entry.isSymlink = S_ISLNK(st.st_mode);
            entry.isDirectory = S_ISDIR(st.st_mode);
        }
        entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return entries;
}
