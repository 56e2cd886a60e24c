#pragma once

// Checks a TIFF passes before anything is allocated for its pixels.
//
// libtiff recovers from some damage by guessing: a colour map it cannot read is set aside
// with a warning, and an 8-bit palette image is then decoded as grey, which is plainly wrong
// yet reported as success. And its header alone sizes the raster, so a few hundred bytes can
// claim gigabytes. Both are caught here, from the directory, while nothing is held.

#include <cstdint>
#include <optional>
#include <string>

struct tiff;  // libtiff's handle; its header stays inside the image library's sources

// Why the first directory of an open TIFF (over the size bytes at data) cannot be decoded
// as the file means it: a tag the image cannot be read without (size, sample layout, strips
// or tiles, colour map, extra samples) whose values pass the end of the bytes, or a palette
// image whose colour map libtiff set aside (cut short, of the wrong count or missing).
// Empty when neither applies.
std::optional<std::string> PLTIFFDamagedDirectory(tiff* handle, const std::uint8_t* data,
                                                  std::int64_t size);

// True when size bytes can hold the image the open TIFF claims: no strip or tile claims more
// bytes than there are, and the samples of its first third of rows (a file cut short after
// them still decodes) take no more than the most its compression can expand the bytes to.
bool PLTIFFBytesCanHoldImage(tiff* handle, std::int64_t size);
