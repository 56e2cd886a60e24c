#pragma once

// libjpeg used directly, as the reference the image library's JPEG code is compared with:
// it makes the test files and decodes them with the settings the decoder uses. Objects
// with destructors live outside the setjmp regions, so an error jump skips none.

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

// jpeglib.h uses size_t and FILE without declaring them, so those headers come first.
#include <jpeglib.h>

namespace jpeg_reference {

using Bytes = std::vector<std::uint8_t>;

struct ErrorManager {
    jpeg_error_mgr library{};
    std::jmp_buf jumpBuffer{};
};

inline void ErrorExit(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jumpBuffer, 1);
}

// Silences libjpeg's warnings for files that are cut on purpose.
inline void IgnoreMessage(j_common_ptr /*info*/, int /*level*/) {}

struct EncodeSettings {
    int width = 0;
    int height = 0;
    bool isGrey = false;  // 1 byte a pixel, else blue, green, red and a filler byte
    int quality = 90;     // 0 keeps libjpeg's default
    int densityUnit = 0;
    int densityX = 1;
    int densityY = 1;
    bool isFloatDct = true;
    bool isCmyk = false;  // 4 bytes a pixel taken as CMYK
    bool isProgressive = false;
    std::vector<Bytes> app1Markers;
};

// The pixels of settings' size encoded as JPEG; empty when libjpeg fails.
inline Bytes Encode(const EncodeSettings& settings, const Bytes& pixels) {
    jpeg_compress_struct info{};
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.library);
    errors.library.error_exit = ErrorExit;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    Bytes result;
    if (setjmp(errors.jumpBuffer) == 0) {
        jpeg_CreateCompress(&info, JPEG_LIB_VERSION, sizeof(info));
        jpeg_mem_dest(&info, &buffer, &size);
        info.image_width = static_cast<JDIMENSION>(settings.width);
        info.image_height = static_cast<JDIMENSION>(settings.height);
        info.input_components = settings.isGrey ? 1 : 4;
        info.in_color_space =
            settings.isGrey ? JCS_GRAYSCALE : (settings.isCmyk ? JCS_CMYK : JCS_EXT_BGRX);
        jpeg_set_defaults(&info);
        if (settings.quality != 0) jpeg_set_quality(&info, settings.quality, TRUE);
        if (settings.isFloatDct) info.dct_method = JDCT_FLOAT;
        if (settings.isProgressive) jpeg_simple_progression(&info);
        info.density_unit = static_cast<UINT8>(settings.densityUnit);
        info.X_density = static_cast<UINT16>(settings.densityX);
        info.Y_density = static_cast<UINT16>(settings.densityY);
        jpeg_start_compress(&info, TRUE);
        for (const Bytes& marker : settings.app1Markers) {
            jpeg_write_marker(&info, JPEG_APP0 + 1, marker.data(),
                              static_cast<unsigned int>(marker.size()));
        }
        const std::size_t stride = static_cast<std::size_t>(settings.width) * info.input_components;
        while (info.next_scanline < info.image_height) {
            JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + info.next_scanline * stride);
            jpeg_write_scanlines(&info, &row, 1);
        }
        jpeg_finish_compress(&info);
        result.assign(buffer, buffer + size);
    }
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return result;
}

struct Decoded {
    int width = 0;
    int height = 0;
    int components = 0;
    Bytes pixels;  // packed rows
};

// file decoded as the image library's decoder does (float DCT, no fancy upsampling, colour
// as blue, green, red, alpha); nothing when libjpeg fails.
inline std::optional<Decoded> Decode(const Bytes& file) {
    jpeg_decompress_struct info{};
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.library);
    errors.library.error_exit = ErrorExit;
    errors.library.emit_message = IgnoreMessage;
    std::optional<Decoded> result;
    Decoded decoded;
    if (setjmp(errors.jumpBuffer) == 0) {
        jpeg_CreateDecompress(&info, JPEG_LIB_VERSION, sizeof(info));
        jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
        jpeg_read_header(&info, TRUE);
        info.do_fancy_upsampling = FALSE;
        info.dct_method = JDCT_FLOAT;
        if (info.out_color_space != JCS_GRAYSCALE) info.out_color_space = JCS_EXT_BGRA;
        jpeg_start_decompress(&info);
        decoded.width = static_cast<int>(info.output_width);
        decoded.height = static_cast<int>(info.output_height);
        decoded.components = info.output_components;
        const std::size_t stride = static_cast<std::size_t>(decoded.width) * decoded.components;
        decoded.pixels.resize(stride * static_cast<std::size_t>(decoded.height));
        while (info.output_scanline < info.output_height) {
            JSAMPROW row = decoded.pixels.data() + info.output_scanline * stride;
            jpeg_read_scanlines(&info, &row, 1);
        }
        jpeg_finish_decompress(&info);
        result = std::move(decoded);
    }
    jpeg_destroy_decompress(&info);
    return result;
}

// The luminance quantisation table that libjpeg makes for a quality (0: its default), in
// the zig-zag order of a DQT marker.
inline Bytes QuantTable(int quality) {
    constexpr int ZigZag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
    jpeg_compress_struct info{};
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.library);
    errors.library.error_exit = ErrorExit;
    Bytes table;
    if (setjmp(errors.jumpBuffer) == 0) {
        jpeg_CreateCompress(&info, JPEG_LIB_VERSION, sizeof(info));
        info.in_color_space = JCS_RGB;
        jpeg_set_defaults(&info);
        if (quality != 0) jpeg_set_quality(&info, quality, TRUE);
        for (const int index : ZigZag) {
            table.push_back(static_cast<std::uint8_t>(info.quant_tbl_ptrs[0]->quantval[index]));
        }
    }
    jpeg_destroy_compress(&info);
    return table;
}

// The first quantisation table of a JPEG file (8-bit precision), in file order.
inline Bytes FirstQuantTable(const Bytes& file);

// The data of every marker of that code before the scan.
inline std::vector<Bytes> MarkersOf(const Bytes& file, std::uint8_t code) {
    std::vector<Bytes> found;
    std::size_t at = 2;
    while (at + 4 <= file.size() && file[at] == 0xFF && file[at + 1] != 0xDA) {
        const std::size_t length = (std::size_t{file[at + 2]} << 8) | file[at + 3];
        if (file[at + 1] == code && at + 2 + length <= file.size()) {
            found.emplace_back(file.begin() + static_cast<std::ptrdiff_t>(at + 4),
                               file.begin() + static_cast<std::ptrdiff_t>(at + 2 + length));
        }
        at += 2 + length;
    }
    return found;
}

inline Bytes FirstQuantTable(const Bytes& file) {
    const std::vector<Bytes> tables = MarkersOf(file, 0xDB);
    if (tables.empty() || tables[0].size() < 65 || tables[0][0] != 0) return {};
    return Bytes(tables[0].begin() + 1, tables[0].begin() + 65);
}

// A pattern of smooth gradients and sharp edges, deterministic for a size.
inline Bytes TestPixels(int width, int height, int bytesPerPixel) {
    Bytes pixels(static_cast<std::size_t>(width) * height * bytesPerPixel);
    std::size_t i = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < bytesPerPixel; ++c) {
                const int edge = ((x / 7 + y / 5) % 2) * 60;
                pixels[i++] = static_cast<std::uint8_t>((x * (3 + c) + y * (5 - c) + edge) & 0xFF);
            }
        }
    }
    return pixels;
}

}  // namespace jpeg_reference
