#include "imaging/pl_tiff_mem_stream.h"

#include "imaging/pl_pic_decoder.h"
#include "imaging/pl_text_exception.h"
#include "imaging/pl_trace.h"

#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// The client record of one memory stream. Positions are kept in 64 bits so that offsets
// libtiff reads from a file cannot wrap before they are checked against the block.
struct MemStream {
    std::uint8_t* base = nullptr;
    std::int64_t position = 0;
    std::int64_t capacity = 0;
    std::int32_t internalUsedSize = 0;
    std::int32_t* usedSize = nullptr;
    bool isWriting = false;
};

MemStream* StreamOf(thandle_t handle) { return static_cast<MemStream*>(handle); }

tmsize_t MemRead(thandle_t handle, void* buffer, tmsize_t count) {
    MemStream* stream = StreamOf(handle);
    if (stream->isWriting || count <= 0) return 0;
    const std::int64_t available = std::max<std::int64_t>(0, stream->capacity - stream->position);
    const std::int64_t n = std::min<std::int64_t>(count, available);
    if (n > 0) {
        std::memcpy(buffer, stream->base + stream->position, static_cast<std::size_t>(n));
    }
    stream->position += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t MemWrite(thandle_t handle, void* buffer, tmsize_t count) {
    MemStream* stream = StreamOf(handle);
    // A read stream lies over a decoder's input, which is never changed.
    if (!stream->isWriting || count <= 0) return 0;
    const std::int64_t available = std::max<std::int64_t>(0, stream->capacity - stream->position);
    const std::int64_t n = std::min<std::int64_t>(count, available);
    if (n > 0) {
        std::memcpy(stream->base + stream->position, buffer, static_cast<std::size_t>(n));
    }
    stream->position += n;
    *stream->usedSize =
        static_cast<std::int32_t>(std::max<std::int64_t>(*stream->usedSize, stream->position));
    return static_cast<tmsize_t>(n);
}

toff_t MemSeek(thandle_t handle, toff_t offset, int whence) {
    MemStream* stream = StreamOf(handle);
    const auto signedOffset = static_cast<std::int64_t>(offset);
    std::int64_t target = 0;
    switch (whence) {
        case SEEK_CUR:
            target = stream->position + signedOffset;
            break;
        case SEEK_END:
            target = *stream->usedSize - signedOffset;
            break;
        default:
            target = signedOffset;
            break;
    }
    // A position outside the block is refused: libtiff checks the result of every seek
    // and reports the offset as corrupt.
    if (target < 0 || target > stream->capacity) return static_cast<toff_t>(-1);
    stream->position = target;
    if (stream->isWriting && target > *stream->usedSize) {
        *stream->usedSize = static_cast<std::int32_t>(target);
    }
    return static_cast<toff_t>(target);
}

int MemClose(thandle_t handle) {
    std::unique_ptr<MemStream> owned(StreamOf(handle));
    return 0;
}

toff_t MemSize(thandle_t handle) { return static_cast<toff_t>(*StreamOf(handle)->usedSize); }

// A read stream presents its block as mapped, so libtiff takes the bytes in place. It also
// avoids libtiff's unmapped path for uncompressed tiles, which refuses tiles that reach past
// the image's edge.
int MemMap(thandle_t handle, void** base, toff_t* size) {
    MemStream* stream = StreamOf(handle);
    if (stream->isWriting) return 0;
    *base = stream->base;
    *size = static_cast<toff_t>(stream->capacity);
    return 1;
}

void MemUnmap(thandle_t, void*, toff_t) {}

// The error record: one buffer for the last report and a flag raised by every report.
struct ErrorRecord {
    std::array<char, 1024> text{};
    bool isRaised = false;
};

ErrorRecord& Errors() {
    static ErrorRecord record;
    return record;
}

// The last warning, kept apart from the errors: a warning never fails a call.
std::array<char, 1024>& LastWarning() {
    static std::array<char, 1024> text{};
    return text;
}

// Formats a report into text; a longer one is cut to the buffer, and vsnprintf always ends
// it.
void FormatReport(std::array<char, 1024>& text, const char* format, va_list args) {
    if (std::vsnprintf(text.data(), text.size(), format, args) < 0) {
        std::snprintf(text.data(), text.size(), "%s", format);
    }
}

void RecordError(const char* /*module*/, const char* format, va_list args) {
    ErrorRecord& record = Errors();
    FormatReport(record.text, format, args);
    record.isRaised = true;
    PLTraceFromCallback(0, {record.text.data(), "\n"});
}

void RecordWarning(const char* module, const char* format, va_list args) {
    FormatReport(LastWarning(), format, args);
    if (module != nullptr) {
        PLTraceFromCallback(2, {"Warning in LIBTIFF(", module, "): ", LastWarning().data(), "\n"});
    } else {
        PLTraceFromCallback(2, {"Warning in LIBTIFF: ", LastWarning().data(), "\n"});
    }
}

}  // namespace

tiff* TIFFOpenMem(std::uint8_t* data, std::int32_t size, std::int32_t* usedSize) {
    if (data == nullptr || size < 0) return nullptr;
    auto stream = std::make_unique<MemStream>();
    stream->base = data;
    stream->capacity = size;
    stream->isWriting = usedSize != nullptr;
    if (stream->isWriting) {
        stream->usedSize = usedSize;
        *usedSize = 0;
    } else {
        stream->internalUsedSize = size;
        stream->usedSize = &stream->internalUsedSize;
    }
    // Once open, the handle owns the record and frees it through the close procedure; a
    // failed open does not call that procedure, so the record is freed here.
    tiff* handle = TIFFClientOpen("MemSource", stream->isWriting ? "w" : "r", stream.get(), MemRead,
                                  MemWrite, MemSeek, MemClose, MemSize, MemMap, MemUnmap);
    if (handle != nullptr) static_cast<void>(stream.release());
    return handle;
}

void PLTIFFCloser::operator()(tiff* handle) const { TIFFClose(handle); }

void PLTIFFInstallHandlers() {
    TIFFSetErrorHandler(RecordError);
    TIFFSetWarningHandler(RecordWarning);
}

void PLTIFFClearError() { Errors().isRaised = false; }

bool PLTIFFHasError() { return Errors().isRaised; }

const char* PLTIFFLastError() { return Errors().text.data(); }

const char* PLTIFFLastWarning() { return LastWarning().data(); }

void PLTIFFRaiseIfError() {
    if (!PLTIFFHasError()) return;
    PLTIFFClearError();
    PLPicDecoder::RaiseError(PLErrFormatUnknown, PLTIFFLastError());
}
