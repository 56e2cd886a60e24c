#include "texture/texture_params.h"

#include "core/private_heap.h"

#include <array>
#include <cmath>
#include <numbers>

void BuildDefaultVersaTex(TextureParams& params) {
    params.mapping.reset();
    if (params.image == nullptr || !TexPyramidHasImage(*params.image)) return;

    auto versa = TranslateBadAlloc([] { return std::make_unique<VersaTex>(); });
    versa->poleless = 1;
    versa->material = &params;

    // Two straight segments of radius 1, out along the profile and back, one per band.
    const double half = std::numbers::pi / 2 * params.pCircle;
    std::array<Rtp, 2> profiles{};
    for (int i = 0; i < 2; ++i) {
        Rtp& p = profiles[static_cast<std::size_t>(i)];
        p.type = static_cast<std::int16_t>(ProfileKind::Straight);
        p.y1 = i == 0 ? -half : half;
        p.y2 = -p.y1;
        p.map = static_cast<std::int16_t>(i);
        p.r1 = p.r2 = p.maxr = 1.0;
    }

    // The build reads the tile scale that makes cTiles image diagonals go once around.
    const double savedScale = params.scale;
    params.scale = std::hypot(params.image->width, params.image->height) * params.cTiles /
                   (2 * std::numbers::pi);
    try {
        versa->Build(profiles);
    } catch (...) {
        // A refused allocation or an abandon by the progress hook leaves the material without
        // a mapping, as unusable parameters do; the caller sees no mapping.
        params.scale = savedScale;
        return;
    }
    params.scale = savedScale;
    if (versa->IsUsable()) params.mapping = std::move(versa);
}

void FreeBufferArray(BufferArray& record) {
    if (record.buffers != nullptr) {
        for (std::int32_t i = 0; i < record.capacity; ++i) PrivateFree(record.buffers[i]);
        PrivateFree(record.buffers);
    }
    record.buffers = nullptr;
    record.capacity = record.count = 0;
}
