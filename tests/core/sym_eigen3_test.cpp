#include "core/sym_eigen3.h"

#include "maths_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

double Determinant(const Matrix3& m) {
    const auto& e = m.m;
    return e[0] * (e[4] * e[8] - e[5] * e[7]) - e[1] * (e[3] * e[8] - e[5] * e[6]) +
           e[2] * (e[3] * e[7] - e[4] * e[6]);
}

double Norm(const Matrix3& m) {
    double worst = 0.0;
    for (const double e : m.m) worst = std::fmax(worst, std::fabs(e));
    return worst;
}

// R diag(values) R^T.
Matrix3 FromEigen(const Matrix3& r, double a, double b, double c) {
    Matrix3 d;
    d.m[0] = a;
    d.m[4] = b;
    d.m[8] = c;
    return Matrix3Product(Matrix3Product(r, d), Matrix3Transpose(r));
}

// M V = V diag(values), V orthonormal and right-handed, all relative to |M|.
void ExpectEigenDecomposition(const Matrix3& m, const std::array<double, 3>& values,
                              const Matrix3& vectors, double tolerance) {
    const double scale = std::fmax(Norm(m), 1e-300);
    Matrix3 diagonal;
    for (int i = 0; i < 3; ++i) diagonal.m[4 * i] = values[i];
    const Matrix3 lhs = Matrix3Product(m, vectors);
    const Matrix3 rhs = Matrix3Product(vectors, diagonal);
    EXPECT_LT(MaxAbsDifference(lhs, rhs) / scale, tolerance);
    EXPECT_LT(OrthonormalityError(vectors), 1e-14);
    EXPECT_NEAR(Determinant(vectors), 1.0, 1e-14);
}

}  // namespace

TEST(SymEigen3, RandomSymmetricMatrices) {
    CrtSrand(401);
    for (int i = 0; i < 4000; ++i) {
        SCOPED_TRACE(testing::Message() << "case " << i);
        const Matrix3 m = RandomSymmetric(std::pow(10.0, RandomSigned() * 5.0));
        std::array<double, 3> values{};
        Matrix3 vectors;
        SymEigen3(m, false, values, vectors);
        ExpectEigenDecomposition(m, values, vectors, 1e-14);
        // Unsorted, the first eigenvalue is the one farthest from the mean.
        const double mean = (m.m[0] + m.m[4] + m.m[8]) / 3.0;
        EXPECT_GE(std::fabs(values[0] - mean), std::fabs(values[1] - mean) * (1 - 1e-12));
        EXPECT_GE(std::fabs(values[0] - mean), std::fabs(values[2] - mean) * (1 - 1e-12));

        SymEigen3(m, true, values, vectors);
        ExpectEigenDecomposition(m, values, vectors, 1e-14);
        EXPECT_GE(values[0], values[1]);
        EXPECT_GE(values[1], values[2]);
        if (HasFailure()) return;
    }
}

TEST(SymEigen3, RepeatedAndClusteredEigenvalues) {
    CrtSrand(402);
    const struct {
        double a, b, c;
    } spectra[] = {
        {1.0, 1.0, 2.0},  {-3.0, 5.0, 5.0}, {1.0, 1.0 + 1e-12, 3.0},
        {0.0, 0.0, 1e-6}, {2.0, -2.0, 0.0}, {1e8, 1.0, -1e-8},
    };
    for (const auto& s : spectra) {
        for (int i = 0; i < 50; ++i) {
            SCOPED_TRACE(testing::Message() << s.a << ", " << s.b << ", " << s.c << " case " << i);
            const Matrix3 m = FromEigen(RandomRotation(), s.a, s.b, s.c);
            std::array<double, 3> values{};
            Matrix3 vectors;
            SymEigen3(m, true, values, vectors);
            ExpectEigenDecomposition(m, values, vectors, 1e-14);
            std::vector<double> expected = {s.a, s.b, s.c};
            std::sort(expected.rbegin(), expected.rend());
            for (int k = 0; k < 3; ++k) EXPECT_NEAR(values[k], expected[k], 1e-14 * Norm(m));
            if (HasFailure()) return;
        }
    }
}

TEST(SymEigen3, MultipleOfIdentityGivesTheIdentityFrame) {
    for (const double s : {0.0, 2.5, -1e-200}) {
        std::array<double, 3> values{};
        Matrix3 vectors;
        SymEigen3(Matrix3SetDiagonal(s), true, values, vectors);
        EXPECT_EQ(values[0], s);
        EXPECT_EQ(values[1], s);
        EXPECT_EQ(values[2], s);
        EXPECT_EQ(Matrix3Compare(vectors, Matrix3SetDiagonal(1.0)), 0);
    }
}

TEST(SymEigen3, OnlyTheUpperTriangleIsRead) {
    Matrix3 upper{{2.0, 1.0, 0.5, 0.0, 3.0, -1.0, 0.0, 0.0, 1.0}};
    const Matrix3 full{{2.0, 1.0, 0.5, 1.0, 3.0, -1.0, 0.5, -1.0, 1.0}};
    std::array<double, 3> fromUpper{};
    std::array<double, 3> fromFull{};
    Matrix3 vectorsUpper;
    Matrix3 vectorsFull;
    SymEigen3(upper, false, fromUpper, vectorsUpper);
    SymEigen3(full, false, fromFull, vectorsFull);
    EXPECT_EQ(fromUpper, fromFull);
    EXPECT_EQ(Matrix3Compare(vectorsUpper, vectorsFull), 0);
}
