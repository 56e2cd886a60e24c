#include "render/scene_render_parts.h"

#include "geometry/part_render_record.h"
#include "geometry/scene_geometry.h"
#include "render/q_render.h"
#include "render/scene_part_textures.h"

#include <algorithm>
#include <array>
#include <span>

namespace {

std::int32_t SurfaceCountOf(const PartRenderRecord& record) {
    return std::clamp(std::min(record.surfaceCount, record.surfaceRoom), 0, RenderPartMaxSurfaces);
}

// Sets part index of the renderer from the record, its room already fitting the record. The
// record's surfaces and bound are in world coordinates, as the build leaves them.
void SetPartFromRecord(RenderParts& parts, std::int32_t index, const PartRenderRecord& record,
                       const Matrix4W& worldFromView) {
    const std::int32_t surfaceCount =
        std::min(SurfaceCountOf(record), parts.Part(index).surfaceRoom);
    RenderPart& part = parts.Part(index);
    part.visible = record.visible;
    part.colour = record.colour;
    part.isSelected = record.selected != 0 ? 1 : 0;
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
        SetPartFromRecord(parts, index, record, worldFromView);
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
        SetPartFromRecord(render.parts, i, *geometry->Part(i), worldFromView);
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
        SetPartFromRecord(render.parts, i, *geometry->Part(i), worldFromView);
    }
    for (FlatPartColours& colours : render.flatColours) colours = FlatPartColours{};
}
