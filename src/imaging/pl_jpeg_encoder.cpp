#include "imaging/pl_jpeg_encoder.h"

#include "imaging/pl_bmp.h"
#include "imaging/pl_data_sink.h"
#include "imaging/pl_exif.h"
#include "imaging/pl_jpeg_internal.h"
#include "imaging/pl_pic_decoder.h"
#include "imaging/pl_text_exception.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace {

constexpr int ExifMarker = JPEG_APP0 + 1;
constexpr std::size_t OutputBufferSize = 8192;
constexpr JDIMENSION MaxRowsPerWrite = 32;

// libjpeg's destination record with the sink it writes to. The library's field comes first
// so that the library's pointer converts back to this record.
struct JPEGDestination {
    jpeg_destination_mgr library{};
    PLDataSink* sink = nullptr;
    JOCTET* buffer = nullptr;
    // The sink's exception while libjpeg is still on the stack; thrown once it has returned.
    std::exception_ptr pendingError;
};

JPEGDestination& DestinationOf(j_compress_ptr info) {
    return *reinterpret_cast<JPEGDestination*>(info->dest);
}

void JPEGInitDestination(j_compress_ptr info) {
    JPEGDestination& destination = DestinationOf(info);
    destination.buffer = static_cast<JOCTET*>((*info->mem->alloc_small)(
        reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE, OutputBufferSize));
    destination.library.next_output_byte = destination.buffer;
    destination.library.free_in_buffer = OutputBufferSize;
}

// Hands the first count bytes of the buffer to the sink. A sink that refuses them throws;
// the exception is kept and libjpeg's write error ends the compression, so nothing unwinds
// through libjpeg.
void WriteToSink(j_compress_ptr info, std::size_t count) {
    JPEGDestination& destination = DestinationOf(info);
    bool isWritten = false;
    try {
        destination.sink->WriteBytes(destination.buffer, static_cast<std::int32_t>(count));
        isWritten = true;
    } catch (...) {
        destination.pendingError = std::current_exception();
    }
    if (!isWritten) {
        info->err->msg_code = JERR_FILE_WRITE;
        (*info->err->error_exit)(reinterpret_cast<j_common_ptr>(info));
    }
}

boolean JPEGEmptyOutputBuffer(j_compress_ptr info) {
    WriteToSink(info, OutputBufferSize);
    JPEGDestination& destination = DestinationOf(info);
    destination.library.next_output_byte = destination.buffer;
    destination.library.free_in_buffer = OutputBufferSize;
    return TRUE;
}

void JPEGTermDestination(j_compress_ptr info) {
    const std::size_t used = OutputBufferSize - DestinationOf(info).library.free_in_buffer;
    if (used > 0) WriteToSink(info, used);
}

}  // namespace

struct PLJPEGEncoder::State {
    State() = default;
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    ~State() { jpeg_destroy_compress(&info); }

    jpeg_compress_struct info{};
    PLJPEGErrorManager errors;
    JPEGDestination destination;
};

PLJPEGEncoder::PLJPEGEncoder() : state(std::make_unique<State>()) {
    jpeg_compress_struct& info = state->info;
    info.err = JPEGInitErrorManager(state->errors);
    auto create = [&info] { jpeg_CreateCompress(&info, JPEG_LIB_VERSION, sizeof(info)); };
    if (!JPEGRun(state->errors, create)) JPEGRaiseError(state->errors);
    state->destination.library.init_destination = JPEGInitDestination;
    state->destination.library.empty_output_buffer = JPEGEmptyOutputBuffer;
    state->destination.library.term_destination = JPEGTermDestination;
}

PLJPEGEncoder::~PLJPEGEncoder() = default;

void PLJPEGEncoder::SetExif(const PLExif& exif) {
    const auto block = exif.GetRawData();
    exifBlock.assign(block.begin(), block.end());
}

void PLJPEGEncoder::DoEncode(const PLBmp& bmp, PLDataSink& sink) {
    // The Exif block serves this encode only, whatever its outcome.
    const std::vector<std::uint8_t> exif = std::exchange(exifBlock, {});
    if (bmp.GetBitsPerPixel() != 32) {
        PLPicDecoder::RaiseError(PLErrFormatNotSupported,
                                 "JPEG files are written from 32-bit bitmaps only.");
    }

    jpeg_compress_struct& info = state->info;
    JPEGDestination& destination = state->destination;
    destination.sink = &sink;
    destination.pendingError = nullptr;
    info.dest = &destination.library;

    info.image_width = static_cast<JDIMENSION>(bmp.GetWidth());
    info.image_height = static_cast<JDIMENSION>(bmp.GetHeight());
    info.input_components = 4;
    info.in_color_space = JCS_EXT_BGRX;

    const PLPoint resolution = bmp.GetResolution();
    const auto height = static_cast<JDIMENSION>(bmp.GetHeight());
    JSAMPARRAY rows = const_cast<JSAMPARRAY>(bmp.GetLineArray());
    auto encode = [&] {
        jpeg_set_defaults(&info);
        info.X_density = static_cast<UINT16>(resolution.x);
        info.Y_density = static_cast<UINT16>(resolution.y);
        info.dct_method = JDCT_FLOAT;
        if (quality != 0) jpeg_set_quality(&info, quality, TRUE);
        info.optimize_coding = isOptimizeCoding ? TRUE : FALSE;
        info.smoothing_factor = smoothingFactor;
        if (densityX != 0 || densityY != 0) {
            info.density_unit = 1;
            info.X_density = static_cast<UINT16>(densityX);
            info.Y_density = static_cast<UINT16>(densityY);
        }
        jpeg_start_compress(&info, TRUE);
        if (!exif.empty()) {
            jpeg_write_marker(&info, ExifMarker, exif.data(),
                              static_cast<unsigned int>(exif.size()));
        }
        JDIMENSION done = 0;
        while (done < height) {
            const JDIMENSION wanted = std::min(MaxRowsPerWrite, height - done);
            const JDIMENSION taken = jpeg_write_scanlines(&info, rows + done, wanted);
            if (taken == 0) break;
            done += std::min(taken, height - done);
        }
        jpeg_finish_compress(&info);
    };
    const bool isEncoded = JPEGRun(state->errors, encode);
    destination.sink = nullptr;
    if (!isEncoded) {
        jpeg_abort_compress(&info);
        if (destination.pendingError)
            std::rethrow_exception(std::exchange(destination.pendingError, nullptr));
        JPEGRaiseError(state->errors);
    }
}
