#include "imaging/pl_file_source.h"

#include "imaging/pl_text_exception.h"
#include "platform/wide_path.h"

#include <cstddef>
#include <optional>
#include <string>

namespace {

// Sources are addressed with signed 32-bit sizes.
constexpr std::size_t MaxFileBytes = 0x7FFFFFFF;

}  // namespace

std::int32_t PLFileOpenErrorCode(FileOpenError error) {
    switch (error) {
        case FileOpenError::None:
            return 0;
        case FileOpenError::PathNotFound:
            return PLErrPathNotFound;
        case FileOpenError::AccessDenied:
        case FileOpenError::TooLarge:
            return PLErrAccessDenied;
        case FileOpenError::FileNotFound:
        case FileOpenError::Other:
            break;
    }
    return PLErrFileNotFound;
}

std::int32_t PLFileSource::Open(std::string_view fileName) {
    Close();
    const FileOpenError error = file.Read(fileName, MaxFileBytes);
    if (error != FileOpenError::None) return PLFileOpenErrorCode(error);
    const auto bytes = file.Bytes();
    // An empty file has no block to present.
    if (bytes.empty()) {
        file.Clear();
        return PLErrAccessDenied;
    }
    OpenBlock(fileName, bytes.data(), static_cast<std::int32_t>(bytes.size()));
    return 0;
}

std::int32_t PLFileSource::OpenWide(std::u16string_view fileName) {
    Close();
    const std::optional<std::string> path = WidePathToUtf8(fileName);
    if (!path) return PLErrFileNotFound;
    const std::int32_t code = Open(*path);
    if (code == 0) NameWide(fileName);
    return code;
}

void PLFileSource::Close() {
    PLDataSource::Close();
    file.Clear();
}
