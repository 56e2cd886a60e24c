#include "imaging/image_file.h"

#include "core/byte_order.h"
#include "core/private_heap.h"
#include "image_inputs.h"
#include "peer_ratio.h"

#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

// jpeglib.h uses size_t and FILE without declaring them, so it comes after the standard headers.
#include <jpeglib.h>

namespace {

constexpr std::int32_t Side = 1024;

// An "argb" texture with smooth gradients, some texture and varying alpha, like a painted
// texture with a cut-out.
std::vector<std::uint8_t> MakePixels() {
    std::vector<std::uint8_t> pixels(4 * static_cast<std::size_t>(Side) * Side);
    for (std::int32_t y = 0; y < Side; ++y) {
        for (std::int32_t x = 0; x < Side; ++x) {
            std::uint8_t* p = pixels.data() + 4 * (static_cast<std::size_t>(y) * Side + x);
            p[0] = static_cast<std::uint8_t>(x * 255 / Side);
            p[1] = static_cast<std::uint8_t>(y * 255 / Side);
            p[2] = static_cast<std::uint8_t>((x ^ y) & 0xFF);
            p[3] = static_cast<std::uint8_t>(((x / 64 + y / 64) & 1) != 0 ? 255 : 128);
        }
    }
    return pixels;
}

void BM_EncodeTiffToMemory(benchmark::State& state) {
    const std::vector<std::uint8_t> pixels = MakePixels();
    for (auto _ : state) {
        std::uint32_t size = 0;
        std::uint8_t* tiff =
            EncodeTiffToMemory("argb", pixels.data(), Side, Side, 4 * Side, true, 1, size);
        benchmark::DoNotOptimize(tiff);
        PrivateFree(tiff);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(pixels.size()));
}
BENCHMARK(BM_EncodeTiffToMemory)->Unit(benchmark::kMillisecond);

void BM_DecodeTiffFromMemory(benchmark::State& state) {
    const std::vector<std::uint8_t> pixels = MakePixels();
    std::uint32_t size = 0;
    std::uint8_t* tiff =
        EncodeTiffToMemory("argb", pixels.data(), Side, Side, 4 * Side, true, 1, size);
    for (auto _ : state) {
        std::int32_t width = 0;
        std::int32_t height = 0;
        std::int32_t samples = 0;
        std::uint8_t* decoded = DecodeTiffFromMemory(tiff, static_cast<std::int32_t>(size), "argb",
                                                     width, height, samples);
        benchmark::DoNotOptimize(decoded);
        PrivateFree(decoded);
    }
    PrivateFree(tiff);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(pixels.size()));
}
BENCHMARK(BM_DecodeTiffFromMemory)->Unit(benchmark::kMillisecond);

// Loading whole image files through the front end, each beside its peer: libjpeg decoding
// to BGRA with the decoder's settings (float DCT, plain upsampling), libtiff's
// TIFFReadRGBAImage, and for BMP and TGA a plain read of the file and a copy of its pixel
// bytes. Every side reads its file anew (from the page cache) and frees its result.

struct Pixels {
    std::uint8_t* words = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

Pixels LoadThroughFrontEnd(const std::string& path) {
    Pixels result;
    std::int32_t stride = 0;
    bool premultiplied = false;
    std::string errorText;
    if (LoadImageFile("argb", result.width, result.words, path, nullptr, 0, premultiplied,
                      result.height, stride, errorText) != ImageFileOk) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), errorText.c_str());
        std::abort();
    }
    return result;
}

struct FileBlock {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t size = 0;
};

// The file read with open, fstat and read into a block that is not cleared first.
FileBlock PlainRead(const std::string& path) {
    FileBlock file;
    const int fd = ::open(path.c_str(), O_RDONLY);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) std::abort();
    file.size = static_cast<std::size_t>(st.st_size);
    file.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(file.size);
    for (std::size_t done = 0; done < file.size;) {
        const ssize_t got = ::read(fd, file.bytes.get() + done, file.size - done);
        if (got <= 0) std::abort();
        done += static_cast<std::size_t>(got);
    }
    ::close(fd);
    return file;
}

std::unique_ptr<std::uint8_t[]> LibjpegDecode(const std::string& path, std::int32_t& width,
                                              std::int32_t& height) {
    const FileBlock file = PlainRead(path);
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.bytes.get(), static_cast<unsigned long>(file.size));
    jpeg_read_header(&info, TRUE);
    info.dct_method = JDCT_FLOAT;
    info.do_fancy_upsampling = FALSE;
    info.out_color_space = JCS_EXT_BGRA;
    jpeg_start_decompress(&info);
    width = static_cast<std::int32_t>(info.output_width);
    height = static_cast<std::int32_t>(info.output_height);
    const std::size_t rowBytes = 4 * static_cast<std::size_t>(width);
    auto pixels = std::make_unique_for_overwrite<std::uint8_t[]>(rowBytes * height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.get() + rowBytes * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return pixels;
}

std::unique_ptr<std::uint32_t[]> LibtiffDecode(const std::string& path, std::uint32_t& width,
                                               std::uint32_t& height) {
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr) std::abort();
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    auto raster = std::make_unique_for_overwrite<std::uint32_t[]>(std::size_t{width} * height);
    if (TIFFReadRGBAImage(tif, width, height, raster.get(), 0) == 0) std::abort();
    TIFFClose(tif);
    return raster;
}

// The file read and its pixel bytes (all but the header) copied into a new block.
std::unique_ptr<std::uint8_t[]> ReadAndCopy(const std::string& path, std::size_t headerBytes) {
    const FileBlock file = PlainRead(path);
    const std::size_t count = file.size - headerBytes;
    auto copy = std::make_unique_for_overwrite<std::uint8_t[]>(count);
    std::memcpy(copy.get(), file.bytes.get() + headerBytes, count);
    return copy;
}

// The front end's load of path beside peer. With a reference (the peer's pixels as "argb"
// words, rows top-down), the front end's pixels are first checked to be the same bytes.
template <class Peer>
void LoadBesidePeer(benchmark::State& state, const std::string& path, Peer& peer,
                    const std::vector<std::uint8_t>* reference) {
    if (reference != nullptr) {
        const Pixels check = LoadThroughFrontEnd(path);
        const std::size_t count = 4 * static_cast<std::size_t>(check.width) * check.height;
        const bool isSame = reference->size() == count &&
                            std::memcmp(check.words, reference->data(), count) == 0;
        PrivateFree(check.words);
        if (!isSame) {
            state.SkipWithError("the front end's pixels differ from the peer's");
            return;
        }
    }
    auto ours = [&] {
        const Pixels pixels = LoadThroughFrontEnd(path);
        benchmark::DoNotOptimize(pixels.words);
        PrivateFree(pixels.words);
    };
    RunBesidePeer(state, ours, peer);
}

void BM_LoadJpegVsLibjpeg(benchmark::State& state) {
    const std::string& path = TemporaryBenchImageFiles().jpeg;
    auto peer = [&] {
        std::int32_t width = 0;
        std::int32_t height = 0;
        benchmark::DoNotOptimize(LibjpegDecode(path, width, height));
    };
    // The front end decodes with libjpeg's own settings, so the pixels are the same bytes.
    std::int32_t width = 0;
    std::int32_t height = 0;
    const auto decoded = LibjpegDecode(path, width, height);
    const std::vector<std::uint8_t> reference(
        decoded.get(), decoded.get() + 4 * static_cast<std::size_t>(width) * height);
    LoadBesidePeer(state, path, peer, &reference);
}
BENCHMARK(BM_LoadJpegVsLibjpeg)->Iterations(9)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_LoadLzwTiffVsTIFFReadRGBAImage(benchmark::State& state) {
    const std::string& path = TemporaryBenchImageFiles().tiff;
    auto peer = [&] {
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        benchmark::DoNotOptimize(LibtiffDecode(path, width, height));
    };
    // The raster holds the same pixels bottom-up, red in the low byte.
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    const auto raster = LibtiffDecode(path, width, height);
    std::vector<std::uint8_t> reference(4 * std::size_t{width} * height);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t abgr = raster[std::size_t{height - 1 - y} * width + x];
            const std::uint32_t argb =
                (abgr & 0xFF00FF00u) | ((abgr & 0xFF) << 16) | ((abgr >> 16) & 0xFF);
            StoreU32LE(reference.data() + 4 * (std::size_t{y} * width + x), argb);
        }
    }
    LoadBesidePeer(state, path, peer, &reference);
}
BENCHMARK(BM_LoadLzwTiffVsTIFFReadRGBAImage)
    ->Iterations(9)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// arg 0: the 24-bit BMP (54-byte headers), 1: the 32-bit TGA (18-byte header).
void BM_LoadBmpTgaVsReadAndCopy(benchmark::State& state) {
    const bool isTga = state.range(0) != 0;
    const std::string& path =
        isTga ? TemporaryBenchImageFiles().tga : TemporaryBenchImageFiles().bmp;
    const std::size_t headerBytes = isTga ? 18 : 54;
    auto peer = [&] { benchmark::DoNotOptimize(ReadAndCopy(path, headerBytes)); };
    LoadBesidePeer(state, path, peer, nullptr);
}
BENCHMARK(BM_LoadBmpTgaVsReadAndCopy)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(15)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
