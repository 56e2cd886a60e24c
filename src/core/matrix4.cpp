#include "core/matrix4.h"

#include "core/maths_internal.h"
#include "core/rotation.h"

#include <cmath>

namespace {

using Elements = std::array<double, 16>;

Elements AddElements(const Elements& a, const Elements& b) {
    Elements result{};
    for (int i = 0; i < 16; ++i) result[i] = a[i] + b[i];
    return result;
}

Elements SubElements(const Elements& a, const Elements& b) {
    Elements result{};
    for (int i = 0; i < 16; ++i) result[i] = a[i] - b[i];
    return result;
}

Elements ScaleElements(double s, const Elements& m) {
    Elements result{};
    for (int i = 0; i < 16; ++i) result[i] = s * m[i];
    return result;
}

Elements ProductElements(const Elements& a, const Elements& b) {
    Elements result{};
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 4; ++col) {
            result[4 * row + col] = a[4 * row] * b[col] + a[4 * row + 1] * b[4 + col] +
                                    a[4 * row + 2] * b[8 + col] + a[4 * row + 3] * b[12 + col];
        }
    }
    return result;
}

Vec4 TransformElements(const Elements& m, const Vec4& v) {
    double out[4];
    for (int row = 0; row < 4; ++row) {
        out[row] =
            m[4 * row] * v.w + m[4 * row + 1] * v.x + m[4 * row + 2] * v.y + m[4 * row + 3] * v.z;
    }
    return Vec4{out[0], out[1], out[2], out[3]};
}

Elements TransposeElements(const Elements& m) {
    Elements result{};
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 4; ++col) result[4 * row + col] = m[4 * col + row];
    }
    return result;
}

Elements DiagonalElements(double s) {
    Elements result{};
    for (int i = 0; i < 4; ++i) result[5 * i] = s;
    return result;
}

void SetLinearPart(Matrix4& m, const Matrix3& r) {
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) m.m[4 * row + col] = r.m[3 * row + col];
    }
}

}  // namespace

Matrix4 MakeIdentity() { return Matrix4{}; }

void SetIdentity(Matrix4& m) { m = Matrix4{}; }

Matrix4 CopyMatrix(const Matrix4& m) { return m; }

bool IsIdentity(const Matrix4& m) {
    const Matrix4 identity;
    for (int i = 0; i < 16; ++i) {
        if (m.m[i] != identity.m[i]) return false;
    }
    return true;
}

bool InvertMatrix(Matrix4& m) {
    const auto& e = m.m;
    // Summing the positive and negative triple products apart gives the scale against which
    // the determinant's cancellation is judged, so the test is relative.
    const double terms[6] = {e[0] * e[5] * e[10], e[1] * e[6] * e[8],  e[2] * e[4] * e[9],
                             -e[2] * e[5] * e[8], -e[0] * e[6] * e[9], -e[1] * e[4] * e[10]};
    double positive = 0.0;
    double negative = 0.0;
    for (const double term : terms) {
        if (term >= 0.0) {
            positive += term;
        } else {
            negative += term;
        }
    }
    const double det = positive + negative;
    if (det == 0.0) return false;
    // Written as "not at least" so that a NaN determinant fails as well.
    if (!(std::fabs(det / (positive - negative)) >= 1e-15)) return false;
    const Matrix3 inverse = Matrix3Scale(1.0 / det, Matrix3Adjugate(Matrix3FromMatrix4(m)));
    const Vec3 translation = Matrix3TransformXYZ(inverse, e[3], e[7], e[11]);
    Matrix4 result;
    SetLinearPart(result, inverse);
    result.m[3] = -translation.x;
    result.m[7] = -translation.y;
    result.m[11] = -translation.z;
    m = result;
    return true;
}

Matrix4 GetInverse(Matrix4 m) {
    InvertMatrix(m);
    return m;
}

Matrix4 MultiplyMatrix(const Matrix4& a, const Matrix4& b) {
    return Matrix4{ProductElements(a.m, b.m)};
}

Vec3 TransformPoint(const Matrix4& m, double x, double y, double z) {
    double out[3];
    for (int row = 0; row < 3; ++row) {
        const double* r = &m.m[4 * row];
        double sum = static_cast<float>(r[0] * x);
        sum += static_cast<float>(r[1] * y);
        sum += static_cast<float>(r[2] * z);
        sum += static_cast<float>(r[3]);
        out[row] = sum;
    }
    return Vec3{out[0], out[1], out[2]};
}

void SetTranslation(Matrix4& m, double x, double y, double z) {
    m = Matrix4{};
    m.m[3] = x;
    m.m[7] = y;
    m.m[11] = z;
}

Matrix4 MakeTranslation(double x, double y, double z) {
    Matrix4 m;
    SetTranslation(m, x, y, z);
    return m;
}

void SetScale(Matrix4& m, double sx, double sy, double sz) {
    m = Matrix4{};
    m.m[0] = sx;
    m.m[5] = sy;
    m.m[10] = sz;
}

Matrix4 MakeUniformScale(double s) {
    Matrix4 m;
    SetScale(m, s, s, s);
    return m;
}

void SetAxisRotation(Matrix4& m, double x, double y, double z, double angle) {
    SetRotationCosSin(m, Vec3{x, y, z}, std::cos(angle), std::sin(angle));
}

void SetRotationCosSin(Matrix4& m, const Vec3& axis, double c, double s) {
    m = Matrix4FromMatrix3(Matrix3FromAxisCosSin(axis, c, s));
}

Matrix4 MakeRotationAboutAxis(Vec3 axis, double angle) {
    Matrix4 m;
    SetAxisRotation(m, axis.x, axis.y, axis.z, angle);
    return m;
}

Matrix4 Matrix4FromAxisAngle(const Vec3& axis, double angle) {
    return Matrix4FromMatrix3(Matrix3FromAxisAngle(axis, angle));
}

void SetPivot(Matrix4& m, const Vec3& p) {
    const Vec3 turned = Matrix3TransformVec3(Matrix3FromMatrix4(m), p);
    m.m[3] = p.x - turned.x;
    m.m[7] = p.y - turned.y;
    m.m[11] = p.z - turned.z;
}

Matrix4 Matrix4FromMatrix3(const Matrix3& r) {
    Matrix4 m;
    SetLinearPart(m, r);
    return m;
}

Matrix3 Matrix3FromMatrix4(const Matrix4& m) {
    const auto& e = m.m;
    return Matrix3{{e[0], e[1], e[2], e[4], e[5], e[6], e[8], e[9], e[10]}};
}

Matrix4 Matrix4Add(const Matrix4& a, const Matrix4& b) { return Matrix4{AddElements(a.m, b.m)}; }
Matrix4W Matrix4Add(const Matrix4W& a, const Matrix4W& b) {
    return Matrix4W{AddElements(a.m, b.m)};
}
Matrix4 Matrix4Sub(const Matrix4& a, const Matrix4& b) { return Matrix4{SubElements(a.m, b.m)}; }
Matrix4W Matrix4Sub(const Matrix4W& a, const Matrix4W& b) {
    return Matrix4W{SubElements(a.m, b.m)};
}
Matrix4 Matrix4Scale(double s, const Matrix4& m) { return Matrix4{ScaleElements(s, m.m)}; }
Matrix4W Matrix4Scale(double s, const Matrix4W& m) { return Matrix4W{ScaleElements(s, m.m)}; }
Matrix4 Matrix4Product(const Matrix4& a, const Matrix4& b) {
    return Matrix4{ProductElements(a.m, b.m)};
}
Matrix4W Matrix4Product(const Matrix4W& a, const Matrix4W& b) {
    return Matrix4W{ProductElements(a.m, b.m)};
}
Vec4 Matrix4TransformVec4(const Matrix4& m, const Vec4& v) { return TransformElements(m.m, v); }
Vec4 Matrix4TransformVec4(const Matrix4W& m, const Vec4& v) { return TransformElements(m.m, v); }
Matrix4 Matrix4Transpose(const Matrix4& m) { return Matrix4{TransposeElements(m.m)}; }
Matrix4W Matrix4Transpose(const Matrix4W& m) { return Matrix4W{TransposeElements(m.m)}; }
void Matrix4SetDiagonal(Matrix4& out, double s) { out.m = DiagonalElements(s); }
void Matrix4SetDiagonal(Matrix4W& out, double s) { out.m = DiagonalElements(s); }

Matrix4W ToWFirstMatrix(const Matrix4& m) {
    const auto& e = m.m;
    return Matrix4W{{1.0, 0.0, 0.0, 0.0, e[3], e[0], e[1], e[2], e[7], e[4], e[5], e[6], e[11],
                     e[8], e[9], e[10]}};
}

Matrix4 FromWFirstMatrix(const Matrix4W& w) {
    const auto& e = w.m;
    return Matrix4{{e[5], e[6], e[7], e[4], e[9], e[10], e[11], e[8], e[13], e[14], e[15], e[12],
                    0.0, 0.0, 0.0, 1.0}};
}

Matrix4W EmbedMatrix3(const Matrix3& r, int isWLast) {
    Matrix4W w;
    const int first = isWLast != 0 ? 0 : 5;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) w.m[first + 4 * row + col] = r.m[3 * row + col];
    }
    w.m[isWLast != 0 ? 15 : 0] = 1.0;
    return w;
}

Matrix4W InvertAffineWFirst(const Matrix4W& w) {
    const auto& e = w.m;
    const Matrix3 block{{e[5], e[6], e[7], e[9], e[10], e[11], e[13], e[14], e[15]}};
    Matrix3 inverse = Matrix3Adjugate(block);
    const double det = Matrix3Determinant(block);
    for (double& element : inverse.m) element /= det;
    const Vec3 translation = Matrix3TransformXYZ(inverse, e[4], e[8], e[12]);
    Matrix4W result = EmbedMatrix3(inverse, 0);
    result.m[4] = -translation.x;
    result.m[8] = -translation.y;
    result.m[12] = -translation.z;
    return result;
}

void RotationFromTwoAnglesWFirst(Matrix4W& w, double a, double b) {
    const double ca = std::cos(a);
    const double sa = std::sin(a);
    const double cb = std::cos(b);
    const double sb = std::sin(b);
    w.m[5] = cb;
    w.m[6] = sa * sb;
    w.m[7] = -ca * sb;
    w.m[9] = 0.0;
    w.m[10] = ca;
    w.m[11] = sa;
    w.m[13] = sb;
    w.m[14] = -sa * cb;
    w.m[15] = ca * cb;
}
