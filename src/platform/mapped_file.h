#pragma once

// Whole-file memory images for the image library: a reader that presents a file as one
// block of bytes, and a writer that collects a file in one block of fixed maximum size and
// puts it in place only when the caller commits it.
//
// Reading copies the file into memory rather than mapping it, so a file that another
// process shortens while a decoder walks it cannot fault the process. Writing goes to a
// temporary file beside the target that is renamed over the target on commit, so a failed
// or abandoned save leaves the old file as it was.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Why a file could not be opened or created.
enum class FileOpenError {
    None,
    PathNotFound,  // a folder on the way does not exist
    FileNotFound,  // the folder exists, the file does not
    AccessDenied,  // permissions, a folder where a file was expected, a read-only target
    Empty,         // the file holds no bytes, so there is nothing to present
    TooLarge,      // the file or requested block does not fit the 32-bit sizes of its users
    Other,         // any other failure of the system
};

// The bytes of one file, read whole. Owns its block; moves, never copies.
class MappedFile {
public:
    MappedFile() = default;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    MappedFile(MappedFile&&) = default;
    MappedFile& operator=(MappedFile&&) = default;

    // Reads the file at path ("\" or "/", case-insensitive when the exact name is missing).
    // On failure returns the reason and leaves this object empty.
    FileOpenError Open(std::string_view path);

    // Releases the bytes.
    void Close();

    bool IsOpen() const { return isOpen; }
    std::span<const std::uint8_t> Bytes() const { return bytes; }

private:
    std::vector<std::uint8_t> bytes;
    bool isOpen = false;
};

// A file written through one zero-filled block of fixed capacity. Create makes the
// temporary file at once (so a missing folder or a read-only target is reported before any
// work is done); Commit writes the first size bytes and renames the temporary over the
// target; the destructor of an uncommitted writer removes the temporary.
class MappedFileWriter {
public:
    MappedFileWriter() = default;
    MappedFileWriter(const MappedFileWriter&) = delete;
    MappedFileWriter& operator=(const MappedFileWriter&) = delete;
    ~MappedFileWriter();

    // Prepares a block of capacity bytes for the file at path. On failure returns the reason
    // and leaves this object closed; errnoValue receives the system's error number (0 when
    // the failure is not the system's).
    FileOpenError Create(std::string_view path, std::size_t capacity, int* errnoValue = nullptr);

    std::uint8_t* Data() { return block.data(); }
    std::size_t Capacity() const { return block.size(); }
    bool IsOpen() const { return fd >= 0; }

    // Writes the first size bytes (at most the capacity) and puts the file in place. Returns
    // false, with the system's error text in errorText, when writing or renaming fails; the
    // target is then untouched. The writer is closed afterwards either way.
    bool Commit(std::size_t size, std::string* errorText);

    // Drops the block and removes the temporary file; the target is untouched.
    void Abandon();

private:
    std::vector<std::uint8_t> block;
    std::string targetPath;
    std::string tempPath;
    unsigned int fileMode = 0;
    int fd = -1;
};
