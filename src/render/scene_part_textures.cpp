#include "render/scene_part_textures.h"

#include "core/private_heap.h"
#include "geometry/part_render_record.h"
#include "geometry/scene_geometry.h"
#include "render/q_render.h"
#include "texture/tex_pyramid.h"
#include "texture/texture_params.h"

void LoadPartTextures(QRender& render, const SceneGeometry& geometry,
                      const Matrix4W& viewFromWorld) {
    std::vector<PartTexture>& textures = render.partTextures.parts;
    TranslateBadAlloc([&] { textures.assign(static_cast<std::size_t>(geometry.PartCount()), {}); });
    const Matrix4W worldFromView = InvertAffineWFirst(viewFromWorld);
    for (std::int32_t i = 0; i < geometry.PartCount(); ++i) {
        const PartRenderRecord& record = *geometry.Part(i);
        const TextureParams* params = record.texParams;
        if (params == nullptr || params->image == nullptr || !TexPyramidHasImage(*params->image)) {
            continue;
        }
        const bool hasMappingSource =
            record.objectTex != nullptr || record.auxTex != nullptr || record.wrapMap != nullptr;
        if (hasMappingSource) continue;
        PartTexture& texture = textures[static_cast<std::size_t>(i)];
        texture.pyramid = params->image;
        texture.partFromView = Matrix4Product(record.localFromWorld, worldFromView);
        texture.baseColour = record.colour & 0xFFFFFFu;
        texture.hasTint = record.tint;
    }
}
