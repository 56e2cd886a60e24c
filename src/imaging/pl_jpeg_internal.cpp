#include "imaging/pl_jpeg_internal.h"

#include "imaging/pl_pic_decoder.h"
#include "imaging/pl_text_exception.h"

#include <cstring>
#include <string>

namespace {

// Formats the library's message for the current error and jumps back to the guard; control
// never returns to libjpeg.
void JPEGErrorExit(j_common_ptr info) {
    auto* errors = reinterpret_cast<PLJPEGErrorManager*>(info->err);
    errors->message[0] = '\0';
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->jumpBuffer, 1);
}

}  // namespace

jpeg_error_mgr* JPEGInitErrorManager(PLJPEGErrorManager& errors) {
    jpeg_error_mgr* library = jpeg_std_error(&errors.library);
    library->error_exit = JPEGErrorExit;
    return library;
}

bool JPEGRunGuarded(PLJPEGErrorManager& errors, void (*body)(void*), void* context) {
    if (setjmp(errors.jumpBuffer) != 0) return false;
    body(context);
    return true;
}

void JPEGRaiseError(const PLJPEGErrorManager& errors) {
    std::string text(errors.message, strnlen(errors.message, sizeof(errors.message)));
    text += '\n';
    PLPicDecoder::RaiseError(PLErrFormatNotSupported, text);
}
