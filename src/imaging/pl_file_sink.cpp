#include "imaging/pl_file_sink.h"

#include "imaging/pl_file_source.h"
#include "imaging/pl_text_exception.h"
#include "platform/wide_path.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <span>
#include <string>

namespace {

void ReleaseBlock(std::vector<std::uint8_t>& block) { std::vector<std::uint8_t>().swap(block); }

}  // namespace

PLFileSink::~PLFileSink() {
    file.Abandon();
    PLDataSink::Close();
}

std::int32_t PLFileSink::Open(std::string_view fileName, std::int32_t maxSize) {
    file.Abandon();
    PLDataSink::Close();
    ReleaseBlock(block);
    if (maxSize < 0) return PLErrFileNotFound;
    const FileOpenError result = file.Open(fileName);
    if (result != FileOpenError::None) {
        errno = file.ErrorNumber();
        return PLFileOpenErrorCode(result);
    }
    try {
        block.assign(static_cast<std::size_t>(maxSize), 0);
    } catch (const std::bad_alloc&) {
        file.Abandon();
        errno = ENOMEM;
        return PLErrAccessDenied;
    }
    OpenBlock(fileName, block.data(), maxSize);
    return 0;
}

std::int32_t PLFileSink::OpenWide(std::u16string_view fileName, std::int32_t maxSize) {
    const std::optional<std::string> path = WidePathToUtf8(fileName);
    if (!path) {
        file.Abandon();
        PLDataSink::Close();
        ReleaseBlock(block);
        errno = ENOENT;
        return PLErrFileNotFound;
    }
    const std::int32_t code = Open(*path, maxSize);
    if (code == 0) NameWide(fileName);
    return code;
}

void PLFileSink::Close() {
    if (!file.IsOpen()) {
        PLDataSink::Close();
        return;
    }
    const std::string fileName = IsWide() ? WidePathForDisplay(GetWideName()) : GetName();
    const auto size = static_cast<std::size_t>(GetDataSize());
    PLDataSink::Close();
    const bool isWritten = file.Write(std::span(block).first(size)) && file.Commit();
    file.Abandon();
    ReleaseBlock(block);
    if (!isWritten) {
        throw PLTextException(PLErrFileNotFound, "Writing " + fileName + " failed: " +
                                                     std::strerror(file.ErrorNumber()));
    }
}
