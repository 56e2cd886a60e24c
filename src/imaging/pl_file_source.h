#pragma once

// A data source over the whole contents of a file.

#include "imaging/pl_data_source.h"
#include "platform/file_bytes.h"

class PLFileSource : public PLDataSource {
public:
    using PLDataSource::PLDataSource;
    ~PLFileSource() override { Close(); }

    // Reads the file and presents it under its name. Returns 0, or 3 when a folder of the
    // path is missing, 5 for denied access or an empty or unreadably large file, 4 for
    // anything else (a missing file among them); the source stays closed on failure.
    std::int32_t Open(std::string_view fileName);

    // The same for a UTF-16 name, presented as "Wide". A name with a surrogate without its
    // pair names no file: 4.
    std::int32_t OpenWide(std::u16string_view fileName);

    void Close() override;

private:
    FileBytes file;
};

// The library's code for a failed file open: 3 path not found, 5 access denied or no usable
// block, 4 anything else (0 for None).
std::int32_t PLFileOpenErrorCode(FileOpenError error);
