#include "core/sym_eigen3.h"

#include "core/maths_internal.h"
#include "core/vec3.h"

#include <cmath>
#include <utility>

namespace {

Vec3 Column(const Matrix3& m, int col) { return Vec3{m.m[col], m.m[3 + col], m.m[6 + col]}; }

void SetColumn(Matrix3& m, int col, const Vec3& v) {
    m.m[col] = v.x;
    m.m[3 + col] = v.y;
    m.m[6 + col] = v.z;
}

// The coordinate axis on which v has its smallest square; a later axis wins a tie.
Vec3 LeastAlignedAxis(const Vec3& v) {
    const double squares[3] = {v.x * v.x, v.y * v.y, v.z * v.z};
    int chosen = 0;
    for (int i = 1; i < 3; ++i) {
        if (squares[i] <= squares[chosen]) chosen = i;
    }
    Vec3 axis;
    (chosen == 0 ? axis.x : chosen == 1 ? axis.y : axis.z) = 1.0;
    return axis;
}

// v / |v| at any scale. The adjugate's entries go as the square of the matrix's, so the
// 1e-8 floor of Vec3Normalize would erase the eigenvector of any matrix whose eigenvalues
// lie closer than about 1e-4; scaling by the largest component first also keeps the
// squares from underflowing.
Vec3 ScaleToUnit(const Vec3& v) {
    const double largest = std::fmax(std::fabs(v.x), std::fmax(std::fabs(v.y), std::fabs(v.z)));
    if (!(largest > 0.0) || !std::isfinite(largest)) return v;
    const Vec3 scaled = Vec3Scale(v, 1.0 / largest);
    return Vec3Scale(scaled, 1.0 / Vec3Length(scaled));
}

}  // namespace

void SymEigen3(const Matrix3& m, bool sortDescending, std::array<double, 3>& eigenvalues,
               Matrix3& eigenvectors) {
    // Remove the mean of the diagonal (twice, to take up the rounding of the first pass);
    // D is then traceless and its invariants J2, J3 fix the eigenvalues.
    double mean = (m.m[0] + m.m[4] + m.m[8]) / 3.0;
    double d[3] = {m.m[0] - mean, m.m[4] - mean, m.m[8] - mean};
    const double residual = (d[0] + d[1] + d[2]) / 3.0;
    for (double& di : d) di -= residual;
    mean += residual;
    const double j2 = 0.5 * (d[0] * d[0] + d[1] * d[1] + d[2] * d[2]) + m.m[1] * m.m[1] +
                      m.m[2] * m.m[2] + m.m[5] * m.m[5];
    if (DoubleExponentField(j2) == 0) {
        eigenvalues = {mean, mean, mean};
        eigenvectors = Matrix3SetDiagonal(1.0);
        return;
    }
    const Matrix3 shifted{{d[0], m.m[1], m.m[2], m.m[1], d[1], m.m[5], m.m[2], m.m[5], d[2]}};

    // The eigenvalues of D solve lambda^3 - J2 lambda - J3 = 0. With lambda = x sqrt(J2/3)
    // this becomes x^3 - 3x - r = 0, r = sqrt(27) J3 / J2^1.5, which lies in [0, 2] once
    // the sign of J3 is folded out; its largest root is the eigenvalue of largest magnitude.
    double j3 = Matrix3Determinant(shifted);
    const bool isNegative = j3 < 0.0;
    if (isNegative) j3 = -j3;
    const double j2Power = j2 * std::sqrt(j2);
    const double r = std::sqrt(4.0 / 27.0) * j2Power <= j3 ? 2.0 : std::sqrt(27.0) * j3 / j2Power;
    double lambda = NormalisedCubicLargestRoot(r) * std::sqrt(j2 / 3.0);
    if (isNegative) lambda = -lambda;

    // Every column of adj(D - lambda I) is a multiple of the eigenvector; the longest is the
    // best conditioned.
    const Matrix3 adjugate = Matrix3Adjugate(Matrix3Sub(shifted, Matrix3SetDiagonal(lambda)));
    int bestColumn = 0;
    double bestSquare = -1.0;
    for (int col = 0; col < 3; ++col) {
        const Vec3 c = Column(adjugate, col);
        const double square = Vec3Dot(c, c);
        if (square > bestSquare) {
            bestSquare = square;
            bestColumn = col;
        }
    }
    Vec3 first = ScaleToUnit(Column(adjugate, bestColumn));
    Vec3 second = LeastAlignedAxis(first);
    second = ScaleToUnit(Vec3Sub(second, Vec3Scale(first, Vec3Dot(second, first))));
    Vec3 third = Vec3Cross(first, second);

    Matrix3 frame;
    SetColumn(frame, 0, first);
    SetColumn(frame, 1, second);
    SetColumn(frame, 2, third);
    const Matrix3 inFrame = Matrix3TransposeProduct(frame, Matrix3Product(shifted, frame));

    // One Jacobi rotation diagonalises the remaining 2x2 block [[p, q], [q, s]].
    double values[3] = {inFrame.m[0], inFrame.m[4], inFrame.m[8]};
    const double q = inFrame.m[5];
    if (DoubleExponentField(q) != 0) {
        const double theta = (values[2] - values[1]) / (2.0 * q);
        const double t =
            (theta >= 0.0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
        const double c = 1.0 / std::sqrt(t * t + 1.0);
        const double s = t * c;
        values[1] -= t * q;
        values[2] += t * q;
        const Vec3 turnedSecond = Vec3Sub(Vec3Scale(second, c), Vec3Scale(third, s));
        third = Vec3Add(Vec3Scale(second, s), Vec3Scale(third, c));
        second = turnedSecond;
        SetColumn(frame, 1, second);
        SetColumn(frame, 2, third);
    }
    for (double& value : values) value += mean;

    if (!sortDescending) {
        eigenvalues = {values[0], values[1], values[2]};
        eigenvectors = frame;
        return;
    }
    int order[3] = {0, 1, 2};
    bool isOdd = false;
    // Three compare-and-swap steps sort three items; each swap flips the parity.
    const auto sortPair = [&](int i, int j) {
        if (values[order[j]] > values[order[i]]) {
            std::swap(order[i], order[j]);
            isOdd = !isOdd;
        }
    };
    sortPair(0, 1);
    sortPair(1, 2);
    sortPair(0, 1);
    for (int i = 0; i < 3; ++i) {
        eigenvalues[i] = values[order[i]];
        Vec3 column = Column(frame, order[i]);
        if (i == 2 && isOdd) column = Vec3Scale(column, -1.0);
        SetColumn(eigenvectors, i, column);
    }
}
