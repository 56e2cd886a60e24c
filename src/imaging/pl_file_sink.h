#pragma once

// A data sink that becomes a file. The bytes collect in a block of the maximum size; Close
// writes exactly the bytes written to a temporary beside the target and renames it into
// place, so the file ends as long as what was written. A sink destroyed without Close (an
// encoder that threw) leaves the target as it was.

#include "imaging/pl_data_sink.h"
#include "platform/safe_file_writer.h"

#include <cstdint>
#include <vector>

class PLFileSink : public PLDataSink {
public:
    ~PLFileSink() override;

    // Prepares the file for up to maxSize bytes. Returns 0, or 3 when a folder of the path
    // is missing, 5 for denied access, 4 for anything else; errno holds the system's error
    // number for the caller's message. The sink stays closed on failure.
    std::int32_t Open(std::string_view fileName, std::int32_t maxSize);

    // The same for a UTF-16 name, opened as "Wide". A name with a surrogate without its pair
    // names no file: 4, with errno ENOENT.
    std::int32_t OpenWide(std::u16string_view fileName, std::int32_t maxSize);

    // Puts the file in place. Throws PLTextException code 4 with the system's text when the
    // file cannot be written (the target is untouched then); the sink is closed either way.
    void Close() override;

private:
    std::vector<std::uint8_t> block;  // zero-filled, the sink's maximum size
    SafeFileWriter file;
};
