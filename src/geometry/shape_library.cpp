#include "geometry/shape_library.h"

#include "core/byte_order.h"
#include "geometry/part_block.h"
#include "geometry/part_record.h"
#include "geometry/part_shape_build.h"
#include "geometry/scene_geometry.h"

#include <algorithm>
#include <cstring>

namespace {

PresetFolderLister folderLister = nullptr;
PresetFileReader fileReader = nullptr;

}  // namespace

void SetPresetFileSource(PresetFolderLister lister, PresetFileReader reader) {
    folderLister = lister;
    fileReader = reader;
}

ShapeLibrary::ShapeLibrary(std::string_view folder) : geometry(std::make_unique<SceneGeometry>()) {
    std::vector<std::uint8_t> bytes(PartBlockHeaderBytes, 0);
    PartBlockWriteHeader(bytes.data());
    std::vector<std::string> names;
    if (folderLister != nullptr && fileReader != nullptr && folderLister(folder, names) == 0) {
        std::int32_t count = 0;
        for (const std::string& name : names) {
            std::vector<PrivateBlockPtr<std::uint8_t>> records;
            std::string path(folder);
            path += '/';
            path += name;
            if (fileReader(records, path) != 0 || records.empty() || !records.front()) continue;
            const std::uint8_t* first = records.front().get();
            const auto type = static_cast<std::int32_t>(PartRecordShapeType(first));
            if (byType.contains(type)) continue;
            const std::uint32_t size = PartRecordBaseBytes(first);
            const auto offset = static_cast<std::int32_t>(bytes.size());
            bytes.insert(bytes.end(), first, first + size);
            // Only the base record is taken, so it must not announce an extension.
            StoreU32LE(bytes.data() + offset + PartRecordExtensionBytesOffset, 0);
            byType.emplace(type, Preset{offset, count});
            ++count;
        }
        StoreI32LE(bytes.data() + PartBlockPartCountOffset, count);
        StoreU32LE(bytes.data() + PartBlockRecordBytesOffset,
                   static_cast<std::uint32_t>(bytes.size() - PartBlockHeaderBytes));
    }
    blockBytes = static_cast<std::uint32_t>(bytes.size());
    block = PrivateAllocBlock<std::uint8_t>(blockBytes);
    std::memcpy(block.get(), bytes.data(), blockBytes);
    loadResult = LoadPartBlock(*geometry, block.get(), blockBytes, true, nullptr, false);
}

ShapeLibrary::~ShapeLibrary() = default;

bool ShapeLibrary::UpdatePart(const std::uint8_t* record) {
    const auto found = byType.find(static_cast<std::int32_t>(PartRecordShapeType(record)));
    if (found == byType.end()) return true;
    std::uint8_t* preset = block.get() + found->second.offset;
    const std::int32_t presetCount = PartRecordParamCount(preset);
    const std::int32_t shared = std::min(presetCount, std::max(PartRecordParamCount(record), 0));
    std::memcpy(preset, record, PartRecordFixedBytes + 4 * static_cast<std::size_t>(shared));
    StoreI32LE(preset + PartRecordParamCountOffset, presetCount);
    StoreU32LE(preset + PartRecordExtensionBytesOffset, 0);
    return BuildPartShape(*geometry, preset, found->second.index, true, false, false) >= 0;
}
