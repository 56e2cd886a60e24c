#include "render/scene_render_parts.h"

#include "geometry/scene_geometry.h"

#include <span>

void LoadRenderParts(RenderParts& parts, SceneGeometry& geometry, const Matrix4W& viewFromWorld) {
    parts.Clear();
    const Matrix4W worldFromView = InvertAffineWFirst(viewFromWorld);
    for (std::int32_t i = 0; i < geometry.partCount; ++i) {
        const PartEntry* entry = geometry.Part(i);
        const std::int32_t index = parts.AddPart(0);
        RenderPart& part = parts.Part(index);
        part.visible = entry->visible;
        part.colour = entry->colour;
        parts.SetViewForms(index, std::span<const Matrix4W>(),
                           QuadricTransform(entry->boundQuadric, worldFromView));
    }
}
