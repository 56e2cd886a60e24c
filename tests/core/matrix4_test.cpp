#include "core/matrix4.h"

#include "core/rotation.h"
#include "maths_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

template <typename M>
double MaxAbsDifference4(const M& a, const M& b) {
    double worst = 0.0;
    for (int i = 0; i < 16; ++i) worst = std::fmax(worst, std::fabs(a.m[i] - b.m[i]));
    return worst;
}

template <typename M>
bool SameBits(const M& a, const M& b) {
    for (int i = 0; i < 16; ++i) {
        if (Bits(a.m[i]) != Bits(b.m[i])) return false;
    }
    return true;
}

Matrix4 RandomAffine() {
    Matrix4 m = Matrix4FromMatrix3(Matrix3Scale(0.5 + std::fabs(RandomSigned()), RandomRotation()));
    m.m[3] = RandomSigned() * 10.0;
    m.m[7] = RandomSigned() * 10.0;
    m.m[11] = RandomSigned() * 10.0;
    return m;
}

}  // namespace

TEST(Matrix4, DefaultIsIdentityAndIsIdentityComparesValues) {
    EXPECT_TRUE(IsIdentity(Matrix4{}));
    EXPECT_TRUE(IsIdentity(MakeIdentity()));
    Matrix4 m;
    m.m[3] = -0.0;
    EXPECT_TRUE(IsIdentity(m));
    m.m[5] = 1.0000000000000002;
    EXPECT_FALSE(IsIdentity(m));
    SetIdentity(m);
    EXPECT_TRUE(IsIdentity(m));
    EXPECT_TRUE(IsIdentity(CopyMatrix(m)));
}

TEST(Matrix4, InvertMatrixFailsOnSingularPartsAndLeavesThemAlone) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    Matrix4 rankTwo{{1.0, 2.0, 3.0, 4.0, 2.0, 4.0, 6.0, 5.0, 0.0, 1.0, 1.0, 6.0, 0, 0, 0, 1}};
    // det = 2^-52 against terms of size 1: singular to working precision.
    Matrix4 nearlyFlat{{1.0, 1.0, 0, 0, 1.0, 1.0 + 0x1p-52, 0, 0, 0, 0, 1.0, 0, 0, 0, 0, 1}};
    Matrix4 notANumber{{nan, 0, 0, 0, 0, 1.0, 0, 0, 0, 0, 1.0, 0, 0, 0, 0, 1}};
    for (Matrix4* m : {&rankTwo, &nearlyFlat, &notANumber}) {
        const Matrix4 before = *m;
        EXPECT_FALSE(InvertMatrix(*m));
        EXPECT_TRUE(SameBits(*m, before));
        EXPECT_TRUE(SameBits(GetInverse(before), before));
    }
}

TEST(Matrix4, InvertMatrixSucceeds) {
    Matrix4 translation = MakeTranslation(1.0, -2.0, 3.5);
    ASSERT_TRUE(InvertMatrix(translation));
    EXPECT_EQ(translation.m[3], -1.0);
    EXPECT_EQ(translation.m[7], 2.0);
    EXPECT_EQ(translation.m[11], -3.5);
    // The precision test is relative, so a small but well-shaped matrix inverts.
    Matrix4 small;
    SetScale(small, 1e-6, 1e-6, 1e-6);
    ASSERT_TRUE(InvertMatrix(small));
    EXPECT_DOUBLE_EQ(small.m[0], 1e6);

    CrtSrand(601);
    for (int i = 0; i < 2000; ++i) {
        const Matrix4 m = RandomAffine();
        Matrix4 inverse = m;
        ASSERT_TRUE(InvertMatrix(inverse)) << "case " << i;
        ASSERT_LT(MaxAbsDifference4(MultiplyMatrix(m, inverse), Matrix4{}), 1e-13) << "case " << i;
        ASSERT_TRUE(SameBits(MultiplyMatrix(m, inverse), Matrix4Product(m, inverse)));
    }
}

TEST(Matrix4, TransformPointRoundsEachTermToFloat) {
    const Vec3 p = TransformPoint(Matrix4{}, 0.1, 0.2, 0.3);
    EXPECT_EQ(p.x, static_cast<double>(0.1f));
    EXPECT_EQ(p.y, static_cast<double>(0.2f));
    EXPECT_EQ(p.z, static_cast<double>(0.3f));

    CrtSrand(602);
    for (int i = 0; i < 1000; ++i) {
        const Matrix4 m = RandomAffine();
        const Vec3 in = Vec3Scale(RandomVec3(), 100.0);
        const Vec3 out = TransformPoint(m, in.x, in.y, in.z);
        const double v[3] = {in.x, in.y, in.z};
        const double got[3] = {out.x, out.y, out.z};
        for (int row = 0; row < 3; ++row) {
            double expected = static_cast<float>(m.m[4 * row] * v[0]);
            expected += static_cast<float>(m.m[4 * row + 1] * v[1]);
            expected += static_cast<float>(m.m[4 * row + 2] * v[2]);
            expected += static_cast<float>(m.m[4 * row + 3]);
            ASSERT_EQ(Bits(got[row]), Bits(expected)) << "case " << i;
        }
    }
}

TEST(Matrix4, BuildersAndPivot) {
    const Vec3 axis{0.0, 0.6, 0.8};
    Matrix4 viaCosSin;
    SetAxisRotation(viaCosSin, axis.x, axis.y, axis.z, 0.7);
    EXPECT_TRUE(SameBits(viaCosSin, Matrix4FromAxisAngle(axis, 0.7)));
    EXPECT_TRUE(SameBits(viaCosSin, MakeRotationAboutAxis(axis, 0.7)));
    EXPECT_TRUE(SameBits(Matrix4FromMatrix3(Matrix3FromMatrix4(viaCosSin)), viaCosSin));
    const Matrix4 scale = MakeUniformScale(3.0);
    EXPECT_EQ(scale.m[10], 3.0);
    EXPECT_EQ(scale.m[15], 1.0);

    Matrix4 pivoted = viaCosSin;
    const Vec3 centre{1.0, -2.0, 5.0};
    SetPivot(pivoted, centre);
    const Vec3 fixed = TransformPoint(pivoted, centre.x, centre.y, centre.z);
    EXPECT_NEAR(fixed.x, centre.x, 1e-6);
    EXPECT_NEAR(fixed.y, centre.y, 1e-6);
    EXPECT_NEAR(fixed.z, centre.z, 1e-6);
}

TEST(Matrix4, WFirstConversionsRoundTrip) {
    CrtSrand(603);
    for (int i = 0; i < 500; ++i) {
        const Matrix4 m = RandomAffine();
        const Matrix4W w = ToWFirstMatrix(m);
        ASSERT_TRUE(SameBits(FromWFirstMatrix(w), m)) << "case " << i;
        // A point transforms the same in both layouts.
        const Vec3 p = RandomVec3();
        const Vec4 viaW = Matrix4TransformVec4(w, Vec4{1.0, p.x, p.y, p.z});
        const Vec4 viaM = Matrix4TransformVec4(m, Vec4{p.x, p.y, p.z, 1.0});
        ASSERT_EQ(viaW.w, 1.0);
        ASSERT_NEAR(viaW.x, viaM.w, 1e-14);
        ASSERT_NEAR(viaW.y, viaM.x, 1e-14);
        ASSERT_NEAR(viaW.z, viaM.y, 1e-14);
        // The w-first affine inverse matches the w-last one.
        const Matrix4W inverse = InvertAffineWFirst(w);
        ASSERT_LT(MaxAbsDifference4(inverse, ToWFirstMatrix(GetInverse(m))), 1e-13) << "case " << i;
    }
}

TEST(Matrix4, EmbedMatrix3InBothLayouts) {
    const Matrix3 r{{1, 2, 3, 4, 5, 6, 7, 8, 9}};
    const Matrix4W first = EmbedMatrix3(r, 0);
    const Matrix4W last = EmbedMatrix3(r, 1);
    const Matrix4W expectedFirst{{1, 0, 0, 0, 0, 1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9}};
    const Matrix4W expectedLast{{1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 0, 0, 0, 1}};
    EXPECT_TRUE(SameBits(first, expectedFirst));
    EXPECT_TRUE(SameBits(last, expectedLast));
}

TEST(Matrix4, RotationFromTwoAnglesWritesOnlyTheBlock) {
    Matrix4W w;
    for (int i = 0; i < 16; ++i) w.m[i] = 100.0 + i;
    RotationFromTwoAnglesWFirst(w, 0.3, -1.2);
    for (const int i : {0, 1, 2, 3, 4, 8, 12}) EXPECT_EQ(w.m[i], 100.0 + i);
    const Matrix3 block{
        {w.m[5], w.m[6], w.m[7], w.m[9], w.m[10], w.m[11], w.m[13], w.m[14], w.m[15]}};
    EXPECT_LT(OrthonormalityError(block), 1e-15);
    EXPECT_EQ(block.m[3], 0.0);
}

TEST(Matrix4, ElementWiseOperationsOnBothLayouts) {
    Matrix4W a;
    Matrix4SetDiagonal(a, 2.0);
    Matrix4 b;
    Matrix4SetDiagonal(b, 2.0);
    EXPECT_EQ(Matrix4Add(a, a).m[15], 4.0);
    EXPECT_EQ(Matrix4Sub(b, b).m[0], 0.0);
    EXPECT_EQ(Matrix4Scale(0.5, b).m[10], 1.0);
    Matrix4 t = MakeTranslation(1.0, 2.0, 3.0);
    EXPECT_EQ(Matrix4Transpose(t).m[12], 1.0);
    EXPECT_EQ(Matrix4Transpose(Matrix4Transpose(a)).m[0], 2.0);
}
