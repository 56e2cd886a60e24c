#pragma once

// The decoder the rest of the system uses: it recognises the file type from the first bytes
// and hands the work to its member decoder for that type (Windows bitmap, TGA, TIFF, JPEG,
// PSD). A format decoder joins by registering a factory for its file type at start-up
// (ImagingInitProcess); a recognised type without a registered decoder fails with code 12.
// Data of no recognised type is offered to the decoder factories of the factory list, which
// is empty unless something adds one.

#include "imaging/pl_pic_decoder.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

// File types that detection tells apart. Values are the library's type codes.
enum PLFileType : std::int32_t {
    PLFileTypeUnknown = 0,
    PLFileTypeBmp = 1,
    PLFileTypePict = 2,
    PLFileTypeTga = 3,
    PLFileTypeTiff = 4,
    PLFileTypeJpeg = 5,
    PLFileTypePng = 6,
    PLFileTypeEpsTiff = 7,  // EPS with a TIFF preview
    PLFileTypePcx = 10,
    PLFileTypePgm = 11,
    PLFileTypeGif = 12,
    PLFileTypePpm = 13,
    PLFileTypePsd = 14,
    PLFileTypeSgi = 15,
    PLFileTypeIff = 16,
};

class PLAnyPicDecoder : public PLPicDecoder {
public:
    // Creates one member decoder for each registered format, in the order BMP, TGA, TIFF,
    // JPEG, PSD.
    PLAnyPicDecoder();
    ~PLAnyPicDecoder() override;

    // Recognises the type from up to 1,024 bytes at the source's position and opens the
    // member decoder on the source (an EPS file is read from its TIFF preview); data of no
    // known type goes to a decoder made by the first listed factory that can decode it. The
    // source must stay open until Close. Throws PLTextException: code 13 when the image
    // library was not initialised (ImagingInitProcess), 8 "Unknown file type." when no
    // factory takes the data, 12 "Library not compiled for this file type." for a recognised
    // type without a decoder, else what the chosen decoder raises.
    void Open(PLDataSource* source) override;

    // The member decoder's image; the header is copied from it afterwards.
    void GetImage(PLBmp& bmp) override;

    // The member decoder's answer; empty when none is open.
    std::optional<bool> HasColourUnderClearAlpha() const override;

    // Closes the member decoder (deleting one a factory made) and forgets the source.
    void Close() override;

    // The type found by the last Open (0 before).
    PLFileType GetFileType() const { return fileType; }

    // The first matching type for the first size bytes of a file, 0 when none matches.
    // Reads nothing beyond size.
    static PLFileType DetermineFileType(const std::uint8_t* data, std::int32_t size);

private:
    static constexpr int MemberCount = 5;

    PLFileType fileType = PLFileTypeUnknown;
    PLPicDecoder* current = nullptr;
    std::array<std::unique_ptr<PLPicDecoder>, MemberCount> members;
    std::unique_ptr<PLPicDecoder> factoryDecoder;  // current, when a factory made it
};

// Makes decoders for a format the library does not recognise by itself.
class PLPicDecoderFactory {
public:
    virtual ~PLPicDecoderFactory() = default;

    // True when this factory's decoder reads a file that starts with the size bytes at data
    // (at most 1,024 are given).
    virtual bool CanDecode(const std::uint8_t* data, std::int32_t size) const = 0;

    // A new decoder for such a file.
    virtual std::unique_ptr<PLPicDecoder> CreateDecoder() const = 0;
};

// Appends factory to the process-wide factory list (empty at start-up). The list does not own
// it: it must stay alive until it is removed. Adding a listed factory again does nothing.
void PLAddDecoderFactory(PLPicDecoderFactory& factory);

// Removes factory from the list; does nothing when it is not listed.
void PLRemoveDecoderFactory(PLPicDecoderFactory& factory);

// The number of listed factories.
std::size_t PLDecoderFactoryCount();

// Makes a new format decoder.
using PLDecoderFactory = std::unique_ptr<PLPicDecoder> (*)();

template <class Decoder>
std::unique_ptr<PLPicDecoder> PLMakeDecoder() {
    return std::make_unique<Decoder>();
}

// Registers the decoder factory of one of the five decodable types (Windows bitmap, TGA,
// TIFF, JPEG, PSD; checked) and returns the factory it replaces. Null unregisters. Decoders
// made before a change keep the old factory's decoder.
PLDecoderFactory PLRegisterFormatDecoder(PLFileType type, PLDecoderFactory factory);

// The registered factory for a file type; null when the type has no decoder built in.
PLDecoderFactory PLFormatDecoderFactory(PLFileType type);
