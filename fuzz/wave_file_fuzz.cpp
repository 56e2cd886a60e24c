// replay: app/wave
// Reads arbitrary bytes as a sound file and touches every sample it finds: whatever a file
// claims, the samples must lie inside its bytes.

#include "app/process_init.h"
#include "app/wave_file.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    InitProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::optional<WaveSound> sound = DecodeWaveFile(std::span(data, size));
    if (sound) {
        std::uint32_t sum = 0;
        for (const std::uint8_t b : sound->samples) sum += b;
        volatile std::uint32_t sink = sum;
        (void)sink;
    }
    return 0;
}
