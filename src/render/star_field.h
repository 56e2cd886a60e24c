#pragma once

// The sky's star field, made from four view settings: a seed, a count, the first star's size
// and a spread factor. The same settings always give the same stars, since every draw comes
// from the user-seeded generator of lcg_random.h.
//
// Stars come in clusters of 32. The first star of a cluster is its centre, a point drawn in the
// unit ball, with the first size; every further star lies at a point drawn in the unit ball,
// scaled by the cluster's spread, about the centre, and is 0.95 times the size of the star
// before it. The spread starts at 0.5 and is multiplied by the spread factor at every fourth
// star, so stars 1 to 3 lie within 0.5 of the centre, stars 4 to 7 within 0.5 x factor, and so
// on. After its position each star takes one more draw, its brightness.

#include <array>
#include <cstdint>

class SceneGeometry;

// Draws a point of the closed unit ball other than its centre: three steps give x, y and z,
// each u x 2^-31 - 1 with u the new state, and a point outside the ball (or at its centre) is
// drawn again. Returns the state after the last step.
std::uint32_t RandomPointInUnitBall(std::uint32_t state, std::array<double, 3>& point);

// Replaces the geometry's star field with count stars drawn from seed; returns the generator
// state after the last draw (the seed when count is not positive, which leaves no stars).
// Throws KVOutOfMemoryException when the stars cannot be allocated; the field then holds no
// stars and a count of 0.
std::int32_t BuildStarField(SceneGeometry& geometry, std::int32_t seed, std::int32_t count,
                            double firstSize, double spreadFactor);
