#include "geometry/part_render_record.h"

#include "core/private_block.h"
#include "geometry/feature_table.h"
#include "geometry/wrap_map_record.h"
#include "texture/object_tex.h"
#include "texture/texture_params.h"

#include <cstddef>
#include <memory>
#include <utility>

std::span<Matrix4W> PartRenderRecord::Surfaces() {
    return {reinterpret_cast<Matrix4W*>(reinterpret_cast<std::byte*>(this) + sizeof(*this)),
            static_cast<std::size_t>(surfaceRoom)};
}

std::span<const Matrix4W> PartRenderRecord::Surfaces() const {
    return {
        reinterpret_cast<const Matrix4W*>(reinterpret_cast<const std::byte*>(this) + sizeof(*this)),
        static_cast<std::size_t>(surfaceRoom)};
}

void PartRenderRecordReleaseOwned(PartRenderRecord& record) {
    FeatureTableFree(record.features);
    PrivateFreeAndClear(record.wrapMap);
    std::unique_ptr<ObjectTex>(std::exchange(record.objectTex, nullptr)).reset();
    if (BufferArray* list = std::exchange(record.auxTex, nullptr)) {
        FreeBufferArray(*list);
        PrivateFree(list);
    }
}
