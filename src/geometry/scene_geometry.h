#pragma once

// SceneGeometry holds the live geometry of the parts of one scene. Each document owns one;
// the part block loader fills it from the document's binary part block.
//
// For now the container keeps the counts that loading a block establishes: how many parts
// the block holds, how many surfaces they need and the id base that the next appended block
// offsets its part ids by. The per-part records, the octree and the surface table join it
// with the shape builders.

#include <cstdint>

class SceneGeometry {
public:
    // An empty container: no parts, no surfaces, id base 0.
    SceneGeometry() = default;
    ~SceneGeometry() = default;

    SceneGeometry(const SceneGeometry&) = delete;
    SceneGeometry& operator=(const SceneGeometry&) = delete;

    std::int32_t partCount = 0;
    std::int32_t surfaceTotal = 0;
    std::int32_t idBase = 0;  // sum of the id spans of the blocks loaded so far
};
