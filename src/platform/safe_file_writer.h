#pragma once

// A save that never destroys. The bytes go to a temporary file beside the target, which is
// renamed over the target only when every write, the flush to disk and the rename succeed;
// a failed or abandoned save removes the temporary and leaves the target as it was. The
// target keeps its permission bits, and a new file gets the process's default mode.

#include "platform/file_system.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

class SafeFileWriter {
public:
    SafeFileWriter() = default;
    SafeFileWriter(const SafeFileWriter&) = delete;
    SafeFileWriter& operator=(const SafeFileWriter&) = delete;

    // Abandons a save that was not committed.
    ~SafeFileWriter();

    // Creates the temporary for the file at path ("\" or "/"; an existing file or folder of
    // other case is found as readers find it), abandoning any save in progress. Creating it
    // at once reports a missing folder, a read-only target or a folder in the target's place
    // before any work is done. On failure returns the reason and leaves the writer closed;
    // ErrorNumber then tells the system's error number.
    FileOpenError Open(std::string_view path);

    // Appends bytes to the temporary. Returns false when the writer is not open or writing
    // fails; a failed writer stays failed, and its Commit fails.
    bool Write(std::span<const std::uint8_t> bytes);

    // Puts the written file in place. Returns false, with ErrorNumber set, when the writer
    // was not open or a write, the flush or the rename failed; the temporary is then removed
    // and the target untouched. The writer is closed afterwards either way.
    bool Commit();

    // Removes the temporary; the target is untouched.
    void Abandon();

    bool IsOpen() const { return fd >= 0; }

    // The system's error number of the last failure; 0 while none has happened since Open.
    int ErrorNumber() const { return errorNumber; }

private:
    std::string targetPath;
    std::string tempPath;
    unsigned int fileMode = 0;
    int fd = -1;
    int errorNumber = 0;
};
