#pragma once

// The 3x3 double matrix: nine doubles, row-major (element m[3*row + col]), acting on
// column vectors, so A*B applies B first. Element-wise operations run over all nine
// elements; nothing allocates or throws.

#include "core/vec3.h"

#include <array>

struct Matrix3 {  // 72 bytes
    std::array<double, 9> m{};
};
static_assert(sizeof(Matrix3) == 72);

inline constexpr Matrix3 ZERO_MATRIX3{};

Matrix3 Matrix3Copy(const Matrix3& m);
// s*I.
Matrix3 Matrix3SetDiagonal(double s);
Matrix3 Matrix3Add(const Matrix3& a, const Matrix3& b);
Matrix3 Matrix3Sub(const Matrix3& a, const Matrix3& b);
// s*M.
Matrix3 Matrix3Scale(double s, const Matrix3& m);
// M *= 1/s in place; dividing by exactly 0 sets all nine elements to DBL_MAX. Returns m.
Matrix3& Matrix3DivideScalar(Matrix3& m, double s);
// A*B, each element summed in column order.
Matrix3 Matrix3Product(const Matrix3& a, const Matrix3& b);
// A*B accumulated into a cleared result (so an exact zero sum comes out as +0.0).
Matrix3 Matrix3Multiply(const Matrix3& a, const Matrix3& b);
// transpose(A) * B.
Matrix3 Matrix3TransposeProduct(const Matrix3& a, const Matrix3& b);
Matrix3 Matrix3Transpose(const Matrix3& m);
Vec3 Matrix3TransformXYZ(const Matrix3& m, double x, double y, double z);
Vec3 Matrix3TransformVec3(const Matrix3& m, const Vec3& v);
// The transposed cofactor matrix, so M * adj(M) = det(M) I.
Matrix3 Matrix3Adjugate(const Matrix3& m);
// adj(M) * (1/det) with no test of the determinant; a singular M gives infinities or NaN.
Matrix3 Matrix3InvertUnchecked(const Matrix3& m);
// The inverse, or ZERO_MATRIX3 when |det| is below 1e-8.
Matrix3 Matrix3Inverse(const Matrix3& m);
// Three-way comparison of the 72 bytes as memcmp orders them: -1, 0 or 1.
int Matrix3Compare(const Matrix3& a, const Matrix3& b);
// The largest of |m0|/(s*s), |m1|/s, |m2|/s, |m4|, |m5|, |m8| (the upper triangle with the
// first row and column scaled); a later element wins only when strictly larger. The
// winner's index (0, 1, 2, 4, 5 or 8) goes to *index when index is not null.
double MaxAbsSymmetric3(const Matrix3& m, double s, int* index = nullptr);
