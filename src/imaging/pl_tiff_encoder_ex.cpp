#include "imaging/pl_tiff_encoder_ex.h"

#include "core/check.h"
#include "imaging/pl_data_sink.h"
#include "imaging/pl_pic_decoder.h"
#include "imaging/pl_text_exception.h"

#include <tiffio.h>

#include <cstdarg>

PLTIFFEncoderEx::~PLTIFFEncoderEx() {
    // An abandoned stream is closed; the sink, which is not put in place, keeps its position.
    handle.reset();
    PLTIFFClearError();
}

bool PLTIFFEncoderEx::Associate(PLDataSink& sink) {
    handle.reset();
    PLTIFFClearError();
    usedSize = 0;
    handle.reset(TIFFOpenMem(sink.GetBufferStart() + sink.GetDataSize(),
                             sink.GetMaxDataSize() - sink.GetDataSize(), &usedSize));
    PLTIFFClearError();
    associatedSink = handle ? &sink : nullptr;
    return handle != nullptr;
}

void PLTIFFEncoderEx::SetBaseTags(const PLBmp& bmp) {
    ORBELLE_CHECK(handle != nullptr);
    PLTIFFEncoder::SetBaseTags(handle.get(), bmp);
}

int PLTIFFEncoderEx::SetField(std::uint32_t tag, ...) {
    ORBELLE_CHECK(handle != nullptr);
    va_list args;
    va_start(args, tag);
    const int result = TIFFVSetField(handle.get(), tag, args);
    va_end(args);
    return result;
}

void PLTIFFEncoderEx::Dissociate() {
    if (!handle) return;
    PLTIFFClearError();
    handle.reset();
    PLDataSink* sink = associatedSink;
    associatedSink = nullptr;
    PLTIFFRaiseIfError();
    sink->Skip(usedSize);
}

void PLTIFFEncoderEx::DoEncode(const PLBmp& bmp, PLDataSink& /*sink*/) {
    ORBELLE_CHECK(handle != nullptr);
    WriteImage(bmp, handle.get());
}
