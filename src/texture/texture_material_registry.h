#pragma once

// Part records name their material by a handle into a process-wide table, which lives in the
// geometry layer above the textures. A texture enters its material record there when it is
// made and takes it out when it goes, through the pair of functions the geometry layer
// installs at start-up; without them a texture has no handle and parts that wear it draw
// untextured.

#include <cstdint>

struct TextureParams;

struct TextureMaterialRegistry {
    // Enters params with owner standing for it; returns the handle (never 0). Throws
    // KVOutOfMemoryException when the table is full.
    std::uint32_t (*enter)(TextureParams* params, const void* owner) = nullptr;
    // Takes the handle out; a stale or zero handle changes nothing.
    void (*leave)(std::uint32_t handle) = nullptr;
};

// Installs the registry (both functions null: none).
void SetTextureMaterialRegistry(const TextureMaterialRegistry& registry);

// Enters params for owner; 0 without a registry. Throws what the registry throws.
std::uint32_t EnterTextureMaterial(TextureParams* params, const void* owner);

// Takes handle out; nothing without a registry.
void LeaveTextureMaterial(std::uint32_t handle);
