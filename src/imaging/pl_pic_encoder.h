#pragma once

// Base of the picture encoders. The base opens the output file as a data sink sized for the
// bitmap, has the format's encoder write into it (DoEncode) and puts the file in place only
// when the encoding succeeded, so a failed save leaves an existing file as it was. All
// failures are PLTextExceptions.

#include "imaging/pl_object.h"

#include <cstdint>
#include <functional>
#include <string_view>

class PLBmp;
class PLDataSink;
class PLFileSink;

class PLPicEncoder : public PLObject {
public:
    PLPicEncoder() = default;
    PLPicEncoder(const PLPicEncoder&) = delete;
    PLPicEncoder& operator=(const PLPicEncoder&) = delete;
    ~PLPicEncoder() override = default;

    // Encodes bmp into the named file. Throws PLTextException: code 13 when the image library
    // was not initialised (ImagingInitProcess), the sink's code 3, 4 or 5 with
    // "Opening <name> failed: <system error text>" when the file cannot be created, 10 for
    // a bitmap too large to encode, else what encoding or writing the file raises.
    virtual void MakeFileFromBmp(std::string_view fileName, const PLBmp& bmp);

    // The same for a UTF-16 name (one with a surrogate without its pair gives code 4); a
    // name of 900 or more bytes in UTF-8 is shown as "{{Filename too long}}" in the texts.
    virtual void MakeFileFromBmpW(std::u16string_view fileName, const PLBmp& bmp);

    // Encodes bmp into a sink the caller opened. Throws PLTextException code 13 when the
    // image library was not initialised, else what DoEncode throws.
    virtual void SaveBmp(const PLBmp& bmp, PLDataSink& sink);

    // The sink capacity that any encoder of the library needs for bmp: the rows padded to 4
    // bytes, twice over (LZW and PackBits can outgrow their input on noisy pixels), plus the
    // palette and 65,536 bytes for headers and tags. Computed in 64 bits.
    static std::int64_t MaxEncodedSize(const PLBmp& bmp);

protected:
    // Writes bmp into sink in the encoder's format. Throws PLTextException.
    virtual void DoEncode(const PLBmp& bmp, PLDataSink& sink) = 0;

private:
    // Opens the file sink with open (given the sink and its size), encodes bmp into it and
    // puts the file in place; shownName names the file in the texts.
    void EncodeToFile(std::string_view shownName, const PLBmp& bmp,
                      const std::function<std::int32_t(PLFileSink&, std::int32_t)>& open);
};
