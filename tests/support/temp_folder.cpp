#include "support/temp_folder.h"

#include <stdlib.h>

#include <fstream>
#include <stdexcept>

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orbelle-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

std::string TempFolder::WriteFile(std::string_view relative, std::string_view contents) const {
    const std::filesystem::path file = path / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    return file.string();
}

std::string TempFolder::MakeFolder(std::string_view relative) const {
    const std::filesystem::path folder = path / relative;
    std::filesystem::create_directories(folder);
    return folder.string();
}
