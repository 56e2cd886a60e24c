#pragma once

// The process-wide table of material records that part records refer to. Byte 60 of a part
// record holds a 32-bit handle into this table instead of an address: the low 16 bits name a
// slot (from 1), the high 16 bits the slot's generation, so a handle whose material has gone
// resolves to none instead of to whatever took its slot. Handle 0 means none, and stored
// blocks write 0.
//
// A texture registers its material when it is made and unregisters it when it goes; scene
// objects write the texture's handle into their records. One thread, no lock.

#include <cstdint>

struct TextureParams;

// Enters params (not owned) with owner as the object that stands for it (the texture) and
// returns its handle, never 0. Throws KVOutOfMemoryException when all 65,535 slots are taken.
std::uint32_t RegisterTextureParams(TextureParams* params, const void* owner);

// Frees the handle's slot; later lookups of the handle give none. A stale or zero handle
// changes nothing.
void UnregisterTextureParams(std::uint32_t handle);

// The material of a live handle; null for 0 or a stale handle.
TextureParams* ResolveTextureRef(std::uint32_t handle);

// The live handle registered for owner; 0 when owner is null or has none.
std::uint32_t TextureRefOf(const void* owner);

// Installs this table as the textures' material registry (texture/texture_material_registry.h),
// so every texture made afterwards enters its record here.
void GeometryInitProcess();
