#include "imaging/pl_file_sink.h"

#include "imaging/pl_file_source.h"
#include "imaging/pl_text_exception.h"

#include <cerrno>
#include <string>

PLFileSink::~PLFileSink() {
    file.Abandon();
    PLDataSink::Close();
}

std::int32_t PLFileSink::Open(std::string_view fileName, std::int32_t maxSize) {
    file.Abandon();
    PLDataSink::Close();
    if (maxSize < 0) return PLErrFileNotFound;
    int error = 0;
    const FileOpenError result = file.Create(fileName, static_cast<std::size_t>(maxSize), &error);
    if (result != FileOpenError::None) {
        errno = error;
        return PLFileOpenErrorCode(result);
    }
    OpenBlock(fileName, file.Data(), maxSize);
    return 0;
}

void PLFileSink::Close() {
    if (!file.IsOpen()) {
        PLDataSink::Close();
        return;
    }
    const std::string fileName = GetName();
    const auto size = static_cast<std::size_t>(GetDataSize());
    PLDataSink::Close();
    std::string errorText;
    if (!file.Commit(size, &errorText)) {
        throw PLTextException(PLErrFileNotFound, "Writing " + fileName + " failed: " + errorText);
    }
}
