#pragma once

// The image library's trace: short lines about what the decoders recognise and how they
// decode, and every error they raise, for finding out why a file reads as it does. The trace
// is off at start-up and costs one test a line then; switched on, its lines go to the
// operation log (which writes only while logging itself is on).
//
// Levels: 0 errors, 1 the file being decoded or encoded, 2 the steps of a decode, 3
// details such as the palette.

#include <cstdint>
#include <initializer_list>
#include <string_view>

// Switches the trace on for lines of maxLevel or below.
void PLTraceOn(std::int32_t maxLevel);

// Switches the trace off.
void PLTraceOff();

// True when a line of this level is written.
bool PLTraceWants(std::int32_t level);

// Writes text (a whole line, with its line feed) to the operation log when a line of this
// level is wanted.
void PLTrace(std::int32_t level, std::string_view text);

// The same from a C library's callback, where nothing may be thrown: the line is the pieces
// joined, and a line that memory cannot be found for is dropped and counted instead.
void PLTraceFromCallback(std::int32_t level,
                         std::initializer_list<std::string_view> pieces) noexcept;

// The lines PLTraceFromCallback dropped for want of memory.
std::int64_t PLTraceDroppedLineCount();
