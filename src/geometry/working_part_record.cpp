#include "geometry/working_part_record.h"

#include "core/byte_order.h"
#include "geometry/part_record.h"

#include <algorithm>

void ExpandPartRecord(const std::uint8_t* record, WorkingPartRecord& working) {
    working.position = PartRecordPosition(record);
    working.rotation = PartRecordRotation(record);
    for (std::uint32_t i = 0; i < 4; ++i) working.flagBytes[i] = record[PartRecordFlagsOffset + i];
    working.shapeType = PartRecordShapeType(record);
    working.extensionBytes = LoadU32LE(record + PartRecordExtensionBytesOffset);
    working.paramCount = std::clamp(PartRecordParamCount(record), 0, PartRecordMaxParams);
    working.partId = LoadI32LE(record + PartRecordPartIdOffset);
    working.aux44 = LoadU32LE(record + PartRecordAux44Offset);
    working.glowColour = LoadU32LE(record + PartRecordGlowColourOffset);
    working.derivedColour = LoadU32LE(record + PartRecordDerivedColourOffset);
    working.colour = LoadU32LE(record + PartRecordColourOffset);
    working.textureRef = LoadU32LE(record + PartRecordTextureRefOffset);
    working.aux64 = {LoadF32LE(record + PartRecordAux64Offset),
                     LoadF32LE(record + PartRecordAux64Offset + 4)};
    working.glowIntensity = LoadF32LE(record + PartRecordGlowIntensityOffset);
    working.fraction = LoadF32LE(record + PartRecordFractionOffset);
    working.params = {};
    for (std::int32_t i = 0; i < working.paramCount; ++i) {
        working.params[static_cast<std::size_t>(i)] = PartRecordParam(record, i);
    }
}
