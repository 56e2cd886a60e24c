// The shadow footprint of single parts against a brute-force caster: a pixel belongs to a
// part's image or shadow when a point of its centre ray, or the ray's point from which the
// segment to the light starts, lies in the bound; that is when the least value of the bound's
// form over { alpha r + beta L : alpha >= 0, 0 <= beta <= 1 } is not positive.

#include "render/q_render.h"
#include "render/render_parts.h"
#include "render/shadow_pass.h"
#include "render/span_region.h"
#include "support/bare_render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace {

constexpr std::int32_t Width = 64;
constexpr std::int32_t Height = 48;
constexpr std::int32_t BorderedWidth = Width + 2;
constexpr std::int32_t BorderedHeight = Height + 2;

Vec3 Unit(const Vec3& v) {
    const double length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return Vec3{v.x / length, v.y / length, v.z / length};
}

double Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// An ellipsoid by its centre and three orthogonal half-axes.
struct Ellipsoid {
    Vec3 centre;
    std::array<Vec3, 3> axes;
};

Ellipsoid Sphere(const Vec3& centre, double radius) {
    return {centre, {Vec3{radius, 0, 0}, Vec3{0, radius, 0}, Vec3{0, 0, radius}}};
}

Ellipsoid Tilted(const Vec3& centre) {
    const Vec3 d1 = Unit(Vec3{1, 0.5, 0.3});
    const Vec3 d2 = Unit(Vec3{d1.y, -d1.x, 0});
    const Vec3 d3{d1.y * d2.z - d1.z * d2.y, d1.z * d2.x - d1.x * d2.z, d1.x * d2.y - d1.y * d2.x};
    const auto scaled = [](const Vec3& d, double s) { return Vec3{d.x * s, d.y * s, d.z * s}; };
    return {centre, {scaled(d1, 1.8), scaled(d2, 0.7), scaled(d3, 1.0)}};
}

Ellipsoid Grown(Ellipsoid e, double factor) {
    for (Vec3& axis : e.axes) axis = Vec3{axis.x * factor, axis.y * factor, axis.z * factor};
    return e;
}

// Its form (homogeneous coordinate first): sum over the axes u of ((p - c) . u / |u|^2)^2 - 1.
Matrix4W Form(const Ellipsoid& e) {
    double a[3][3] = {};
    for (const Vec3& u : e.axes) {
        const double n = Dot(u, u) * Dot(u, u);
        const double v[3] = {u.x, u.y, u.z};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) a[i][j] += v[i] * v[j] / n;
        }
    }
    const double c[3] = {e.centre.x, e.centre.y, e.centre.z};
    double ac[3] = {};
    double cac = 0.0;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) ac[i] += a[i][j] * c[j];
        cac += c[i] * ac[i];
    }
    Matrix4W q;
    q.m = {cac - 1.0, -ac[0],  -ac[1],  -ac[2],  -ac[0], a[0][0], a[0][1], a[0][2],
           -ac[1],    a[1][0], a[1][1], a[1][2], -ac[2], a[2][0], a[2][1], a[2][2]};
    return q;
}

// The least of F(alpha, beta) = sum_i (alpha R_i + beta S_i - C_i)^2 - 1 over alpha >= 0,
// 0 <= beta <= 1 (R, S, C: the ray, the light and the centre along the scaled axes). F is
// convex, so the least value is at the inner stationary point or on one of the three sides.
double LeastOverShadow(const Ellipsoid& e, const Vec3& ray, const Vec3& light) {
    double rr = 0, rs = 0, ss = 0, rc = 0, sc = 0, cc = 0;
    for (const Vec3& u : e.axes) {
        const double n = Dot(u, u);
        const double r = Dot(ray, u) / n, s = Dot(light, u) / n, c = Dot(e.centre, u) / n;
        rr += r * r;
        rs += r * s;
        ss += s * s;
        rc += r * c;
        sc += s * c;
        cc += c * c;
    }
    const auto f = [&](double alpha, double beta) {
        return rr * alpha * alpha + 2 * rs * alpha * beta + ss * beta * beta - 2 * rc * alpha -
               2 * sc * beta + cc - 1.0;
    };
    if (ss == 0.0) return f(std::max(0.0, rc / rr), 0.0);  // a light at the eye
    double least = f(0, std::clamp(sc / ss, 0.0, 1.0));
    for (const double beta : {0.0, 1.0}) {
        least = std::min(least, f(std::max(0.0, (rc - rs * beta) / rr), beta));
    }
    const double det = rr * ss - rs * rs;
    const double alpha = (rc * ss - sc * rs) / det;
    const double beta = (rr * sc - rs * rc) / det;
    if (alpha > 0 && beta > 0 && beta < 1) least = std::min(least, f(alpha, beta));
    return least;
}

struct Frame : bare_render::Frame {
    Frame() : bare_render::Frame(Width, Height) {}
    void Add(const Ellipsoid& e) { AddPart(Form(e)); }
    // The bordered frame's pixels, row by row from (-1, -1): whether the footprint holds them.
    std::vector<bool> Footprint(std::vector<std::int32_t> parts, const Vec3& light) {
        parts.insert(parts.begin(), static_cast<std::int32_t>(parts.size()));
        SpanRegion target;
        ProjectShadowFootprint(render, parts.data(), target, light);
        std::vector<bool> held(BorderedWidth * BorderedHeight, false);
        for (std::int32_t y = target.Top(); y < target.Bottom(); ++y) {
            for (const std::int16_t* t = target.Row(y); t[0] != SpanRowEnd; t += 2) {
                EXPECT_TRUE(y >= -1 && y <= Height && t[0] >= -1 && t[1] <= Width + 1);
                for (std::int32_t x = std::max<std::int32_t>(t[0], -1);
                     x < std::min<std::int32_t>(t[1], Width + 1); ++x) {
                    held[static_cast<std::size_t>((y + 1) * BorderedWidth + x + 1)] = true;
                }
            }
        }
        return held;
    }
    // The least of the form over each bordered pixel's shadow set (see LeastOverShadow).
    std::vector<double> Cast(const Ellipsoid& e, const Vec3& light) {
        const RenderLevel& level = render.Level();
        std::vector<double> least;
        for (std::int32_t y = -1; y <= Height; ++y) {
            for (std::int32_t x = -1; x <= Width; ++x) {
                const Vec3 ray{x + 0.5 - level.centreX, y + 0.5 - level.centreY, level.focal};
                least.push_back(LeastOverShadow(e, ray, light));
            }
        }
        return least;
    }
};

std::size_t Count(const std::vector<bool>& set) {
    return static_cast<std::size_t>(std::count(set.begin(), set.end(), true));
}

// Every pixel the caster finds well inside is held, and every pixel held lies within reach
// pixels (across and along the rows) of one the caster finds.
testing::AssertionResult Matches(const std::vector<bool>& held, const std::vector<double>& least,
                                 std::int32_t reach) {
    for (std::size_t i = 0; i < held.size(); ++i) {
        const std::int32_t x = static_cast<std::int32_t>(i) % BorderedWidth - 1;
        const std::int32_t y = static_cast<std::int32_t>(i) / BorderedWidth - 1;
        if (least[i] < -1e-6 && !held[i]) {
            return testing::AssertionFailure() << "(" << x << ", " << y << ") is missed";
        }
        if (!held[i]) continue;
        bool isNear = false;
        for (std::int32_t dy = -reach; dy <= reach && !isNear; ++dy) {
            for (std::int32_t dx = -reach; dx <= reach && !isNear; ++dx) {
                const std::int32_t nx = x + dx + 1, ny = y + dy + 1;
                if (nx < 0 || ny < 0 || nx >= BorderedWidth || ny >= BorderedHeight) continue;
                isNear = least[static_cast<std::size_t>(ny * BorderedWidth + nx)] <= 1e-6;
            }
        }
        if (!isNear) return testing::AssertionFailure() << "(" << x << ", " << y << ") is extra";
    }
    return testing::AssertionSuccess();
}

TEST(ShadowFootprint, HoldsThePartAndItsShadowHullAndLittleMore) {
    const Vec3 sphereCentre{0.6, -0.4, 7};
    const Vec3 tiltedCentre{-0.8, 0.5, 8};
    struct Case {
        const char* what;
        Vec3 light;  // for the sphere; the tilted ellipsoid's light is moved by the centres'
                     // difference, except the lights on the eye's line through the centre
        bool isOnCentreLine = false;
    };
    const Case cases[] = {
        {"in front, up and left", {-3, -4, 2}},
        {"in front, far to the right", {9, 0.5, 3}},
        {"beside, at the part's depth", {6, 1, 7.5}},
        {"above, at the part's depth", {0.5, -6, 7}},
        {"behind, its shadow coming towards the eye", {2, -3, 16}},
        {"behind, far to the side", {-9, 2, 14}},
        {"behind and to the right, the shadow passing the eye", {8, -3, 14}},
        {"far behind and high", {0, -20, 20}},
        {"near the eye", {0.4, 0.3, 0.3}},
        {"behind the eye", {1, 2, -6}},
        {"between the eye and the part on their line", {0.5, 0, 0}, true},
        {"behind the eye on the line through the part", {-0.7, 0, 0}, true},
        {"beyond the part on that line: the eye in the shadow", {1.8, 0, 0}, true},
    };
    for (const bool isSphere : {true, false}) {
        const Ellipsoid part = isSphere ? Sphere(sphereCentre, 1.2) : Tilted(tiltedCentre);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(isSphere ? "sphere, " : "ellipsoid, ") + c.what);
            Vec3 light = c.light;
            if (c.isOnCentreLine) {
                light = Vec3{part.centre.x * c.light.x, part.centre.y * c.light.x,
                             part.centre.z * c.light.x};
            } else if (!isSphere) {
                light = Vec3{light.x + tiltedCentre.x - sphereCentre.x,
                             light.y + tiltedCentre.y - sphereCentre.y,
                             light.z + tiltedCentre.z - sphereCentre.z};
            }
            Frame frame;
            frame.Add(part);
            const std::vector<bool> held = frame.Footprint({0}, light);
            const std::vector<double> least = frame.Cast(part, light);
            EXPECT_TRUE(Matches(held, least, 1));
            EXPECT_GT(Count(held), 0u);
        }
    }
}

// A light whose line from the eye passes the ellipsoid at 1 + delta times its size (in the
// metric in which it is the unit ball, where lines and their parameters stay as they are), and
// whose nearest point to the ellipsoid lies at s times the light along that line: s beyond 1
// puts the light between the eye and the part, s below 0 the light behind the eye, s between
// them the part between the eye and the light.
Vec3 GrazingLight(const Ellipsoid& e, double delta, double s, const Vec3& side) {
    // The eye in the unit ball's metric, and its distance from the ball's centre.
    Vec3 eye{};
    const double* c = &e.centre.x;
    double* q = &eye.x;
    for (std::size_t i = 0; i < 3; ++i) {
        const Vec3& u = e.axes[i];
        q[i] = -(c[0] * u.x + c[1] * u.y + c[2] * u.z) / Dot(u, u);
    }
    const double distance = std::sqrt(Dot(eye, eye));
    const Vec3 towards{-eye.x / distance, -eye.y / distance, -eye.z / distance};
    const double along = Dot(side, towards);
    const Vec3 across = Unit(
        Vec3{side.x - along * towards.x, side.y - along * towards.y, side.z - along * towards.z});
    const double angle = std::asin((1.0 + delta) / distance);
    const double reach = distance * std::cos(angle) / s;
    const Vec3 d{std::cos(angle) * towards.x + std::sin(angle) * across.x,
                 std::cos(angle) * towards.y + std::sin(angle) * across.y,
                 std::cos(angle) * towards.z + std::sin(angle) * across.z};
    // Back to view space: the light is the sum of the axes weighted by its metric coordinates.
    Vec3 light{};
    const double w[3] = {reach * d.x, reach * d.y, reach * d.z};
    for (std::size_t i = 0; i < 3; ++i) {
        light = Vec3{light.x + w[i] * e.axes[i].x, light.y + w[i] * e.axes[i].y,
                     light.z + w[i] * e.axes[i].z};
    }
    return light;
}

TEST(ShadowFootprint, ALineFromTheEyeToTheLightThatGrazesThePart) {
    // The line passes the part narrowly (the planes through it that touch the part lie close
    // together) or just cuts it: the footprint still holds the part and its shadow hull and
    // little more, whole-frame only where the eye stands in the shadow.
    struct Case {
        const char* what;
        double s;
    };
    const Case cases[] = {
        {"the light between the eye and the part", 1.6},
        {"the light behind the eye", -1.0},
        {"the part between the eye and the light", 0.5},
    };
    for (const bool isSphere : {true, false}) {
        const Ellipsoid part = isSphere ? Sphere({0.6, -0.4, 7}, 1.2) : Tilted({-0.8, 0.5, 8});
        for (const Case& c : cases) {
            for (const double delta : {1e-2, 1e-4, 1e-6, 1e-9, -1e-4}) {
                for (const Vec3& side : {Vec3{0, 1, 0}, Vec3{1, 0, 0}, Vec3{-1, -1, 0}}) {
                    SCOPED_TRACE(testing::Message()
                                 << (isSphere ? "sphere, " : "ellipsoid, ") << c.what << ", delta "
                                 << delta << ", side " << side.x << " " << side.y);
                    const Vec3 light = GrazingLight(part, delta, c.s, side);
                    Frame frame;
                    frame.Add(part);
                    const std::vector<bool> held = frame.Footprint({0}, light);
                    const std::vector<double> least = frame.Cast(part, light);
                    EXPECT_TRUE(Matches(held, least, 1));
                }
            }
        }
    }
}

TEST(ShadowFootprint, APartTouchingThePlaneOfTheEyeHasRowsWithOneRoot) {
    // The sphere touches the plane z = 0 through the eye at a point to its right: the ray from
    // the eye to that point runs along the rows, its silhouette is a parabola whose axis lies
    // along them and has no x^2 term, and each row meets it once.
    for (const double scale : {1.0, 2.0}) {
        const Ellipsoid part = Sphere({2.5 * scale, 0, 2 * scale}, 2 * scale);
        for (const Vec3& light : {Vec3{2, -30, 1}, Vec3{2, 30, 1}, Vec3{-3, 0, -20},
                                  Vec3{0, -10, 30}, Vec3{-0.5, 0, -0.5}, Vec3{0.3, 0.2, -0.2}}) {
            SCOPED_TRACE(testing::Message() << "scale " << scale << ", light " << light.x << " "
                                            << light.y << " " << light.z);
            Frame frame;
            frame.Add(part);
            const std::vector<bool> held = frame.Footprint({0}, light);
            const std::vector<double> least = frame.Cast(part, light);
            EXPECT_TRUE(Matches(held, least, 1));
            EXPECT_GT(Count(held), 0u);
        }
    }
}

TEST(ShadowFootprint, EyeOrLightInsideOrLightAtTheEye) {
    // The light at the eye throws the shadow straight behind the part: the footprint is the
    // part grown by 3 % about its centre, unless that reaches the eye or the light.
    const Ellipsoid part = Sphere({0.6, -0.4, 7}, 1.2);
    const Vec3 nearEye{0.02, 0.01, 0};
    Frame frame;
    frame.Add(part);
    const std::vector<bool> held = frame.Footprint({0}, nearEye);
    const std::vector<double> grown = frame.Cast(Grown(part, 1.03), Vec3{0, 0, 0});
    EXPECT_TRUE(Matches(held, grown, 0));
    const std::vector<double> own = frame.Cast(part, Vec3{0, 0, 0});
    const auto inside = [](const std::vector<double>& least) {
        return std::count_if(least.begin(), least.end(), [](double v) { return v <= 0.0; });
    };
    EXPECT_GT(inside(grown), inside(own));

    struct Case {
        const char* what;
        std::vector<Ellipsoid> parts;
        Vec3 light;
    };
    const Case wholeFrame[] = {
        {"the eye inside the first part",
         {Sphere({0, 0, 0.5}, 2), Sphere({2, 0, 8}, 1)},
         {3, -4, 2}},
        {"the eye inside the second part",
         {Sphere({2, 0, 8}, 1), Sphere({0, 0, 0.5}, 2)},
         {3, -4, 2}},
        {"the light inside the part", {Sphere({0, 0, 8}, 1)}, {0.2, 0, 8}},
        {"the light at the eye, the grown part holding the eye",
         {Sphere({0, 0, 1.02}, 1)},
         {0, 0, 0.001}},
        {"the light at the eye, the grown part holding the light",
         {Sphere({0, 0, 1.035}, 1)},
         {0, 0, 0.01}},
    };
    for (const Case& c : wholeFrame) {
        SCOPED_TRACE(c.what);
        Frame f;
        std::vector<std::int32_t> list;
        for (const Ellipsoid& e : c.parts) {
            list.push_back(static_cast<std::int32_t>(list.size()));
            f.Add(e);
        }
        EXPECT_EQ(Count(f.Footprint(list, c.light)),
                  static_cast<std::size_t>(BorderedWidth * BorderedHeight));
    }
}

}  // namespace
