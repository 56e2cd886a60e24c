#include "core/matrix3.h"

#include "core/maths_internal.h"

#include <cfloat>
#include <cmath>
#include <cstring>

namespace {

// The first row of M dotted with the first column of its adjugate.
double DeterminantFromAdjugate(const Matrix3& m, const Matrix3& adjugate) {
    return m.m[0] * adjugate.m[0] + m.m[1] * adjugate.m[3] + m.m[2] * adjugate.m[6];
}

}  // namespace

Matrix3 Matrix3Copy(const Matrix3& m) { return m; }

Matrix3 Matrix3SetDiagonal(double s) {
    Matrix3 result;
    result.m[0] = s;
    result.m[4] = s;
    result.m[8] = s;
    return result;
}

Matrix3 Matrix3Add(const Matrix3& a, const Matrix3& b) {
    Matrix3 result;
    for (int i = 0; i < 9; ++i) result.m[i] = a.m[i] + b.m[i];
    return result;
}

Matrix3 Matrix3Sub(const Matrix3& a, const Matrix3& b) {
    Matrix3 result;
    for (int i = 0; i < 9; ++i) result.m[i] = a.m[i] - b.m[i];
    return result;
}

Matrix3 Matrix3Scale(double s, const Matrix3& m) {
    Matrix3 result;
    for (int i = 0; i < 9; ++i) result.m[i] = s * m.m[i];
    return result;
}

Matrix3& Matrix3DivideScalar(Matrix3& m, double s) {
    if (s == 0.0) {
        m.m.fill(DBL_MAX);
        return m;
    }
    const double inverse = 1.0 / s;
    for (double& element : m.m) element *= inverse;
    return m;
}

Matrix3 Matrix3Product(const Matrix3& a, const Matrix3& b) {
    Matrix3 result;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            result.m[3 * row + col] = a.m[3 * row] * b.m[col] + a.m[3 * row + 1] * b.m[3 + col] +
                                      a.m[3 * row + 2] * b.m[6 + col];
        }
    }
    return result;
}

Matrix3 Matrix3Multiply(const Matrix3& a, const Matrix3& b) {
    Matrix3 result;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            for (int k = 0; k < 3; ++k) {
                result.m[3 * row + col] += a.m[3 * row + k] * b.m[3 * k + col];
            }
        }
    }
    return result;
}

Matrix3 Matrix3TransposeProduct(const Matrix3& a, const Matrix3& b) {
    Matrix3 result;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            result.m[3 * row + col] =
                a.m[row] * b.m[col] + a.m[3 + row] * b.m[3 + col] + a.m[6 + row] * b.m[6 + col];
        }
    }
    return result;
}

Matrix3 Matrix3Transpose(const Matrix3& m) {
    Matrix3 result;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) result.m[3 * row + col] = m.m[3 * col + row];
    }
    return result;
}

Vec3 Matrix3TransformXYZ(const Matrix3& m, double x, double y, double z) {
    return Vec3{m.m[0] * x + m.m[1] * y + m.m[2] * z, m.m[3] * x + m.m[4] * y + m.m[5] * z,
                m.m[6] * x + m.m[7] * y + m.m[8] * z};
}

Vec3 Matrix3TransformVec3(const Matrix3& m, const Vec3& v) {
    return Matrix3TransformXYZ(m, v.x, v.y, v.z);
}

Matrix3 Matrix3Adjugate(const Matrix3& m) {
    const auto& e = m.m;
    Matrix3 result;
    result.m = {e[4] * e[8] - e[7] * e[5], e[7] * e[2] - e[8] * e[1], e[5] * e[1] - e[4] * e[2],
                e[6] * e[5] - e[8] * e[3], e[0] * e[8] - e[6] * e[2], e[3] * e[2] - e[0] * e[5],
                e[7] * e[3] - e[4] * e[6], e[6] * e[1] - e[7] * e[0], e[4] * e[0] - e[3] * e[1]};
    return result;
}

double Matrix3Determinant(const Matrix3& m) {
    return DeterminantFromAdjugate(m, Matrix3Adjugate(m));
}

Matrix3 Matrix3InvertUnchecked(const Matrix3& m) {
    const Matrix3 adjugate = Matrix3Adjugate(m);
    const double det = DeterminantFromAdjugate(m, adjugate);
    return Matrix3Scale(1.0 / det, adjugate);
}

Matrix3 Matrix3Inverse(const Matrix3& m) {
    Matrix3 adjugate = Matrix3Adjugate(m);
    const double det = DeterminantFromAdjugate(m, adjugate);
    if (std::fabs(det) < 1e-8) return ZERO_MATRIX3;
    return Matrix3DivideScalar(adjugate, det);
}

int Matrix3Compare(const Matrix3& a, const Matrix3& b) {
    const int order = std::memcmp(a.m.data(), b.m.data(), sizeof(a.m));
    return (order > 0) - (order < 0);
}

double MaxAbsSymmetric3(const Matrix3& m, double s, int* index) {
    const double scaled[6] = {std::fabs(m.m[0]) / (s * s), std::fabs(m.m[1]) / s,
                              std::fabs(m.m[2]) / s,       std::fabs(m.m[4]),
                              std::fabs(m.m[5]),           std::fabs(m.m[8])};
    static constexpr int kIndices[6] = {0, 1, 2, 4, 5, 8};
    int best = 0;
    for (int i = 1; i < 6; ++i) {
        if (scaled[i] > scaled[best]) best = i;
    }
    if (index != nullptr) *index = kIndices[best];
    return scaled[best];
}
