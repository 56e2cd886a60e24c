#pragma once

// Building one part of a scene geometry from its compact record.

#include <cstdint>

class SceneGeometry;
struct WorkingPartRecord;

// Result of BuildPartShape for a part index the table does not hold.
inline constexpr std::int32_t PartBuildNoEntry = -12;

// Builds the render record of part partIndex from its compact record, or, when working is
// given, from that working record (record is then not read). The container's working record
// receives the part widened; the render record gets the shape type, part id, colours, tint,
// fraction, visibility (flag 0x80 clear), option flags, its material (the record's texture
// handle, or the container's default material when it names none or a stale one) and, for
// the shape types placed by position and rotation (all but 10, 11, 12, 26, 27 and 28), its
// placement. Unless keepMarks the selection and highlight marks are cleared. Returns the
// build result (0 for now), or PartBuildNoEntry when the table has no part partIndex
// (nothing changes then). bindTextures and typeThirteenWhole are taken for the shape builders.
std::int32_t BuildPartShape(SceneGeometry& geometry, const std::uint8_t* record,
                            std::int32_t partIndex, bool keepMarks, bool bindTextures,
                            bool typeThirteenWhole, const WorkingPartRecord* working = nullptr);
