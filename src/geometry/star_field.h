#pragma once

// The scene's star field: the stars a render view's sky shows, each a point in the unit ball
// (its direction from the eye), a random brightness and a size. The scene geometry holds one;
// the renderer's BuildStarField fills it from the view's star settings and the sky projection
// reads it every full frame. The count always says how many stars the array holds: no array,
// count 0.

#include "core/private_block.h"

#include <cstdint>

struct Star {  // 24 bytes
    float x = 0;       // position inside the unit ball, each -1..1
    float y = 0;
    float z = 0;
    float random = 0;  // brightness drawn for the star, 0..1
    float size = 0;    // radius in pixels
    std::uint32_t colour = 0;  // 0xRRGGBB
};
static_assert(sizeof(Star) == 24);

struct StarField {
    std::int32_t count = 0;
    PrivateBlockPtr<Star> stars;
};
