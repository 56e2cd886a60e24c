#include "geometry/part_shape_build.h"

#include "core/byte_order.h"
#include "core/float_convert.h"
#include "core/matrix3.h"
#include "core/private_block.h"
#include "core/private_heap.h"
#include "core/rotation.h"
#include "core/sym_eigen3.h"
#include "geometry/composite_extension.h"
#include "geometry/corner_rod_builder.h"
#include "geometry/feature_table.h"
#include "geometry/part_record.h"
#include "geometry/placed_ellipsoid_builders.h"
#include "geometry/revolution_builders.h"
#include "geometry/revolved_solid_builders.h"
#include "geometry/rod_builders.h"
#include "geometry/rounded_primitive_builders.h"
#include "geometry/scene_geometry.h"
#include "geometry/shape_forms.h"
#include "geometry/shape_surface_count.h"
#include "geometry/shape_type.h"
#include "geometry/shape_type_table.h"
#include "geometry/solid_primitive_builders.h"
#include "geometry/texture_params_table.h"
#include "geometry/working_part_record.h"
#include "texture/object_tex.h"
#include "texture/surface_mapping_entry.h"
#include "texture/texture_params.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <utility>

namespace {

// Flag byte 0 bits read only here.
constexpr std::uint8_t PartFlagOuter = 0x20;  // ellipsoids: the mapping's outer form

// The radius of the composite's bounding sphere in its whole form.
constexpr double CompositeWholeBoundRadius = 990.0;

const Matrix4W Identity{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};

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

// trunc(4 x channel x scale) for the red, green and blue bytes of a 0xRRGGBB colour.
std::array<std::int32_t, 3> ShadeChannels(std::uint32_t colour, double scale) {
    std::array<std::int32_t, 3> channels{};
    for (std::size_t i = 0; i < 3; ++i) {
        const auto channel = static_cast<double>((colour >> (16 - 8 * i)) & 0xFF);
        channels[i] = TruncToInt32(4.0 * channel * scale);
    }
    return channels;
}

// Raises every size parameter of the type (the row's entries without the NoMinimum mark) to
// at least 1e-4 of the largest of them, so that no dimension collapses against the others.
void RaiseToMinimumSize(WorkingPartRecord& w) {
    const ShapeTypeRow* row = ShapeTypeTableRow(w.shapeType);
    if (row == nullptr) return;
    const auto entries = std::span(row->entries).first(static_cast<std::size_t>(row->count));
    double largest = 0.0;
    for (std::int32_t entry : entries) {
        if ((entry & ShapeParamNoMinimum) == 0) {
            largest = std::max(largest, w.params[static_cast<std::size_t>(ShapeParamIndex(entry))]);
        }
    }
    const double floor = std::sqrt(std::sqrt(1e-16)) * largest;
    for (std::int32_t entry : entries) {
        double& p = w.params[static_cast<std::size_t>(ShapeParamIndex(entry))];
        if ((entry & ShapeParamNoMinimum) == 0 && p <= floor) p = floor;
    }
}

bool IsOneOf(ShapeType type, std::initializer_list<std::int32_t> types) {
    return std::ranges::find(types, static_cast<std::int32_t>(type)) != types.end();
}

// A surface mapping list with one fresh entry buffer (its head and its byte size, 212).
BufferArray* NewSurfaceMappingList() {
    PrivateBlockPtr<std::byte> entry(
        static_cast<std::byte*>(PrivateAllocZeroed(SurfaceMappingEntryFreshBytes)));
    const std::uint32_t size = SurfaceMappingEntryFreshBytes;
    std::memcpy(entry.get() + offsetof(SurfaceMappingEntry, byteSize), &size, sizeof(size));
    PrivateBlockPtr<void*> buffers(static_cast<void**>(PrivateAllocZeroed(sizeof(void*))));
    auto* list = new (PrivateAllocZeroed(sizeof(BufferArray))) BufferArray{};
    buffers.get()[0] = entry.release();
    list->buffers = buffers.release();
    list->capacity = 1;
    return list;
}

void DestroySurfaceMappingList(PartRenderRecord& part) {
    if (BufferArray* list = std::exchange(part.auxTex, nullptr)) {
        FreeBufferArray(*list);
        PrivateFree(list);
    }
}

void DestroyMappingObject(PartRenderRecord& part) {
    std::unique_ptr<ObjectTex>(std::exchange(part.objectTex, nullptr)).reset();
}

// Makes, keeps or drops the part's mapping objects for its material and shape, and frees its
// wrap map (the builders that need one make it again). Returns true when an object was made.
bool ArrangeMappingObjects(PartRenderRecord& part, const WorkingPartRecord& w) {
    PrivateFreeAndClear(part.wrapMap);
    if (!PartHasTextureImage(part)) {
        DestroyMappingObject(part);
        DestroySurfaceMappingList(part);
        return false;
    }
    const ShapeType type = w.shapeType;
    const std::uint8_t flags = w.flagBytes[0];
    const bool ellipsoid = type == ShapeType::Ellipsoid;
    const bool roundEllipsoid = ellipsoid && w.params[2] == w.params[0];
    const bool outer = (flags & PartFlagOuter) != 0;
    const bool revolution = IsOneOf(type, {1, 2, 4, 5, 7, 14, 16, 20, 21, 22, 23, 24, 25}) ||
                            (roundEllipsoid && !outer);
    const bool customAllowed = IsOneOf(type, {1, 2, 4, 5, 7, 14, 16, 20, 21, 22}) || roundEllipsoid;
    const bool surfaceMapped = IsOneOf(type, {23, 25, 27, 28, 29}) || (ellipsoid && !revolution);

    bool made = false;
    if (revolution) {
        const bool custom = (flags & PartFlagCustomMapping) != 0 && customAllowed;
        const std::int32_t kind = custom ? 0 : 1;
        if (part.objectTex == nullptr || part.objectTex->type != kind) {
            std::unique_ptr<ObjectTex> next =
                TranslateBadAlloc([&]() -> std::unique_ptr<ObjectTex> {
                    if (custom) return std::make_unique<CustomRevTex>();
                    return std::make_unique<UniRevTex>();
                });
            DestroyMappingObject(part);
            part.objectTex = next.release();
            made = true;
        }
    } else {
        DestroyMappingObject(part);
    }
    if (!surfaceMapped) {
        DestroySurfaceMappingList(part);
    } else if (part.auxTex == nullptr) {
        part.auxTex = NewSurfaceMappingList();
        made = true;
    }
    return made;
}

// The composite's element k: ten floats and the flip byte.
struct CompositeElement {
    std::array<double, 10> f{};
    bool flip = false;
};

CompositeElement ReadElement(const std::uint8_t* extension, std::uint32_t k) {
    const std::uint8_t* at = extension + CompositeExtensionHeaderBytes + k * CompositeElementBytes;
    CompositeElement element;
    for (std::size_t i = 0; i < element.f.size(); ++i) element.f[i] = LoadF32LE(at + 4 * i);
    element.flip = at[CompositeElementFlipOffset] != 0;
    return element;
}

Matrix4W ElementForm(const CompositeElement& e, double scale) {
    return ElementSurface(e.flip, e.f[0], e.f[1], e.f[2], e.f[3], scale,
                          Vec3{e.f[4], e.f[5], e.f[6]}, Vec3{e.f[7], e.f[8], e.f[9]});
}

// Elements of a composite extension, held to what the loader accepts.
std::uint32_t CompositeElementCount(const std::uint8_t* extension) {
    return std::clamp(LoadU32LE(extension + CompositeCountOffset), CompositeMinElements,
                      CompositeMaxElements);
}

// The composite: one surface per element after the first, element 0 its bound; in the whole
// form every element a surface inside the sphere of radius 990.
void BuildCompositeShape(PartRenderRecord& part, const std::uint8_t* extension, double scale,
                         bool whole) {
    const std::uint32_t count = CompositeElementCount(extension);
    const CompositeElement first = ReadElement(extension, 0);
    std::span<Matrix4W> surfaces = part.Surfaces();
    std::uint32_t surfaceCount = count - 1;
    if (whole) {
        BuildSphereShape(part, CompositeWholeBoundRadius, {});
        surfaceCount = count;
        surfaces[0] = ElementForm(first, scale);
    } else {
        part.boundQuadric = ElementForm(first, scale);
        FeatureTableFill(part.features, {}, {});
    }
    for (std::uint32_t k = 1; k < count; ++k) {
        surfaces[whole ? k : k - 1] = ElementForm(ReadElement(extension, k), scale);
    }
    part.surfaceCount = static_cast<std::int32_t>(surfaceCount);
    part.shapeClass = 0;
    for (std::uint32_t s = 0; s < surfaceCount; ++s) {
        if (!FormIsPlane(surfaces[s])) part.shapeClass |= std::int32_t{1} << s;
    }
    const double largest = std::max({first.f[0], first.f[1], first.f[2]});
    part.proxyKind = ProxyKind::Sphere;
    part.proxy = ProxySphere(Vec3{first.f[7] * scale, first.f[8] * scale, first.f[9] * scale},
                             scale * std::sqrt(std::max(0.0, first.f[3] / largest)));
}

// The surfaces the part's shape needs, as the loader reserves them.
std::int32_t SurfacesNeeded(const WorkingPartRecord& w, const std::uint8_t* extension) {
    const std::uint32_t elements =
        extension != nullptr ? CompositeElementCount(extension) : CompositeMinElements;
    double countParam = 0.0;
    if (w.shapeType == ShapeType::FacetedCylinder) countParam = w.params[3];
    if (w.shapeType == ShapeType::HoledSolid) countParam = w.params[5];
    return ShapeSurfaceCount(w.shapeType, countParam, elements);
}

// No shape: no surfaces, a bound that holds no point, a zero-radius proxy and bounds at the
// part's origin, an empty feature table. A placement that is not finite becomes the identity.
void ClearShape(PartRenderRecord& part) {
    if (!FormIsFinite(part.worldFromLocal) || !FormIsFinite(part.localFromWorld)) {
        part.worldFromLocal = Identity;
        part.localFromWorld = Identity;
    }
    const Vec3 origin{part.worldFromLocal.m[4], part.worldFromLocal.m[8],
                      part.worldFromLocal.m[12]};
    part.surfaceCount = 0;
    part.shapeClass = 0;
    part.proxyKind = ProxyKind::Sphere;
    part.proxy = ProxySphere(origin, 0.0);
    part.boundQuadric = Matrix4W{};
    part.boundQuadric.m[0] = 1.0;
    part.boundDeterminant = 0.0;
    part.boundExcess = 0.0;
    part.boundRadius = 0.0;
    part.boundCentre = origin;
    FeatureTableFill(part.features, {}, {});
}

Matrix3 QuadraticBlock(const Matrix4W& form) {
    const auto& m = form.m;
    return Matrix3{{m[5], m[6], m[7], m[9], m[10], m[11], m[13], m[14], m[15]}};
}

Vec3 LinearColumn(const Matrix4W& form) { return Vec3{form.m[4], form.m[8], form.m[12]}; }

// Carries the shape built in part coordinates into world coordinates and derives the bounds.
// The bound B in part coordinates gives det(Bq), the excess k = b^T Bq^-1 b - B0 and the
// bounding radius sqrt(k / lambda), lambda the smallest eigenvalue of Bq: the farthest point
// of the ellipsoid (p - c)^T Bq (p - c) <= k from its centre lies along the eigenvector of
// the smallest eigenvalue, whatever the part's rotation. The centre -(Bq^-1 b) comes from the
// world bound.
void CarryToWorld(PartRenderRecord& part) {
    const Matrix4W& worldFromLocal = part.worldFromLocal;
    const Matrix4W& localFromWorld = part.localFromWorld;

    const Matrix3 bq = QuadraticBlock(part.boundQuadric);
    const Vec3 b = LinearColumn(part.boundQuadric);
    // M adj(M) = det(M) I: row 0 of Bq times column 0 of its adjugate is the determinant.
    const Matrix3 adjugate = Matrix3Adjugate(bq);
    const double determinant =
        bq.m[0] * adjugate.m[0] + bq.m[1] * adjugate.m[3] + bq.m[2] * adjugate.m[6];
    const Vec3 adjB = Matrix3TransformVec3(adjugate, b);
    const double excess = Vec3Dot(b, adjB) / determinant - part.boundQuadric.m[0];
    std::array<double, 3> eigenvalues{};
    Matrix3 eigenvectors;
    SymEigen3(bq, false, eigenvalues, eigenvectors);
    const double smallest = std::min({eigenvalues[0], eigenvalues[1], eigenvalues[2]});
    part.boundDeterminant = determinant;
    part.boundExcess = excess;
    part.boundRadius = std::sqrt(excess / smallest);

    part.proxy = ProxyCarried(part.proxy, worldFromLocal);
    part.boundQuadric = FormCarried(part.boundQuadric, localFromWorld);
    const Vec3 centre = Matrix3TransformVec3(
        Matrix3InvertUnchecked(QuadraticBlock(part.boundQuadric)), LinearColumn(part.boundQuadric));
    part.boundCentre = Vec3{-centre.x, -centre.y, -centre.z};
    std::span<Matrix4W> surfaces = part.Surfaces();
    for (std::int32_t s = 0; s < part.surfaceCount; ++s) {
        Matrix4W& form = surfaces[static_cast<std::size_t>(s)];
        form = FormCarried(form, localFromWorld);
    }
    FeatureTableCarry(*part.features, worldFromLocal, localFromWorld);
}

// True when everything the build derived is finite.
bool ShapeIsFinite(const PartRenderRecord& part) {
    if (!FormIsFinite(part.proxy) || !FormIsFinite(part.boundQuadric)) return false;
    if (!FormIsFinite(part.worldFromLocal) || !FormIsFinite(part.localFromWorld)) return false;
    for (double v : {part.boundDeterminant, part.boundExcess, part.boundRadius, part.boundCentre.x,
                     part.boundCentre.y, part.boundCentre.z}) {
        if (!std::isfinite(v)) return false;
    }
    const std::span<const Matrix4W> surfaces = part.Surfaces();
    for (std::int32_t s = 0; s < part.surfaceCount; ++s) {
        if (!FormIsFinite(surfaces[static_cast<std::size_t>(s)])) return false;
    }
    return FeatureTableIsFinite(*part.features);
}

enum class ShapeOutcome { Built, Pending, Unbuildable };

// Runs the builder of the part's shape type on the working record. result receives what the
// builders of types 20, 21 and 22 report (0 for every other type).
ShapeOutcome BuildShape(SceneGeometry& geometry, PartRenderRecord& part, const WorkingPartRecord& w,
                        const std::uint8_t* extension, bool typeThirteenWhole,
                        std::int32_t& result) {
    const ShapeType type = w.shapeType;
    if (type == ShapeType::Composite && extension == nullptr) return ShapeOutcome::Unbuildable;
    if (SurfacesNeeded(w, extension) > part.surfaceRoom) return ShapeOutcome::Unbuildable;

    const auto p = [&w](std::size_t i) { return w.params[i]; };
    std::span<Rtp> segments;
    if (part.objectTex != nullptr) {
        segments = std::span(geometry.mappingScratch.get(),
                             static_cast<std::size_t>(BuilderScratchInitialCount));
    }
    std::span<SurfaceMappingEntry> heads;
    if (part.auxTex != nullptr) {
        // A holed solid maps each of its holes.
        if (type == ShapeType::HoledSolid) geometry.GrowCoordinateScratch(HoledSolidHoleCount(p(5)));
        heads = std::span(geometry.coordinateScratch.get(),
                          static_cast<std::size_t>(geometry.coordinateScratchCount));
    }
    if (IsOneOf(type, {9, 28, 29})) part.outerFlag = (w.flagBytes[0] & PartFlagOuter) != 0;

    switch (type) {
        case ShapeType::Sphere:
            BuildSphereShape(part, p(0), segments);
            break;
        case ShapeType::Cylinder:
            BuildCylinderShape(part, p(1), p(0), segments);
            break;
        case ShapeType::Box:
            BuildBoxShape(part, p(0), p(1), p(2));
            break;
        case ShapeType::Frustum:
            BuildFrustumShape(part, p(0), p(1), p(2), segments);
            break;
        case ShapeType::TaperedPrism:
            BuildTaperedPrismShape(part, p(0), p(3), p(2), p(1));
            break;
        case ShapeType::SphereZone:
            BuildSphereZoneShape(part, p(0), p(1), p(2), segments);
            break;
        case ShapeType::FlatSidedCylinder:
            BuildFlatSidedCylinderShape(part, p(1), p(0));
            break;
        case ShapeType::Ellipsoid:
            BuildEllipsoidShape(part, p(0), p(1), p(2), segments, heads);
            break;
        case ShapeType::Spheroid:
            BuildSpheroidShape(part, Vec3{p(0), p(1), p(2)}, Vec3{p(3), p(4), p(5)}, p(6), p(7));
            break;
        case ShapeType::Composite: {
            const bool whole =
                typeThirteenWhole &&
                CompositeElementCount(extension) <= static_cast<std::uint32_t>(part.surfaceRoom);
            BuildCompositeShape(part, extension, p(0), whole);
            break;
        }
        case ShapeType::RoundedCylinder:
            BuildRoundedCylinderShape(part, p(1), p(0), 0.1, 0.1, segments);
            break;
        case ShapeType::RoundedBox:
            BuildRoundedBoxShape(part, p(0), p(1), p(2), 0.2);
            break;
        case ShapeType::RoundedFrustum:
            BuildRoundedFrustumShape(part, p(0), p(1), p(2), 0.1, 0.1, segments);
            break;
        case ShapeType::SmoothPlate:
            BuildSmoothPlateShape(part, p(0), p(3), p(2), p(1));
            break;
        case ShapeType::RoundedOctagon:
            BuildRoundedOctagonShape(part, p(1), p(0));
            break;
        case ShapeType::Torus:
            BuildTorusShape(part, p(1), p(0));
            break;
        case ShapeType::Bowl:
            result = BuildBowlShape(part, p(0), p(1), p(2), p(3), p(4), p(5));
            break;
        case ShapeType::RevolvedPair:
            result = BuildRevolvedPairShape(part, p(0), p(1), p(2), p(3), p(4));
            break;
        case ShapeType::CoredSolid:
            result = BuildCoredSolidShape(part, p(0), p(1), p(2), p(3), p(4), p(5), p(6));
            break;
        case ShapeType::FlaredSolid:
            BuildFlaredSolidShape(part, p(0), p(1), p(2), p(3), p(4), heads);
            break;
        case ShapeType::Ring:
            BuildRingShape(part, p(0), p(1), p(2), p(3), p(4));
            break;
        case ShapeType::HoledSolid:
            BuildHoledSolidShape(part, p(1), p(0), p(2), p(3), p(4), HoledSolidHoleCount(p(5)),
                                 segments, heads);
            break;
        case ShapeType::PlacedSolid:
            BuildPlacedSolidShape(part, Vec3{p(0), p(1), p(2)}, Vec3{p(3), p(4), p(5)},
                                  Vec3{p(6), p(7), p(8)}, p(11), p(9), p(10), p(12), p(13), heads);
            break;
        case ShapeType::PlacedEllipsoid:
            BuildPlacedEllipsoidShape(part, Vec3{p(0), p(1), p(2)}, Vec3{p(3), p(4), p(5)},
                                      Vec3{p(6), p(7), p(8)}, p(11), p(9), p(10), heads);
            break;
        case ShapeType::CutEllipsoid:
            BuildCutEllipsoidShape(part, p(0), p(1), p(2), p(3), p(4), p(5), p(6), p(7), heads);
            break;
        case ShapeType::Rod:
            BuildRodShape(part, Vec3{p(0), p(1), p(2)}, Vec3{p(3), p(4), p(5)},
                          Vec3{p(6), p(7), p(8)}, p(9), p(10));
            break;
        case ShapeType::CutRod:
            BuildCutRodShape(part, Vec3{p(0), p(1), p(2)}, Vec3{p(3), p(4), p(5)},
                             Vec3{p(6), p(7), p(8)}, p(9), p(10), p(11), p(12), p(13), p(14));
            break;
        case ShapeType::CornerRod: {
            std::array<double, 19> params{};
            std::copy_n(w.params.begin(), params.size(), params.begin());
            result = BuildCornerRodShape(part, CornerRodParamsFrom(params));
            break;
        }
        case ShapeType::FacetedCylinder:
            BuildFacetedCylinderShape(part, FacetedCylinderFacetCount(p(3)), p(1), p(0), p(2));
            break;
        default:
            // A number that names no shape type is built as a sphere of radius 1.
            if (!ShapeTypeIsValid(type)) {
                BuildSphereShape(part, 1.0, {});
                break;
            }
            return ShapeOutcome::Pending;
    }
    return ShapeOutcome::Built;
}

}  // namespace

Matrix4W ElementSurface(bool flip, double f0, double f1, double f2, double f3, double scale,
                        const Vec3& rotation, const Vec3& position) {
    const double s = flip ? -1.0 : 1.0;
    Matrix4W form;
    if (f0 == 0.0 && f1 == 0.0) {
        FormSetLinear(form, FormAxis::Z, s);
    } else if (f0 == 0.0 && f2 == 0.0) {
        FormSetLinear(form, FormAxis::Y, s);
    } else if (f1 == 0.0 && f2 == 0.0) {
        FormSetLinear(form, FormAxis::X, s);
    } else {
        form.m[0] = -s * f3;
        form.m[5] = s * f0;
        form.m[10] = s * f1;
        form.m[15] = s * f2;
    }
    // Part point p lies at R(-w) (p / scale - position) in the element's frame.
    const Matrix3 r = RotationFromVector(Vec3{-rotation.x, -rotation.y, -rotation.z});
    const Vec3 t = Matrix3TransformVec3(r, Vec3{-position.x, -position.y, -position.z});
    Matrix4W elementFromPart = EmbedMatrix3(Matrix3Scale(1.0 / scale, r), 0);
    elementFromPart.m[4] = t.x;
    elementFromPart.m[8] = t.y;
    elementFromPart.m[12] = t.z;
    return FormCarried(form, elementFromPart);
}

std::int32_t BuildPartShape(SceneGeometry& geometry, const std::uint8_t* record,
                            std::int32_t partIndex, bool keepMarks, bool bindTextures,
                            bool typeThirteenWhole, const WorkingPartRecord* working) {
    PartRenderRecord* part = geometry.Part(partIndex);
    if (part == nullptr) return PartBuildNoEntry;
    WorkingPartRecord& w = geometry.working;
    if (working != nullptr) {
        w = *working;
    } else {
        ExpandPartRecord(record, w);
    }
    RaiseToMinimumSize(w);
    const std::uint8_t* extension = nullptr;
    if (w.shapeType == ShapeType::Composite && record != nullptr) {
        extension = record + PartRecordBaseBytes(record);
    }

    // Material and mapping objects.
    TextureParams* params = ResolveTextureRef(w.textureRef);
    part->texParams = params != nullptr ? params : &geometry.defaultTexture;
    const bool made = ArrangeMappingObjects(*part, w);
    if ((bindTextures || made) && part->objectTex != nullptr) {
        part->objectTex->material = part->texParams;
    }

    // The shape, in part coordinates.
    part->outerFlag = 0;
    std::int32_t builderResult = 0;
    const ShapeOutcome outcome =
        BuildShape(geometry, *part, w, extension, typeThirteenWhole, builderResult);

    // The render header.
    const std::uint8_t flags = w.flagBytes[0];
    const auto bit = [flags](std::uint8_t mask) -> std::uint8_t { return (flags & mask) != 0; };
    if (part->texParams->d != 0) part->outerFlag = 0;
    part->shapeType = w.shapeType;
    part->partId = w.partId;
    part->buildResult = 0;
    part->colour = w.colour;
    part->derivedColour = w.derivedColour;
    part->fraction = FractionWord(w.fraction);
    part->visible = !bit(PartFlagHidden);
    part->options = {bit(0x01), bit(0x04), bit(0x08), bit(0x10)};
    part->ownColour = bit(PartFlagOwnColour);
    part->shadeRgb = {};
    if (part->ownColour != 0) {
        part->shadeRgb = ShadeChannels(w.glowColour, w.glowIntensity);
    } else {
        part->ownColour = part->texParams->on;
        if (part->ownColour != 0) {
            part->shadeRgb = ShadeChannels(part->texParams->glc, part->texParams->glv);
        }
    }
    if (!keepMarks) {
        part->selected = 0;
        part->highlighted = 0;
    }
    part->tint = w.flagBytes[1];

    // The placement, and the shape carried into world coordinates with it.
    if (!ShapeTypeIsPlacedByParameters(w.shapeType)) {
        part->localFromWorld = LocalFromWorld(w.position, w.rotation);
        part->worldFromLocal = InvertAffineWFirst(part->localFromWorld);
    }
    if (outcome == ShapeOutcome::Built) {
        CarryToWorld(*part);
        if (ShapeIsFinite(*part)) {
            part->buildResult = builderResult;
            return part->buildResult;
        }
    }
    ClearShape(*part);
    if (outcome == ShapeOutcome::Pending) return part->buildResult;
    part->visible = 0;
    part->buildResult = PartBuildUnbuildable;
    return part->buildResult;
}
