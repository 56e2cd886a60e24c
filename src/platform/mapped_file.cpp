#include "platform/mapped_file.h"

#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

// Files handed to the image library are addressed with signed 32-bit sizes.
constexpr std::uint64_t MaxBlockBytes = 0x7FFFFFFF;

FileOpenError ErrorFromErrno(int error) {
    switch (error) {
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

std::string ParentFolder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool FolderExists(const std::string& folder) {
    struct stat st;
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// ENOENT means a missing folder when the parent does not exist, else a missing file.
FileOpenError MissingReason(const std::string& path) {
    return FolderExists(ParentFolder(path)) ? FileOpenError::FileNotFound
                                            : FileOpenError::PathNotFound;
}

// The path to write: an existing file of another case is replaced in place, and a folder
// written with other case is found, as readers find them.
std::string WritePath(std::string_view path) {
    if (std::optional<std::string> existing = ResolvePath(path)) return *existing;
    std::string normal = NormalizeSeparators(path);
    const std::size_t slash = normal.rfind('/');
    if (slash == std::string::npos || slash == 0) return normal;
    if (std::optional<std::string> folder = ResolvePath(normal.substr(0, slash))) {
        return *folder + normal.substr(slash);
    }
    return normal;
}

unsigned int DefaultFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666u & ~static_cast<unsigned int>(mask);
}

}  // namespace

FileOpenError MappedFile::Open(std::string_view path) {
    Close();
    const std::string normal = NormalizeSeparators(path);
    const std::optional<std::string> resolved = ResolvePath(path);
    if (!resolved) return MissingReason(normal);

    const int fd = ::open(resolved->c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? MissingReason(normal) : ErrorFromErrno(errno);

    struct stat st;
    FileOpenError result = FileOpenError::None;
    if (::fstat(fd, &st) != 0) {
        result = ErrorFromErrno(errno);
    } else if (S_ISDIR(st.st_mode)) {
        result = FileOpenError::AccessDenied;
    } else if (st.st_size <= 0) {
        result = FileOpenError::Empty;
    } else if (static_cast<std::uint64_t>(st.st_size) > MaxBlockBytes) {
        result = FileOpenError::TooLarge;
    }
    if (result == FileOpenError::None) {
        try {
            bytes.assign(static_cast<std::size_t>(st.st_size), 0);
        } catch (const std::bad_alloc&) {
            result = FileOpenError::TooLarge;
        }
    }
    std::size_t done = 0;
    while (result == FileOpenError::None && done < bytes.size()) {
        const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            result = ErrorFromErrno(errno);
        } else if (got == 0) {
            // The file shrank since fstat: present what is there.
            bytes.resize(done);
            if (done == 0) result = FileOpenError::Empty;
            break;
        } else {
            done += static_cast<std::size_t>(got);
        }
    }
    ::close(fd);
    if (result != FileOpenError::None) {
        Close();
        return result;
    }
    isOpen = true;
    return FileOpenError::None;
}

void MappedFile::Close() {
    std::vector<std::uint8_t>().swap(bytes);
    isOpen = false;
}

MappedFileWriter::~MappedFileWriter() { Abandon(); }

FileOpenError MappedFileWriter::Create(std::string_view path, std::size_t capacity,
                                       int* errnoValue) {
    Abandon();
    if (errnoValue != nullptr) *errnoValue = 0;
    if (capacity > MaxBlockBytes) return FileOpenError::TooLarge;

    const std::string target = WritePath(path);
    struct stat st;
    unsigned int mode = DefaultFileMode();
    if (::stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode) || ::access(target.c_str(), W_OK) != 0) {
            if (errnoValue != nullptr) *errnoValue = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
            return FileOpenError::AccessDenied;
        }
        mode = static_cast<unsigned int>(st.st_mode) & 07777u;
    }

    std::string temp = target + ".tmp-XXXXXX";
    const int tempFd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (tempFd < 0) {
        const int error = errno;
        if (errnoValue != nullptr) *errnoValue = error;
        return error == ENOENT ? FileOpenError::PathNotFound : ErrorFromErrno(error);
    }
    try {
        block.assign(capacity, 0);
    } catch (const std::bad_alloc&) {
        ::close(tempFd);
        ::unlink(temp.c_str());
        if (errnoValue != nullptr) *errnoValue = ENOMEM;
        return FileOpenError::TooLarge;
    }
    fd = tempFd;
    targetPath = target;
    tempPath = std::move(temp);
    fileMode = mode;
    return FileOpenError::None;
}

bool MappedFileWriter::Commit(std::size_t size, std::string* errorText) {
    if (fd < 0) {
        if (errorText != nullptr) *errorText = "no file is open";
        return false;
    }
    if (size > block.size()) size = block.size();
    std::size_t done = 0;
    int error = 0;
    while (done < size) {
        const ssize_t put = ::write(fd, block.data() + done, size - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            error = put < 0 ? errno : EIO;
            break;
        }
        done += static_cast<std::size_t>(put);
    }
    if (error == 0 && ::fchmod(fd, static_cast<mode_t>(fileMode)) != 0) error = errno;
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    fd = -1;
    if (error == 0 && ::rename(tempPath.c_str(), targetPath.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(tempPath.c_str());
        if (errorText != nullptr) *errorText = std::strerror(error);
    }
    std::vector<std::uint8_t>().swap(block);
    tempPath.clear();
    targetPath.clear();
    return error == 0;
}

void MappedFileWriter::Abandon() {
    if (fd >= 0) {
        ::close(fd);
        ::unlink(tempPath.c_str());
        fd = -1;
    }
    std::vector<std::uint8_t>().swap(block);
    tempPath.clear();
    targetPath.clear();
}
