#include "image_inputs.h"

#include "core/byte_order.h"
#include "imaging/image_file.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "bench inputs: %s\n", what.c_str());
    std::exit(1);
}

void Save(std::vector<std::uint8_t>& picture, std::int32_t width, std::int32_t height,
          const std::string& path, bool lzw, bool alpha) {
    std::uint8_t* pixels = picture.data();
    std::string errorText;
    if (SaveImageFile(pixels, width, height, path, lzw, 90, alpha, 0, 0, errorText, false, alpha,
                      0) != ImageFileOk) {
        Fail(path + ": " + errorText);
    }
}

// An uncompressed 32-bit TGA: the 18-byte header (image type 2, 8 alpha bits, rows bottom-up)
// and the rows as blue, green, red, alpha.
void WriteTga(const std::vector<std::uint8_t>& picture, std::int32_t width, std::int32_t height,
              const std::string& path) {
    std::array<std::uint8_t, 18> header{};
    header[2] = 2;
    StoreU16LE(&header[12], static_cast<std::uint16_t>(width));
    StoreU16LE(&header[14], static_cast<std::uint16_t>(height));
    header[16] = 32;
    header[17] = 8;
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(header.data()), header.size());
    const auto rowBytes = 4 * static_cast<std::streamsize>(width);
    for (std::int32_t y = height - 1; y >= 0; --y) {
        file.write(reinterpret_cast<const char*>(picture.data()) + rowBytes * y, rowBytes);
    }
    if (!file) Fail(path + ": not written");
}

}  // namespace

std::vector<std::uint8_t> BenchPicture(std::int32_t width, std::int32_t height) {
    std::vector<std::uint8_t> picture(4 * static_cast<std::size_t>(width) * height);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            std::uint8_t* p = picture.data() + 4 * (static_cast<std::size_t>(y) * width + x);
            const bool isHole = ((x / 97) * 7 + (y / 89) * 3) % 11 == 0;
            const int alpha = isHole ? 0 : 255 - 48 * (((x / 256) + (y / 256)) % 4);
            const int red = x * 255 / width;
            const int green = y * 255 / height;
            const int blue = ((x ^ y) & 0x3F) + 96;
            p[0] = static_cast<std::uint8_t>(blue * alpha / 255);
            p[1] = static_cast<std::uint8_t>(green * alpha / 255);
            p[2] = static_cast<std::uint8_t>(red * alpha / 255);
            p[3] = static_cast<std::uint8_t>(alpha);
        }
    }
    return picture;
}

BenchImageFiles WriteBenchImageFiles(const std::string& folder) {
    BenchImageFiles files;
    files.jpeg = folder + "/photo-4000x3000.jpg";
    files.tiff = folder + "/texture-4096-lzw.tif";
    files.bmp = folder + "/texture-4096-24bit.bmp";
    files.tga = folder + "/texture-4096-32bit.tga";
    std::vector<std::uint8_t> photo = BenchPicture(4000, 3000);
    Save(photo, 4000, 3000, files.jpeg, false, false);
    std::vector<std::uint8_t> texture = BenchPicture(4096, 4096);
    Save(texture, 4096, 4096, files.tiff, true, true);
    Save(texture, 4096, 4096, files.bmp, false, false);
    WriteTga(texture, 4096, 4096, files.tga);
    return files;
}

const BenchImageFiles& TemporaryBenchImageFiles() {
    struct Folder {
        Folder() {
            path = std::filesystem::temp_directory_path() /
                   ("orbelle-bench-" + std::to_string(::getpid()));
            std::filesystem::create_directories(path);
            files = WriteBenchImageFiles(path.string());
        }
        ~Folder() {
            std::error_code ignored;  // a folder that cannot be removed is left for the system
            std::filesystem::remove_all(path, ignored);
        }
        std::filesystem::path path;
        BenchImageFiles files;
    };
    static const Folder folder;
    return folder.files;
}
