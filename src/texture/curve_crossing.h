#pragma once

// Where two profiles of revolution about the same axis meet. Each profile is a conic in the
// (radius x, height y) plane, c0 + 2 c2 y + c5 x^2 + c10 y^2 = 0, held as a quadric
// coefficient matrix in the w-first layout (elements 0, 2, 5 and 10 are read).

#include "core/matrix4.h"

#include <array>
#include <cstdint>

// Finds the crossings of p and q with |height| below range. Returns their count, 0, 1 or 2;
// out holds (radius, height) pairs, the first pair filled first; a radius of -1 marks a pair
// without a crossing (its height is then the root that failed, or 0). Tangent conics
// (a double root) and conics that cannot meet within range give 0; so do conics that are not
// numbers.
std::int32_t SolveCurveCrossing(std::array<double, 4>& out, const Matrix4W& p, const Matrix4W& q,
                                double range);
