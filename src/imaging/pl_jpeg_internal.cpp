#include "imaging/pl_jpeg_internal.h"

#include "imaging/pl_pic_decoder.h"
#include "imaging/pl_text_exception.h"
#include "imaging/pl_trace.h"

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

// Records a warning (a negative level); the library's trace messages (levels 1 to 3, shown
// only when its trace level asks for them) are not kept.
void JPEGEmitMessage(j_common_ptr info, int level) {
    if (level >= 0) return;
    auto* errors = reinterpret_cast<PLJPEGErrorManager*>(info->err);
    errors->lastWarning[0] = '\0';
    (*info->err->format_message)(info, errors->lastWarning);
    ++info->err->num_warnings;
    PLTraceFromCallback(2, {"Warning in LIBJPEG: ", errors->lastWarning, "\n"});
}

// Takes the place of the routine that writes to the standard error; only the library's
// default message routine calls it, so it records as a warning.
void JPEGOutputMessage(j_common_ptr info) { JPEGEmitMessage(info, -1); }

}  // namespace

jpeg_error_mgr* JPEGInitErrorManager(PLJPEGErrorManager& errors) {
    jpeg_error_mgr* library = jpeg_std_error(&errors.library);
    library->error_exit = JPEGErrorExit;
    library->emit_message = JPEGEmitMessage;
    library->output_message = JPEGOutputMessage;
    return library;
}

void JPEGClearWarnings(PLJPEGErrorManager& errors) {
    errors.lastWarning[0] = '\0';
    errors.library.num_warnings = 0;
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
