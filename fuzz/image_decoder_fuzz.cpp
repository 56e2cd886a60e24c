// replay: imaging
// Decodes arbitrary bytes through the image file front end, which detects the file type and
// runs the matching decoder. Bad input must fail with a result code, never crash or leak.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "app/process_init.h"
#include "core/private_heap.h"
#include "imaging/image_file.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    InitProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) return 0;
    const auto byteCount = static_cast<std::int32_t>(size);
    // Decoded images are capped so that a header claiming a huge size fails fast.
    PrivateHeapSetCeiling(PrivateHeapBytesInUse() + (64u << 20));

    // Exhausting the private heap is the one failure the front end lets out.
    try {
        std::int32_t width = 0, height = 0, stride = 0;
        std::uint8_t* pixels = nullptr;
        bool premultiplied = false;
        std::string errorText;
        if (LoadImageFile("argb", width, pixels, "fuzz", data, byteCount, premultiplied, height,
                          stride, errorText) == 0) {
            PrivateFree(pixels);
        }
        std::int32_t samples = 0;
        if (std::uint8_t* tiff =
                DecodeTiffFromMemory(data, byteCount, "argb", width, height, samples)) {
            PrivateFree(tiff);
        }
    } catch (const KVOutOfMemoryException&) {
    }
    PrivateHeapSetCeiling(0);
    return 0;
}
