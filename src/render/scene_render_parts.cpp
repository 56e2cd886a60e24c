#include "render/scene_render_parts.h"

#include "geometry/part_render_record.h"
#include "geometry/scene_geometry.h"
#include "render/q_render.h"
#include "render/scene_part_textures.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <span>

namespace {

std::int32_t SurfaceCountOf(const PartRenderRecord& record) {
    return std::clamp(std::min(record.surfaceCount, record.surfaceRoom), 0, RenderPartMaxSurfaces);
}

// The point (w = 1) or direction (w = 0) of column c of a w-first form, seen through the
// affine w-first transform viewFromWorld.
Vec3 ColumnInView(const Matrix4W& form, std::size_t c, const Matrix4W& viewFromWorld) {
    const auto& m = viewFromWorld.m;
    const double w = form.m[c];
    const double x = form.m[4 + c], y = form.m[8 + c], z = form.m[12 + c];
    return Vec3{m[4] * w + m[5] * x + m[6] * y + m[7] * z,
                m[8] * w + m[9] * x + m[10] * y + m[11] * z,
                m[12] * w + m[13] * x + m[14] * y + m[15] * z};
}

// The part's skeleton is its collision proxy seen from the view: the sphere a bead, the
// capsule a segment, the arc an arc and the disc the circle of its rim; the proxy's radius
// is the thickness, carried as a vector so that a view that scales scales it too.
PartSkeleton SkeletonOf(const PartRenderRecord& record, const Matrix4W& viewFromWorld) {
    PartSkeleton skeleton;
    const auto kind = static_cast<std::int32_t>(record.proxyKind);
    const double radius = record.proxy.m[15];
    if (kind < 0 || kind > 3 || !std::isfinite(radius)) return skeleton;
    skeleton.kind = kind;
    skeleton.a = ColumnInView(record.proxy, 0, viewFromWorld);
    skeleton.b = ColumnInView(record.proxy, 1, viewFromWorld);
    skeleton.d = ColumnInView(record.proxy, 2, viewFromWorld);
    const auto& m = viewFromWorld.m;
    const double r = std::fabs(radius);
    skeleton.r = Vec3{m[7] * r, m[11] * r, m[15] * r};
    return skeleton;
}

// Sets part index of the renderer from the record, its room already fitting the record. The
// record's surfaces, bound and proxy are in world coordinates, as the build leaves them.
void SetPartFromRecord(RenderParts& parts, std::int32_t index, const PartRenderRecord& record,
                       const Matrix4W& worldFromView, const Matrix4W& viewFromWorld) {
    const std::int32_t surfaceCount =
        std::min(SurfaceCountOf(record), parts.Part(index).surfaceRoom);
    RenderPart& part = parts.Part(index);
    part.visible = record.visible;
    part.colour = record.colour;
    part.isSelected = record.selected != 0 ? 1 : 0;
    part.skeleton = SkeletonOf(record, viewFromWorld);
    std::array<Matrix4W, RenderPartMaxSurfaces> surfaces;
    for (std::int32_t s = 0; s < surfaceCount; ++s) {
        surfaces[static_cast<std::size_t>(s)] =
            QuadricTransform(record.Surfaces()[static_cast<std::size_t>(s)], worldFromView);
    }
    parts.SetViewForms(index,
                       std::span<const Matrix4W>(surfaces.data(),
                                                 static_cast<std::size_t>(surfaceCount)),
                       QuadricTransform(record.boundQuadric, worldFromView));
}

}  // namespace

void LoadRenderParts(QRender& render, SceneGeometry& geometry, const Matrix4W& viewFromWorld) {
    RenderParts& parts = render.parts;
    parts.Clear();
    const Matrix4W worldFromView = InvertAffineWFirst(viewFromWorld);
    for (std::int32_t i = 0; i < geometry.PartCount(); ++i) {
        const PartRenderRecord& record = *geometry.Part(i);
        const std::int32_t index = parts.AddPart(SurfaceCountOf(record));
        SetPartFromRecord(parts, index, record, worldFromView, viewFromWorld);
    }
    LoadPartTextures(render, geometry, viewFromWorld);
    render.slotTable = geometry.SlotTable();
    render.slotTableEntries = render.slotTable != nullptr
                                  ? (static_cast<std::size_t>(geometry.PartCapacity()) + 1) * 32
                                  : 0;
    render.sceneGeometry = &geometry;
    render.partsViewFromWorld = viewFromWorld;
}

void ReloadRenderParts(QRender& render, std::span<const std::int32_t> partIndices) {
    const SceneGeometry* geometry = render.sceneGeometry;
    if (geometry == nullptr) return;
    const Matrix4W worldFromView = InvertAffineWFirst(render.partsViewFromWorld);
    const std::int32_t count = std::min(geometry->PartCount(), render.parts.Count());
    for (const std::int32_t i : partIndices) {
        if (i < 0 || i >= count) continue;
        SetPartFromRecord(render.parts, i, *geometry->Part(i), worldFromView,
                          render.partsViewFromWorld);
    }
}

void SyncRenderPartAttributes(QRender& render, std::span<const std::int32_t> partIndices) {
    ReloadRenderParts(render, partIndices);
    const std::int32_t count = static_cast<std::int32_t>(render.flatColours.size());
    for (const std::int32_t i : partIndices) {
        if (i < 0 || i >= count) continue;
        render.flatColours[static_cast<std::size_t>(i)] = FlatPartColours{};
    }
}

void SyncRenderPartAttributes(QRender& render) {
    const SceneGeometry* geometry = render.sceneGeometry;
    if (geometry == nullptr) return;
    const Matrix4W worldFromView = InvertAffineWFirst(render.partsViewFromWorld);
    const std::int32_t count = std::min(geometry->PartCount(), render.parts.Count());
    for (std::int32_t i = 0; i < count; ++i) {
        SetPartFromRecord(render.parts, i, *geometry->Part(i), worldFromView,
                          render.partsViewFromWorld);
    }
    for (FlatPartColours& colours : render.flatColours) colours = FlatPartColours{};
}
