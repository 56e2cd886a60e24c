#pragma once

// An integer pair of the image library: a size in pixels or a resolution in dots per inch.

#include <cstdint>

struct PLPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;

    friend bool operator==(const PLPoint&, const PLPoint&) = default;
};
