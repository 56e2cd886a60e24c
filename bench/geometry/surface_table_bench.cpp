#include "geometry/surface_table.h"

#include "geometry/scene_geometry.h"
#include "support/quadric_parts.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <vector>

namespace {

using quadric_parts::SetBox;

// A scene of count parts on a lattice 1.5 units apart: boxes of unit size (every row of boxes
// shares its top, bottom, front and back planes, so slot groups run to dozens) and balls
// between them.
// Places part i of the lattice, moved by step along x and z.
void PlaceOnLattice(SceneGeometry& geometry, std::int32_t i, double step) {
    const Vec3 at{1.5 * (i % 20) + step, 1.5 * (i / 20 % 10), 1.5 * (i / 200) + step};
    PartRenderRecord& part = *geometry.Part(i);
    if (i % 2 == 0) {
        SetBox(part, at, Vec3{0.5, 0.5, 0.5});
    } else {
        const std::array<Matrix4W, 1> ball{quadric_parts::SphereForm(at, 0.4)};
        quadric_parts::SetSurfaces(part, ball);
        quadric_parts::SetBound(part, at, Vec3{0.4, 0.4, 0.4});
    }
}

void FillLattice(SceneGeometry& geometry, std::int32_t count) {
    std::vector<std::int32_t> rooms(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
        rooms[static_cast<std::size_t>(i)] = i % 2 == 0 ? 6 : 1;
    }
    geometry.AddParts(rooms, false);
    for (std::int32_t i = 0; i < count; ++i) PlaceOnLattice(geometry, i, 0);
}

// A full update of the whole scene: every part entered in the octree and the surface table.
void BM_FullUpdate(benchmark::State& state) {
    SceneGeometry geometry;
    FillLattice(geometry, static_cast<std::int32_t>(state.range(0)));
    for (auto _ : state) UpdateSurfaceTable(geometry, true, {}, 0);
}
BENCHMARK(BM_FullUpdate)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

// A frame of the player: 20 parts of a 2,000-part scene move a little and the table is
// updated for them alone (their slots given back, octree cells and key cells entered again,
// matched against the rest).
void BM_UpdateMovingParts(benchmark::State& state) {
    constexpr std::int32_t Count = 2000;
    SceneGeometry geometry;
    FillLattice(geometry, Count);
    UpdateSurfaceTable(geometry, true, {}, 0);
    std::vector<std::int32_t> moving;
    for (std::int32_t i = 0; i < 20; ++i) moving.push_back(i * 100 + (i % 2));
    std::int32_t tick = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const double step = 0.01 * (tick++ % 50);
        for (std::int32_t i : moving) PlaceOnLattice(geometry, i, step);
        state.ResumeTiming();
        UpdateSurfaceTable(geometry, true, moving, 0);
    }
}
BENCHMARK(BM_UpdateMovingParts)->Unit(benchmark::kMicrosecond);

// A wall of 1,000 unit boxes side by side (40 wide, 25 high): each face between two boxes is
// one plane facing both ways, and each row and column shares its outer planes. Every tick one
// box (in turn) steps out of the wall or back into it, and the table is updated for it.
void BM_WallOneBoxMoving(benchmark::State& state) {
    constexpr std::int32_t Count = 1000;
    SceneGeometry geometry;
    geometry.AddParts(std::vector<std::int32_t>(Count, 6), false);
    const auto place = [&](std::int32_t i, double out) {
        SetBox(*geometry.Part(i),
               Vec3{static_cast<double>(i % 40), static_cast<double>(i / 40), out},
               Vec3{0.5, 0.5, 0.5});
    };
    for (std::int32_t i = 0; i < Count; ++i) place(i, 0);
    UpdateSurfaceTable(geometry, true, {}, 0);
    std::vector<std::uint8_t> out(Count);
    std::int32_t tick = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::int32_t i = tick++ * 37 % Count;
        out[static_cast<std::size_t>(i)] ^= 1;
        place(i, out[static_cast<std::size_t>(i)] != 0 ? 0.25 : 0);
        const std::array<std::int32_t, 1> moved{i};
        state.ResumeTiming();
        UpdateSurfaceTable(geometry, true, moved, 0);
    }
}
BENCHMARK(BM_WallOneBoxMoving)->Unit(benchmark::kMicrosecond);

}  // namespace
