#include "core/quadric.h"

#include "core/maths_internal.h"
#include "core/polynomial_roots.h"
#include "core/scalar_maths.h"
#include "core/sym_eigen3.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>

namespace {

constexpr std::uint64_t kExponentMask = 0x7FF0000000000000ull;

Matrix3 Block(const Matrix4W& w) {
    const auto& e = w.m;
    return Matrix3{{e[5], e[6], e[7], e[9], e[10], e[11], e[13], e[14], e[15]}};
}

double Dot4(const std::array<double, 4>& a, const std::array<double, 4>& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
}

// Scales v to unit length; false when it has no length to scale.
bool Normalize4(std::array<double, 4>& v) {
    const double length = std::sqrt(Dot4(v, v));
    if (!(length > 0.0) || !std::isfinite(length)) return false;
    for (double& x : v) x /= length;
    return true;
}

void SetColumn4(Matrix4W& m, int col, const std::array<double, 4>& v) {
    for (int row = 0; row < 4; ++row) m.m[4 * row + col] = v[row];
}

Matrix4W Congruence(const Matrix4W& frame, const Matrix4W& q) {
    return Matrix4Product(Matrix4Product(Matrix4Transpose(frame), q), frame);
}

// Cyclic Jacobi rotations on a symmetric 4x4: slow but sure, for the forms whose shifted
// matrix has no null vector to read (an eigenvalue chosen twice over).
Matrix4W JacobiFrame(Matrix4W a) {
    Matrix4W frame;
    Matrix4SetDiagonal(frame, 1.0);
    for (int sweep = 0; sweep < 60; ++sweep) {
        double offDiagonal = 0.0;
        double diagonal = 0.0;
        for (int i = 0; i < 4; ++i) {
            diagonal += a.m[5 * i] * a.m[5 * i];
            for (int j = i + 1; j < 4; ++j) offDiagonal += a.m[4 * i + j] * a.m[4 * i + j];
        }
        if (!(offDiagonal > 1e-32 * diagonal)) break;
        for (int p = 0; p < 3; ++p) {
            for (int r = p + 1; r < 4; ++r) {
                const double apr = a.m[4 * p + r];
                if (apr == 0.0) continue;
                const double theta = (a.m[5 * r] - a.m[5 * p]) / (2.0 * apr);
                const double t = (theta >= 0.0 ? 1.0 : -1.0) /
                                 (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0);
                const double s = t * c;
                Matrix4W rotation;
                Matrix4SetDiagonal(rotation, 1.0);
                rotation.m[5 * p] = c;
                rotation.m[5 * r] = c;
                rotation.m[4 * p + r] = s;
                rotation.m[4 * r + p] = -s;
                a = Congruence(rotation, a);
                frame = Matrix4Product(frame, rotation);
            }
        }
    }
    return frame;
}

}  // namespace

void ConditionQuadric(Matrix4W& q) {
    int largest = 0;
    for (int i = 1; i < 16; ++i) largest = std::max(largest, DoubleExponentField(q.m[i]));
    const int constantExponent = DoubleExponentField(q.m[0]);
    if (constantExponent == 0 || constantExponent + 32 < largest) {
        const int exponent = largest - 32 > 0 ? largest - 32 : 1;
        const std::uint64_t bits = std::bit_cast<std::uint64_t>(q.m[0]);
        q.m[0] = std::bit_cast<double>((bits & ~kExponentMask) |
                                       (static_cast<std::uint64_t>(exponent) << 52));
    }
    for (const int i : {5, 6, 7, 9, 10, 11, 13, 14, 15}) {
        if ((std::bit_cast<std::uint64_t>(q.m[i]) << 1) != 0) return;
    }
    q.m[15] = std::bit_cast<double>(QuadricPlaneMarkerBits);
}

double SymmetricDet4(const Matrix4W& w) {
    const Matrix3 block = Block(w);
    const Vec3 b{w.m[4], w.m[8], w.m[12]};
    return w.m[0] * Matrix3Determinant(block) -
           Vec3Dot(b, Matrix3TransformVec3(Matrix3Adjugate(block), b));
}

double MaxAbsSymmetric4(const Matrix4W& w, double s) {
    const auto& e = w.m;
    const double values[10] = {std::fabs(e[0]) / (s * s), std::fabs(e[1]) / s, std::fabs(e[2]) / s,
                               std::fabs(e[3]) / s,       std::fabs(e[5]),     std::fabs(e[6]),
                               std::fabs(e[7]),           std::fabs(e[10]),    std::fabs(e[11]),
                               std::fabs(e[15])};
    double best = values[0];
    for (const double v : values) {
        if (v > best) best = v;
    }
    return best;
}

double Matrix4Minor(const Matrix4W& w, int row, int col) {
    Matrix3 minor;
    int k = 0;
    for (int i = 0; i < 4; ++i) {
        if (i == row) continue;
        for (int j = 0; j < 4; ++j) {
            if (j != col) minor.m[k++] = w.m[4 * i + j];
        }
    }
    const double det = Matrix3Determinant(minor);
    return (row + col) % 2 != 0 ? -det : det;
}

double MinAbsEigenvalue3(const Matrix4W& w) {
    const auto& e = w.m;
    const double a = -(e[5] + e[10] + e[15]);
    const double b =
        e[15] * e[5] + e[10] * e[5] + e[15] * e[10] - e[6] * e[6] - e[7] * e[7] - e[11] * e[11];
    const double c = -Matrix3Determinant(Block(w));
    const double p = b - a * a / 3.0;
    const double q = 2.0 * a * a * a / 27.0 - a * b / 3.0 + c;
    const double disc = p * p * p / 27.0 + q * q / 4.0;
    const double root = disc < 0.0 ? std::sqrt(-disc) : 0.0;
    const double m = p < 0.0 ? std::sqrt(-p / 3.0) : 0.0;
    double angle;
    if (root != 0.0) {
        angle = std::atan(q / (2.0 * root));
    } else {
        angle = q >= 0.0 ? HALF_PI : -HALF_PI;
    }
    const double phi = (angle + HALF_PI) / 3.0;
    double smallest = DBL_MAX;
    for (int k = 0; k < 3; ++k) {
        const double value = std::fabs(2.0 * m * std::cos(phi + 2.0 * PI * k / 3.0) - a / 3.0);
        if (value < smallest) smallest = value;
    }
    return smallest;
}

Matrix4W AnalyseQuadric(const Matrix4W& q, std::array<double, 4>& diagonal) {
    const auto& e = q.m;
    // The first three elementary symmetric functions of Q's eigenvalues, from the block's
    // invariants and the linear column l.
    const double trace = e[5] + e[10] + e[15];
    const double minors = (e[5] * e[10] - e[6] * e[6]) + (e[10] * e[15] - e[11] * e[11]) +
                          (e[5] * e[15] - e[7] * e[7]);
    const double linear = e[4] * e[4] + e[8] * e[8] + e[12] * e[12];
    const double lBl = e[5] * e[4] * e[4] + e[10] * e[8] * e[8] + e[15] * e[12] * e[12] +
                       2.0 * e[6] * e[4] * e[8] + 2.0 * e[7] * e[4] * e[12] +
                       2.0 * e[11] * e[8] * e[12];
    const double blockDet = Matrix3Determinant(Block(q));
    std::array<double, 3> roots{};
    CubicRealRoots(-(e[0] + trace), e[0] * trace + minors - linear,
                   -(e[0] * minors + blockDet + lBl - linear * trace), roots);

    // The candidate farthest from its nearest neighbour: shifting by it leaves a matrix whose
    // adjugate is dominated by one well-separated eigenvector (exactly its null vector when
    // the candidate is an eigenvalue).
    const double candidates[4] = {roots[0], roots[1], roots[2], 0.0};
    int chosen = 0;
    double chosenGap = -1.0;
    for (int i = 0; i < 4; ++i) {
        double gap = 1e100;
        for (int j = 0; j < 4; ++j) {
            if (j != i) gap = std::min(gap, std::fabs(candidates[i] - candidates[j]));
        }
        if (gap > chosenGap) {
            chosenGap = gap;
            chosen = i;
        }
    }
    Matrix4W shifted = q;
    for (int i = 0; i < 4; ++i) shifted.m[5 * i] -= candidates[chosen];
    int row = 0;
    double rowCofactor = -1.0;
    for (int i = 0; i < 4; ++i) {
        const double cofactor = std::fabs(Matrix4Minor(shifted, i, 0));
        if (cofactor > rowCofactor) {
            rowCofactor = cofactor;
            row = i;
        }
    }
    std::array<double, 4> first{};
    for (int j = 0; j < 4; ++j) first[j] = Matrix4Minor(shifted, row, j);
    if (!Normalize4(first)) {
        // The candidate is an eigenvalue of multiplicity two or more, so every 3x3 minor
        // vanishes and no null vector can be read off; rotate the whole form instead of
        // returning a frame of NaNs.
        const Matrix4W frame = JacobiFrame(q);
        const Matrix4W result = Congruence(frame, q);
        diagonal = {result.m[0], result.m[5], result.m[10], result.m[15]};
        return frame;
    }

    // Complete the frame from the axes after the chosen row, cyclically (Gram-Schmidt).
    Matrix4W frame;
    SetColumn4(frame, 0, first);
    std::array<std::array<double, 4>, 4> columns{};
    columns[0] = first;
    for (int k = 1; k < 4; ++k) {
        std::array<double, 4> v{};
        v[(row + k) % 4] = 1.0;
        for (int j = 0; j < k; ++j) {
            const double along = Dot4(v, columns[j]);
            for (int i = 0; i < 4; ++i) v[i] -= along * columns[j][i];
        }
        Normalize4(v);
        columns[k] = v;
        SetColumn4(frame, k, v);
    }

    // In this frame Q is block diagonal; one symmetric 3x3 eigen-decomposition finishes it.
    const Matrix4W inFrame = Congruence(frame, q);
    std::array<double, 3> values{};
    Matrix3 vectors;
    SymEigen3(Block(inFrame), false, values, vectors);
    const Matrix4W result = Matrix4Product(frame, EmbedMatrix3(vectors, 0));
    const Matrix4W finalForm = Congruence(result, q);
    diagonal = {finalForm.m[0], finalForm.m[5], finalForm.m[10], finalForm.m[15]};
    return result;
}
