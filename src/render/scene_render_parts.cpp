#include "render/scene_render_parts.h"

#include "geometry/part_render_record.h"
#include "geometry/scene_geometry.h"
#include "render/q_render.h"
#include "render/scene_part_textures.h"

#include <algorithm>
#include <array>
#include <span>

void LoadRenderParts(QRender& render, const SceneGeometry& geometry,
                     const Matrix4W& viewFromWorld) {
    RenderParts& parts = render.parts;
    parts.Clear();
    const Matrix4W worldFromView = InvertAffineWFirst(viewFromWorld);
    for (std::int32_t i = 0; i < geometry.PartCount(); ++i) {
        const PartRenderRecord& record = *geometry.Part(i);
        const std::int32_t surfaceCount =
            std::clamp(std::min(record.surfaceCount, record.surfaceRoom), 0, RenderPartMaxSurfaces);
        const std::int32_t index = parts.AddPart(surfaceCount);
        RenderPart& part = parts.Part(index);
        part.visible = record.visible;
        part.colour = record.colour;
        const Matrix4W localFromView = Matrix4Product(record.localFromWorld, worldFromView);
        std::array<Matrix4W, RenderPartMaxSurfaces> surfaces;
        for (std::int32_t s = 0; s < surfaceCount; ++s) {
            surfaces[static_cast<std::size_t>(s)] =
                QuadricTransform(record.Surfaces()[static_cast<std::size_t>(s)], localFromView);
        }
        parts.SetViewForms(index,
                           std::span<const Matrix4W>(surfaces.data(),
                                                     static_cast<std::size_t>(surfaceCount)),
                           QuadricTransform(record.boundQuadric, worldFromView));
    }
    LoadPartTextures(render, geometry, viewFromWorld);
    render.slotTable = geometry.SlotTable();
    render.slotTableEntries = render.slotTable != nullptr
                                  ? (static_cast<std::size_t>(geometry.PartCapacity()) + 1) * 32
                                  : 0;
}
