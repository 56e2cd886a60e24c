#pragma once

// The progress record of a long render that the modeller's render-image and clear-screen
// commands keep in the document: a stage word, a percentage, a short text and four flag
// bytes. 40 bytes; the fields keep the offsets the record has always had.

#include <array>
#include <cstddef>
#include <cstdint>

struct RenderProgressRecord {
    std::uint32_t stage = 0;                  // byte 0
    std::uint32_t percentage = 0;             // byte 4
    std::array<char, 28> text{};              // byte 8
    std::array<std::uint8_t, 4> flagBytes{};  // byte 36
};
static_assert(sizeof(RenderProgressRecord) == 40);
static_assert(offsetof(RenderProgressRecord, flagBytes) == 36);

// Clears the stage, the percentage and the four flag bytes; the text stays.
void ClearRenderFlags(RenderProgressRecord& record);
