#include "gizmo/collision_quadric_overlap.h"

#include "core/crt_random.h"
#include "core/rotation.h"
#include "gizmo/collision_maths_internal.h"
#include "support/quadric_parts.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using collision_maths::HalfGradient;
using collision_maths::Value;
using quadric_parts::Uniform;

// An ellipsoid of semi-axes h about centre, its axes turned by r: the form in world
// coordinates, and a map from the unit ball onto it for sampling.
struct Ellipsoid {
    Vec3 centre;
    Vec3 semiAxes;
    Matrix3 turn;

    Matrix4W Form() const {
        // (x - c)^T R diag(1/h^2) R^T (x - c) - 1.
        const Matrix3 d{{1 / (semiAxes.x * semiAxes.x), 0, 0, 0, 1 / (semiAxes.y * semiAxes.y), 0,
                         0, 0, 1 / (semiAxes.z * semiAxes.z)}};
        const Matrix3 a = Matrix3Product(turn, Matrix3Product(d, Matrix3Transpose(turn)));
        const Vec3 ac = Matrix3TransformVec3(a, centre);
        Matrix4W q;
        q.m[0] = Vec3Dot(centre, ac) - 1;
        q.m[1] = q.m[4] = -ac.x;
        q.m[2] = q.m[8] = -ac.y;
        q.m[3] = q.m[12] = -ac.z;
        for (std::size_t i = 0; i < 3; ++i) {
            for (std::size_t j = 0; j < 3; ++j) q.m[4 * (i + 1) + j + 1] = a.m[3 * i + j];
        }
        return q;
    }
    Ellipsoid Scaled(double f) const { return {centre, Vec3Scale(semiAxes, f), turn}; }
    Vec3 Sample() const {
        for (;;) {
            const Vec3 u{Uniform(-1, 1), Uniform(-1, 1), Uniform(-1, 1)};
            if (Vec3Dot(u, u) > 1) continue;
            const Vec3 local{u.x * semiAxes.x, u.y * semiAxes.y, u.z * semiAxes.z};
            return Vec3Add(centre, Matrix3TransformVec3(turn, local));
        }
    }
};

Ellipsoid RandomEllipsoid(double spread) {
    const Vec3 axis{Uniform(-1, 1), Uniform(-1, 1), Uniform(-1, 1) + 0.01};
    const double angle = Vec3Length(axis);
    return Ellipsoid{Vec3{Uniform(-spread, spread), Uniform(-spread, spread),
                          Uniform(-spread, spread)},
                     Vec3{Uniform(0.3, 1.5), Uniform(0.3, 1.5), Uniform(0.3, 1.5)},
                     Matrix3FromAxisAngle(Vec3Scale(axis, 1 / angle), 2 * angle)};
}

// Whether sampled points of either ellipsoid lie in the other.
bool SampledOverlap(const Ellipsoid& a, const Ellipsoid& b) {
    const Matrix4W qa = a.Form(), qb = b.Form();
    for (int i = 0; i < 10000; ++i) {
        if (Value(qb, a.Sample()) < 0 || Value(qa, b.Sample()) < 0) return true;
    }
    return false;
}

// Random ellipsoid pairs: shrunk by 3 % and still sharing sampled points, they overlap;
// grown by 3 % and sharing none, they do not. The answer is the same from any centre.
TEST(BoundingQuadricsOverlap, EllipsoidPairsAgreeWithSampling) {
    CrtSrand(5);
    int decided = 0, overlapping = 0;
    for (int i = 0; i < 160; ++i) {
        SCOPED_TRACE(i);
        const Ellipsoid a = RandomEllipsoid(1.8), b = RandomEllipsoid(1.8);
        const Vec3 centre{Uniform(-2, 2), Uniform(-2, 2), Uniform(-2, 2)};
        const bool answer = BoundingQuadricsOverlap(a.Form(), b.Form(), nullptr, nullptr);
        EXPECT_EQ(BoundingQuadricsOverlap(a.Form(), b.Form(), &centre, nullptr), answer);
        if (SampledOverlap(a.Scaled(0.97), b.Scaled(0.97))) {
            ++decided;
            ++overlapping;
            EXPECT_TRUE(answer);
        } else if (!SampledOverlap(a.Scaled(1.03), b.Scaled(1.03))) {
            ++decided;
            EXPECT_FALSE(answer);
        }
    }
    EXPECT_GT(decided, 130);
    EXPECT_GT(overlapping, 25);
    EXPECT_LT(overlapping, decided - 25);
}

// The contact's normal is the second form's half-gradient at the contact point, as finite
// differences of the form give it.
TEST(BoundingQuadricsOverlap, ContactNormalIsTheSecondFormsHalfGradient) {
    CrtSrand(9);
    int checked = 0;
    for (int i = 0; i < 100; ++i) {
        SCOPED_TRACE(i);
        const Ellipsoid a = RandomEllipsoid(2.0), b = RandomEllipsoid(2.0);
        Contact contact{Vec3{1e9, 1e9, 1e9}, Vec3{}};
        BoundingQuadricsOverlap(a.Form(), b.Form(), nullptr, &contact);
        if (contact.point.x == 1e9) continue;  // decided early: the contact is left alone
        ++checked;
        const Matrix4W q = b.Form();
        const double h = 1e-5;
        const Vec3 p = contact.point;
        const Vec3 fd{(Value(q, Vec3{p.x + h, p.y, p.z}) - Value(q, Vec3{p.x - h, p.y, p.z})) / (4 * h),
                      (Value(q, Vec3{p.x, p.y + h, p.z}) - Value(q, Vec3{p.x, p.y - h, p.z})) / (4 * h),
                      (Value(q, Vec3{p.x, p.y, p.z + h}) - Value(q, Vec3{p.x, p.y, p.z - h})) / (4 * h)};
        const double scale = std::max(1.0, Vec3Length(fd));
        EXPECT_NEAR(contact.normal.x, fd.x, 1e-6 * scale);
        EXPECT_NEAR(contact.normal.y, fd.y, 1e-6 * scale);
        EXPECT_NEAR(contact.normal.z, fd.z, 1e-6 * scale);
    }
    EXPECT_GT(checked, 50);
}

// A second form that is no ellipsoid (a plane, a cylinder, a cone) gives false wherever it
// lies; nested ellipsoids answer at once and leave the contact as it was.
TEST(BoundingQuadricsOverlap, NoEllipsoidIsFalseAndNestedAnswersEarly) {
    const Matrix4W ball = quadric_parts::SphereForm(Vec3{}, 1.0);
    Matrix4W cylinder;
    cylinder.m[0] = -1;
    cylinder.m[5] = cylinder.m[15] = 1;
    Matrix4W cone;
    cone.m[5] = cone.m[15] = 1;
    cone.m[10] = -1;
    const Matrix4W plane = quadric_parts::PlaneForm(Vec3{0, 1, 0}, 0.0);
    for (const Matrix4W& other : {cylinder, cone, plane}) {
        EXPECT_FALSE(BoundingQuadricsOverlap(ball, other, nullptr, nullptr));
    }
    Contact contact{Vec3{7, 7, 7}, Vec3{7, 7, 7}};
    EXPECT_TRUE(BoundingQuadricsOverlap(ball, quadric_parts::SphereForm(Vec3{0.1, 0, 0}, 0.2),
                                        nullptr, &contact));
    EXPECT_TRUE(BoundingQuadricsOverlap(quadric_parts::SphereForm(Vec3{0.1, 0, 0}, 0.2), ball,
                                        nullptr, &contact));
    EXPECT_EQ(contact.point.x, 7.0);
    EXPECT_EQ(contact.normal.z, 7.0);
}

}  // namespace
