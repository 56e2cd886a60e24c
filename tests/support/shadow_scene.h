#pragma once

// Small scenes for the shadow tests and benchmarks: boxes and spheres placed in view space
// (the eye at the origin looking along +z), a renderer with shadows over its own pixels, and an
// independent shadow-ray caster that answers, for a point, whether the segment to a light meets
// any of the scene's solids.

#include "core/matrix4.h"
#include "core/vec3.h"
#include "geometry/part_render_record.h"
#include "geometry/scene_geometry.h"
#include "render/q_render.h"
#include "render/scene_render_parts.h"
#include "render/span_shade.h"
#include "support/quadric_parts.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace shadow_scene {

// A solid of the scene: an axis-aligned box (half sizes) or a sphere (radius in size.x).
struct Solid {
    bool isBox = false;
    Vec3 centre{};
    Vec3 size{};
    std::uint32_t colour = 0xB0B0B0;
};

inline void PlaceSolid(SceneGeometry& geometry, std::int32_t index, const Solid& solid) {
    PartRenderRecord& record = *geometry.Part(index);
    record.colour = solid.colour;
    if (solid.isBox) {
        quadric_parts::SetBox(record, solid.centre, solid.size);
    } else {
        const Matrix4W sphere = quadric_parts::SphereForm(solid.centre, solid.size.x);
        quadric_parts::SetSurfaces(record, std::span<const Matrix4W>(&sphere, 1));
        const double r = solid.size.x * 1.01;
        quadric_parts::SetBound(record, solid.centre, Vec3{r, r, r});
    }
}

inline void MakeGeometry(SceneGeometry& geometry, const std::vector<Solid>& solids) {
    std::vector<std::int32_t> rooms;
    for (const Solid& s : solids) rooms.push_back(s.isBox ? 6 : 1);
    geometry.AddParts(rooms, false);
    for (std::size_t i = 0; i < solids.size(); ++i) {
        PlaceSolid(geometry, static_cast<std::int32_t>(i), solids[i]);
    }
}

// One shadow light of a scene.
struct Light {
    Vec3 position{};
};

// A renderer over its own width x height pixels with shadows for the given lights, the map of
// each covering the sphere (centre, radius), the parts taken from the geometry; with layers it
// keeps the light layers.
struct ShadowFrame {
    ShadowFrame(SceneGeometry& geometry, std::int32_t w, std::int32_t h,
                const std::vector<Light>& lights, const Vec3& centre, double radius,
                bool withDependents = true, double mapScale = 2.0, bool withLayers = false)
        : width(w), height(h), pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h)) {
        render.options.shadows = true;
        render.options.perLightDependents = withDependents;
        render.lightMapScale = mapScale;
        const auto count = static_cast<std::int32_t>(lights.size());
        render.SetLightCounts(count, count);
        ok = render.SetSize(pixels.data(), w, h, w, withLayers) == RenderSizeOk;
        render.centreX = w / 2.0;
        render.centreY = h / 2.0;
        render.focalScale = 0.12;
        render.shade.backgroundColour = 0x303850;
        render.shade.ambient = {120, 120, 120};
        for (std::int32_t i = 0; i < count; ++i) {
            RenderLightSlot& slot = render.LightSlot(i);
            slot.enabled = 1;
            slot.position = lights[static_cast<std::size_t>(i)].position;
            RenderLightSlotSetColours(slot, {0.9, 0.85, 0.8}, {0.15, 0.15, 0.2}, 1.0);
        }
        render.shadowCentre = centre;
        render.shadowRadius = radius;
        render.isShadowRadiusReady = true;
        LoadRenderParts(render, geometry, ToWFirstMatrix(MakeIdentity()));
    }

    double Focal() const { return render.focalScale * 1000.0 / render.viewDistance; }

    // The view ray of pixel (x, y) at depth 1.
    Vec3 Ray(std::int32_t x, std::int32_t y) const {
        return Vec3{(x - render.centreX + 0.5) / Focal(), (y - render.centreY + 0.5) / Focal(),
                    1.0};
    }

    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint32_t> pixels;
    QRender render;
    bool ok = false;
};

// The largest difference between the channels (alpha included) of two pixel words.
inline int LargestChannelDifference(std::uint32_t a, std::uint32_t b) {
    int largest = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const int ca = static_cast<int>((a >> shift) & 0xFF);
        const int cb = static_cast<int>((b >> shift) & 0xFF);
        largest = std::max(largest, ca > cb ? ca - cb : cb - ca);
    }
    return largest;
}

// Where the segment from a + t (b - a), 0 < t < 1, first enters the solid, or a value above 1.
inline double SegmentEntry(const Solid& solid, const Vec3& a, const Vec3& b) {
    const Vec3 d{b.x - a.x, b.y - a.y, b.z - a.z};
    if (!solid.isBox) {
        const Vec3 m{a.x - solid.centre.x, a.y - solid.centre.y, a.z - solid.centre.z};
        const double r = solid.size.x;
        const double qa = d.x * d.x + d.y * d.y + d.z * d.z;
        const double qb = m.x * d.x + m.y * d.y + m.z * d.z;
        const double qc = m.x * m.x + m.y * m.y + m.z * m.z - r * r;
        const double disc = qb * qb - qa * qc;
        if (disc <= 0.0) return 2.0;
        const double t0 = (-qb - std::sqrt(disc)) / qa;
        const double t1 = (-qb + std::sqrt(disc)) / qa;
        if (t1 <= 0.0 || t0 >= 1.0) return 2.0;
        return std::max(t0, 0.0);
    }
    double t0 = 0.0, t1 = 1.0;
    const double o[3] = {a.x, a.y, a.z};
    const double v[3] = {d.x, d.y, d.z};
    const double c[3] = {solid.centre.x, solid.centre.y, solid.centre.z};
    const double h[3] = {solid.size.x, solid.size.y, solid.size.z};
    for (int k = 0; k < 3; ++k) {
        if (v[k] == 0.0) {
            if (o[k] < c[k] - h[k] || o[k] > c[k] + h[k]) return 2.0;
            continue;
        }
        double ta = (c[k] - h[k] - o[k]) / v[k];
        double tb = (c[k] + h[k] - o[k]) / v[k];
        if (ta > tb) std::swap(ta, tb);
        t0 = std::max(t0, ta);
        t1 = std::min(t1, tb);
        if (t0 >= t1) return 2.0;
    }
    return t0;
}

// A wall facing the eye (its front at z = 15.5) and before it a rod along x, 3 long and 0.2
// thick, at (0, rodY, 10).
inline std::vector<Solid> WallAndRod(double rodY) {
    return {{true, {0, 0, 16}, {20, 20, 0.5}}, {true, {0, rodY, 10}, {1.5, 0.1, 0.1}}};
}

// The wall and the rod at rodY = 0.1, with a ball of radius 0.3 between the light of the rod
// scenes (RodLight) and the rod's middle.
inline std::vector<Solid> WallRodAndBall() {
    std::vector<Solid> solids = WallAndRod(0.1);
    solids.push_back(Solid{false, {0.72, -0.02, 7.6}, {0.3, 0, 0}});
    return solids;
}

// Gives part the skeleton of the rod solid along x (a capsule proxy: the segment along its
// axis, with the given thickness radius), which the thin-part marking reads.
inline void SetRodSkeleton(SceneGeometry& geometry, std::int32_t part, const Solid& rod,
                           double radius) {
    PartRenderRecord& record = *geometry.Part(part);
    record.proxyKind = ProxyKind::Capsule;
    record.proxy = Matrix4W{};
    const Vec3& c = rod.centre;
    record.proxy.m = {1,   1,   0, 0,     c.x - rod.size.x, c.x + rod.size.x, 1, 0, c.y, c.y, 0, 0,
                      c.z, c.z, 0, radius};
}

// The light of the scenes with a thin rod (part 1 of solids, given its skeleton), and a frame
// over them: the light's map, of 10 cells a side, covers the ball of radius 3 about
// (0, 0, 12), the view's focal scale is 0.3, and two samples per pixel and the pixel pass let
// thin parts be marked. ok says it was sized.
inline const Vec3 RodLight{0.3, -0.2, 4};

inline std::unique_ptr<ShadowFrame> MakeRodFrame(SceneGeometry& geometry,
                                                 const std::vector<Solid>& solids,
                                                 std::int32_t width, std::int32_t height) {
    MakeGeometry(geometry, solids);
    // The radius a little over the rod's half diagonal.
    SetRodSkeleton(geometry, 1, solids[1], 0.15);
    auto frame = std::make_unique<ShadowFrame>(
        geometry, width, height, std::vector<Light>{{RodLight}}, Vec3{0, 0, 12}, 3.0, true, 0.0625);
    QRender& render = frame->render;
    render.focalScale = 0.3;
    frame->ok = frame->ok && render.SetSamplesPerPixel(2) == RenderSizeOk;
    render.edges.isRefined = true;
    return frame;
}

// Renders the frame whole without part 2, keeps it as the background of incremental frames
// and lets part 2 join the background with a complement render. False when the backups could
// not be made.
inline bool RenderThenJoinPart2(ShadowFrame& frame, SceneGeometry& geometry) {
    QRender& render = frame.render;
    geometry.Part(2)->visible = 0;
    render.RenderFrame(nullptr, false, nullptr, 0);
    if (render.AllocAuxBuffers() != 0) return false;
    geometry.Part(2)->visible = 1;
    const std::int32_t none[] = {0}, joining[] = {1, 2};
    render.RenderFrame(none, true, joining, 0);
    return true;
}

// True when the segment from point to light passes through a solid, ignoring the stretch of
// relative length margin at the point's end (the point's own surface).
inline bool IsBlocked(const std::vector<Solid>& solids, const Vec3& point, const Vec3& light,
                      double margin = 1e-5) {
    const Vec3 d{light.x - point.x, light.y - point.y, light.z - point.z};
    const Vec3 from{point.x + margin * d.x, point.y + margin * d.y, point.z + margin * d.z};
    for (const Solid& solid : solids) {
        if (SegmentEntry(solid, from, light) < 1.0) return true;
    }
    return false;
}

// A box covering the light-space cells [c0, c1] x [r0, r1] (continuous map coordinates, cell
// centres at half cells) at light-space depth z, for a light whose face is z- (axis code 0).
inline Solid BoxOverCells(const RenderLightSlot& slot, double c0, double c1, double r0, double r1,
                          double z, double thickness) {
    const double s = slot.mapScale;
    const auto world = [&](double cell, double offset) { return (cell - offset) / s * z; };
    const Vec3& l = slot.position;
    return Solid{
        true,
        {l.x + world((c0 + c1) / 2, slot.mapU), l.y + world((r0 + r1) / 2, slot.mapV), l.z + z},
        {(c1 - c0) / 2 / s * z, (r1 - r0) / 2 / s * z, thickness},
        0x8090A0};
}

}  // namespace shadow_scene
