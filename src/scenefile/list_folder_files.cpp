#include "scenefile/list_folder_files.h"

#include "platform/file_system.h"

#include <algorithm>
#include <optional>

namespace {

bool HasExtension(std::string_view name) {
    if (name.size() < FolderFilesExtension.size() + 1) return false;
    const std::string_view tail = name.substr(name.size() - FolderFilesExtension.size());
    if (name[name.size() - FolderFilesExtension.size() - 1] != '.') return false;
    return std::equal(tail.begin(), tail.end(), FolderFilesExtension.begin(),
                      [](char a, char b) {
                          const auto lower = [](char c) {
                              return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
                          };
                          return lower(a) == lower(b);
                      });
}

}  // namespace

std::int32_t ListFolderFiles(std::string_view folder, std::vector<std::string>& names) {
    if (folder.empty()) return FolderFilesNone;
    const std::optional<std::string> resolved = ResolvePath(folder);
    if (!resolved) return FolderFilesNone;
    // ListFolder gives the entries sorted, so the matches come in name order too.
    std::vector<std::string> found;
    for (FolderEntry& entry : ListFolder(*resolved)) {
        if (HasExtension(entry.name)) found.push_back(std::move(entry.name));
    }
    if (found.empty()) return FolderFilesNone;
    names.insert(names.end(), std::make_move_iterator(found.begin()),
                 std::make_move_iterator(found.end()));
    std::sort(names.begin(), names.end());
    return FolderFilesListed;
}
