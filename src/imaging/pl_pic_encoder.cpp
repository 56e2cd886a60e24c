#include "imaging/pl_pic_encoder.h"

#include "imaging/imaging_init.h"
#include "imaging/pl_bmp.h"
#include "imaging/pl_bmp_internal.h"
#include "imaging/pl_file_sink.h"
#include "imaging/pl_pic_decoder.h"
#include "imaging/pl_text_exception.h"
#include "imaging/pl_trace.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <string>

void PLPicEncoder::MakeFileFromBmp(std::string_view fileName, const PLBmp& bmp) {
    EncodeToFile(fileName, bmp, [fileName](PLFileSink& sink, std::int32_t maxSize) {
        return sink.Open(fileName, maxSize);
    });
}

void PLPicEncoder::MakeFileFromBmpW(std::u16string_view fileName, const PLBmp& bmp) {
    EncodeToFile(PLWideNameForMessages(fileName), bmp,
                 [fileName](PLFileSink& sink, std::int32_t maxSize) {
                     return sink.OpenWide(fileName, maxSize);
                 });
}

void PLPicEncoder::SaveBmp(const PLBmp& bmp, PLDataSink& sink) {
    ImagingRequireInitialised();
    DoEncode(bmp, sink);
}

std::int64_t PLPicEncoder::MaxEncodedSize(const PLBmp& bmp) {
    const std::int64_t rowBytes = PLRowBytes(bmp.GetWidth(), bmp.GetBitsPerPixel());
    const std::int64_t paddedRow = (rowBytes + 3) / 4 * 4;
    return 2 * paddedRow * bmp.GetHeight() + 4 * bmp.GetPixelFormat().GetPaletteSize() + 65536;
}

void PLPicEncoder::EncodeToFile(
    std::string_view shownName, const PLBmp& bmp,
    const std::function<std::int32_t(PLFileSink&, std::int32_t)>& open) {
    if (PLTraceWants(1)) PLTrace(1, "--- Encoding file " + std::string(shownName) + ". ---\n");
    // Refused before the file is touched.
    ImagingRequireInitialised();
    const std::int64_t maxSize = MaxEncodedSize(bmp);
    if (maxSize > std::numeric_limits<std::int32_t>::max()) {
        PLPicDecoder::RaiseError(PLErrNoMemory, "Image too large to encode.");
    }
    PLFileSink sink;
    const std::int32_t code = open(sink, static_cast<std::int32_t>(maxSize));
    if (code != 0) {
        const std::string errorText = std::strerror(errno);
        PLPicDecoder::RaiseError(code,
                                 "Opening " + std::string(shownName) + " failed: " + errorText);
    }
    SaveBmp(bmp, sink);
    sink.Close();
}
