#include "core/file_names.h"

#include "platform/file_system.h"

#include <cctype>

namespace {

// Index just past the last separator, 0 when there is none.
std::size_t NameStart(std::string_view path) {
    const std::size_t sep = path.find_last_of("\\/");
    return sep == std::string_view::npos ? 0 : sep + 1;
}

// Index of the extension's "." inside the file name, npos when the name has none. Only the
// name is searched: a "." in a folder name is not an extension.
std::size_t ExtensionDot(std::string_view path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || dot < NameStart(path)) return std::string_view::npos;
    return dot;
}

std::string JoinFolder(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
    path += name;
    return path;
}

bool IsFile(const std::string& path) {
    const auto status = StatPath(path);
    return status && !status->isDirectory;
}

}  // namespace

std::string GetFileExtension(std::string_view path) {
    const std::size_t dot = ExtensionDot(path);
    if (dot == std::string_view::npos) return {};
    std::string ext(path.substr(dot + 1));
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

std::string GetFileName(std::string_view path) { return std::string(path.substr(NameStart(path))); }

std::string StripExtension(std::string_view path) {
    return std::string(path.substr(0, ExtensionDot(path)));
}

void CollectSubfolders(std::vector<std::string>& folders, std::string_view folder) {
    const std::optional<std::string> resolved = ResolvePath(folder);
    if (!resolved) return;
    for (const FolderEntry& entry : ListFolder(*resolved)) {
        if (!entry.isDirectory || entry.isSymlink) continue;
        std::string sub = JoinFolder(folder, entry.name);
        folders.push_back(sub);
        CollectSubfolders(folders, sub);
    }
}

std::string FindFileInFolders(const std::vector<std::string>& folders, std::string_view name) {
    for (const std::string& folder : folders) {
        std::string candidate = JoinFolder(folder, name);
        if (IsFile(candidate)) return *ResolvePath(candidate);
        std::vector<std::string> subfolders;
        CollectSubfolders(subfolders, folder);
        for (const std::string& sub : subfolders) {
            candidate = JoinFolder(sub, name);
            if (IsFile(candidate)) return *ResolvePath(candidate);
        }
    }
    return {};
}
