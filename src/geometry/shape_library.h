#pragma once

// The preset parts of the bot generator: the first part of every object file of a shape
// folder, one per shape type, back to back in one part block that the library builds into a
// scene geometry of its own. The generator may overwrite the preset of a shape type and have
// just that part rebuilt.
//
// Object files and folder listings belong to the scene-file layer above this one, which
// registers its lister and reader at start-up (SetPresetFileSource). Without them the library
// is empty.

#include "core/private_block.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class SceneGeometry;

// Appends the names (without the folder) of the folder's object files to names, sorted;
// non-zero when there is none.
using PresetFolderLister = std::int32_t (*)(std::string_view folder,
                                            std::vector<std::string>& names);
// Reads the part records of the object file at path into records; 0 when it was read.
using PresetFileReader = std::int32_t (*)(std::vector<PrivateBlockPtr<std::uint8_t>>& records,
                                          std::string_view path);

// Registers the lister and reader of object files (null for none).
void SetPresetFileSource(PresetFolderLister lister, PresetFileReader reader);

class ShapeLibrary {
public:
    // Where a shape type's preset lies: the byte offset of its record from the start of the
    // block, and its part index in the geometry.
    struct Preset {
        std::int32_t offset = 0;
        std::int32_t index = 0;
    };

    // Gathers the first record of each object file of folder, in the listing's order, and
    // builds them. A file that cannot be read or holds no record, and a file whose first
    // record is of a shape type an earlier file already gave, adds nothing; so each part's
    // index is the number of presets before it. Throws KVOutOfMemoryException.
    explicit ShapeLibrary(std::string_view folder);
    ~ShapeLibrary();

    ShapeLibrary(const ShapeLibrary&) = delete;
    ShapeLibrary& operator=(const ShapeLibrary&) = delete;

    // Copies record over the preset of its shape type and rebuilds that part: the preset
    // keeps its own parameter count and no extension, and takes at most as many parameters
    // as both records hold. True when the part builds, or when there is no preset of that
    // type (nothing changes then); false when the part gives no shape.
    bool UpdatePart(const std::uint8_t* record);

    // What building the block returned: 0, or the refusal or first failed build of
    // LoadPartBlock.
    std::int32_t LoadResult() const { return loadResult; }
    const std::uint8_t* Block() const { return block.get(); }
    // The block's length, header included.
    std::uint32_t BlockBytes() const { return blockBytes; }
    const SceneGeometry& Geometry() const { return *geometry; }
    const std::map<std::int32_t, Preset>& ByType() const { return byType; }

private:
    PrivateBlockPtr<std::uint8_t> block;
    std::uint32_t blockBytes = 0;
    std::unique_ptr<SceneGeometry> geometry;
    std::map<std::int32_t, Preset> byType;
    std::int32_t loadResult = 0;
};
