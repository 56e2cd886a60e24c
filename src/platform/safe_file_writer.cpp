#include "platform/safe_file_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace {

unsigned int DefaultFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666u & ~static_cast<unsigned int>(mask);
}

}  // namespace

SafeFileWriter::~SafeFileWriter() { Abandon(); }

FileOpenError SafeFileWriter::Open(std::string_view path) {
    Abandon();
    errorNumber = 0;
    std::string target = ResolveWritePath(path);
    unsigned int mode = DefaultFileMode();
    struct stat st;
    if (::stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode) || ::access(target.c_str(), W_OK) != 0) {
            errorNumber = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
            return FileOpenError::AccessDenied;
        }
        mode = static_cast<unsigned int>(st.st_mode) & 07777u;
    }

    std::string temp = target + ".tmp-XXXXXX";
    const int tempFd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (tempFd < 0) {
        errorNumber = errno;
        return FileOpenErrorFromErrno(errorNumber, target);
    }
    fd = tempFd;
    targetPath = std::move(target);
    tempPath = std::move(temp);
    fileMode = mode;
    return FileOpenError::None;
}

bool SafeFileWriter::Write(std::span<const std::uint8_t> bytes) {
    if (fd < 0) {
        if (errorNumber == 0) errorNumber = EBADF;
        return false;
    }
    if (errorNumber != 0) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            errorNumber = put < 0 ? errno : EIO;
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

bool SafeFileWriter::Commit() {
    if (fd < 0) {
        if (errorNumber == 0) errorNumber = EBADF;
        return false;
    }
    int error = errorNumber;
    if (error == 0 && ::fchmod(fd, static_cast<mode_t>(fileMode)) != 0) error = errno;
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    fd = -1;
    if (error == 0 && ::rename(tempPath.c_str(), targetPath.c_str()) != 0) error = errno;
    if (error != 0) ::unlink(tempPath.c_str());
    tempPath.clear();
    targetPath.clear();
    errorNumber = error;
    return error == 0;
}

void SafeFileWriter::Abandon() {
    if (fd >= 0) {
        ::close(fd);
        ::unlink(tempPath.c_str());
        fd = -1;
    }
    tempPath.clear();
    targetPath.clear();
}
