#include "imaging/pl_jpeg_decoder.h"

#include "core/check.h"
#include "imaging/pl_bmp.h"
#include "imaging/pl_data_source.h"
#include "imaging/pl_exif.h"
#include "imaging/pl_jpeg_internal.h"

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <exception>
#include <utility>

namespace {

constexpr int ExifMarker = JPEG_APP0 + 1;
constexpr unsigned int MaxSavedMarkerLength = 0xFFFF;
constexpr JDIMENSION MaxRowsPerRead = 32;

// What libjpeg reads once the data is used up: an end-of-image marker.
constexpr JOCTET FakeEndOfImage[] = {0xFF, JPEG_EOI};

void JPEGInitSource(j_decompress_ptr /*info*/) {}

void JPEGTermSource(j_decompress_ptr /*info*/) {}

// The whole file is in the buffer from the start, so running out means the file ended
// early: libjpeg warns and sees the end of the image.
void FeedEndOfImage(j_decompress_ptr info) {
    info->err->msg_code = JWRN_JPEG_EOF;
    (*info->err->emit_message)(reinterpret_cast<j_common_ptr>(info), -1);
    info->src->next_input_byte = FakeEndOfImage;
    info->src->bytes_in_buffer = sizeof(FakeEndOfImage);
}

boolean JPEGFillInputBuffer(j_decompress_ptr info) {
    FeedEndOfImage(info);
    return TRUE;
}

void JPEGSkipInputData(j_decompress_ptr info, long byteCount) {
    if (byteCount <= 0) return;
    jpeg_source_mgr* source = info->src;
    if (static_cast<unsigned long>(byteCount) < source->bytes_in_buffer) {
        source->next_input_byte += byteCount;
        source->bytes_in_buffer -= static_cast<std::size_t>(byteCount);
    } else {
        FeedEndOfImage(info);
    }
}

// The progress record libjpeg calls back through. The library's part comes first, so that its
// pointer converts back to the record.
struct ProgressRecord {
    jpeg_progress_mgr library{};
    PLDataSource* source = nullptr;  // told the progress; null while no file is open
    PLJPEGErrorManager* errors = nullptr;
    // What the source's receiver threw to abandon the decode, rethrown once libjpeg is out.
    std::exception_ptr abandon;
};

// Reports the share of the decode done: libjpeg's passes (reading a multi-scan file is one,
// writing the rows another) each count alike. A receiver that throws abandons the decode: the
// exception is kept and libjpeg left the way its errors leave it, for no exception may pass
// through its frames.
void JPEGProgressMonitor(j_common_ptr info) {
    auto* record = reinterpret_cast<ProgressRecord*>(info->progress);
    const jpeg_progress_mgr& progress = record->library;
    if (record->source == nullptr || progress.pass_limit <= 0 || progress.total_passes <= 0) {
        return;
    }
    const double fraction = (static_cast<double>(progress.pass_counter) / progress.pass_limit +
                             progress.completed_passes) /
                            progress.total_passes;
    bool isAbandoned = false;
    try {
        record->source->ReportProgress(std::min(fraction, 1.0));
    } catch (...) {
        record->abandon = std::current_exception();
        isAbandoned = true;
    }
    if (isAbandoned) std::longjmp(record->errors->jumpBuffer, 1);
}

}  // namespace

struct PLJPEGDecoder::State {
    State() = default;
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    ~State() { jpeg_destroy_decompress(&info); }

    jpeg_decompress_struct info{};
    PLJPEGErrorManager errors;
    jpeg_source_mgr source{};
    ProgressRecord progress;

    void Abort() { jpeg_abort_decompress(&info); }

    // After a guarded libjpeg call failed: aborts the library and throws what the progress
    // receiver threw, else the library's error.
    [[noreturn]] void AbortAndRaise() {
        Abort();
        if (progress.abandon) std::rethrow_exception(std::exchange(progress.abandon, nullptr));
        JPEGRaiseError(errors);
    }
};

PLJPEGDecoder::PLJPEGDecoder() : state(std::make_unique<State>()) {
    jpeg_decompress_struct& info = state->info;
    info.err = JPEGInitErrorManager(state->errors);
    auto create = [&info] { jpeg_CreateDecompress(&info, JPEG_LIB_VERSION, sizeof(info)); };
    if (!JPEGRun(state->errors, create)) JPEGRaiseError(state->errors);
    state->source.init_source = JPEGInitSource;
    state->source.fill_input_buffer = JPEGFillInputBuffer;
    state->source.skip_input_data = JPEGSkipInputData;
    state->source.resync_to_restart = jpeg_resync_to_restart;
    state->source.term_source = JPEGTermSource;
    state->progress.library.progress_monitor = JPEGProgressMonitor;
    state->progress.errors = &state->errors;
}

PLJPEGDecoder::~PLJPEGDecoder() = default;

void PLJPEGDecoder::Open(PLDataSource* source) {
    ORBELLE_CHECK(source != nullptr);
    exif.reset();
    jpeg_decompress_struct& info = state->info;
    state->Abort();
    JPEGClearWarnings(state->errors);

    // libjpeg reads straight from the source's memory, from its position to its end.
    state->source.next_input_byte = source->GetCurrentPtr();
    state->source.bytes_in_buffer = static_cast<std::size_t>(source->GetBytesLeft());
    info.src = &state->source;
    state->progress.source = source;
    info.progress = &state->progress.library;

    auto readHeader = [&info] {
        jpeg_save_markers(&info, ExifMarker, MaxSavedMarkerLength);
        jpeg_read_header(&info, TRUE);
    };
    if (!JPEGRun(state->errors, readHeader)) state->AbortAndRaise();

    // Huffman-coded data takes a bit at the least for each 8 x 8 block of each component (a
    // zero DC difference), so a header claiming more blocks than the data left has bits is
    // refused before the bitmap is made. Arithmetic coding can take less than a bit a block;
    // its images are bounded by the bitmap's limits alone.
    if (!info.arith_code) {
        std::uint64_t blockCount = 0;
        for (int c = 0; c < info.num_components; ++c) {
            const jpeg_component_info& component = info.comp_info[c];
            blockCount += std::uint64_t{component.width_in_blocks} * component.height_in_blocks;
        }
        if (blockCount > std::uint64_t{state->source.bytes_in_buffer} * 8) {
            state->Abort();
            PLDataSource::ThrowEndOfFile();
        }
    }

    // The last APP1 marker carries the Exif block.
    exif = std::make_unique<PLExif>();
    jpeg_saved_marker_ptr exifMarker = nullptr;
    for (jpeg_saved_marker_ptr marker = info.marker_list; marker != nullptr;
         marker = marker->next) {
        if (marker->marker == ExifMarker) exifMarker = marker;
    }
    if (exifMarker != nullptr) exif->ReadData({exifMarker->data, exifMarker->data_length});

    const PLPixelFormat& pixelFormat =
        info.out_color_space == JCS_GRAYSCALE ? PLPixelFormat::L8 : PLPixelFormat::X8R8G8B8;

    // Densities of 1 x 1 only give the aspect ratio; dots per centimetre become dots per
    // inch.
    PLPoint resolution{info.X_density, info.Y_density};
    if (info.X_density == 1 || info.Y_density == 1) resolution = {0, 0};
    if (info.density_unit == 2) {
        resolution.x = static_cast<std::int32_t>(resolution.x * 2.54);
        resolution.y = static_cast<std::int32_t>(resolution.y * 2.54);
    }
    SetInfo(
        {static_cast<std::int32_t>(info.image_width), static_cast<std::int32_t>(info.image_height)},
        resolution, pixelFormat);
}

void PLJPEGDecoder::GetImage(PLBmp& bmp) {
    jpeg_decompress_struct& info = state->info;
    const bool isGrey = GetPixelFormat() == PLPixelFormat::L8;
    ORBELLE_CHECK(bmp.GetWidth() == GetWidth() && bmp.GetHeight() == GetHeight());
    ORBELLE_CHECK(bmp.GetPixelFormat() == GetPixelFormat());

    if (isFastDecoding) info.do_fancy_upsampling = FALSE;
    info.dct_method = JDCT_FLOAT;
    // Colour rows are blue, green, red and a fourth byte; libjpeg's BGRA output sets that
    // byte to 255, where its BGRX output would leave it undefined.
    if (!isGrey) info.out_color_space = JCS_EXT_BGRA;

    const auto height = static_cast<JDIMENSION>(GetHeight());
    JSAMPARRAY rows = const_cast<JSAMPARRAY>(bmp.GetLineArray());
    auto decode = [&info, rows, height, isGrey] {
        jpeg_start_decompress(&info);
        if (isGrey) {
            while (info.output_scanline < height) {
                if (jpeg_read_scanlines(&info, rows + info.output_scanline, 1) == 0) break;
            }
        } else {
            JDIMENSION done = 0;
            while (done < height) {
                const JDIMENSION wanted = std::min(MaxRowsPerRead, height - done);
                const JDIMENSION got = jpeg_read_scanlines(&info, rows + done, wanted);
                if (got == 0) break;
                done += std::min(got, height - done);
            }
        }
        jpeg_finish_decompress(&info);
    };
    if (!JPEGRun(state->errors, decode)) state->AbortAndRaise();
}

void PLJPEGDecoder::Close() {
    exif.reset();
    // A file opened but never decoded leaves libjpeg inside the image; aborting returns it
    // to its start so that the next Open can read a header.
    state->Abort();
    state->progress.source = nullptr;
    PLPicDecoder::Close();
}

long PLJPEGDecoder::GetWarningCount() const { return state->errors.library.num_warnings; }

const char* PLJPEGDecoder::GetLastWarning() const { return state->errors.lastWarning; }
