#pragma once

// SceneGeometry holds the live geometry of the parts of one scene. Each document owns one;
// the part block loader fills it from the document's binary part block.
//
// The container keeps the counts that loading a block establishes (parts, surfaces, the id
// base that the next appended block offsets its part ids by) and the part table: per part,
// its placement, bounding quadric, colours and tint, which the scene objects read and write.
// The surface forms, the octree and the surface table join it with the shape builders.

#include "core/matrix4.h"
#include "geometry/shape_type.h"
#include "texture/texture_params.h"

#include <cstdint>
#include <vector>

// One part of the table.
struct PartEntry {
    Matrix4W localFromWorld;   // world-to-local placement, w-first
    Matrix4W boundQuadric;     // the part's bounding quadric in world coordinates
    ShapeType shapeType{};     // the record's number; 0 until the part is built
    std::int32_t partId = 0;
    std::int32_t surfaceCount = 0;  // surfaces the loader reserved for the part
    std::uint32_t colour = 0;        // 0xRRGGBB
    std::uint32_t derivedColour = 0;
    std::uint8_t tint = 0;
    std::uint8_t visible = 1;
    std::uint8_t selected = 0;
    TextureParams* textureParams = nullptr;  // the record's material, or the default one
};

class SceneGeometry {
public:
    // An empty container: no parts, no surfaces, id base 0, a default material.
    SceneGeometry() = default;
    ~SceneGeometry() = default;

    SceneGeometry(const SceneGeometry&) = delete;
    SceneGeometry& operator=(const SceneGeometry&) = delete;

    // Drops the last part; nothing happens when there is none.
    void RemoveLastPart();

    // The entry of part index; null when index is not a part of the table.
    PartEntry* Part(std::int32_t index);

    std::int32_t partCount = 0;
    std::int32_t surfaceTotal = 0;
    std::int32_t idBase = 0;  // sum of the id spans of the blocks loaded so far
    TextureParams defaultTexture;  // worn by parts whose record names no material
    std::vector<PartEntry> parts;  // partCount entries
};
