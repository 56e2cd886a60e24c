#pragma once

// Base of the picture decoders. The base opens the input as a data source, has the format
// decoder read the header (Open), creates the target bitmap from that header, has the
// decoder fill it (GetImage), converts it to the requested pixel format and closes the
// source on every path. All failures are PLTextExceptions.
//
// A format decoder overrides Open and GetImage, and Close when it holds state of its own
// (calling PLPicDecoder::Close at its end). The source it reads is the one passed to Open;
// GetDataSource returns it until Close.

#include "imaging/pl_bmp_info.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class PLBmp;
class PLDataSource;
class PLFileSource;
class PLProgressReceiver;

class PLPicDecoder : public PLBmpInfo {
public:
    PLPicDecoder();
    PLPicDecoder(const PLPicDecoder&) = delete;
    PLPicDecoder& operator=(const PLPicDecoder&) = delete;
    ~PLPicDecoder() override;

    // Decodes a file into bmp in pixelFormat (the empty format keeps the image's own),
    // telling progress to the receiver when one is given: a rising fraction, ending at 1
    // when the decode succeeded. Throws PLTextException: the source's code 3, 4 or 5 with
    // "Opening <name> failed" when the file cannot be read, else whatever decoding raises;
    // and what the receiver throws, which abandons the decode.
    void MakeBmpFromFile(std::string_view fileName, PLBmp& bmp,
                         const PLPixelFormat& pixelFormat = PLPixelFormat::DontCare,
                         PLProgressReceiver* progress = nullptr);

    // The same for a UTF-16 file name (one with a surrogate without its pair gives code 4).
    // The messages show the name as UTF-8, or "{{Filename too long}}" for 900 bytes or more.
    void MakeBmpFromFileW(std::u16string_view fileName, PLBmp& bmp,
                          const PLPixelFormat& pixelFormat = PLPixelFormat::DontCare,
                          PLProgressReceiver* progress = nullptr);

    // The same for size bytes at data. A null block or a negative size throws code 4.
    void MakeBmpFromMemory(const std::uint8_t* data, std::int32_t size, PLBmp& bmp,
                           const PLPixelFormat& pixelFormat = PLPixelFormat::DontCare);

    // The same for a module resource; this platform has none, so it throws code 4
    // ("Opening resource <id> failed").
    void MakeBmpFromResource(const void* module, std::int32_t id, PLBmp& bmp,
                             const PLPixelFormat& pixelFormat = PLPixelFormat::DontCare,
                             const char* type = nullptr);

    // Always throws code 12: URLs are not read.
    [[noreturn]] void MakeBmpFromURL(std::string_view url, PLBmp& bmp,
                                     const PLPixelFormat& pixelFormat = PLPixelFormat::DontCare);

    // Reads the header from source into this object's size, resolution and format. Throws
    // PLTextException for data the decoder cannot read.
    virtual void Open(PLDataSource* source) = 0;

    // Fills bmp, which has the size and format of the header. Throws PLTextException.
    virtual void GetImage(PLBmp& bmp) = 0;

    // After Open: creates bmp from the header and fills it. A pixelFormat other than the
    // empty one or the image's own must have more bits per pixel than the image; the image
    // is then converted. Throws PLTextException code 6 ("Image bit depth doesn't match
    // request.") for fewer or equal bits of another format.
    virtual void MakeBmp(PLBmp& bmp, const PLPixelFormat& pixelFormat);

    // Whether the 32-bit image the last GetImage filled has a pixel of alpha 0 with some
    // colour, when the decoder looked at every pixel as it wrote it; empty when it did not
    // look, which the base reports.
    virtual std::optional<bool> HasColourUnderClearAlpha() const;

    // Forgets the source, releasing it when the decoder opened it itself.
    virtual void Close();

    // Throws PLTextException with code and "Decoder error: <text>\n", which the trace
    // records at level 0.
    [[noreturn]] static void RaiseError(std::int32_t code, std::string_view text);

protected:
    // The source being decoded, null when none.
    PLDataSource* GetDataSource() const { return dataSource; }

    // Tells a decoder which source it reads before its Open is called.
    static void AttachDataSource(PLPicDecoder& decoder, PLDataSource* source) {
        decoder.dataSource = source;
    }

private:
    void DecodeFile(std::unique_ptr<PLFileSource> source, std::int32_t openCode,
                    std::string_view shownName, PLBmp& bmp, const PLPixelFormat& pixelFormat);
    void DecodeSource(std::unique_ptr<PLDataSource> source, PLBmp& bmp,
                      const PLPixelFormat& pixelFormat);

    std::unique_ptr<PLDataSource> ownedSource;
    PLDataSource* dataSource = nullptr;
};

// A wide file name as the library's messages show it: UTF-8, or "{{Filename too long}}" when
// that takes 900 bytes or more.
std::string PLWideNameForMessages(std::u16string_view fileName);

// Reads one run-length coded row. Below 8 bytes a row is stored raw: the unpackedSize bytes
// are read and a pointer to them in the source is returned. Otherwise packedSize bytes are
// read and expanded into dest (unpackedSize bytes), which is returned: a control byte n of
// 0..127 copies the next n + 1 bytes, 129..255 repeats the next byte 257 - n times, 128 is
// skipped; bytes the data does not reach are 0. Throws PLTextException code 11 when the
// source or the packed data ends inside a run, code 1 when a run passes the row.
const std::uint8_t* UnpackPackBits(std::uint8_t* dest, PLDataSource& source,
                                   std::int32_t unpackedSize, std::int32_t packedSize);

// Expands packedSize bytes of PackBits data into the unpackedSize bytes at dest, as
// UnpackPackBits does for rows of 8 bytes or more, whatever the row's size. Throws the same
// codes.
void ExpandPackBits(std::uint8_t* dest, std::int32_t unpackedSize, const std::uint8_t* packed,
                    std::int32_t packedSize);
