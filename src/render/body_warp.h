#pragma once

// The body warps of the texture coordinates: conformal re-maps of the band (u, v) that a
// surface mapping list entry or a revolution mapping names in its kind word (bits 8-15 the
// warp kind, bits 16-23 its stage flag) and that the shading applies before the body search.
// Both work on zeta = x + i y about a fixed angle of u, z = sin zeta, and return the warp's
// stretch |dW / dzeta| times its scale, by which the footprint's scale grows; a warp that gives
// no finite result leaves (u, v) as they were and returns 1. Both bring u back into
// [0, 2 pi].

#include "texture/surface_mapping_entry.h"

// Warp kind 1, with the entry's first five warp values k, m, p, q, s: about the middle c of the
// half turn the point lies in, zeta = k (u - c) + i k v and T = sin 2 zeta / sqrt(1 - m z^2);
// W = s zeta + p asin(q T), or s zeta + q T with the entry's stage flag; (u, v) become
// c + Re W / k, Im W / k.
double WarpSurfaceCoords(const SurfaceMappingEntry& entry, double& u, double& v);

// Warp kind 2, for the warp scale K and warp modulus M: about the nearest quarter turn
// n pi / 2 of u (n rounded half away from zero), zeta = (u - n pi / 2) + i v and
//     W(zeta) = integral from 0 to zeta of dz / (1 - M sin^2 z),
// which with t0 = z / sqrt(1 - M z^2) and d = M - 1 is t0 when |d| < 0.001,
// asinh(sqrt(d) t0) / sqrt(d) when d > 0 and asin(sqrt(-d) t0) / sqrt(-d) when d < 0
// (differentiating each gives 1 / (1 - M z^2)). u becomes n' pi / 2 + K Re W (n' = n, but 0
// for a full turn) and v becomes K Im W; the stretch is K / |1 - M z^2|.
double WarpByEllipticIntegral(double scale, double modulus, double& u, double& v);
