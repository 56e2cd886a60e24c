#pragma once

// Paths given as UTF-16 text (the wide names of the image library's file calls). The
// platform's paths are UTF-8 bytes, so a wide path is converted before the narrow path's
// lookup runs on it, "\" and case-insensitive matching included.

#include <optional>
#include <string>
#include <string_view>

// The UTF-8 path for a UTF-16 path; empty when the text holds a surrogate without its pair,
// which no UTF-8 name can stand for.
std::optional<std::string> WidePathToUtf8(std::u16string_view path);

// The path as UTF-8 text to show in a message: a surrogate without its pair becomes U+FFFD.
std::string WidePathForDisplay(std::u16string_view path);
