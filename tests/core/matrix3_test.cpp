#include "core/matrix3.h"

#include "maths_test_support.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

namespace {

double Determinant(const Matrix3& m) {
    const auto& e = m.m;
    return e[0] * (e[4] * e[8] - e[5] * e[7]) - e[1] * (e[3] * e[8] - e[5] * e[6]) +
           e[2] * (e[3] * e[7] - e[4] * e[6]);
}

Matrix3 RandomMatrix() {
    Matrix3 m;
    for (double& e : m.m) e = RandomSigned();
    return m;
}

}  // namespace

TEST(Matrix3, AdjugateTimesMatrixIsDeterminantTimesIdentity) {
    CrtSrand(201);
    for (int i = 0; i < 2000; ++i) {
        const Matrix3 m = RandomMatrix();
        const Matrix3 product = Matrix3Product(m, Matrix3Adjugate(m));
        ASSERT_LT(MaxAbsDifference(product, Matrix3SetDiagonal(Determinant(m))), 1e-14)
            << "case " << i;
    }
}

TEST(Matrix3, InverseOfInvertibleMatrices) {
    CrtSrand(202);
    int tested = 0;
    for (int i = 0; i < 2000; ++i) {
        const Matrix3 m = RandomMatrix();
        const double det = Determinant(m);
        if (std::fabs(det) < 0.05) continue;
        ++tested;
        const Matrix3 identity = Matrix3SetDiagonal(1.0);
        ASSERT_LT(MaxAbsDifference(Matrix3Product(m, Matrix3Inverse(m)), identity), 1e-12)
            << "case " << i;
        ASSERT_LT(MaxAbsDifference(Matrix3Product(m, Matrix3InvertUnchecked(m)), identity), 1e-12)
            << "case " << i;
    }
    EXPECT_GT(tested, 1000);
}

TEST(Matrix3, InverseOfNearSingularMatrixIsZero) {
    const Matrix3 rankTwo{{1.0, 2.0, 3.0, 2.0, 4.0, 6.0, 0.0, 1.0, 1.0}};
    const Matrix3 tiny = Matrix3SetDiagonal(2e-3);         // det 8e-9
    const Matrix3 justAbove = Matrix3SetDiagonal(2.2e-3);  // det 1.06e-8
    EXPECT_EQ(Matrix3Compare(Matrix3Inverse(rankTwo), ZERO_MATRIX3), 0);
    EXPECT_EQ(Matrix3Compare(Matrix3Inverse(tiny), ZERO_MATRIX3), 0);
    EXPECT_NEAR(Matrix3Inverse(justAbove).m[0], 1.0 / 2.2e-3, 1e-9);
}

TEST(Matrix3, DivideScalar) {
    Matrix3 m = Matrix3SetDiagonal(-4.0);
    Matrix3DivideScalar(m, 2.0);
    EXPECT_EQ(m.m[0], -2.0);
    EXPECT_EQ(m.m[1], 0.0);
    Matrix3DivideScalar(m, 0.0);
    for (const double e : m.m) EXPECT_EQ(e, DBL_MAX);
}

TEST(Matrix3, ProductsAgreeAndMultiplyStartsFromPositiveZero) {
    CrtSrand(203);
    for (int i = 0; i < 500; ++i) {
        const Matrix3 a = RandomMatrix();
        const Matrix3 b = RandomMatrix();
        const Matrix3 product = Matrix3Product(a, b);
        ASSERT_EQ(Matrix3Compare(Matrix3TransposeProduct(Matrix3Transpose(a), b), product), 0);
        ASSERT_LT(MaxAbsDifference(Matrix3Multiply(a, b), product), 1e-15);
    }
    // Every term -0.0: the plain sum keeps the sign, the cleared accumulator does not.
    const Matrix3 ones{{1.0, 1.0, 1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0}};
    Matrix3 negativeZeros;
    negativeZeros.m.fill(-0.0);
    EXPECT_TRUE(std::signbit(Matrix3Product(ones, negativeZeros).m[0]));
    EXPECT_FALSE(std::signbit(Matrix3Multiply(ones, negativeZeros).m[0]));
}

TEST(Matrix3, TransformAndElementWiseOperations) {
    const Matrix3 m{{1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 9.0}};
    const Vec3 v = Matrix3TransformVec3(m, Vec3{1.0, 0.0, -1.0});
    EXPECT_EQ(v.x, -2.0);
    EXPECT_EQ(v.y, -2.0);
    EXPECT_EQ(v.z, -2.0);
    const Matrix3 doubled = Matrix3Add(m, m);
    EXPECT_EQ(Matrix3Compare(doubled, Matrix3Scale(2.0, m)), 0);
    EXPECT_EQ(Matrix3Compare(Matrix3Sub(doubled, m), Matrix3Copy(m)), 0);
    EXPECT_EQ(Matrix3Transpose(m).m[1], 4.0);
}

TEST(Matrix3, CompareIsByteWise) {
    Matrix3 negativeZero;
    negativeZero.m[8] = -0.0;
    EXPECT_EQ(Matrix3Compare(ZERO_MATRIX3, ZERO_MATRIX3), 0);
    EXPECT_EQ(Matrix3Compare(negativeZero, ZERO_MATRIX3), 1);
    EXPECT_EQ(Matrix3Compare(ZERO_MATRIX3, negativeZero), -1);
}

TEST(Matrix3, MaxAbsSymmetric3PicksTheFirstOfEqualWinners) {
    const struct {
        Matrix3 m;
        double s;
        double expected;
        int index;
    } cases[] = {
        {{{8.0, 0, 0, 0, 1.0, 0, 0, 0, 0}}, 2.0, 2.0, 0},   // 8 / 4
        {{{0, -6.0, 0, 0, 1.0, 0, 0, 0, 0}}, 2.0, 3.0, 1},  // 6 / 2
        {{{0, 0, 0, 9.0, 1.0, 0, 0, 0, 0}}, 1.0, 1.0, 4},   // the lower triangle is not read
        {{{2.0, 2.0, 0, 0, 2.0, 2.0, 0, 0, 2.0}}, 1.0, 2.0, 0},
        {{{0, 0, 0, 0, 1.0, 0, 0, 0, -3.0}}, 1.0, 3.0, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        int index = -1;
        EXPECT_EQ(MaxAbsSymmetric3(c.m, c.s, &index), c.expected);
        EXPECT_EQ(index, c.index);
        EXPECT_EQ(MaxAbsSymmetric3(c.m, c.s), c.expected);
    }
}
