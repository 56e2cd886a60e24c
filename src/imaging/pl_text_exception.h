#pragma once

// The image library's one exception: an integer code and a text. It never leaves the image
// library's front end; callers outside see the codes turned into messages.

#include "imaging/pl_object.h"

#include <cstdint>
#include <string>

// The codes a PLTextException carries.
enum PLErrorCode : std::int32_t {
    PLErrWrongSignature = 1,      // bad file signature or corrupt header
    PLErrFormatUnknown = 2,       // unknown format variant or compression
    PLErrPathNotFound = 3,        // opening the input failed: a folder is missing
    PLErrFileNotFound = 4,        // opening the input failed: anything else
    PLErrAccessDenied = 5,        // opening the input failed: access, sharing or mapping
    PLErrFormatNotSupported = 6,  // format, feature or depth not supported
    PLErrInternal = 7,            // a TIFF scanline in the first third could not be read
    PLErrUnknownFileType = 8,     // "Unknown file type."
    PLErrNoMemory = 10,           // out of memory, or an image too large to hold
    PLErrEndOfFile = 11,          // end of data while decoding, or sink overflow
    PLErrFormatNotCompiled = 12,  // a format whose decoder is not built in
    PLErrNotInitialised = 13,     // the process start-up (ImagingInitProcess) has not run
};

class PLTextException : public PLObject {
public:
    // An exception with one of the PLErr codes and its message.
    PLTextException(std::int32_t code, std::string text);

    std::int32_t GetCode() const { return code; }
    const char* GetText() const { return text.c_str(); }

private:
    std::int32_t code = 0;
    std::string text;
};
