#include "geometry/texture_params_table.h"

#include "core/private_heap.h"
#include "texture/texture_material_registry.h"

#include <vector>

namespace {

struct Slot {
    TextureParams* params = nullptr;
    const void* owner = nullptr;
    std::uint16_t generation = 0;  // 0 while free
};

constexpr std::uint32_t SlotLimit = 0xFFFF;

struct Table {
    std::vector<Slot> slots;
    std::vector<std::uint32_t> freeSlots;  // reused last-freed first
    std::vector<std::uint16_t> lastGeneration;
};

Table& TheTable() {
    static Table table;
    return table;
}

// The slot of a live handle, or null.
Slot* Find(std::uint32_t handle) {
    Table& table = TheTable();
    const std::uint32_t index = handle & 0xFFFF;
    const auto generation = static_cast<std::uint16_t>(handle >> 16);
    if (index == 0 || index > table.slots.size() || generation == 0) return nullptr;
    Slot& slot = table.slots[index - 1];
    return slot.generation == generation ? &slot : nullptr;
}

}  // namespace

std::uint32_t RegisterTextureParams(TextureParams* params, const void* owner) {
    return TranslateBadAlloc([&] {
        Table& table = TheTable();
        std::uint32_t index = 0;
        if (!table.freeSlots.empty()) {
            index = table.freeSlots.back();
            table.freeSlots.pop_back();
        } else {
            if (table.slots.size() >= SlotLimit) ThrowOutOfMemory();
            table.slots.emplace_back();
            table.lastGeneration.push_back(0);
            // Unregistering must not allocate: keep room for every slot to be free at once.
            table.freeSlots.reserve(table.slots.size());
            index = static_cast<std::uint32_t>(table.slots.size());
        }
        // Generations skip 0 so that no live handle ever equals a freed slot's.
        std::uint16_t& last = table.lastGeneration[index - 1];
        last = static_cast<std::uint16_t>(last == 0xFFFF ? 1 : last + 1);
        table.slots[index - 1] = Slot{params, owner, last};
        return (static_cast<std::uint32_t>(last) << 16) | index;
    });
}

void UnregisterTextureParams(std::uint32_t handle) {
    Slot* slot = Find(handle);
    if (slot == nullptr) return;
    *slot = Slot{};
    TheTable().freeSlots.push_back(handle & 0xFFFF);
}

TextureParams* ResolveTextureRef(std::uint32_t handle) {
    const Slot* slot = Find(handle);
    return slot != nullptr ? slot->params : nullptr;
}

std::uint32_t TextureRefOf(const void* owner) {
    if (owner == nullptr) return 0;
    const Table& table = TheTable();
    for (std::size_t i = 0; i < table.slots.size(); ++i) {
        const Slot& slot = table.slots[i];
        if (slot.generation != 0 && slot.owner == owner) {
            return (static_cast<std::uint32_t>(slot.generation) << 16) |
                   static_cast<std::uint32_t>(i + 1);
        }
    }
    return 0;
}

void GeometryInitProcess() {
    SetTextureMaterialRegistry(TextureMaterialRegistry{RegisterTextureParams, UnregisterTextureParams});
}
