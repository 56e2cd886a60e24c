#pragma once

// A fresh folder under the system's temporary folder, removed with everything in it when the
// fixture goes out of scope.

#include <filesystem>
#include <string>
#include <string_view>

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path; }
    std::string Str() const { return path.string(); }

    // Writes a file (creating its folders) and returns its full path.
    std::string WriteFile(std::string_view relative, std::string_view contents) const;
    std::string MakeFolder(std::string_view relative) const;

private:
    std::filesystem::path path;
};
