#include "platform/file_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <utility>

FileBytes::FileBytes(FileBytes&& other) noexcept { *this = std::move(other); }

FileBytes& FileBytes::operator=(FileBytes&& other) noexcept {
    if (this != &other) {
        bytes = std::move(other.bytes);
        byteCount = std::exchange(other.byteCount, 0);
        isRead = std::exchange(other.isRead, false);
        errorNumber = std::exchange(other.errorNumber, 0);
    }
    return *this;
}

FileOpenError FileBytes::Read(std::string_view path, std::size_t maxBytes) {
    Clear();
    const std::string diskPath = ResolveWritePath(path);
    const int fd = ::open(diskPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        errorNumber = errno;
        return FileOpenErrorFromErrno(errorNumber, diskPath);
    }

    struct stat st;
    int error = 0;
    FileOpenError result = FileOpenError::None;
    if (::fstat(fd, &st) != 0) {
        error = errno;
    } else if (S_ISDIR(st.st_mode)) {
        error = EISDIR;
    } else if (st.st_size > 0 && static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        error = EFBIG;
        result = FileOpenError::TooLarge;
    }
    if (error == 0 && st.st_size > 0) {
        try {
            byteCount = static_cast<std::size_t>(st.st_size);
            bytes = std::make_unique_for_overwrite<std::uint8_t[]>(byteCount);
        } catch (const std::bad_alloc&) {
            error = ENOMEM;
            result = FileOpenError::TooLarge;
        }
    }
    std::size_t done = 0;
    while (error == 0 && done < byteCount) {
        const ssize_t got = ::read(fd, bytes.get() + done, byteCount - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = errno;
        } else if (got == 0) {
            // The file shrank since fstat: present what is there.
            byteCount = done;
        } else {
            done += static_cast<std::size_t>(got);
        }
    }
    ::close(fd);
    if (error != 0) {
        Clear();
        errorNumber = error;
        return result != FileOpenError::None ? result : FileOpenErrorFromErrno(error, diskPath);
    }
    isRead = true;
    return FileOpenError::None;
}

void FileBytes::Clear() {
    bytes.reset();
    byteCount = 0;
    isRead = false;
    errorNumber = 0;
}
