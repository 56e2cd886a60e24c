#include "render/shading_maths.h"

#include "core/scalar_maths.h"
#include "render/render_parts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

namespace {

Matrix4W BlockForm(double s11, double s12, double s13, double s22, double s23, double s33) {
    Matrix4W q;
    q.m[5] = s11;
    q.m[6] = q.m[9] = s12;
    q.m[7] = q.m[13] = s13;
    q.m[10] = s22;
    q.m[11] = q.m[14] = s23;
    q.m[15] = s33;
    return q;
}

TEST(ShadingMaths, FastAtanFollowsAtan) {
    EXPECT_EQ(FastAtan(1.0), 0.7853981633974483);
    EXPECT_EQ(FastAtan(0.0), 0.0);
    EXPECT_EQ(FastAtan(-2.0), -(PI / 2.0 - FastAtan(0.5)));
    for (double x = -20.0; x <= 20.0; x += 0.125) {
        SCOPED_TRACE(x);
        EXPECT_NEAR(FastAtan(x), std::atan(x), 0.005);
        EXPECT_EQ(FastAtan(-x), -FastAtan(x));
    }
    EXPECT_EQ(AtanF(1.0f), static_cast<float>(std::atan(1.0)));
}

TEST(ShadingMaths, SymEigenMax3) {
    struct Case {
        Matrix4W form;
        double expected;
    };
    const Case cases[] = {
        {BlockForm(1.0, 0.0, 0.0, -3.0, 0.0, 2.0), 3.0},
        {BlockForm(0.0, 0.0, 0.0, 0.0, 0.0, 0.0), 0.0},
        {BlockForm(1.0, 1.0, 0.0, 1.0, 0.0, 0.0), 2.0},
        // A sphere of radius 4 (x^2 + y^2 + z^2 - 16): all eigenvalues 1.
        {BlockForm(1.0, 0.0, 0.0, 1.0, 0.0, 1.0), 1.0},
        // [[2, 1, 1], [1, 2, 1], [1, 1, 2]] has the eigenvalues 1, 1 and 4.
        {BlockForm(2.0, 1.0, 1.0, 2.0, 1.0, 2.0), 4.0},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(SymEigenMax3(cases[i].form), cases[i].expected, 1e-9);
    }
}

// The eigenvalues of a symmetric 3x3 matrix by cyclic Jacobi rotations.
std::array<double, 3> JacobiEigenvalues(std::array<std::array<double, 3>, 3> a) {
    for (int sweep = 0; sweep < 50; ++sweep) {
        const double off = a[0][1] * a[0][1] + a[0][2] * a[0][2] + a[1][2] * a[1][2];
        if (off < 1e-30) break;
        for (int p = 0; p < 2; ++p) {
            for (int q = p + 1; q < 3; ++q) {
                if (a[p][q] == 0.0) continue;
                const double theta = (a[q][q] - a[p][p]) / (2.0 * a[p][q]);
                const double t = (theta >= 0.0 ? 1.0 : -1.0) /
                                 (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0);
                const double sn = t * c;
                for (int k = 0; k < 3; ++k) {  // A <- A J
                    const double akp = a[k][p], akq = a[k][q];
                    a[k][p] = c * akp - sn * akq;
                    a[k][q] = sn * akp + c * akq;
                }
                for (int k = 0; k < 3; ++k) {  // A <- J^T A
                    const double apk = a[p][k], aqk = a[q][k];
                    a[p][k] = c * apk - sn * aqk;
                    a[q][k] = sn * apk + c * aqk;
                }
            }
        }
    }
    return {a[0][0], a[1][1], a[2][2]};
}

TEST(ShadingMaths, SymEigenMax3FollowsJacobi) {
    // Random symmetric blocks, among them some with repeated eigenvalues (a rotated diagonal
    // with two equal entries) and of either sign, against the Jacobi eigenvalues.
    std::mt19937 random(7);
    std::uniform_real_distribution<double> value(-5.0, 5.0);
    for (int i = 0; i < 400; ++i) {
        SCOPED_TRACE(i);
        std::array<std::array<double, 3>, 3> m{};
        if (i % 4 == 3) {
            // R diag(d, d, e) R^T with R a rotation from a random unit quaternion.
            const double d = value(random), e = value(random);
            double w = value(random), x = value(random), y = value(random), z = value(random);
            const double len = std::sqrt(w * w + x * x + y * y + z * z);
            w /= len, x /= len, y /= len, z /= len;
            const double r[3][3] = {
                {1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
                {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
                {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}};
            const double diag[3] = {d, d, e};
            for (int a = 0; a < 3; ++a) {
                for (int b = 0; b < 3; ++b) {
                    for (int k = 0; k < 3; ++k) m[a][b] += r[a][k] * diag[k] * r[b][k];
                }
            }
        } else {
            for (int a = 0; a < 3; ++a) {
                for (int b = a; b < 3; ++b) m[a][b] = m[b][a] = value(random);
            }
        }
        const std::array<double, 3> eigen = JacobiEigenvalues(m);
        double expected = 0.0;
        for (const double e : eigen) expected = std::max(expected, std::fabs(e));
        const Matrix4W form = BlockForm(m[0][0], m[0][1], m[0][2], m[1][1], m[1][2], m[2][2]);
        EXPECT_NEAR(SymEigenMax3(form), expected, 1e-6 * std::max(1.0, expected));
    }
}

TEST(ShadingMaths, SurfaceCurvatureOfSpheresAndCylinders) {
    // A sphere of radius r and a cylinder of radius r about a tilted axis, both placed away
    // from the origin and their forms scaled by k (the same surface): the largest curvature
    // is 1 / r at every point of them.
    for (const double r : {0.25, 1.0, 7.5}) {
        for (const double k : {1.0, -3.0, 0.01}) {
            SCOPED_TRACE(testing::Message() << r << " x " << k);
            // k ((p - c)^T B (p - c) - r^2) as a form over (1, x, y, z).
            const Vec3 c{1.5, -2.0, 9.0};
            const double cv[3] = {c.x, c.y, c.z};
            const auto placed = [&](const double(&block)[3][3]) {
                Matrix4W form;
                double constant = -r * r;
                for (int i = 0; i < 3; ++i) {
                    double linear = 0.0;
                    for (int j = 0; j < 3; ++j) {
                        form.m[4 * (i + 1) + j + 1] = k * block[i][j];
                        linear -= block[i][j] * cv[j];
                        constant += cv[i] * block[i][j] * cv[j];
                    }
                    form.m[i + 1] = form.m[4 * (i + 1)] = k * linear;
                }
                form.m[0] = k * constant;
                return form;
            };
            const double identity[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
            const Matrix4W sphere = placed(identity);
            // The cylinder about the unit axis a: B = I - a a^T.
            const Vec3 a{0.6, 0.0, 0.8};
            const double across[3][3] = {{1 - a.x * a.x, -a.x * a.y, -a.x * a.z},
                                         {-a.y * a.x, 1 - a.y * a.y, -a.y * a.z},
                                         {-a.z * a.x, -a.z * a.y, 1 - a.z * a.z}};
            const Matrix4W cylinder = placed(across);
            // Points on both: directions across the axis a, and along it for the cylinder.
            for (const double angle : {0.0, 1.0, 2.5, 4.0}) {
                const Vec3 d{std::cos(angle) * a.z, std::sin(angle), -std::cos(angle) * a.x};
                const Vec3 onSphere{c.x + r * d.x, c.y + r * d.y, c.z + r * d.z};
                EXPECT_NEAR(SurfaceCurvatureAt(sphere, onSphere), 1.0 / r, 1e-7 / r);
                const Vec3 onCylinder{onSphere.x + 3.0 * a.x, onSphere.y, onSphere.z + 3.0 * a.z};
                EXPECT_NEAR(SurfaceCurvatureAt(cylinder, onCylinder), 1.0 / r, 1e-7 / r);
            }
        }
    }
}

TEST(ShadingMaths, HighlightBroadeningBands) {
    const struct {
        double q, b;
    } cases[] = {{0.0, 0.0},    {0.4, 0.0}, {0.45, 0.125}, {0.5, 0.25},
                 {0.59, 0.475}, {0.6, 0.5}, {3.0, 0.5},    {INFINITY, 0.5}};
    for (const auto& c : cases) EXPECT_NEAR(HighlightBroadening(c.q), c.b, 1e-12) << c.q;
}

TEST(ShadingMaths, SurfaceEigenvaluesAreKeptUntilTheFormsChange) {
    // A part's surfaces keep their largest eigenvalue once computed, and setting the forms
    // again (the part moved or resized) computes it anew; planes are never asked.
    RenderParts parts;
    const std::int32_t index = parts.AddPart(2);
    const Matrix4W small = BlockForm(1.0, 0.0, 0.0, 1.0, 0.0, 1.0);
    const Matrix4W stretched = BlockForm(4.0, 0.0, 0.0, 1.0, 0.0, 0.25);
    const std::array<Matrix4W, 2> first{small, stretched};
    parts.SetViewForms(index, first, small);
    EXPECT_NEAR(parts.SurfaceEigenvalue(index, 0), 1.0, 1e-6);
    EXPECT_NEAR(parts.SurfaceEigenvalue(index, 1), 4.0, 1e-6);
    const std::array<Matrix4W, 2> second{stretched, small};
    parts.SetViewForms(index, second, small);
    EXPECT_NEAR(parts.SurfaceEigenvalue(index, 0), 4.0, 1e-6);
    EXPECT_NEAR(parts.SurfaceEigenvalue(index, 1), 1.0, 1e-6);
}

TEST(ShadingMaths, FilteredLobeExponent) {
    const Matrix4W form = BlockForm(1.0, 0.2, 0.0, 2.0, 0.0, 3.0);
    double amplitude = 0.0;
    EXPECT_EQ(FilteredLobeExponent(form, amplitude, 0.0, 1.0, 0.5, Vec3{1, 2, 3}, Vec3{0, 0, 1},
                                   Vec3{0.1, 0, 0}),
              0.0);
    EXPECT_EQ(amplitude, 1.0);

    // With b = c = 0: G = H_2x2^T H_2x2 (u1, u2 the x and y axes) and t = (H a)_xy, so a
    // positive sigma gives sigma t^T (I + sigma G)^-1 t written out by hand.
    const Vec3 a{0.5, -0.25, 0.0};
    const double exponent = FilteredLobeExponent(form, amplitude, 2.0, 1.0, 0.0, a, Vec3{},
                                                 Vec3{});
    const Vec3 h1{1.0, 0.2, 0.0};
    const Vec3 h2{0.2, 2.0, 0.0};
    const double g11 = Vec3Dot(h1, h1), g12 = Vec3Dot(h1, h2), g22 = Vec3Dot(h2, h2);
    const double t1 = Vec3Dot(h1, a), t2 = Vec3Dot(h2, a);
    const double det = (1 + 2 * g11) * (1 + 2 * g22) - 4 * g12 * g12;
    EXPECT_NEAR(exponent, 2.0 * ((1 + 2 * g22) * t1 * t1 - 4 * g12 * t1 * t2 + (1 + 2 * g11) * t2 * t2) / det,
                1e-12);
    EXPECT_NEAR(amplitude, 1.0 / std::sqrt(det), 1e-12);
}

TEST(ShadingMaths, RotateByQuarterTurnAngle) {
    struct Case {
        std::int32_t angle;
        double x, y;
        bool isBack;
    };
    const Case cases[] = {
        {16384, 0.0, 1.0, false}, {32768, -1.0, 0.0, true}, {-16384, 0.0, -1.0, false},
        {65536, 1.0, 0.0, false}, {0, 1.0, 0.0, false},     {-32768, -1.0, 0.0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.angle);
        double x = 1.0, y = 0.0;
        EXPECT_EQ(RotateByQuarterTurnAngle(x, y, c.angle), c.isBack);
        EXPECT_EQ(x, c.x);
        EXPECT_EQ(y, c.y);
    }
    // Between the quarter turns the cubics stay within 0.012 of the true rotation.
    for (std::int32_t angle = -60000; angle <= 60000; angle += 1000) {
        SCOPED_TRACE(angle);
        double x = 1.0, y = 0.0;
        RotateByQuarterTurnAngle(x, y, angle);
        const double radians = angle * (PI / 32768.0);
        EXPECT_NEAR(x, std::cos(radians), 0.012);
        EXPECT_NEAR(y, std::sin(radians), 0.012);
    }
}

TEST(ShadingMaths, RoundScaledByPow2RoundsHalfAwayFromZero) {
    EXPECT_EQ(RoundScaledByPow2(0.5, 0), 1);
    EXPECT_EQ(RoundScaledByPow2(-0.5, 0), -1);
    EXPECT_EQ(RoundScaledByPow2(0.5, 14), 8192);
    EXPECT_EQ(RoundScaledByPow2(2.5 / 16384.0, 14), 3);
}

}  // namespace
