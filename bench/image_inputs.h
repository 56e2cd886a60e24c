#pragma once

// The image files the load benchmarks and the whole-process comparison read. They are made
// on demand through the system's own encoders from one synthetic picture, so the same bytes
// come out on every run and no large file is kept in the repository.

#include <cstdint>
#include <string>
#include <vector>

struct BenchImageFiles {
    std::string jpeg;  // 4000 x 3000, quality 90, colour
    std::string tiff;  // 4096 x 4096, LZW, RGBA with associated alpha
    std::string bmp;   // 4096 x 4096, 24 bits, rows bottom-up
    std::string tga;   // 4096 x 4096, 32 bits, uncompressed, rows bottom-up
};

// A picture of width x height 0xAARRGGBB words stored as bytes (blue, green, red, alpha):
// smooth gradients with a fine texture, like a photo, and alpha in soft steps with a few
// fully transparent patches. Colours never exceed alpha, so the pixels are valid
// premultiplied ones as well.
std::vector<std::uint8_t> BenchPicture(std::int32_t width, std::int32_t height);

// Writes the four files into folder (which must exist) and returns their paths. Aborts the
// program with a message when a file cannot be written.
BenchImageFiles WriteBenchImageFiles(const std::string& folder);

// The files in a folder of the system's temporary directory, written the first time they
// are asked for and removed when the program ends.
const BenchImageFiles& TemporaryBenchImageFiles();
