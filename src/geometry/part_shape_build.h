#pragma once

// Building one part of a scene geometry from its compact record.

#include <cstdint>

class SceneGeometry;

// Result of BuildPartShape for a part index the table does not hold.
inline constexpr std::int32_t PartBuildNoEntry = -12;

// Fills the part table entry partIndex from the record: shape type, part id, colours, tint,
// visibility (flag 0x80 clear), material (the record's texture handle, or the container's
// default material when it names none or a stale one) and, for the shape types placed by
// position and rotation (all but 10, 11, 12, 26, 27 and 28), the world-to-local placement.
// Unless keepMarks the entry's selection mark is cleared. Returns 0, or PartBuildNoEntry
// when the table has no entry partIndex (nothing changes then). bindTextures and
// typeThirteenWhole are taken for the shape builders.
std::int32_t BuildPartShape(SceneGeometry& geometry, const std::uint8_t* record,
                            std::int32_t partIndex, bool keepMarks, bool bindTextures,
                            bool typeThirteenWhole);
