#pragma once

// A TIFF encoder whose caller opens the stream and sets tags of its own: Associate with the
// sink, SetCompression, SetBaseTags, further SetField calls, SaveBmp, Dissociate, then close
// the sink. The destructor closes a stream that is still associated.

#include "imaging/pl_tiff_encoder.h"

#include <cstdint>

class PLTIFFEncoderEx : public PLTIFFEncoder {
public:
    PLTIFFEncoderEx() = default;
    ~PLTIFFEncoderEx() override;

    // Opens a memory TIFF stream for writing at the sink's position. Returns true when libtiff
    // gave a handle; false leaves none associated.
    bool Associate(PLDataSink& sink);

    // The tag writers of the base, applied to the associated stream (checked).
    using PLTIFFEncoder::SetBaseTags;
    using PLTIFFEncoder::SetField;
    void SetBaseTags(const PLBmp& bmp);
    int SetField(std::uint32_t tag, ...);

    // Closes the associated stream, which writes the directory, and moves the sink's position
    // past what libtiff wrote. Does nothing when none is associated. Throws PLTextException
    // code 2 with libtiff's report when the directory cannot be written (the stream is
    // closed and forgotten then too).
    void Dissociate();

protected:
    // Writes the rows into the associated stream (checked); opens, tags and closes nothing.
    void DoEncode(const PLBmp& bmp, PLDataSink& sink) override;

private:
    PLTIFFHandle handle;
    PLDataSink* associatedSink = nullptr;
    std::int32_t usedSize = 0;
};
