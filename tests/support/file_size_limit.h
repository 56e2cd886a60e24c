#pragma once

// Lowers the process's file size limit for the life of the object, with SIGXFSZ ignored, so
// a write past the limit fails with EFBIG instead of ending the process. This is how tests
// make a save fail part-way even when they run as the superuser.

#include <signal.h>
#include <sys/resource.h>

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old{};
    sighandler_t oldHandler = SIG_DFL;
};
