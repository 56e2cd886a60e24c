#pragma once

// Small numeric routines of the per-pixel shading. They keep no state, allocate nothing and
// cannot fail. The quadric they read is a surface's symmetric 4x4 form over (w, x, y, z)
// stored row by row with w first, so its 3x3 block of x, y, z is elements 5, 6, 7 / 9, 10,
// 11 / 13, 14, 15.

#include "core/matrix4.h"
#include "core/vec3.h"

#include <cstdint>

// atan(x) in double precision, narrowed to float.
float AtanF(float x);

// atan(x) from a fifth-degree odd polynomial on [0, 1] and pi/2 - atan(1/x) above: exact at 0
// and pi/4 at 1; the error stays below 0.005 rad.
double FastAtan(double x);

// The largest absolute eigenvalue of the form's 3x3 block, from the trigonometric solution
// of its characteristic cubic (the upper triangle and, in the determinant, the lower one).
double SymEigenMax3(const Matrix4W& quadric);

// The largest curvature of the quadric surface through p (a surface, not a plane): the largest
// absolute eigenvalue of the form's second-order block over the length of its half gradient
// at p (rows 1..3 of the form applied to (1, p)). Exact for spheres and circular cylinders
// (1 / r), the largest principal curvature or above it elsewhere; infinite where the
// gradient vanishes.
double SurfaceCurvatureAt(const Matrix4W& quadric, const Vec3& p);

// The weight of curvature-broadened highlights for q, the turn of the normal across one pixel
// (curvature x depth / (focal x |V . N|)) over the highlight size s: none up to q = 0.4,
// (q - 0.4) / 0.4 between 0.4 and 0.6, and 0.5 from 0.6 on (NaN gives 0.5).
double HighlightBroadening(double q);

// The exponent sigma t^T (I + sigma G)^-1 t of a Gaussian footprint seen through the
// quadric's 3x3 block H; amplitude receives 1 / sqrt(det(I + sigma G)). See the .cpp for G
// and t.
double FilteredLobeExponent(const Matrix4W& quadric, double& amplitude, double sigma, double g,
                            double h, const Vec3& a, const Vec3& b, const Vec3& c);

// Rotates (x, y) by angle in units of a quarter turn / 16384 (65536 a turn), with cubic sine
// and cosine exact at every quarter turn. Angles are reduced by one turn once, so they should
// lie within 1.5 turns. Returns true when the reduced angle lay beyond a quarter turn.
bool RotateByQuarterTurnAngle(double& x, double& y, std::int32_t angle);

// Half-away-from-zero rounding of v x 2^shift, as the shading's fixed-point steps take it.
std::int32_t RoundScaledByPow2(double v, std::int32_t shift);
