#include "core/quadric.h"

#include "core/sym_eigen3.h"
#include "maths_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

Matrix4W Diagonal4(double a, double b, double c, double d) {
    Matrix4W w;
    w.m[0] = a;
    w.m[5] = b;
    w.m[10] = c;
    w.m[15] = d;
    return w;
}

// A random orthonormal 4x4 frame, by Gram-Schmidt on random columns.
Matrix4W RandomFrame() {
    double columns[4][4];
    for (int k = 0; k < 4; ++k) {
        for (;;) {
            for (double& x : columns[k]) x = RandomSigned();
            for (int j = 0; j < k; ++j) {
                double along = 0.0;
                for (int i = 0; i < 4; ++i) along += columns[k][i] * columns[j][i];
                for (int i = 0; i < 4; ++i) columns[k][i] -= along * columns[j][i];
            }
            double length = 0.0;
            for (const double x : columns[k]) length += x * x;
            length = std::sqrt(length);
            if (length < 0.1) continue;
            for (double& x : columns[k]) x /= length;
            break;
        }
    }
    Matrix4W frame;
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 4; ++col) frame.m[4 * row + col] = columns[col][row];
    }
    return frame;
}

Matrix4W Congruent(const Matrix4W& frame, const Matrix4W& q) {
    return Matrix4Product(Matrix4Product(Matrix4Transpose(frame), q), frame);
}

double NormOf(const Matrix4W& w) {
    double worst = 0.0;
    for (const double e : w.m) worst = std::fmax(worst, std::fabs(e));
    return worst;
}

// T orthonormal, T^T Q T diagonal with the reported values, all relative to |Q|.
void ExpectDiagonalises(const Matrix4W& q, const Matrix4W& t, const std::array<double, 4>& values,
                        double tolerance) {
    Matrix4W identity;
    Matrix4SetDiagonal(identity, 1.0);
    const Matrix4W gram = Matrix4Product(Matrix4Transpose(t), t);
    for (int i = 0; i < 16; ++i) ASSERT_NEAR(gram.m[i], identity.m[i], 1e-13);
    const Matrix4W form = Congruent(t, q);
    const double scale = std::fmax(NormOf(q), 1e-300);
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 4; ++col) {
            if (row != col) {
                ASSERT_LT(std::fabs(form.m[4 * row + col]) / scale, tolerance);
            }
        }
        ASSERT_EQ(values[row], form.m[5 * row]);
    }
}

}  // namespace

TEST(Quadric, ConditionQuadricMarksPlanes) {
    // x = 1 as a plane: only the constant and linear terms are set; -0.0 counts as zero.
    Matrix4W plane;
    plane.m[0] = -1.0;
    plane.m[1] = plane.m[4] = 0.5;
    plane.m[10] = -0.0;
    ConditionQuadric(plane);
    EXPECT_EQ(Bits(plane.m[15]), QuadricPlaneMarkerBits);
    EXPECT_TRUE(std::isnan(plane.m[15]));
    EXPECT_EQ(plane.m[0], -1.0);

    Matrix4W sphere = Diagonal4(-1.0, 1.0, 1.0, 1.0);
    ConditionQuadric(sphere);
    EXPECT_EQ(sphere.m[15], 1.0);
    EXPECT_EQ(sphere.m[0], -1.0);
}

TEST(Quadric, ConditionQuadricLiftsALostConstantTerm) {
    const struct {
        const char* name;
        double constant;
        double largest;
        std::uint64_t expectedBits;
    } cases[] = {
        // A zero constant becomes 2^(E - 32) with E the largest exponent (here 1.0's).
        {"zero", 0.0, 1.0, Bits(0x1p-32)},
        {"negative zero", -0.0, 1.0, Bits(-0x1p-32)},
        // Mantissa and sign are kept; only the exponent is raised.
        {"far below", -0x1.8p-60, 1.0, Bits(-0x1.8p-32)},
        {"subnormal", 0x0.8p-1022, 0x1p10, Bits(0x1.0p-22) | 0x0008000000000000ull},
        {"within 32 orders", 0x1.8p-30, 1.0, Bits(0x1.8p-30)},
        {"exactly 32 below", 0x1p-32, 1.0, Bits(0x1p-32)},
        // E - 32 below the smallest normal exponent gives exponent field 1.
        {"tiny form", 0.0, 0x1p-1000, Bits(0x1p-1022)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Matrix4W q = Diagonal4(c.constant, c.largest, c.largest / 2, c.largest / 4);
        ConditionQuadric(q);
        EXPECT_EQ(Bits(q.m[0]), c.expectedBits);
    }
}

TEST(Quadric, MinorsAndSymmetricDeterminant) {
    Matrix4W identity;
    Matrix4SetDiagonal(identity, 1.0);
    EXPECT_EQ(Matrix4Minor(identity, 1, 1), 1.0);
    EXPECT_EQ(Matrix4Minor(identity, 0, 1), 0.0);
    EXPECT_EQ(SymmetricDet4(Diagonal4(2.0, 3.0, -1.0, 0.5)), -3.0);

    CrtSrand(801);
    for (int i = 0; i < 1000; ++i) {
        Matrix4W q;
        for (int row = 0; row < 4; ++row) {
            for (int col = row; col < 4; ++col) {
                q.m[4 * row + col] = q.m[4 * col + row] = RandomSigned();
            }
        }
        // Expansion along any row reproduces the determinant.
        for (int row = 0; row < 4; ++row) {
            double expansion = 0.0;
            for (int col = 0; col < 4; ++col)
                expansion += q.m[4 * row + col] * Matrix4Minor(q, row, col);
            ASSERT_NEAR(expansion, SymmetricDet4(q), 1e-13) << "case " << i;
        }
    }
}

TEST(Quadric, MaxAbsSymmetric4ScalesTheConstantRow) {
    Matrix4W w;
    w.m[0] = 8.0;
    w.m[3] = -3.0;
    w.m[12] = 100.0;  // lower triangle: not read
    w.m[11] = 2.5;
    EXPECT_EQ(MaxAbsSymmetric4(w, 2.0), 2.5);
    EXPECT_EQ(MaxAbsSymmetric4(w, 1.0), 8.0);
    EXPECT_EQ(MaxAbsSymmetric4(w, 0.5), 32.0);
}

TEST(Quadric, MinAbsEigenvalue3) {
    EXPECT_NEAR(MinAbsEigenvalue3(Diagonal4(7.0, 2.0, -0.5, 3.0)), 0.5, 1e-15);
    CrtSrand(802);
    for (int i = 0; i < 2000; ++i) {
        const Matrix3 block = RandomSymmetric(5.0);
        Matrix4W w = EmbedMatrix3(block, 0);
        w.m[0] = RandomSigned();
        std::array<double, 3> values{};
        Matrix3 vectors;
        SymEigen3(block, false, values, vectors);
        const double expected =
            std::min({std::fabs(values[0]), std::fabs(values[1]), std::fabs(values[2])});
        ASSERT_NEAR(MinAbsEigenvalue3(w), expected, 1e-9) << "case " << i;
    }
}

TEST(Quadric, AnalyseQuadricDiagonalisesSingularForms) {
    CrtSrand(803);
    for (int i = 0; i < 3000; ++i) {
        SCOPED_TRACE(testing::Message() << "case " << i);
        // The degenerate forms the collision code passes: one eigenvalue 0.
        const double scale = std::pow(10.0, RandomSigned() * 3.0);
        std::array<double, 4> spectrum = {0.0, RandomSigned() * scale, RandomSigned() * scale,
                                          RandomSigned() * scale};
        if (i % 4 == 1) spectrum[2] = spectrum[1];  // a repeated eigenvalue (cylinders)
        const Matrix4W frame = RandomFrame();
        const Matrix4W q = Congruent(Matrix4Transpose(frame),
                                     Diagonal4(spectrum[0], spectrum[1], spectrum[2], spectrum[3]));
        std::array<double, 4> values{};
        const Matrix4W t = AnalyseQuadric(q, values);
        ExpectDiagonalises(q, t, values, 1e-12);
        std::array<double, 4> sortedValues = values;
        std::sort(sortedValues.begin(), sortedValues.end());
        std::sort(spectrum.begin(), spectrum.end());
        for (int k = 0; k < 4; ++k) ASSERT_NEAR(sortedValues[k], spectrum[k], 1e-12 * scale);
    }
}

TEST(Quadric, AnalyseQuadricOfShapesAndDegenerateForms) {
    Matrix4W cone = Diagonal4(0.0, 1.0, 1.0, -1.0);
    Matrix4W cylinder = Diagonal4(-1.0, 1.0, 1.0, 0.0);
    Matrix4W planePair = Diagonal4(-1.0, 1.0, 0.0, 0.0);  // x^2 = 1
    Matrix4W line = Diagonal4(0.0, 0.0, 1.0, 1.0);        // y^2 + z^2 = 0
    Matrix4W zero;
    Matrix4W movedCone =
        Congruent(InvertAffineWFirst(ToWFirstMatrix(MakeTranslation(1, 2, 3))), cone);
    for (const Matrix4W* q : {&cone, &cylinder, &planePair, &line, &zero, &movedCone}) {
        std::array<double, 4> values{};
        const Matrix4W t = AnalyseQuadric(*q, values);
        for (const double e : t.m) ASSERT_TRUE(std::isfinite(e));
        ExpectDiagonalises(*q, t, values, 1e-13);
    }
}

TEST(Quadric, AnalyseQuadricOfANonSingularFormGivesAnOrthonormalFrame) {
    // Only singular forms are brought fully to diagonal form; others still get a sound frame.
    const Matrix4W sphere = Diagonal4(-1.0, 1.0, 1.0, 1.0);
    std::array<double, 4> values{};
    const Matrix4W t = AnalyseQuadric(sphere, values);
    const Matrix4W gram = Matrix4Product(Matrix4Transpose(t), t);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(gram.m[i], i % 5 == 0 ? 1.0 : 0.0, 1e-15);
    for (const double v : values) EXPECT_TRUE(std::isfinite(v));
}
