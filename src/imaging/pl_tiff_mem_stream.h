#pragma once

// libtiff over memory, and the record of libtiff's error reports.
//
// libtiff never sees a file handle: every TIFF is read from or written into a memory block
// through client procedures. libtiff is a C library, so nothing may unwind through it: its
// error handler (installed at start-up) only records the report, the procedures report
// failure to libtiff by their results, and the image library's own code checks the record
// after each libtiff call returns and raises its exception there.

#include <cstdint>
#include <memory>

struct tiff;  // libtiff's handle; its header stays inside the image library's sources

// Opens a TIFF stream named "MemSource" over size bytes at data. With usedSize null the
// stream reads the block (mode "r") and never writes it; reads and seeks stay inside the
// block, which libtiff also sees as mapped memory. With usedSize given the stream writes (mode
// "w"): *usedSize starts at 0 and follows the furthest byte libtiff has written or sought to;
// writes past the block are cut short and seeks past it fail, so the block never grows. Returns
// null when libtiff refuses the stream; the error record then holds its report.
tiff* TIFFOpenMem(std::uint8_t* data, std::int32_t size, std::int32_t* usedSize);

// Owner of a libtiff handle: closing writes the directory of a stream open for writing.
struct PLTIFFCloser {
    void operator()(tiff* handle) const;
};
using PLTIFFHandle = std::unique_ptr<tiff, PLTIFFCloser>;

// Installs the error handler (records the report) and the warning handler (records it
// apart; warnings never stop decoding) as libtiff's process-wide handlers, so that nothing
// of libtiff's reaches the process's standard error. Start-up.
void PLTIFFInstallHandlers();

// Forgets that an error was reported; the last text stays.
void PLTIFFClearError();

// True when libtiff reported an error since the last PLTIFFClearError.
bool PLTIFFHasError();

// The text of the last error report, cut to fit the record's 1,024 bytes; empty before
// the first report.
const char* PLTIFFLastError();

// The text of the last warning, cut to 1,024 bytes; empty before the first.
const char* PLTIFFLastWarning();

// Raises the image library's exception for a reported libtiff error: PLTextException code 2
// with "Decoder error: <report>\n", and forgets the report. Does nothing when none was
// reported.
void PLTIFFRaiseIfError();
