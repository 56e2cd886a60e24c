#include "model/fog_layer_list.h"

#include "render/fog_render_data.h"

#include <cmath>
#include <cstddef>
#include <utility>

FogLayerList::FogLayerList() : layers(2) { layers[0].flag = 1; }

void FogLayerList::ResetDefaults() {
    for (FogLayer& layer : layers) layer.values = FogLayer{}.values;
}

void FogLayerList::BuildRenderData(FogRenderData* block) const {
    if (block == nullptr) return;
    std::vector<Matrix4W> quadrics(layers.size());
    std::vector<FogRenderLayer> parameters(layers.size());
    for (std::size_t i = 0; i < layers.size(); ++i) {
        const auto& f = layers[i].values;
        const double c = std::pow(10.0, f[2]) * 0.0001;
        parameters[i].values = {f[0], std::pow(10.0, f[1]) * 0.0001, c,
                                std::pow(10.0, f[3]) * 0.0001, f[4]};
        parameters[i].flag = static_cast<std::uint8_t>(layers[i].flag & 0xFF);

        // c^2 (x^2 + z^2) + (y - f0)^2 in the w-first layout: the squares on the diagonal,
        // the cross term -2 f0 y split over elements 2 and 8, the constant in element 0.
        Matrix4W& q = quadrics[i];
        q.m[5] = c * c;
        q.m[10] = 1.0;
        q.m[15] = c * c;
        q.m[2] = -f[0];
        q.m[8] = -f[0];
        q.m[0] = block->isSwitchOn != 0 ? f[0] * f[0] - c * c * f[4] * f[4] : 0.0;
    }
    block->quadrics = std::move(quadrics);
    block->layers = std::move(parameters);
}
