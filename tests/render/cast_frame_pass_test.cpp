#include "render/cast_frame_pass.h"

#include "core/crt_random.h"
#include "core/matrix3.h"
#include "core/matrix4.h"
#include "platform/scripted_input_state.h"
#include "render/part_order.h"
#include "render/q_render.h"
#include "render/render_interrupt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

// ---- Parts in their own coordinates, placed in view space ----

struct TestPart {
    std::vector<Matrix4W> local;  // surface forms over (1, x, y, z), inside where <= 0
    Matrix4W bound;               // a quadric holding the part, local
    Matrix4W localFromView;       // affine, w-first
};

Matrix4W Form(double c, Vec3 linear, double xx, double yy, double zz) {
    Matrix4W q;
    q.m[0] = c;
    q.m[1] = q.m[4] = linear.x;
    q.m[2] = q.m[8] = linear.y;
    q.m[3] = q.m[12] = linear.z;
    q.m[5] = xx;
    q.m[10] = yy;
    q.m[15] = zz;
    return q;
}

Matrix4W Ellipsoid(double a, double b, double c) {
    return Form(-1.0, {}, 1.0 / (a * a), 1.0 / (b * b), 1.0 / (c * c));
}

// n . p <= d (d > 0): -1 + (n / d) . p <= 0, linear terms halved.
Matrix4W HalfSpace(Vec3 n, double d) {
    return Form(-1.0, {0.5 * n.x / d, 0.5 * n.y / d, 0.5 * n.z / d}, 0, 0, 0);
}

// A rotation about a unit axis and a position: localFromView = R^T (p - position).
Matrix4W Placement(Vec3 axis, double angle, Vec3 position) {
    Vec3Normalize(axis);
    const Matrix3 r = Matrix3FromMatrix4(MakeRotationAboutAxis(axis, angle));
    const Matrix3 rt = Matrix3Transpose(r);
    const Vec3 t = Matrix3TransformVec3(rt, position);
    Matrix4W m = EmbedMatrix3(rt, 0);
    m.m[4] = -t.x;
    m.m[8] = -t.y;
    m.m[12] = -t.z;
    return m;
}

TestPart SpherePart(double r, Vec3 at) {
    return {{Ellipsoid(r, r, r)}, Ellipsoid(r, r, r), Placement({0, 1, 0}, 0.0, at)};
}

TestPart EllipsoidPart(double a, double b, double c, Vec3 axis, double angle, Vec3 at) {
    return {{Ellipsoid(a, b, c)}, Ellipsoid(a, b, c), Placement(axis, angle, at)};
}

// The cylinder x^2 + z^2 <= r^2 between y = -h / 2 and y = h / 2, its bound the ellipsoid
// through both rims.
TestPart CylinderPart(double r, double h, Vec3 axis, double angle, Vec3 at) {
    return {{Form(-1.0, {}, 1.0 / (r * r), 0.0, 1.0 / (r * r)), HalfSpace({0, 1, 0}, h / 2),
             HalfSpace({0, -1, 0}, h / 2)},
            Form(-2.0, {}, 1.0 / (r * r), 4.0 / (h * h), 1.0 / (r * r)),
            Placement(axis, angle, at)};
}

TestPart BoxPart(double a, double b, double c, Vec3 axis, double angle, Vec3 at) {
    return {{HalfSpace({1, 0, 0}, a / 2), HalfSpace({-1, 0, 0}, a / 2), HalfSpace({0, 1, 0}, b / 2),
             HalfSpace({0, -1, 0}, b / 2), HalfSpace({0, 0, 1}, c / 2),
             HalfSpace({0, 0, -1}, c / 2)},
            Form(-3.0, {}, 4.0 / (a * a), 4.0 / (b * b), 4.0 / (c * c)),
            Placement(axis, angle, at)};
}

// A sphere less the half on the +x side of its centre, turned.
TestPart CutSpherePart(double r, Vec3 axis, double angle, Vec3 at) {
    // x <= 0 as -x >= 0 is not of the form n.p <= d with d > 0; use the plane's form directly.
    Matrix4W cut;
    cut.m[1] = cut.m[4] = 0.5;  // x <= 0
    return {{Ellipsoid(r, r, r), cut}, Ellipsoid(r, r, r), Placement(axis, angle, at)};
}

// ---- The renderer set up over a small frame ----

struct Frame {
    QRender render;
    std::vector<TestPart> parts;
    std::vector<std::uint32_t> pixels;

    Frame(std::int32_t width, std::int32_t height, double focal) {
        pixels.assign(static_cast<std::size_t>(width * height), 0x12345678u);
        EXPECT_EQ(render.SetSize(pixels.data(), width, height, width, false), RenderSizeOk);
        render.centreX = width / 2.0;
        render.centreY = height / 2.0;
        render.focalScale = focal / 1000.0;
    }

    void Add(const TestPart& part) {
        parts.push_back(part);
        const std::int32_t index =
            render.parts.AddPart(static_cast<std::int32_t>(part.local.size()));
        RenderPartsSetFromLocal(render.parts, index, part.local, part.bound, part.localFromView);
    }

    const SampleCell& Cell(std::int32_t x, std::int32_t y, std::int32_t plane = 0) const {
        const RenderLevel& level = render.Level();
        return render.SampleBuffer(0)[render.PlaneCells() * static_cast<std::size_t>(plane) +
                                      static_cast<std::size_t>(y + 1) *
                                          static_cast<std::size_t>(level.cellStride) +
                                      static_cast<std::size_t>(x + 1)];
    }
};

// ---- The brute-force caster: every crossing of the ray, intervals tested by membership ----

double LocalValue(const Matrix4W& q, const Vec3& p) {
    const auto& e = q.m;
    return e[0] + 2.0 * (e[1] * p.x + e[2] * p.y + e[3] * p.z) + e[5] * p.x * p.x +
           e[10] * p.y * p.y + e[15] * p.z * p.z +
           2.0 * (e[6] * p.x * p.y + e[7] * p.x * p.z + e[11] * p.y * p.z);
}

Vec3 ToLocal(const Matrix4W& m, const Vec3& p) {
    const Vec4 v = Matrix4TransformVec4(m, Vec4{1.0, p.x, p.y, p.z});
    return {v.x, v.y, v.z};
}

struct Entry {
    bool eyeInside = false;
    std::int32_t surface = -1;  // -1: the ray never enters
    double t = 0.0;
};

Entry EnterPart(const TestPart& part, const Vec3& dir) {
    const Vec3 o = ToLocal(part.localFromView, {0, 0, 0});
    const Vec3 far = ToLocal(part.localFromView, dir);
    const Vec3 d{far.x - o.x, far.y - o.y, far.z - o.z};
    struct Crossing {
        double t;
        std::int32_t surface;
    };
    std::vector<Crossing> crossings;
    for (std::int32_t s = 0; s < static_cast<std::int32_t>(part.local.size()); ++s) {
        const Matrix4W& q = part.local[static_cast<std::size_t>(s)];
        // value(o + t d) = qc + 2 qb t + qa t^2
        const double qc = LocalValue(q, o);
        const double v1 = LocalValue(q, {o.x + d.x, o.y + d.y, o.z + d.z});
        const double vm = LocalValue(q, {o.x - d.x, o.y - d.y, o.z - d.z});
        const double qa = 0.5 * (v1 + vm) - qc;
        const double qb = 0.25 * (v1 - vm);
        const bool isPlane = q.m[5] == 0 && q.m[10] == 0 && q.m[15] == 0 && q.m[6] == 0 &&
                             q.m[7] == 0 && q.m[11] == 0;
        if (isPlane) {
            if (qb != 0.0) crossings.push_back({-qc / (2.0 * qb), s});
            continue;
        }
        const double disc = qb * qb - qa * qc;
        if (disc < 0.0) continue;
        const double w = -qb - std::copysign(std::sqrt(disc), qb);
        if (w != 0.0) {
            crossings.push_back({w / qa, s});
            crossings.push_back({qc / w, s});
        }
    }
    std::erase_if(crossings, [](const Crossing& c) { return !(c.t > 0.0) || !std::isfinite(c.t); });
    std::sort(crossings.begin(), crossings.end(),
              [](const Crossing& a, const Crossing& b) { return a.t < b.t; });
    const auto inside = [&](double t) {
        const Vec3 p{o.x + t * d.x, o.y + t * d.y, o.z + t * d.z};
        for (const Matrix4W& q : part.local) {
            if (LocalValue(q, p) > 0.0) return false;
        }
        return true;
    };
    Entry entry;
    const std::size_t n = crossings.size();
    for (std::size_t k = 0; k <= n; ++k) {
        const double lo = k == 0 ? 0.0 : crossings[k - 1].t;
        const double hi = k == n ? (n == 0 ? 2.0 : lo * 2.0 + 1.0) : crossings[k].t;
        if (!inside(0.5 * (lo + hi))) continue;
        if (k == 0) {
            entry.eyeInside = true;
        } else {
            entry.surface = crossings[k - 1].surface;
            entry.t = crossings[k - 1].t;
        }
        return entry;
    }
    return entry;
}

struct BruteHit {
    std::int32_t part = -1;
    std::int32_t surface = -1;
    double t = 0.0;
};

BruteHit NearestHit(const std::vector<TestPart>& parts, const Vec3& dir,
                    std::vector<Entry>* entries = nullptr) {
    BruteHit best;
    for (std::int32_t i = 0; i < static_cast<std::int32_t>(parts.size()); ++i) {
        const Entry e = EnterPart(parts[static_cast<std::size_t>(i)], dir);
        if (entries != nullptr) entries->push_back(e);
        if (e.surface < 0) continue;
        if (best.part < 0 || e.t < best.t) best = {i, e.surface, e.t};
    }
    return best;
}

// The facing test of the light bits, in the part's own coordinates.
double FacingValue(const TestPart& part, std::int32_t surface, const Vec3& p, const Vec3& light) {
    const Matrix4W& q = part.local[static_cast<std::size_t>(surface)];
    const Vec3 pl = ToLocal(part.localFromView, p);
    const Vec3 ll = ToLocal(part.localFromView, light);
    const auto& e = q.m;
    const Vec3 g{e[1] + e[5] * pl.x + e[6] * pl.y + e[7] * pl.z,
                 e[2] + e[6] * pl.x + e[10] * pl.y + e[11] * pl.z,
                 e[3] + e[7] * pl.x + e[11] * pl.y + e[15] * pl.z};
    const Vec3 dl{pl.x - ll.x, pl.y - ll.y, pl.z - ll.z};
    return (dl.x * g.x + dl.y * g.y + dl.z * g.z) /
           (std::sqrt(Vec3Dot(dl, dl) * Vec3Dot(g, g)) + 1e-300);
}

struct Comparison {
    std::int32_t covered = 0;
    std::int32_t ambiguous = 0;
    std::int32_t ties = 0;
};

// Compares every pixel of the frame with the brute-force caster. A pixel whose answer changes
// when its ray moves by 1e-6 pixel (an edge or silhouette through its centre) is skipped;
// a different id is accepted only where that part enters within one depth word (or 1e-9) of
// the nearest hit.
Comparison CompareWithBruteForce(const Frame& f, const std::string& name) {
    Comparison result;
    const RenderLevel& level = f.render.Level();
    const double focal = level.focal;
    for (std::int32_t y = 0; y < level.height; ++y) {
        for (std::int32_t x = 0; x < level.width; ++x) {
            const double px = x - level.centreX + 0.5;
            const double py = y - level.centreY + 0.5;
            std::vector<Entry> entries;
            const BruteHit hit = NearestHit(f.parts, {px, py, focal}, &entries);
            bool isAmbiguous = false;
            const double delta = 1e-6;
            for (const auto& [dx, dy] : {std::pair{delta, 0.0}, std::pair{-delta, 0.0},
                                         std::pair{0.0, delta}, std::pair{0.0, -delta}}) {
                const BruteHit moved = NearestHit(f.parts, {px + dx, py + dy, focal});
                if (moved.part != hit.part || moved.surface != hit.surface) isAmbiguous = true;
            }
            if (isAmbiguous) {
                ++result.ambiguous;
                continue;
            }
            const SampleCell& cell = f.Cell(x, y);
            const std::string where = name + " pixel (" + std::to_string(x) + ", " +
                                      std::to_string(y) + ")";
            if (hit.part < 0) {
                EXPECT_EQ(cell.pixel, 0u) << where;
                EXPECT_EQ(cell.depth, 0) << where;
                continue;
            }
            ++result.covered;
            const double wantWord = f.render.depthScale / hit.t;
            const std::uint32_t wantId = PixelIdOf(hit.part, hit.surface);
            if (cell.pixel != wantId) {
                // Only a tie within the depth words' resolution may pick another part.
                const std::int32_t part = PixelPartIndex(cell.pixel);
                if (part < 0 || part >= static_cast<std::int32_t>(entries.size())) {
                    ADD_FAILURE() << where << ": id " << cell.pixel << ", want id " << wantId;
                    continue;
                }
                const Entry& other = entries[static_cast<std::size_t>(part)];
                const double tolerance = std::max(1e-9, 3.0 / wantWord) * hit.t;
                EXPECT_TRUE(other.surface == PixelSurface(cell.pixel) &&
                            std::fabs(other.t - hit.t) <= tolerance)
                    << where << ": id " << cell.pixel << " want " << wantId << " at t " << hit.t
                    << " other t " << other.t;
                ++result.ties;
                continue;
            }
            EXPECT_NEAR(cell.depth, wantWord, 2.0 + 1e-9 * wantWord) << where;
            // The light bits of the lights the frame has.
            for (std::int32_t i = 0; i < f.render.LightCount(); ++i) {
                const Vec3 p{px * hit.t, py * hit.t, focal * hit.t};
                const double facing = FacingValue(f.parts[static_cast<std::size_t>(hit.part)],
                                                  hit.surface, p, f.render.LightSlot(i).position);
                if (std::fabs(facing) < 1e-5) continue;
                const std::uint32_t bits = 0x80008000u >> i;
                EXPECT_EQ(cell.lightMask & bits, facing <= 0.0 ? bits : 0u)
                    << where << " light " << i;
            }
        }
    }
    return result;
}

TEST(CastFramePass, IdsAgreeWithBruteForceCaster) {
    struct Scene {
        const char* name;
        std::vector<TestPart> parts;
    };
    const Scene scenes[] = {
        {"sphere", {SpherePart(1.5, {0.3, -0.2, 6.0})}},
        {"ellipsoid", {EllipsoidPart(2.0, 0.8, 1.2, {1, 2, 0.5}, 0.9, {-0.5, 0.4, 7.0})}},
        {"capped cylinder", {CylinderPart(0.9, 3.0, {1, 0, 0.3}, 1.1, {0.2, 0.1, 6.5})}},
        {"capped cylinder end on", {CylinderPart(0.9, 2.0, {1, 0, 0}, 1.5707963, {0.1, 0.1, 6.0})}},
        {"box", {BoxPart(2.0, 1.2, 1.6, {0.3, 1, 0.2}, 0.7, {0.0, 0.3, 6.0})}},
        {"sphere cut by a plane", {CutSpherePart(1.6, {0.2, 1, 0}, 2.2, {0.1, 0.0, 6.0})}},
        {"overlapping pair",
         {SpherePart(1.2, {-0.4, 0.0, 6.0}), BoxPart(1.5, 1.5, 1.5, {1, 1, 0}, 0.5, {0.4, 0.2, 6.2})}},
    };
    for (const Scene& scene : scenes) {
        SCOPED_TRACE(scene.name);
        Frame f(96, 80, 150.0);
        f.render.SetLightCounts(2, 0);
        f.render.LightSlot(0).position = {0.0, 0.0, 0.0};
        f.render.LightSlot(1).position = {4.0, -3.0, 3.0};
        for (const TestPart& p : scene.parts) f.Add(p);
        ASSERT_EQ(RenderCastFrame(f.render), CastDone);
        const Comparison c = CompareWithBruteForce(f, scene.name);
        EXPECT_GT(c.covered, 300);
        EXPECT_LT(c.ambiguous, 60);
        if (testing::Test::HasFatalFailure()) return;
    }
}

TEST(CastFramePass, ReducedLevelCastsWithItsOwnSizeFocalAndCentre) {
    // Level 2 of a 200 x 150 frame: 56 x 44 pixels, a quarter of the focal length.
    Frame f(200, 150, 400.0);
    f.render.reductionLevel = 2;
    f.Add(EllipsoidPart(1.4, 0.7, 1.0, {0, 1, 1}, 0.6, {0.4, -0.3, 6.0}));
    f.Add(BoxPart(1.0, 1.0, 1.0, {1, 0, 0}, 0.4, {-0.8, 0.2, 5.0}));
    ASSERT_EQ(RenderCastFrame(f.render), CastDone);
    EXPECT_EQ(f.render.Level().width, 56);
    EXPECT_EQ(f.render.Level().height, 44);
    EXPECT_DOUBLE_EQ(f.render.Level().focal, 100.0);
    const Comparison c = CompareWithBruteForce(f, "level 2");
    EXPECT_GT(c.covered, 200);
    // Screen pixels map onto the level's cells.
    EXPECT_EQ(f.render.QueryPixel(100, 75, nullptr, nullptr, 0, nullptr),
              f.Cell((100 / 2 + 2) / 2 + 2, (75 / 2 + 2) / 2 + 2).pixel);
    // A pixel left of the frame is no pixel, though halving would carry it inside.
    f.render.SampleBuffer(0)[(21 + 1) * 58 + 3 + 1].pixel = PixelIdOf(0, 0);
    EXPECT_EQ(f.render.QueryPixel(-1, 75, nullptr, nullptr, 0, nullptr), 0u);
    EXPECT_EQ(f.render.QueryPixel(0, 75, nullptr, nullptr, 0, nullptr), PixelIdOf(0, 0));
}

TEST(CastFramePass, FiftyRandomOverlappingPartsAgreeWithBruteForce) {
    for (std::uint32_t seed : {3u, 11u}) {
        SCOPED_TRACE(seed);
        CrtSrand(seed);
        const auto uniform = [](double lo, double hi) { return lo + (hi - lo) * CrtRand() / 32767.0; };
        Frame f(160, 120, 220.0);
        for (int i = 0; i < 50; ++i) {
            const Vec3 at{uniform(-2.5, 2.5), uniform(-2.0, 2.0), uniform(7.0, 12.0)};
            const Vec3 axis{uniform(-1, 1), uniform(-1, 1), uniform(0.1, 1)};
            const double angle = uniform(0.0, 3.1);
            switch (CrtRand() % 5) {
                case 0: f.Add(SpherePart(uniform(0.3, 1.0), at)); break;
                case 1:
                    f.Add(EllipsoidPart(uniform(0.3, 1.2), uniform(0.3, 1.2), uniform(0.3, 1.2),
                                        axis, angle, at));
                    break;
                case 2: f.Add(CylinderPart(uniform(0.2, 0.7), uniform(0.5, 2.0), axis, angle, at)); break;
                case 3:
                    f.Add(BoxPart(uniform(0.4, 1.5), uniform(0.4, 1.5), uniform(0.4, 1.5), axis,
                                  angle, at));
                    break;
                default: f.Add(CutSpherePart(uniform(0.3, 1.0), axis, angle, at)); break;
            }
        }
        ASSERT_EQ(RenderCastFrame(f.render), CastDone);
        const Comparison c = CompareWithBruteForce(f, "seed " + std::to_string(seed));
        EXPECT_GT(c.covered, 5000);
        EXPECT_LT(c.ambiguous, 400);
        EXPECT_LT(c.ties, 20);
    }
}

TEST(CastFramePass, SphereSilhouetteAreaMatchesItsProjectedDisc) {
    // A sphere of radius r on the axis at distance d projects to a disc of radius
    // F tan(asin(r / d)) = F r / sqrt(d^2 - r^2).
    const double r = 1.0, d = 5.0, focal = 400.0;
    Frame f(240, 240, focal);
    f.Add(SpherePart(r, {0.0, 0.0, d}));
    ASSERT_EQ(RenderCastFrame(f.render), CastDone);
    std::int32_t covered = 0;
    for (std::int32_t y = 0; y < 240; ++y) {
        for (std::int32_t x = 0; x < 240; ++x) covered += f.Cell(x, y).pixel != 0 ? 1 : 0;
    }
    const double radius = focal * r / std::sqrt(d * d - r * r);
    const double area = 3.141592653589793 * radius * radius;
    EXPECT_NEAR(covered, area, 2.0 * 3.141592653589793 * radius * 0.1);
    // The border cells are cast too, and nothing outside the disc.
    EXPECT_EQ(f.Cell(-1, -1).pixel, 0u);
}

TEST(CastFramePass, EyeInsidePartFillsTheFrameBlack) {
    Frame f(16, 12, 100.0);
    f.Add(SpherePart(3.0, {0.0, 0.0, 1.0}));
    EXPECT_EQ(RenderCastFrame(f.render), CastEyeInside);
    for (const std::uint32_t p : f.pixels) EXPECT_EQ(p, 0xFF000000u);
}

TEST(CastFramePass, EyeInsideOneOfTwoSurfaces) {
    // Inside the big sphere, outside the half-space z >= 4: the hit is where the ray crosses
    // z = 4 while still inside the sphere; rays leaving the sphere first find nothing.
    Frame f(64, 64, 20.0);
    Matrix4W front;  // 4 - z <= 0
    front.m[0] = 4.0;
    front.m[3] = front.m[12] = -0.5;
    f.Add(TestPart{{Ellipsoid(5.0, 5.0, 5.0), front}, Ellipsoid(5.0, 5.0, 5.0),
                   Placement({0, 1, 0}, 0.0, {0.0, 0.0, 0.0})});
    ASSERT_EQ(RenderCastFrame(f.render), CastDone);
    const Comparison c = CompareWithBruteForce(f, "inside one surface");
    EXPECT_GT(c.covered, 100);
    EXPECT_EQ(f.Cell(32, 32).pixel, PixelIdOf(0, 1));
    EXPECT_EQ(f.Cell(0, 0).pixel, 0u);  // leaves the sphere before it reaches z = 4
}

TEST(CastFramePass, DepthOverflowHalvesTheDepthConstantAndCastsAgain) {
    Frame f(48, 48, 100.0);
    f.Add(SpherePart(0.05, {0.0, 0.0, 0.12}));
    f.Add(SpherePart(1.0, {0.0, 0.0, 6.0}));
    ASSERT_EQ(RenderCastFrame(f.render), CastDone);
    EXPECT_LT(f.render.workingDepth, 0.12);
    EXPECT_GT(f.render.workingDepth, 0.0);
    CompareWithBruteForce(f, "near sphere");
    // The next full cast starts again from the configured constant.
    f.render.parts.Part(0).visible = 0;
    ASSERT_EQ(RenderCastFrame(f.render), CastDone);
    EXPECT_EQ(f.render.workingDepth, 0.25);
}

TEST(CastFramePass, APlaneThroughTheEyeOfAFarPartIsNoOverflow) {
    // Each box has a face in a plane through the eye (y = 0, and x = 0 turned about z), far
    // from where the rays meet the box: no depth overflow, nothing halved, the boxes drawn.
    for (const double angle : {0.0, 0.3}) {
        SCOPED_TRACE(angle);
        Frame f(48, 48, 100.0);
        f.Add(BoxPart(2.0, 2.0, 2.0, {0, 0, 1}, angle, {0.0, 1.0, 8.0}));
        f.Add(SpherePart(1.0, {-2.0, -2.0, 9.0}));
        ASSERT_EQ(RenderCastFrame(f.render), CastDone);
        EXPECT_EQ(f.render.workingDepth, 0.25);
        CompareWithBruteForce(f, "plane through the eye");
        EXPECT_EQ(PixelPartIndex(f.Cell(24, 30).pixel), 0);
    }
}

TEST(CastFramePass, PartOrderIsTheCombSortsWithItsTies) {
    RenderParts parts;
    const std::vector<std::int32_t> keys = {5, 7, 5, 7};
    for (const std::int32_t k : keys) parts.Part(parts.AddPart(0)).key = k;
    std::vector<std::int32_t> order(4);
    std::vector<PartKeyPair> scratch(4);
    SortPartsByKey(parts, order, scratch);
    EXPECT_EQ(order, (std::vector<std::int32_t>{3, 1, 2, 0}));

    RenderParts rising;
    for (std::int32_t k = 1; k <= 5; ++k) rising.Part(rising.AddPart(0)).key = k;
    order.assign(5, -1);
    scratch.resize(5);
    SortPartsByKey(rising, order, scratch);
    EXPECT_EQ(order, (std::vector<std::int32_t>{4, 3, 2, 1, 0}));

    RenderParts one;
    one.AddPart(0);
    order.assign(1, -1);
    SortPartsByKey(one, order, scratch);
    EXPECT_EQ(order[0], 0);
}

TEST(CastFramePass, TieOrderOfCoincidentPartsIsVisible) {
    // Parts 0 and 2 are one far sphere, 1 and 3 one near sphere: nearest first the sort puts 3
    // before 1 and 2 before 0, and a tie keeps what was drawn first.
    Frame f(40, 40, 60.0);
    f.Add(SpherePart(1.0, {0.0, 0.0, 9.0}));
    f.Add(SpherePart(0.5, {0.0, 0.0, 5.0}));
    f.Add(SpherePart(1.0, {0.0, 0.0, 9.0}));
    f.Add(SpherePart(0.5, {0.0, 0.0, 5.0}));
    ASSERT_EQ(RenderCastFrame(f.render), CastDone);
    EXPECT_EQ(f.render.parts.Part(1).key, f.render.parts.Part(3).key);
    EXPECT_EQ(PixelPartIndex(f.Cell(20, 20).pixel), 3);
    EXPECT_EQ(PixelPartIndex(f.Cell(20, 13).pixel), 2);  // outside the near sphere

    // In one surface group the lower id wins whatever the order.
    std::vector<std::uint16_t> groups(5 * 32, 0);
    groups[PixelIdOf(1, 0)] = 7;
    groups[PixelIdOf(3, 0)] = 7;
    f.render.slotTable = groups.data();
    f.render.slotTableEntries = groups.size();
    ASSERT_EQ(RenderCastFrame(f.render), CastDone);
    EXPECT_EQ(PixelPartIndex(f.Cell(20, 20).pixel), 1);
    EXPECT_EQ(PixelPartIndex(f.Cell(20, 13).pixel), 2);
}

TEST(CastFramePass, TwoSamplesKeepTheTwoNearestHits) {
    for (const bool listed : {false, true}) {
        SCOPED_TRACE(listed);
        Frame f(24, 24, 40.0);
        ASSERT_EQ(f.render.SetSamplesPerPixel(2), RenderSizeOk);
        f.Add(SpherePart(1.0, {0.0, 0.0, 5.0}));
        f.Add(SpherePart(1.0, {0.0, 0.0, 8.0}));
        f.Add(SpherePart(1.0, {0.0, 0.0, 11.0}));
        ASSERT_EQ(RenderCastFrame(f.render), CastDone);
        if (listed) {
            // Farthest first over cleared cells moves each hit from plane 0 to the last plane.
            std::memset(static_cast<void*>(f.render.SampleBuffer(0)), 0,
                        2 * f.render.PlaneCells() * sizeof(SampleCell));
            const std::int32_t list[] = {3, 2, 1, 0};
            ASSERT_EQ(CastFramePass(f.render, f.render.selectionRegion, list, false, 0,
                                    f.render.centreX, f.render.centreY),
                      CastDone);
        }
        EXPECT_EQ(PixelPartIndex(f.Cell(12, 12, 0).pixel), 0);
        EXPECT_EQ(PixelPartIndex(f.Cell(12, 12, 1).pixel), 1);
        EXPECT_GT(f.Cell(12, 12, 0).depth, f.Cell(12, 12, 1).depth);
    }
}

TEST(CastFramePass, ListsDrawOverOrSkipTheListedParts) {
    Frame f(32, 32, 50.0);
    f.Add(SpherePart(1.0, {0.0, 0.0, 5.0}));   // near, small
    f.Add(SpherePart(3.0, {0.0, 0.0, 10.0}));  // far, larger
    ASSERT_EQ(RenderCastFrame(f.render), CastDone);
    const std::uint32_t centre = f.Cell(16, 16).pixel;
    const std::uint32_t rim = f.Cell(16, 3).pixel;
    EXPECT_EQ(PixelPartIndex(centre), 0);
    EXPECT_EQ(PixelPartIndex(rim), 1);

    // Drawing the far part again over the cells changes nothing where the near one is.
    const std::int32_t farOnly[] = {1, 1};
    ASSERT_EQ(CastFramePass(f.render, f.render.selectionRegion, farOnly, false, 0,
                            f.render.centreX, f.render.centreY),
              CastDone);
    EXPECT_EQ(f.Cell(16, 16).pixel, centre);

    // With the complement flag the region is cleared and every other part drawn.
    ASSERT_EQ(CastFramePass(f.render, f.render.selectionRegion, farOnly, true, 0,
                            f.render.centreX, f.render.centreY),
              CastDone);
    EXPECT_EQ(PixelPartIndex(f.Cell(16, 16).pixel), 0);
    EXPECT_EQ(f.Cell(16, 3).pixel, 0u);

    // Invisible parts and parts without surfaces are never drawn, nor taken for the eye's part.
    f.render.parts.Part(0).visible = 0;
    f.render.parts.AddPart(3);  // no surfaces set
    ASSERT_EQ(RenderCastFrame(f.render), CastDone);
    EXPECT_EQ(PixelPartIndex(f.Cell(16, 16).pixel), 1);
}

TEST(CastFramePass, RenderWithoutSizedBuffersDrawsNothing) {
    QRender render;
    render.parts.AddPart(1);
    EXPECT_EQ(RenderCastFrame(render), CastNotSized);
    std::vector<std::uint32_t> pixels(64);
    ASSERT_EQ(render.SetSize(pixels.data(), 8, 8, 8, false), RenderSizeOk);
    render.renderWidth = 9;
    EXPECT_EQ(RenderCastFrame(render), CastNotSized);
    render.renderWidth = 8;
    EXPECT_EQ(RenderCastFrame(render), CastDone);
}

// A part covering the whole frame: the half-space z >= 2, with no bound to clip by.
void AddWall(Frame& f) {
    Matrix4W wall;
    wall.m[0] = 2.0;
    wall.m[3] = wall.m[12] = -0.5;
    f.Add(TestPart{{wall}, Matrix4W{}, Placement({0, 1, 0}, 0.0, {0, 0, 0})});
}

TEST(CastFramePass, QueuedClickAbortsWithinThePollInterval) {
    // Mask 15 polls after the rows y = 15 mod 16, the frame's border row -1 among them.
    struct Case {
        std::int32_t peeksBefore;  // polls that see no click
        std::int32_t lastRow;      // the row after which the pass stops
    };
    for (const Case c : {Case{0, -1}, Case{1, 15}, Case{3, 47}}) {
        SCOPED_TRACE(c.peeksBefore);
        Frame f(64, 64, 30.0);
        AddWall(f);
        ScriptedInputState script;
        ScopedInputStateSource installed(script);
        script.QueueLeftButtonDownAfterPeeks(c.peeksBefore);
        f.render.poll.rowMask = 15;
        f.render.poll.mode = -1;
        EXPECT_THROW(RenderCastFrame(f.render), UserAbortRender);
        EXPECT_EQ(script.PeekCount(), c.peeksBefore + 1);
        EXPECT_NE(f.Cell(63, c.lastRow).pixel, 0u);
        EXPECT_EQ(f.Cell(0, c.lastRow + 1).pixel, 0u);
        EXPECT_TRUE(PeekLeftButtonDownMessage());  // still queued for the window
    }
}

TEST(CastFramePass, NoAbortWithPollingOffOrInKeyMode) {
    ScriptedInputState script;
    ScopedInputStateSource installed(script);
    script.QueueLeftButtonDownAfterPeeks(0);
    {
        Frame f(64, 64, 30.0);
        AddWall(f);
        f.render.poll.mode = -1;  // mask -1: never polled
        EXPECT_EQ(RenderCastFrame(f.render), CastDone);
        EXPECT_EQ(script.PeekCount(), 0);
        EXPECT_NE(f.Cell(63, 63).pixel, 0u);
    }
    {
        Frame f(64, 64, 30.0);
        AddWall(f);
        script.HoldKey(0x32);
        f.render.poll.rowMask = 15;
        f.render.poll.mode = 1;
        EXPECT_EQ(RenderCastFrame(f.render), CastDone);
        EXPECT_EQ(f.render.poll.mode, 0);
        EXPECT_NE(f.render.poll.timeStamp, 0u);
    }
}

}  // namespace
