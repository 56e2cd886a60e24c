#include "texture/texture_material_registry.h"

namespace {

TextureMaterialRegistry installedRegistry;

}  // namespace

void SetTextureMaterialRegistry(const TextureMaterialRegistry& registry) {
    installedRegistry = registry;
}

std::uint32_t EnterTextureMaterial(TextureParams* params, const void* owner) {
    if (installedRegistry.enter == nullptr) return 0;
    return installedRegistry.enter(params, owner);
}

void LeaveTextureMaterial(std::uint32_t handle) {
    if (installedRegistry.leave == nullptr || handle == 0) return;
    installedRegistry.leave(handle);
}
