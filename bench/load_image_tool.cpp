// orbelle_load_image: the image front end as a process of its own, for comparisons of whole
// processes with other programs (bench/compare_tools.py).
//
//   orbelle_load_image [--repeat N] FILE...   loads each file N times (default 1) as a texture
//                                            import does and prints its size
//   orbelle_load_image --write-inputs FOLDER  writes the benchmark's input files into FOLDER

#include "app/process_init.h"
#include "core/private_heap.h"
#include "image_inputs.h"
#include "imaging/image_file.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    InitProcess();
    if (argc == 3 && std::strcmp(argv[1], "--write-inputs") == 0) {
        const BenchImageFiles files = WriteBenchImageFiles(argv[2]);
        std::printf("%s\n%s\n%s\n%s\n", files.jpeg.c_str(), files.tiff.c_str(), files.bmp.c_str(),
                    files.tga.c_str());
        return 0;
    }
    int first = 1;
    int repeatCount = 1;
    if (argc >= 3 && std::strcmp(argv[1], "--repeat") == 0) {
        const char* end = argv[2] + std::strlen(argv[2]);
        if (std::from_chars(argv[2], end, repeatCount).ptr != end || repeatCount < 1) {
            std::fprintf(stderr, "orbelle_load_image: bad repeat count %s\n", argv[2]);
            return 2;
        }
        first = 3;
    }
    if (first >= argc) {
        std::fprintf(stderr,
                     "usage: orbelle_load_image [--repeat N] FILE...\n"
                     "       orbelle_load_image --write-inputs FOLDER\n");
        return 2;
    }
    for (int i = first; i < argc; ++i) {
        for (int r = 0; r < repeatCount; ++r) {
            std::int32_t width = 0;
            std::int32_t height = 0;
            std::int32_t stride = 0;
            std::uint8_t* pixels = nullptr;
            bool premultiplied = false;
            std::string errorText;
            const std::int32_t code = LoadImageFile("argb", width, pixels, argv[i], nullptr, 0,
                                                    premultiplied, height, stride, errorText);
            if (code != ImageFileOk) {
                std::fprintf(stderr, "%s: %s (code %d)\n", argv[i], errorText.c_str(), code);
                return 1;
            }
            PrivateFree(pixels);
            if (r == 0) std::printf("%s: %d x %d\n", argv[i], width, height);
        }
    }
    return 0;
}
