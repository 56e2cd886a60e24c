#pragma once

// Render interruption. Renders run on the user-interface thread, so the long per-row loops of
// the renderer (the casting passes, the pixel pass, span shading) look at the user between
// rows, on the rows the poll mask selects: ((y + 0x80000000) AND mask) = mask, every sixteenth
// row (y = 15 mod 16) with mask 15 and never with mask -1.
//
// With a negative mode a left-button-down message waiting for the window abandons the render
// (UserAbortRender; the message stays queued for the window). With a positive mode a held left
// button or trigger key stores the time in the stamp and sets the mode to 0, so the caller can
// tell that the user acted during the render. Mode 0 does nothing. The caller sets the mode
// and mask before a render and reads the stamp afterwards.

#include <cstdint>

// Thrown by value when a waiting click abandons a render; whoever set a negative mode catches
// it.
struct UserAbortRender {};

// The renderer's poll fields.
struct RenderPollState {
    std::uint32_t rowMask = 0xFFFFFFFF;  // -1: never poll
    std::int32_t mode = 0;               // < 0 watch for a click, > 0 watch for held keys
    std::uint32_t timeStamp = 0;         // timeGetTime milliseconds of the last held key
};

// True when the loops poll after row y.
inline bool RenderPollDue(const RenderPollState& poll, std::int32_t y) {
    return ((static_cast<std::uint32_t>(y) + 0x80000000u) & poll.rowMask) == poll.rowMask;
}

// Looks at the user once, as the mode says. Returns 0; throws UserAbortRender when the mode is
// negative and a left-button-down message waits.
std::int32_t RenderInterruptCheck(RenderPollState& poll);

// The poll of the row loops: RenderInterruptCheck after row y when the mask selects it.
inline void RenderPollAfterRow(RenderPollState& poll, std::int32_t y) {
    if (RenderPollDue(poll, y)) RenderInterruptCheck(poll);
}
