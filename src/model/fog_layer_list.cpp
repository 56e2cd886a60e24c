#include "model/fog_layer_list.h"

FogLayerList::FogLayerList() : layers(2) { layers[0].flag = 1; }

void FogLayerList::ResetDefaults() {
    for (FogLayer& layer : layers) layer.values = FogLayer{}.values;
}
