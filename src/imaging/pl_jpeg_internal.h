#pragma once

// The one crossing point between the image library and libjpeg. libjpeg reports errors by
// calling the error manager's exit routine and expects it not to return; a C++ exception
// must not unwind libjpeg's C frames, so the exit routine formats the message and jumps
// back to the setjmp in JPEGRunGuarded, and the caller throws after libjpeg has returned.
// Code that runs inside a guarded body holds no object with a destructor, since the jump
// skips destructors.

#include <csetjmp>
#include <cstddef>
#include <cstdio>

// jpeglib.h uses size_t and FILE without declaring them, so those headers come first.
#include <jpeglib.h>
// The library's message codes, for the warnings and errors the image library raises itself.
#include <jerror.h>

// libjpeg's standard error manager with the jump target and the formatted message. The
// library's field comes first so that the library's pointer converts back to this record.
struct PLJPEGErrorManager {
    jpeg_error_mgr library{};
    std::jmp_buf jumpBuffer{};
    // The text of the last error, as the library formats it.
    char message[JMSG_LENGTH_MAX + 1] = {};
    // The text of the last warning ("" when none since ClearWarnings); the library's own
    // count of warnings is library.num_warnings.
    char lastWarning[JMSG_LENGTH_MAX + 1] = {};
};

// Sets up errors as the standard manager with its exit replaced by JPEGErrorExit and its
// message routines by ones that record warnings in errors (the library's own routines write
// them to the process's standard error), and returns the library's part for the compression
// or decompression object.
jpeg_error_mgr* JPEGInitErrorManager(PLJPEGErrorManager& errors);

// Forgets the warnings recorded so far.
void JPEGClearWarnings(PLJPEGErrorManager& errors);

// Runs body(context), which may call libjpeg. Returns true when it finished, false when
// libjpeg raised an error; errors.message holds the library's text then and the libjpeg
// object must be aborted before it is used again.
bool JPEGRunGuarded(PLJPEGErrorManager& errors, void (*body)(void*), void* context);

// The same for a callable with no arguments (a lambda holding references).
template <class Body>
bool JPEGRun(PLJPEGErrorManager& errors, Body& body) {
    return JPEGRunGuarded(
        errors, [](void* context) { (*static_cast<Body*>(context))(); }, &body);
}

// Throws the libjpeg error held in errors as PLTextException code 6, "Decoder error: "
// followed by the library's message and a line feed.
[[noreturn]] void JPEGRaiseError(const PLJPEGErrorManager& errors);
