#pragma once

// The whole contents of one file, read into memory. The bytes are copied rather than mapped,
// so a file that another process shortens while a decoder walks it cannot fault the process.

#include "platform/file_system.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <string_view>

// The bytes of one file, read whole. Owns its block; moves, never copies.
class FileBytes {
public:
    FileBytes() = default;
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    // Moving leaves the source empty.
    FileBytes(FileBytes&& other) noexcept;
    FileBytes& operator=(FileBytes&& other) noexcept;

    // Reads the file at path ("\" or "/", case-insensitive when the exact name is missing),
    // replacing what this object held; an empty file gives no bytes. A file of more than
    // maxBytes fails with TooLarge before anything is read, as does one whose block the
    // memory refuses. On failure returns the reason and leaves this object empty;
    // ErrorNumber then tells the system's error number.
    FileOpenError Read(std::string_view path,
                       std::size_t maxBytes = std::numeric_limits<std::size_t>::max());

    // Releases the bytes.
    void Clear();

    bool IsRead() const { return isRead; }
    std::span<const std::uint8_t> Bytes() const { return {bytes.get(), byteCount}; }

    // The system's error number of the last failed Read: EISDIR for a folder, EFBIG for a
    // file over the limit, ENOMEM for a refused block; 0 after a success.
    int ErrorNumber() const { return errorNumber; }

private:
    // The block is not zero-filled first: read() overwrites all of it, and a file that shrank
    // meanwhile presents only the bytes read.
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t byteCount = 0;
    bool isRead = false;
    int errorNumber = 0;
};
