#pragma once

// Shared by the shape build tests: one part in a container of its own, built from a working
// record, and the independent sums the tests check the built forms with.

#include "core/matrix4.h"
#include "core/rotation.h"
#include "core/vec3.h"
#include "geometry/part_render_record.h"
#include "geometry/part_shape_build.h"
#include "geometry/scene_geometry.h"
#include "geometry/shape_surface_count.h"
#include "geometry/working_part_record.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace shape_build_test {

// A working record of the type with the parameters, placed at position with rotation.
inline WorkingPartRecord Working(ShapeType type, const std::vector<double>& params,
                                 const Vec3& position = {}, const Vec3& rotation = {}) {
    WorkingPartRecord w;
    w.shapeType = type;
    w.paramCount = static_cast<std::int32_t>(params.size());
    for (std::size_t i = 0; i < params.size(); ++i) w.params[i] = params[i];
    w.position = position;
    w.rotation = rotation;
    return w;
}

// A container holding one part with room for room surfaces.
struct OnePart {
    SceneGeometry geometry;

    explicit OnePart(std::int32_t room = PartSurfaceLimit) {
        const std::array<std::int32_t, 1> rooms{room};
        geometry.AddParts(rooms, false);
    }

    PartRenderRecord& Part() { return *geometry.Part(0); }

    std::int32_t Build(const WorkingPartRecord& w, bool keepMarks = false) {
        return BuildPartShape(geometry, nullptr, 0, keepMarks, true, false, &w);
    }
};

// v^T Q v with v = (1, x, y, z).
inline double FormAt(const Matrix4W& form, const Vec3& p) {
    const std::array<double, 4> v{1.0, p.x, p.y, p.z};
    double sum = 0.0;
    for (std::size_t i = 0; i < 4; ++i) {
        for (std::size_t j = 0; j < 4; ++j) sum += form.m[4 * i + j] * v[i] * v[j];
    }
    return sum;
}

// True when p is inside every surface in use.
inline bool InsideSurfaces(const PartRenderRecord& part, const Vec3& p) {
    for (std::int32_t s = 0; s < part.surfaceCount; ++s) {
        if (FormAt(part.Surfaces()[static_cast<std::size_t>(s)], p) > 0.0) return false;
    }
    return true;
}

// The world point of a part point for a part at position turned by the rotation vector:
// the rotation by |w| about w / |w|, then the move.
inline Vec3 PlacedPoint(const Vec3& local, const Vec3& position, const Vec3& rotation) {
    const double angle = Vec3Length(rotation);
    Vec3 turned = local;
    if (angle > 0.0) {
        turned = Matrix3TransformVec3(Matrix3FromAxisAngle(Vec3Scale(rotation, 1.0 / angle), angle),
                                      local);
    }
    return Vec3Add(turned, position);
}

// A proxy's point A, point B, direction C and radius.
struct ProxyParts {
    Vec3 a, b, c;
    double radius = 0;
};

inline ProxyParts ReadProxy(const Matrix4W& proxy) {
    const auto& m = proxy.m;
    return ProxyParts{Vec3{m[4], m[8], m[12]}, Vec3{m[5], m[9], m[13]}, Vec3{m[6], m[10], m[14]},
                      m[15]};
}

// Random points per solid in the sampling checks. A million runs in well under a second in a
// release build, but the sanitizer build is many times slower, so the normal run samples fewer.
inline constexpr int SampleCount = 100000;

// A point drawn evenly from the box of half-sides half about the origin.
inline Vec3 SampleInBox(std::mt19937_64& random, const Vec3& half) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    return Vec3{unit(random) * half.x, unit(random) * half.y, unit(random) * half.z};
}

// What SampleBound saw: points inside every surface, and those of them outside the bound.
struct BoundSamples {
    int inside = 0;
    int outsideBound = 0;
};

// Draws SampleCount points (fixed seed) from the box of half-sides half about the part's
// origin, in part coordinates placed with position and rotation, and checks each point inside
// the part's surfaces against its bounding quadric.
inline BoundSamples SampleBound(const PartRenderRecord& part, const Vec3& half,
                                const Vec3& position = {}, const Vec3& rotation = {}) {
    std::mt19937_64 random(2126);
    BoundSamples seen;
    for (int i = 0; i < SampleCount; ++i) {
        const Vec3 world = PlacedPoint(SampleInBox(random, half), position, rotation);
        if (!InsideSurfaces(part, world)) continue;
        ++seen.inside;
        if (FormAt(part.boundQuadric, world) > 1e-9) ++seen.outsideBound;
    }
    return seen;
}

// A valid part of the type and a box about its origin that holds it.
struct BoundCase {
    std::string name;
    ShapeType type;
    std::vector<double> params;
    Vec3 half;
};

// Builds the case placed with position and rotation and expects it valid, with a fair share of
// the samples inside it and every one of them inside its bound.
inline void ExpectBoundHolds(const BoundCase& c, const Vec3& position, const Vec3& rotation) {
    SCOPED_TRACE(c.name);
    OnePart one;
    ASSERT_EQ(one.Build(Working(c.type, c.params, position, rotation)), 0);
    const BoundSamples seen = SampleBound(one.Part(), c.half, position, rotation);
    EXPECT_GT(seen.inside, SampleCount / 50);
    EXPECT_EQ(seen.outsideBound, 0);
}

}  // namespace shape_build_test
