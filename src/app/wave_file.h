#pragma once

// The sound files the player plays: RIFF WAVE files of linear PCM, 8 or 16 bits a sample,
// mono or stereo. The file is checked here rather than handed whole to the sound library's
// own loader, which reads chunk sizes as the file states them and so reads past the end of a
// cut-off file.

#include <cstdint>
#include <optional>
#include <span>

struct WaveSound {
    std::int32_t channelCount = 0;          // 1 or 2
    std::int32_t bitsPerSample = 0;         // 8 (unsigned) or 16 (signed, little-endian)
    std::int32_t sampleRate = 0;            // frames a second, above 0
    std::span<const std::uint8_t> samples;  // whole frames, inside the file's bytes
};

// Reads the format and finds the samples of a WAVE file held in bytes. Chunks are walked
// within the bytes; a data chunk that claims more than the file holds is cut to the whole
// frames that are there (writers that stream leave its size unset). Empty when the bytes are
// no RIFF WAVE, the format chunk is missing, cut off or not PCM of 8 or 16 bits in 1 or 2
// channels at a positive rate, or there are no samples.
std::optional<WaveSound> DecodeWaveFile(std::span<const std::uint8_t> bytes);
