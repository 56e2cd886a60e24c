#pragma once

// The image file front end: the only door between the image library and the rest of the
// system. Images cross it as plain buffers of 32-bit pixel words from the private heap,
// rows top-down, owned by the caller (PrivateFree), in a channel order named by four letters
// from the most significant byte down: "argb" is the word 0xAARRGGBB (stored blue, green,
// red, alpha), "abgr" the word of libtiff's RGBA raster (red in the lowest byte). A
// three-letter order ("rgb") names output bytes in memory order instead, alpha dropped. A
// resampled image comes back as a value that owns its words, since nothing keeps it longer
// than the caller that asked for it.
//
// Loads, saves and resamples never let an image-library error out: they return a result code
// from 0 to 8 and put a message into the caller's error text. An image library that was never
// initialised (ImagingInitProcess) gives code 8 with a message that says so. Only exhaustion
// of the private heap still throws KVOutOfMemoryException.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Result codes of the loads and saves; ImageFileMessage gives their texts.
enum ImageFileResult : std::int32_t {
    ImageFileOk = 0,
    ImageFileBadSignature = 1,
    ImageFileBadFormat = 2,
    ImageFileNotFound = 3,
    ImageFileNotSupported = 4,
    ImageFileUnknownType = 5,
    ImageFileNoMemory = 6,
    ImageFileEndOfFile = 7,
    ImageFileUnknownError = 8,
};

// The fixed message of a load (isSave false) or save result code; empty for 0 and for a
// code without a message.
const char* ImageFileMessage(std::int32_t code, bool isSave);

// Converts rows of 32-bit pixels from one channel order to another. dst takes strlen(to)
// bytes a pixel, rows packed; src advances srcStride bytes a row. Equal orders copy each
// row as it is. A letter missing from `from` reads as the lowest byte. Orders are 3 or 4
// letters from "argb" (checked).
void ConvertChannelOrder(std::string_view from, std::string_view to, const std::uint8_t* src,
                         std::uint8_t* dst, std::int32_t width, std::int32_t rows,
                         std::int32_t srcStride);

// Writes width x height pixels of the given order (rows stride bytes apart) as an LZW TIFF
// stream of RGB, or of RGBA when alpha is set: unassociated alpha for premultiplied below 1,
// associated otherwise, and with premultiplied 2 the colours are first multiplied by alpha.
// Returns a new private-heap block with its length in outSize; null (outSize 0) when libtiff
// fails, the arguments are unusable or the image library was not initialised. Throws
// KVOutOfMemoryException when the private heap refuses.
std::uint8_t* EncodeTiffToMemory(std::string_view order, const std::uint8_t* pixels,
                                 std::int32_t width, std::int32_t height, std::int32_t stride,
                                 bool alpha, std::int16_t premultiplied, std::uint32_t& outSize);

// Reads a TIFF stream into a new private-heap buffer of packed pixels in the given order
// (associated alpha comes back as stored; RGB gets alpha 255). width, height and
// samplesPerPixel receive the header's values. Null when the stream does not open or
// cannot be read, the buffer is refused or the image library was not initialised.
std::uint8_t* DecodeTiffFromMemory(const std::uint8_t* data, std::int32_t size,
                                   std::string_view order, std::int32_t& width,
                                   std::int32_t& height, std::int32_t& samplesPerPixel);

// Decodes an image file (or, with data given, dataSize bytes at data; fileName then only
// names it) into a new private-heap buffer of packed pixels in the given order; stride is
// width * 4. premultiplied tells whether the file's alpha is premultiplied (TIFF associated
// alpha, TGA attributes type 4) and no pixel contradicts it. Returns a result code; on
// failure errorText receives the message and pixels is untouched.
std::int32_t LoadImageFile(std::string_view order, std::int32_t& width, std::uint8_t*& pixels,
                           std::string_view fileName, const std::uint8_t* data,
                           std::int32_t dataSize, bool& premultiplied, std::int32_t& height,
                           std::int32_t& stride, std::string& errorText);

// Decodes an image file into a new private-heap buffer of 8-bit grey, rows packed. Returns a
// result code; on failure errorText receives the message.
std::int32_t LoadGrayscaleImage(std::int32_t& height, std::string& errorText, std::uint8_t*& pixels,
                                std::int32_t& width, std::string_view fileName);

// Saves an "argb" buffer (rows srcStride bytes apart, packed when 0) as TIFF ("tif",
// "tiff"; LZW when lzw is set), JPEG ("jpg") or BMP ("bmp") by the file's extension in any
// case, optionally tinted (tintMode 1 to 4, tintStrength 0 to 100). With releasePixels the
// buffer is freed and pixels set to null once copied. The file is written beside its target
// and put in place only on success, so a failed or unsupported save leaves an existing
// file untouched. Returns a result code; on failure errorText receives the message.
std::int32_t SaveImageFile(std::uint8_t*& pixels, std::int32_t width, std::int32_t height,
                           std::string_view fileName, bool lzw, std::int32_t jpegQuality,
                           bool alpha, std::int32_t tintMode, std::int32_t tintStrength,
                           std::string& errorText, bool releasePixels, bool premultiplied,
                           std::int32_t srcStride);

// Tells whether a file's alpha is premultiplied: presumed so unless the file says otherwise
// (TIFF with 4 samples and not exactly one associated extra sample, TGA extension area
// without attributes type 4) or a 32-bit pixel contradicts it. resultCode becomes 1 with
// errorText set when the file cannot be read, else 0.
bool ImageAlphaIsPremultiplied(std::int32_t& resultCode, std::string_view fileName,
                               std::string& errorText);

// The CRC-32 of the decoded rows of a file in its own pixel format (width * bpp / 8 bytes a
// row); 0 when the file cannot be decoded.
std::uint32_t ImageFileChecksum(std::string_view fileName);

// 32-bit pixel words that own their storage: width x height words, rows packed top-down, in
// the channel order they were given in.
struct ResampledImage {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint32_t> words;
};

// Resamples width x height 32-bit pixels (rows stride bytes apart, packed when 0) to
// newWidth x newHeight with the Gaussian kernel of radius 0.5 that texture images and bump
// maps are scaled with. Each byte of a word is filtered on its own, so any channel order
// comes back as it went in. Returns a result code: 0 with out filled, else (out untouched,
// the image library's description in errorText) ImageFileBadSignature for a negative size
// or ImageFileNoMemory for sizes too large to hold. Throws KVOutOfMemoryException when the
// result's memory is refused.
std::int32_t ResampleImage(const std::uint8_t* pixels, std::int32_t width, std::int32_t height,
                           std::int32_t stride, std::int32_t newWidth, std::int32_t newHeight,
                           ResampledImage& out, std::string& errorText);

// The side of a scene thumbnail.
inline constexpr std::int32_t ThumbnailSide = 128;

// Turns a rendered frame of width x height "argb" words (rows stride bytes apart, packed when
// 0) into a ThumbnailSide x ThumbnailSide thumbnail: the centred square whose side is the
// short side (starting at (long - short) / 2 along the long side) is scaled with the narrow
// bilinear kernel. The thumbnail carries no alpha, so every word comes back opaque. Returns a
// result code: 0 with out filled, else (out untouched, the image library's description in
// errorText) ImageFileBadSignature for a size below 1. Throws KVOutOfMemoryException when the
// memory is refused.
std::int32_t ScaleToThumbnail(const std::uint8_t* pixels, std::int32_t width, std::int32_t height,
                              std::int32_t stride, ResampledImage& out, std::string& errorText);

// Multiplies the three colour bytes of every 32-bit pixel by its alpha / 255 (integer), in
// place; alpha is kept.
void PremultiplyAlpha(std::uint8_t* pixels, std::int32_t width, std::int32_t height);
