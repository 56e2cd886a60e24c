#include "core/rotation.h"

#include "core/scalar_maths.h"
#include "maths_test_support.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

Matrix3 Rz(double t) {
    return Matrix3{{std::cos(t), -std::sin(t), 0.0, std::sin(t), std::cos(t), 0.0, 0.0, 0.0, 1.0}};
}

Matrix3 Ry(double t) {
    return Matrix3{{std::cos(t), 0.0, std::sin(t), 0.0, 1.0, 0.0, -std::sin(t), 0.0, std::cos(t)}};
}

double Det(const Matrix3& m) {
    const auto& e = m.m;
    return e[0] * (e[4] * e[8] - e[5] * e[7]) - e[1] * (e[3] * e[8] - e[5] * e[6]) +
           e[2] * (e[3] * e[7] - e[4] * e[6]);
}

}  // namespace

TEST(Rotation, BuildersGiveProperRotations) {
    CrtSrand(301);
    for (int i = 0; i < 2000; ++i) {
        const Vec3 w = Vec3Scale(RandomVec3(), 4.0);
        const Matrix3 built[] = {
            RotationFromVector(w),
            Matrix3FromAxisAngle(RandomUnitVec3(), RandomSigned() * 4.0),
            Matrix3FromEulerZYX(w.x, w.y, w.z),
            RotationFromEulerXYZ(w.x, w.y, w.z),
            RotationFromEulerYZY({w.x, w.y, w.z}),
            RotationFromYAxis(RandomUnitVec3()),
        };
        for (const Matrix3& r : built) {
            ASSERT_LT(OrthonormalityError(r), 4e-14) << "case " << i;
            ASSERT_NEAR(Det(r), 1.0, 1e-14) << "case " << i;
        }
    }
}

TEST(Rotation, EulerBuildersComposeElementaryTurnsInOrder) {
    // Each Euler builder must agree with the same turns as axis rotations.
    const double a = 0.3;
    const double b = -1.1;
    const double c = 2.0;
    const Matrix3 zyx = Matrix3Product(
        Matrix3Product(Matrix3FromAxisAngle(Z_AXIS, a), Matrix3FromAxisAngle(Y_AXIS, b)),
        Matrix3FromAxisAngle(X_AXIS, c));
    EXPECT_LT(MaxAbsDifference(Matrix3FromEulerZYX(a, b, c), zyx), 1e-15);
    const Matrix3 xyz = Matrix3Product(
        Matrix3Product(Matrix3FromAxisAngle(X_AXIS, a), Matrix3FromAxisAngle(Y_AXIS, b)),
        Matrix3FromAxisAngle(Z_AXIS, c));
    EXPECT_LT(MaxAbsDifference(RotationFromEulerXYZ(a, b, c), xyz), 1e-15);
    const Matrix3 yzy = Matrix3Product(Matrix3Product(Ry(c), Rz(b)), Ry(a));
    EXPECT_LT(MaxAbsDifference(RotationFromEulerYZY({a, b, c}), yzy), 1e-15);
    EXPECT_LT(MaxAbsDifference(Matrix3FromAxisAngle(Z_AXIS, a), Rz(a)), 1e-16);
}

TEST(Rotation, RotationVectorSpecialCases) {
    EXPECT_EQ(Matrix3Compare(RotationFromVector(ZERO_VEC3), Matrix3SetDiagonal(1.0)), 0);
    const Vec3 small = RotationToVector(Rz(0.1));
    EXPECT_NEAR(small.x, 0.0, 1e-17);
    EXPECT_NEAR(small.y, 0.0, 1e-17);
    EXPECT_NEAR(small.z, 0.1, 1e-16);
    const Vec3 half = RotationToVector(Rz(PI));
    EXPECT_NEAR(std::fabs(half.z), PI, 1e-15);
    EXPECT_NEAR(Vec3Length(half), PI, 1e-15);
    const Vec3 identity = RotationToVector(Matrix3SetDiagonal(1.0));
    EXPECT_EQ(Vec3Length(identity), 0.0);
}

TEST(Rotation, RotationVectorRoundTrips) {
    CrtSrand(302);
    for (int i = 0; i < 4000; ++i) {
        // Angles across the whole range, including the branch boundaries near 0, pi/4 and
        // 3pi/4 and right up to a half turn.
        const double angle = i < 100 ? PI - i * 1e-9 : (i % 1000) * PI / 1000.0;
        const Vec3 w = Vec3Scale(RandomUnitVec3(), angle);
        const Matrix3 r = RotationFromVector(w);
        const Vec3 back = RotationToVector(r);
        ASSERT_LT(MaxAbsDifference(RotationFromVector(back), r), 1e-14) << "case " << i;
        ASSERT_LE(Vec3Length(back), PI + 1e-15) << "case " << i;
        if (angle < 3.0) {
            ASSERT_LT(Vec3Length(Vec3Sub(back, w)), 1e-14) << "case " << i;
        }
    }
}

TEST(Rotation, AxisAngleRoundTrips) {
    Vec3 axis;
    double angle = -1.0;
    Matrix3ToAxisAngle(Matrix3SetDiagonal(1.0), axis, angle);
    EXPECT_EQ(angle, 0.0);
    EXPECT_EQ(Vec3Compare(axis, X_AXIS), 0);

    // An exact half turn (trace -1) takes the symmetric branch.
    const Matrix3 halfTurnX{{1.0, 0.0, 0.0, 0.0, -1.0, 0.0, 0.0, 0.0, -1.0}};
    Matrix3ToAxisAngle(halfTurnX, axis, angle);
    EXPECT_EQ(angle, PI);
    EXPECT_EQ(Vec3Compare(axis, X_AXIS), 0);
    Vec3 skew{1.0, 2.0, -2.0};
    Vec3Normalize(skew);
    Matrix3 halfTurnSkew;
    const double a[3] = {skew.x, skew.y, skew.z};
    for (int i = 0; i < 9; ++i) halfTurnSkew.m[i] = 2.0 * a[i / 3] * a[i % 3] - (i % 4 == 0);
    Matrix3ToAxisAngle(halfTurnSkew, axis, angle);
    EXPECT_EQ(angle, PI);
    EXPECT_LT(Vec3Length(Vec3Sub(axis, skew)), 1e-15);

    CrtSrand(303);
    for (int i = 0; i < 2000; ++i) {
        const Vec3 a0 = RandomUnitVec3();
        const double t = 0.001 + std::fabs(RandomSigned()) * 3.1;
        Matrix3ToAxisAngle(Matrix3FromAxisAngle(a0, t), axis, angle);
        ASSERT_NEAR(angle, t, 1e-7) << "case " << i;
        ASSERT_LT(Vec3Length(Vec3Sub(axis, a0)), 1e-7) << "case " << i;
    }
}

TEST(Rotation, EulerXYZRoundTripsAndGimbalLock) {
    Vec3 angles;
    EXPECT_EQ(Matrix3ToEulerXYZ(Ry(HALF_PI), angles), 0);
    EXPECT_EQ(angles.y, HALF_PI);
    EXPECT_EQ(angles.z, 0.0);
    EXPECT_EQ(angles.x, 0.0);
    EXPECT_EQ(Matrix3ToEulerXYZ(Ry(-HALF_PI), angles), 0);
    EXPECT_EQ(angles.y, -HALF_PI);

    CrtSrand(304);
    for (int i = 0; i < 3000; ++i) {
        const Vec3 in{RandomSigned() * 3.1, RandomSigned() * 1.5, RandomSigned() * 3.1};
        const Matrix3 r = RotationFromEulerXYZ(in.x, in.y, in.z);
        ASSERT_EQ(Matrix3ToEulerXYZ(r, angles), 1) << "case " << i;
        ASSERT_LT(MaxAbsDifference(RotationFromEulerXYZ(angles.x, angles.y, angles.z), r), 1e-14)
            << "case " << i;
        ASSERT_LT(Vec3Length(Vec3Sub(angles, in)), 1e-9) << "case " << i;
    }
    // At gimbal lock the remaining turn goes entirely to x and still rebuilds the matrix.
    for (const double y : {HALF_PI, -HALF_PI}) {
        for (const double x : {0.4, -2.0}) {
            Matrix3 r = RotationFromEulerXYZ(x, y, 0.7);
            r.m[2] = y > 0 ? 1.0 : -1.0;
            EXPECT_EQ(Matrix3ToEulerXYZ(r, angles), 0);
            EXPECT_LT(MaxAbsDifference(RotationFromEulerXYZ(angles.x, angles.y, angles.z), r),
                      1e-15);
        }
    }
}

TEST(Rotation, EulerYZYRebuildsTheRotation) {
    CrtSrand(305);
    std::vector<Matrix3> inputs = {
        Matrix3SetDiagonal(1.0),
        Ry(0.5),
        Ry(-PI),
        Ry(PI),
        Matrix3Product(Rz(PI), Ry(0.3)),
        Matrix3Product(Ry(1.0), Matrix3Product(Rz(1e-9), Ry(-2.0))),
        Matrix3Product(Ry(-1.0), Matrix3Product(Rz(PI - 1e-9), Ry(2.5))),
        Matrix3Product(Ry(0.2), Matrix3Product(Rz(PI / 4), Ry(0.1))),
        Matrix3Product(Ry(0.2), Matrix3Product(Rz(3 * PI / 4), Ry(0.1)))};
    for (int i = 0; i < 3000; ++i) inputs.push_back(RandomRotation());
    for (int i = 0; i < 1000; ++i) {
        const double a1 = (i % 2 == 0 ? 1.0 : PI) + RandomSigned() * std::pow(10.0, -1 - i % 12);
        inputs.push_back(RotationFromEulerYZY({RandomSigned() * 3.0, a1, RandomSigned() * 3.0}));
    }
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const std::array<double, 3> a = EulerYZYFromRotation(inputs[i]);
        ASSERT_GE(a[1], 0.0) << "case " << i;
        ASSERT_LE(a[1], PI) << "case " << i;
        for (const int k : {0, 2}) {
            ASSERT_GT(a[k], -PI) << "case " << i;
            ASSERT_LE(a[k], PI) << "case " << i;
        }
        ASSERT_LT(MaxAbsDifference(RotationFromEulerYZY(a), inputs[i]), 1e-13) << "case " << i;
    }
}

TEST(Rotation, BasisFromAxisKeepsTheAxisAsThirdColumn) {
    // (0, 0, 1): x and y tie at 0 and the later one, y, is used: second = (z, 0, -x) and
    // first = second x third.
    const Matrix3 up = BasisFromAxis(0.0, 0.0, 1.0);
    const Matrix3 expected{{0.0, 1.0, 0.0, -1.0, 0.0, 0.0, 0.0, 0.0, 1.0}};
    EXPECT_EQ(MaxAbsDifference(up, expected), 0.0);
    // The axis is used as given, not normalised.
    EXPECT_EQ(BasisFromAxis(0.0, 3.0, 0.0).m[5], 3.0);
    CrtSrand(306);
    for (int i = 0; i < 2000; ++i) {
        const Vec3 d = RandomUnitVec3();
        const Matrix3 frame = BasisFromAxis(d.x, d.y, d.z);
        ASSERT_EQ(frame.m[2], d.x);
        ASSERT_EQ(frame.m[5], d.y);
        ASSERT_EQ(frame.m[8], d.z);
        ASSERT_LT(OrthonormalityError(frame), 1e-15) << "case " << i;
        ASSERT_NEAR(Det(frame), 1.0, 1e-15) << "case " << i;
    }
}

TEST(Rotation, RotationFromYAxisTakesYOntoTheDirection) {
    CrtSrand(307);
    for (int i = 0; i < 3000; ++i) {
        Vec3 d = RandomUnitVec3();
        if (i % 3 == 0) {
            // Directions within 1e-4 .. 1e-12 radians of -y.
            d = Vec3{d.x * std::pow(10.0, -4 - i % 9), -1.0, d.z * std::pow(10.0, -4 - i % 9)};
            Vec3Normalize(d);
        }
        const Matrix3 r = RotationFromYAxis(d);
        ASSERT_LT(OrthonormalityError(r), 1e-14) << "case " << i;
        const Vec3 image = Matrix3TransformVec3(r, Y_AXIS);
        ASSERT_LT(Vec3Length(Vec3Sub(image, d)), 4e-15) << "case " << i;
    }
    // Straight down the shortest arc is not unique: a half turn about x, never NaN.
    const Matrix3 down = RotationFromYAxis(Vec3{0.0, -1.0, 0.0});
    const Matrix3 halfTurnX{{1.0, 0.0, 0.0, 0.0, -1.0, 0.0, 0.0, 0.0, -1.0}};
    EXPECT_EQ(Matrix3Compare(down, halfTurnX), 0);
    const Matrix3 up = RotationFromYAxis(Y_AXIS);
    EXPECT_LT(MaxAbsDifference(up, Matrix3SetDiagonal(1.0)), 1e-300);
}
