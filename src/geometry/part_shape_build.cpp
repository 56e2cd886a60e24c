#include "geometry/part_shape_build.h"

#include "core/byte_order.h"
#include "core/rotation.h"
#include "geometry/part_record.h"
#include "geometry/scene_geometry.h"
#include "geometry/shape_type.h"
#include "geometry/texture_params_table.h"

namespace {

// A = R(-w) T(-p): the rotation by the negated rotation vector after the translation by the
// negated position, in the w-first layout.
Matrix4W LocalFromWorld(const Vec3& position, const Vec3& rotation) {
    const Matrix3 r = RotationFromVector(Vec3{-rotation.x, -rotation.y, -rotation.z});
    const Vec3 t = Matrix3TransformVec3(r, Vec3{-position.x, -position.y, -position.z});
    Matrix4W a = EmbedMatrix3(r, 0);
    a.m[4] = t.x;
    a.m[8] = t.y;
    a.m[12] = t.z;
    return a;
}

}  // namespace

std::int32_t BuildPartShape(SceneGeometry& geometry, const std::uint8_t* record,
                            std::int32_t partIndex, bool keepMarks, bool /*bindTextures*/,
                            bool /*typeThirteenWhole*/) {
    PartEntry* entry = geometry.Part(partIndex);
    if (entry == nullptr) return PartBuildNoEntry;

    entry->shapeType = PartRecordShapeType(record);
    entry->partId = LoadI32LE(record + PartRecordPartIdOffset);
    entry->colour = LoadU32LE(record + PartRecordColourOffset);
    entry->derivedColour = LoadU32LE(record + PartRecordDerivedColourOffset);
    entry->tint = record[PartRecordTintOffset];
    entry->visible = (record[PartRecordFlagsOffset] & PartFlagHidden) == 0 ? 1 : 0;
    TextureParams* params = ResolveTextureRef(LoadU32LE(record + PartRecordTextureRefOffset));
    entry->textureParams = params != nullptr ? params : &geometry.defaultTexture;
    if (!keepMarks) entry->selected = 0;
    if (!ShapeTypeIsPlacedByParameters(entry->shapeType)) {
        entry->localFromWorld =
            LocalFromWorld(PartRecordPosition(record), PartRecordRotation(record));
    }
    return 0;
}
