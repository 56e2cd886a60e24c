#pragma once

// Quadric surfaces p^T Q p = 0 with p = (1, x, y, z): Q is a symmetric Matrix4W with the
// constant in element 0, the linear terms in 1-3 (and 4, 8, 12) and the quadratic terms in
// the 3x3 block. These routines prepare, measure and diagonalise such forms for the
// renderer, the scene objects and the collision code; nothing allocates or throws.

#include "core/matrix4.h"

#include <array>

// The NaN stored in element 15 by ConditionQuadric for a surface with no quadratic part.
inline constexpr unsigned long long QuadricPlaneMarkerBits = 0x7FFFFFFF00000000ull;

// Prepares Q in place for the renderer's span solver. A constant term that is zero,
// subnormal or more than 32 binary orders below the largest other element gets the
// exponent 32 below that one (at least the smallest normal exponent), keeping its sign and
// mantissa, so it is never lost against the others. A form whose 3x3 block is all +-0 (a
// plane) gets the plane marker NaN in element 15.
void ConditionQuadric(Matrix4W& q);

// det(W) for symmetric W = [[a, b^T], [b, C]]: a det(C) - b^T adj(C) b.
double SymmetricDet4(const Matrix4W& w);

// The largest of |w0|/(s*s), |w1|/s, |w2|/s, |w3|/s, |w5|, |w6|, |w7|, |w10|, |w11|, |w15|
// (the upper triangle with the constant row scaled); a later element wins only when
// strictly larger.
double MaxAbsSymmetric4(const Matrix4W& w, double s);

// The cofactor of element (row, col): the determinant of W without that row and column,
// negated when row + col is odd.
double Matrix4Minor(const Matrix4W& w, int row, int col);

// The smallest absolute value among the eigenvalues of W's 3x3 block (taken as symmetric),
// from the trigonometric solution of its characteristic cubic.
double MinAbsEigenvalue3(const Matrix4W& w);

// An orthonormal T with T^T Q T diagonal for a symmetric, singular Q (the degenerate
// members of a pencil that the collision code passes); the diagonal (elements 0, 5, 10, 15
// of T^T Q T) goes to diagonal, in no particular order. The candidate shifts are exact
// eigenvalues only when det Q = 0: for a regular Q, T is still orthonormal but T^T Q T
// keeps terms in its first row and column.
Matrix4W AnalyseQuadric(const Matrix4W& q, std::array<double, 4>& diagonal);
