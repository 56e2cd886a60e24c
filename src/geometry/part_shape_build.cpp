#include "geometry/part_shape_build.h"

#include "core/float_convert.h"
#include "core/rotation.h"
#include "geometry/part_record.h"
#include "geometry/scene_geometry.h"
#include "geometry/shape_type.h"
#include "geometry/texture_params_table.h"
#include "geometry/working_part_record.h"

#include <algorithm>
#include <cmath>

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

// trunc(fraction x 65536) held to 0..65535; NaN gives 0.
std::uint16_t FractionWord(double fraction) {
    const double scaled = std::trunc(fraction * 65536.0);
    if (!(scaled > 0.0)) return 0;
    return static_cast<std::uint16_t>(std::min(scaled, 65535.0));
}

}  // namespace

std::int32_t BuildPartShape(SceneGeometry& geometry, const std::uint8_t* record,
                            std::int32_t partIndex, bool keepMarks, bool /*bindTextures*/,
                            bool /*typeThirteenWhole*/, const WorkingPartRecord* working) {
    PartRenderRecord* part = geometry.Part(partIndex);
    if (part == nullptr) return PartBuildNoEntry;
    WorkingPartRecord& w = geometry.working;
    if (working != nullptr) {
        w = *working;
    } else {
        ExpandPartRecord(record, w);
    }

    TextureParams* params = ResolveTextureRef(w.textureRef);
    part->texParams = params != nullptr ? params : &geometry.defaultTexture;
    part->shapeType = w.shapeType;
    part->partId = w.partId;
    part->outerFlag = 0;
    part->buildResult = 0;
    part->colour = w.colour;
    part->derivedColour = w.derivedColour;
    part->fraction = FractionWord(w.fraction);
    const std::uint8_t flags = w.flagBytes[0];
    const auto bit = [flags](std::uint8_t mask) -> std::uint8_t { return (flags & mask) != 0; };
    part->visible = !bit(PartFlagHidden);
    part->options = {bit(0x01), bit(0x04), bit(0x08), bit(0x10)};
    part->ownColour = bit(PartFlagOwnColour);
    part->tint = w.flagBytes[1];
    if (!keepMarks) {
        part->selected = 0;
        part->highlighted = 0;
    }
    if (!ShapeTypeIsPlacedByParameters(w.shapeType)) {
        part->localFromWorld = LocalFromWorld(w.position, w.rotation);
        part->worldFromLocal = InvertAffineWFirst(part->localFromWorld);
    }
    return part->buildResult;
}
