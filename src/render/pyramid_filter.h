#pragma once

// Expansion of a frame rendered at a reduced level into the full-size frame, one level at a
// time. Level L + 1 pixel i covers level L pixels 2 (i - 2) and 2 (i - 2) + 1 (a level's
// centre moves to half plus 2), so each level keeps two margin pixels on either side and
// the filters read up to two source pixels beyond either end of the covered ones.
//
// The filters double one direction at a time, on all four 8-bit channels (alpha too):
//   nearest: both outputs copy the source pixel;
//   linear: 3/4 of the own pixel and 1/4 of the neighbour on the output's side, four
//     channels at once with q(v) = (v >> 2) AND 0x3F3F3F3F, so no byte overflows;
//   five-tap: (-4, 11, 29, -3, -1) / 32 and its mirror, each channel clamped to 0..255.

#include "render/q_render.h"

#include <cstddef>
#include <cstdint>

// The filters of one direction: lineCount lines of outCount outputs each. Output k of a line
// reads source pixels around k / 2 + 2 of the same line; step is the distance between
// neighbours along the direction, lineStep between lines (in words). Source indices are held
// to 0..sourceCount - 1.
struct ExpandPass {
    std::uint32_t* out = nullptr;
    std::ptrdiff_t outStep = 1;
    std::ptrdiff_t outLineStep = 0;
    const std::uint32_t* source = nullptr;
    std::ptrdiff_t sourceStep = 1;
    std::ptrdiff_t sourceLineStep = 0;
    std::int32_t outCount = 0;
    std::int32_t sourceCount = 0;
    std::int32_t lineCount = 0;
};
void ExpandNearest(const ExpandPass& pass);
void ExpandLinear(const ExpandPass& pass);
void ExpandCubic(const ExpandPass& pass);

// Expands the current reduction level of the frame into level 0 (the target), level by
// level through the intermediate frames. Nothing at level 0, without sized buffers or
// without a target.
void PyramidFilter(QRender& render);
