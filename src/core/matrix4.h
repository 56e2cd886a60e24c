#pragma once

// The two 4x4 double matrix layouts. Matrix4 keeps the translation in the last column
// (elements 3, 7, 11; bottom row 0, 0, 0, 1) and places objects, the camera, lights and
// textures. Matrix4W puts the homogeneous coordinate first: a point is the column
// (1, x, y, z), a transform has row 0 = (1, 0, 0, 0), its translation in elements 4, 8, 12
// and its 3x3 part in 5-7, 9-11, 13-15; shapes, the renderer and the simulation use it, and
// its symmetric form holds a quadric surface's coefficients (see quadric.h).
//
// Both are sixteen doubles, row-major, acting on column vectors; nothing allocates or
// throws.

#include "core/matrix3.h"
#include "core/vec3.h"

#include <array>

struct Matrix4 {  // 128 bytes; default-constructed as the identity
    std::array<double, 16> m{1.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0,
                             0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 1.0};
};
static_assert(sizeof(Matrix4) == 128);

struct Matrix4W {  // 128 bytes; default-constructed as zeros
    std::array<double, 16> m{};
};
static_assert(sizeof(Matrix4W) == 128);

// Matrix4 operations.

Matrix4 MakeIdentity();
void SetIdentity(Matrix4& m);
Matrix4 CopyMatrix(const Matrix4& m);
// True only when every element equals the identity's (so -0.0 counts as 0.0).
bool IsIdentity(const Matrix4& m);
// Replaces the affine M (bottom row not read) by its inverse and returns true. Returns false
// and leaves M unchanged when the 3x3 part is singular to working precision:
// |det / (sum of positive terms - sum of negative terms)| below 1e-15, det exactly 0, or a
// determinant that is not a number.
bool InvertMatrix(Matrix4& m);
// The inverse through InvertMatrix; where that fails M comes back unchanged.
Matrix4 GetInverse(Matrix4 m);
// A*B for affine matrices.
Matrix4 MultiplyMatrix(const Matrix4& a, const Matrix4& b);
// M (x, y, z, 1) with each product and each translation element rounded to single precision
// before it is added to a running double sum; the renderer's cached positions depend on
// these exact values.
Vec3 TransformPoint(const Matrix4& m, double x, double y, double z);
// Sets M to the identity with (x, y, z) as its translation.
void SetTranslation(Matrix4& m, double x, double y, double z);
Matrix4 MakeTranslation(double x, double y, double z);
// Sets M to the identity with sx, sy, sz on the diagonal.
void SetScale(Matrix4& m, double sx, double sy, double sz);
Matrix4 MakeUniformScale(double s);
// Sets M to the rotation by angle about the unit axis (x, y, z).
void SetAxisRotation(Matrix4& m, double x, double y, double z, double angle);
// Sets M to the rotation with cosine c and sine s about the unit axis.
void SetRotationCosSin(Matrix4& m, const Vec3& axis, double c, double s);
Matrix4 MakeRotationAboutAxis(Vec3 axis, double angle);
Matrix4 Matrix4FromAxisAngle(const Vec3& axis, double angle);
// Keeps the 3x3 part R and sets the translation to p - R p, so that p stays fixed.
void SetPivot(Matrix4& m, const Vec3& p);
Matrix4 Matrix4FromMatrix3(const Matrix3& r);
Matrix3 Matrix3FromMatrix4(const Matrix4& m);

// Operations that do not look at the layout, one overload for each.

Matrix4 Matrix4Add(const Matrix4& a, const Matrix4& b);
Matrix4W Matrix4Add(const Matrix4W& a, const Matrix4W& b);
Matrix4 Matrix4Sub(const Matrix4& a, const Matrix4& b);
Matrix4W Matrix4Sub(const Matrix4W& a, const Matrix4W& b);
Matrix4 Matrix4Scale(double s, const Matrix4& m);
Matrix4W Matrix4Scale(double s, const Matrix4W& m);
Matrix4 Matrix4Product(const Matrix4& a, const Matrix4& b);
Matrix4W Matrix4Product(const Matrix4W& a, const Matrix4W& b);
// Row i of M dotted with (v.w, v.x, v.y, v.z); the result is in the same order.
Vec4 Matrix4TransformVec4(const Matrix4& m, const Vec4& v);
Vec4 Matrix4TransformVec4(const Matrix4W& m, const Vec4& v);
Matrix4 Matrix4Transpose(const Matrix4& m);
Matrix4W Matrix4Transpose(const Matrix4W& m);
// Sets out to s*I.
void Matrix4SetDiagonal(Matrix4& out, double s);
void Matrix4SetDiagonal(Matrix4W& out, double s);

// Matrix4W operations.

// The affine M in the w-first layout: element 0 is 1 and row i + 1 holds translation i,
// then row i of the 3x3 part.
Matrix4W ToWFirstMatrix(const Matrix4& m);
// Bottom row (0, 0, 0, 1).
Matrix4 FromWFirstMatrix(const Matrix4W& w);
// isWLast 0: element 0 = 1 and the 3x3 in 5-7, 9-11, 13-15. Otherwise the w-last
// arrangement in the same sixteen doubles: the 3x3 in 0-2, 4-6, 8-10 and element 15 = 1.
// All other elements 0.
Matrix4W EmbedMatrix3(const Matrix3& r, int isWLast);
// The inverse of an affine w-first transform; a singular 3x3 part gives infinities or NaN.
Matrix4W InvertAffineWFirst(const Matrix4W& w);
// Writes only the 3x3 block: rows (cos b, sin a sin b, -cos a sin b), (0, cos a, sin a),
// (sin b, -sin a cos b, cos a cos b).
void RotationFromTwoAnglesWFirst(Matrix4W& w, double a, double b);
