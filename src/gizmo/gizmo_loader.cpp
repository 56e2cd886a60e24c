#include "gizmo/gizmo_loader.h"

#include "core/byte_order.h"
#include "core/matrix4.h"
#include "core/private_heap.h"
#include "core/scalar_maths.h"
#include "core/vec3.h"
#include "geometry/part_block.h"
#include "geometry/part_record.h"
#include "geometry/scene_geometry.h"
#include "gizmo/collision_drivers.h"
#include "gizmo/flyer_physics.h"
#include "gizmo/gizmo_object.h"
#include "gizmo/gizmo_part_fields.h"
#include "gizmo/gizmo_role_table.h"
#include "gizmo/gizmo_scene.h"
#include "gizmo/gizmo_world.h"
#include "gizmo/preset_motion.h"
#include "gizmo/projected_bounds.h"
#include "gizmo/scene_document.h"
#include "gizmo/scene_physics_parts.h"
#include "gizmo/slider_guide.h"
#include "gizmo/view_manipulation.h"
#include "gizmo/world_step.h"
#include "model/q_document_base.h"
#include "platform/clock.h"
#include "platform/work_area.h"
#include "view/q_render_view.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <variant>
#include <vector>

namespace {

// The two catcher discs: flat ellipsoids of three parameters.
constexpr std::int32_t CatcherDiscCount = 2;
constexpr std::uint32_t CatcherDiscParams = 3;
constexpr std::uint32_t CatcherDiscBytes = PartRecordFixedBytes + 4 * CatcherDiscParams;
constexpr std::uint8_t CatcherDiscFlags =
    GizmoPartHidden | GizmoPartFixedRole | GizmoPartSecondState;
constexpr std::uint32_t CatcherDiscColour = 0x808080;
constexpr double CatcherDiscThickness = 0.1;

// Lowest and highest integer bounds before any part is seen.
constexpr std::int32_t GridBoundStart = 2'000'000'000;

// The stage's reach when its shape gives none.
constexpr double DefaultStageRadius = 5.0;

// The camera stands no nearer the origin than this many scene radii, and no farther than
// FarthestCamera when it stands beyond them.
constexpr double NearestCameraRadii = 1.75;
constexpr double FarthestCamera = 50.0;

// The relative tolerance of the radii of the balls that hold the scene.
constexpr double EnclosingTolerance = 0.03;

// Lights that stand nearer the origin than this many scene radii are moved out to it.
constexpr double NearestLightRadii = 6.0;

// The record's parameter i, 0 when the record has fewer.
double RecordParam(const std::uint8_t* record, std::int32_t i) {
    return i < PartRecordParamCount(record) ? PartRecordParam(record, i) : 0.0;
}

// The option byte of the geometry entry that mirrors each option flag.
constexpr std::uint8_t OptionFlags[4] = {GizmoPartNonColliding, GizmoPartSecondState,
                                         GizmoPartFixedRole, GizmoPartCollidesHidden};

// Sets and clears flag bits of part in the gizmo's record and mirrors the changed bits into
// the part's geometry entry, so that the renderer and the collision tests see what the record
// says. Only the hidden bit is ever set, never cleared: a part the build left undrawn (one
// that gives no shape) stays undrawn.
void ChangePartFlags(GizmoScene& scene, std::int32_t part, std::uint8_t set, std::uint8_t clear) {
    std::uint8_t* record = scene.partTable[static_cast<std::size_t>(part)];
    const std::uint8_t flags =
        static_cast<std::uint8_t>((record[PartRecordFlagsOffset] & ~clear) | set);
    record[PartRecordFlagsOffset] = flags;
    PartRenderRecord* entry = scene.geometry->Part(part);
    if (entry == nullptr) return;
    if ((set & GizmoPartHidden) != 0) entry->visible = 0;
    for (std::size_t i = 0; i < entry->options.size(); ++i) {
        if (((set | clear) & OptionFlags[i]) != 0) {
            entry->options[i] = (flags & OptionFlags[i]) != 0 ? 1 : 0;
        }
    }
}

bool IsDrawn(const GizmoScene& scene, std::int32_t part) {
    const PartRenderRecord* entry = scene.geometry->Part(part);
    return entry != nullptr && entry->visible != 0;
}

// Points the part table at each record of the gizmo's block.
void BuildPartTable(GizmoScene& scene, std::uint32_t partCount) {
    scene.partTable.assign(partCount, nullptr);
    std::uint8_t* record = scene.partBlock.get() + PartBlockHeaderBytes;
    for (std::uint32_t i = 0; i < partCount; ++i) {
        scene.partTable[i] = record;
        record += PartRecordBytes(record);
    }
}

// Copies the document's part block into the gizmo's own, with room for the catcher discs.
// False when the document's block does not describe the geometry's parts.
bool CopyPartBlock(GizmoScene& scene, const QDocumentBase& document) {
    const std::uint8_t* block = document.PartBlock();
    if (block == nullptr) return false;
    const std::uint64_t used =
        std::uint64_t{PartBlockHeaderBytes} + LoadU32LE(block + PartBlockRecordBytesOffset);
    const std::uint32_t partCount = LoadU32LE(block + PartBlockPartCountOffset);
    if (!PartBlockIsWellFormed(block, used) ||
        partCount != static_cast<std::uint32_t>(scene.geometry->PartCount())) {
        return false;
    }
    const std::uint64_t room = used + std::uint64_t{CatcherDiscBytes} * CatcherDiscCount;
    if (room > UINT32_MAX) ThrowOutOfMemory();
    scene.partBlock = PrivateAllocBlock<std::uint8_t>(static_cast<std::uint32_t>(room));
    std::memcpy(scene.partBlock.get(), block, static_cast<std::size_t>(used));
    scene.partBlockBytes = static_cast<std::uint32_t>(used);
    BuildPartTable(scene, partCount);
    return true;
}

// The reach of the stage from its centre, and the floor height its shape gives.
void MeasureStage(const std::uint8_t* stage, GizmoWorld& world) {
    world.stageCentre = PartRecordPosition(stage);
    world.floorY = world.stageCentre.y;
    const double p0 = RecordParam(stage, 0);
    const double p1 = RecordParam(stage, 1);
    switch (PartRecordShapeType(stage)) {
        case ShapeType::Cylinder:
        case ShapeType::RoundedCylinder:
            world.stageRadius = p1;
            break;
        case ShapeType::Ellipsoid:
            world.stageRadius = p0;
            break;
        case ShapeType::Bowl: {
            // The radius of the bowl's rim circle, worked in single precision as the stage
            // was designed with.
            const float ratio = static_cast<float>(RecordParam(stage, 5) / p0);
            const float radicand = 1.0f - ratio * ratio;
            world.stageRadius = p1 * static_cast<double>(std::sqrt(radicand));
            world.floorY = world.stageCentre.y - p0;
            break;
        }
        default:
            world.stageRadius = DefaultStageRadius;
            break;
    }
    // A shape whose measures give no reach (a bowl of radius 0 gives not a number) would
    // leave the flyers no wall: such a stage reaches as far as one of no known shape.
    if (!std::isfinite(world.stageRadius) || world.stageRadius < 0.0) {
        world.stageRadius = DefaultStageRadius;
    }
    if (!std::isfinite(world.floorY)) world.floorY = world.stageCentre.y;
}

// The sound file path of a sound name appended to the scene's list; its index, -1 for none.
std::int32_t AddSound(GizmoScene& scene, const std::string& name) {
    if (name.empty()) return -1;
    const auto index = static_cast<std::int32_t>(scene.soundNames.size());
    scene.soundNames.push_back(scene.programFolder + "Sounds/" + name + ".wav");
    return index;
}

std::vector<PhysicsPart> PhysicsPartsOf(const GizmoScene& scene, const GizmoObject& object) {
    std::vector<PhysicsPart> parts;
    parts.reserve(object.partIds.size());
    for (const std::int32_t id : object.partIds) {
        parts.push_back(
            PhysicsPartOf(*scene.geometry, id, scene.partTable[static_cast<std::size_t>(id)]));
    }
    return parts;
}

PhysicsPart PhysicsPartAt(const GizmoScene& scene, std::int32_t part) {
    return PhysicsPartOf(*scene.geometry, part, scene.partTable[static_cast<std::size_t>(part)]);
}

void BuildFlipper(GizmoScene& scene, const GizmoRoles& roles, std::int32_t group,
                  GizmoObject& object) {
    GizmoWorld& world = *scene.world;
    const FlipperRoles flip = ResolveFlipper(roles, group);
    SetUpMotion(object, scene.partTable[static_cast<std::size_t>(flip.controlPart)],
                scene.partTable[static_cast<std::size_t>(flip.secondControlPart)]);
    FlipperTail& tail = object.flipper;
    tail.goTime = flip.goTime;
    tail.returnTime = flip.returnTime;
    tail.goEase = flip.goEase;
    tail.returnEase = flip.returnEase;
    tail.forAndBack = flip.forAndBack ? 1 : 0;
    tail.mouseActivated = flip.mouseActivated ? 1 : 0;
    tail.keyBits = flip.keyBits;
    tail.collisionActivated = flip.collisionActivated ? 1 : 0;
    tail.activated = flip.activated ? 1 : 0;
    RegisterObjectParts(world, object);
    if (tail.activated == 0) StartMoving(world, object);
    // The second state only shows the flipper's far pose: hidden, kept in the window's
    // reckoning.
    for (const RoleText& member :
         roles.groups[static_cast<std::size_t>(flip.secondGroup)].members) {
        ChangePartFlags(scene, member.part,
                        GizmoPartHidden | GizmoPartFixedRole | GizmoPartSecondState, 0);
    }
}

void BuildSlider(GizmoScene& scene, const GizmoRoles& roles, std::int32_t group,
                 GizmoObject& object) {
    const SliderRoles slide = ResolveSlider(roles, group);
    object.slider.mousePixels = slide.mousePixels;
    object.slider.invertFirst = slide.invertFirst ? 1 : 0;
    object.slider.invertSecond = slide.invertSecond ? 1 : 0;
    const std::int32_t result =
        SetUpSlider(object, PhysicsPartAt(scene, slide.controlPart),
                    PhysicsPartAt(scene, slide.guidePart), slide.axial, slide.map, slide.rotSnap);
    CheckSliderSetUp(roles.groups[static_cast<std::size_t>(group)].name, result);
    UpdateObjectParts(*scene.world, object);
    RegisterObjectParts(*scene.world, object);
}

// Sets the flyer up; returns its reach when it is live (and starts it), else nothing.
void BuildFlyer(GizmoScene& scene, const GizmoRoles& roles, std::int32_t group, GizmoObject& object,
                double& largestFlyerRadius) {
    GizmoWorld& world = *scene.world;
    const std::int32_t control = ResolveFlyerControl(roles, group);
    const std::vector<PhysicsPart> parts = PhysicsPartsOf(scene, object);
    const PhysicsPart controlPart = control >= 0 ? PhysicsPartAt(scene, control) : PhysicsPart{};
    SetUpFlyer(object, parts, control >= 0 ? &controlPart : nullptr);
    RegisterObjectParts(world, object);
    if (object.flyer.live == 0) return;
    world.topY = std::max(world.topY, object.flyer.committedPosition.y);
    largestFlyerRadius = std::max(largestFlyerRadius, object.flyer.size);
    StartMoving(world, object);
}

// Builds the simulated objects of the groups, in group order.
void BuildObjects(GizmoScene& scene, const GizmoRoles& roles, double& largestFlyerRadius) {
    GizmoWorld& world = *scene.world;
    TranslateBadAlloc([&] { world.objects.reserve(static_cast<std::size_t>(roles.objectCount)); });
    for (std::size_t g = 0; g < roles.groups.size(); ++g) {
        const GroupRoleEntry& entry = roles.groups[g];
        if (!entry.counts || !entry.makesObject) continue;
        const auto group = static_cast<std::int32_t>(g);
        const GroupRoles& groupRoles = entry.roles;
        GameRole game = groupRoles.game.value_or(GameRole{});

        GizmoObject made = std::holds_alternative<FlyRole>(groupRoles.motion) ? NewFlyerObject()
                           : std::holds_alternative<SlideRole>(groupRoles.motion)
                               ? NewSliderObject()
                               : NewFlipperObject();
        auto object = std::make_unique<GizmoObject>(std::move(made));
        object->sound = AddSound(scene, game.sound);
        object->scoreSound = AddSound(scene, game.scoreSound);
        object->scoreMult = game.scoreMult;
        object->scoreVal = game.scoreVal;
        object->keyResetBits = static_cast<std::uint32_t>(game.keyReset);
        if (object->isFlyer != 0) {
            object->flyer.collisResetBits = static_cast<std::uint32_t>(game.collisReset);
            object->flyer.score = 0;
        }
        for (const RoleText& member : entry.members) {
            AddObjectPart(*object, member.part,
                          scene.partTable[static_cast<std::size_t>(member.part)]);
        }
        GizmoObject& placed = *object;
        world.objects.push_back(std::move(object));
        if (placed.isFlyer != 0) {
            BuildFlyer(scene, roles, group, placed, largestFlyerRadius);
        } else if (placed.isSlider != 0) {
            BuildSlider(scene, roles, group, placed);
        } else {
            BuildFlipper(scene, roles, group, placed);
        }
    }
}

// Writes the two catcher discs after the block's records and builds them into the geometry.
void AddCatcherDiscs(GizmoScene& scene, double flyerRadius) {
    GizmoWorld& world = *scene.world;
    std::uint8_t* block = scene.partBlock.get();
    const std::uint32_t partCount = LoadU32LE(block + PartBlockPartCountOffset);
    std::uint8_t* first = block + scene.partBlockBytes;
    const double heights[CatcherDiscCount] = {world.stageCentre.y - flyerRadius,
                                              world.topY + flyerRadius};
    const double radius = world.stageRadius + flyerRadius;
    for (std::int32_t i = 0; i < CatcherDiscCount; ++i) {
        std::uint8_t* disc = first + static_cast<std::size_t>(i) * CatcherDiscBytes;
        std::memset(disc, 0, CatcherDiscBytes);
        PartRecordSetPosition(disc, Vec3{world.stageCentre.x, heights[i], world.stageCentre.z});
        disc[PartRecordFlagsOffset] = CatcherDiscFlags;
        PartRecordSetShapeType(disc, ShapeType::Ellipsoid);
        StoreI32LE(disc + PartRecordParamCountOffset, static_cast<std::int32_t>(CatcherDiscParams));
        StoreU32LE(disc + PartRecordColourOffset, CatcherDiscColour);
        // The glow colour and intensity a scene file gives a part that names none.
        StoreU32LE(disc + PartRecordGlowColourOffset, 0xFFFFFF);
        StoreF32LE(disc + PartRecordGlowIntensityOffset, 1.0f);
        PartRecordSetParam(disc, 0, static_cast<float>(radius));
        PartRecordSetParam(disc, 1, static_cast<float>(CatcherDiscThickness));
        PartRecordSetParam(disc, 2, static_cast<float>(radius));
    }
    const std::uint32_t grownBytes = scene.partBlockBytes + CatcherDiscBytes * CatcherDiscCount;
    StoreU32LE(block + PartBlockPartCountOffset, partCount + CatcherDiscCount);
    StoreU32LE(block + PartBlockRecordBytesOffset, grownBytes - PartBlockHeaderBytes);
    scene.partBlockBytes = grownBytes;
    BuildPartTable(scene, partCount + CatcherDiscCount);
    LoadPartBlock(*scene.geometry, block, grownBytes, true, first, true);
}

// The middle of the grid box of the drawn parts, the origin when none is drawn.
Vec3 DrawnPartsCentre(const GizmoScene& scene) {
    std::int32_t low[3] = {GridBoundStart, GridBoundStart, GridBoundStart};
    std::int32_t high[3] = {-GridBoundStart, -GridBoundStart, -GridBoundStart};
    bool any = false;
    for (std::int32_t i = 0; i < scene.geometry->PartCount(); ++i) {
        const PartRenderRecord* part = scene.geometry->Part(i);
        if (part->visible == 0) continue;
        any = true;
        for (std::size_t axis = 0; axis < 3; ++axis) {
            low[axis] = std::min(low[axis], part->octreeBounds[2 * axis]);
            high[axis] = std::max(high[axis], part->octreeBounds[2 * axis + 1]);
        }
    }
    if (!any) return Vec3{};
    const auto middle = [&](std::size_t axis) {
        return (static_cast<double>(low[axis]) + static_cast<double>(high[axis])) / 2048.0;
    };
    return Vec3{middle(0), middle(1), middle(2)};
}

Vec3 Transform(const Matrix4W& m, const Vec3& p) {
    const Vec4 v = Matrix4TransformVec4(m, Vec4{1.0, p.x, p.y, p.z});
    return Vec3{v.x, v.y, v.z};
}

// Fits one axis of the window, [low, high), into the work area's [workLow, workHigh): a
// window that fits is centred; a wider one fills the work area and keeps the picture's
// middle in view. Sets the view's projection centre on that axis and the screen position of
// the image origin.
void FitAxis(std::int64_t& low, std::int64_t& high, std::int64_t workLow, std::int64_t workHigh,
             double& projectionCentre, double& origin) {
    if (high - low <= workHigh - workLow) {
        const std::int64_t half = ((workHigh - workLow) - (high - low)) / 2;
        projectionCentre = static_cast<double>(-low);
        const std::int64_t shift = workLow + half - low;
        low = workLow + half;
        high += shift;
        origin = static_cast<double>(shift);
        return;
    }
    const std::int64_t half = ((high - low) - (workHigh - workLow)) / 2;
    const std::int64_t middle = low + half;
    if (middle > 0 || middle < workLow - workHigh) {
        projectionCentre = static_cast<double>(workHigh - workLow) * 0.5;
        origin = static_cast<double>(workHigh + workLow) * 0.5;
    } else {
        projectionCentre = static_cast<double>(-middle);
        origin = static_cast<double>(workLow - low - half);
    }
    low = workLow;
    high = workHigh;
}

}  // namespace

std::int32_t LoadScene(std::string_view path, GizmoScene& scene) {
    // A gizmo's sounds and identifier are its own.
    scene.soundNames.clear();
    scene.fileID.clear();

    // Open.
    scene.document = OpenSceneDocument(path);
    if (scene.document == nullptr) {
        scene.errorText = "Cannot load a scene file";
        return -1;
    }
    QDocumentBase& document = *scene.document->document;
    QRenderView& view = *scene.document->view;
    scene.view = &view;
    scene.geometry = document.Geometry();
    SceneGeometry& geometry = *scene.geometry;
    if (!CopyPartBlock(scene, document)) {
        scene.errorText = "Cannot load a scene file";
        return -1;
    }

    // Prepare.
    geometry.BuildOctree({}, 0);
    scene.workArea = GetWorkArea(DefaultWorkArea);
    scene.movingPartList.clear();
    scene.world = std::make_unique<GizmoWorld>(&scene.movingPartList, &scene.partTable);
    GizmoWorld& world = *scene.world;
    scene.simulationRender = std::make_unique<ViewSimulationRender>(view, scene.movingPartList);
    scene.partBounds = std::make_unique<GeometryPartBounds>(geometry);
    world.geometry = &geometry;
    world.render = scene.simulationRender.get();
    std::int32_t highestTop = -GridBoundStart;
    for (std::int32_t i = 0; i < geometry.PartCount(); ++i) {
        std::uint8_t* record = scene.partTable[static_cast<std::size_t>(i)];
        ChangePartFlags(scene, i, 0, GizmoPartNonColliding);
        PartRecordSetFriction(record, 0.0f);
        PartRecordSetLoss(record, 0.0f);
        PartRecordSetCollisionBits(record, 0);
        highestTop = std::max(highestTop, geometry.Part(i)->octreeBounds[3]);
    }
    world.stagePart = -1;
    world.gravity = -10.0;

    // Roles: the object texts, the stage and the group texts are read and checked at once.
    std::vector<RoleText> objectTexts;
    for (NamedId& named : CollectObjectNames(document)) {
        if (named.id < 0 || named.id >= geometry.PartCount()) continue;
        objectTexts.push_back(RoleText{named.id, std::move(named.name)});
    }
    std::vector<GroupRoleSource> groupSources;
    for (NamedGroup& group : CollectGroupNames(document)) {
        GroupRoleSource source{std::move(group.name), std::move(group.parms), {}};
        for (NamedId& member : group.members) {
            if (member.id < 0 || member.id >= geometry.PartCount()) continue;
            source.members.push_back(RoleText{member.id, std::move(member.name)});
        }
        groupSources.push_back(std::move(source));
    }
    const GizmoRoles roles = ReadGizmoRoles(objectTexts, groupSources, scene.partTable);

    for (const ObjectRoleEntry& entry : roles.objects) {
        if (!entry.hasText) continue;
        std::uint8_t* record = scene.partTable[static_cast<std::size_t>(entry.part)];
        const ObjectRoles& r = entry.roles;
        if (r.collide) {
            if (r.collide->friction)
                PartRecordSetFriction(record, static_cast<float>(*r.collide->friction));
            if (r.collide->loss) PartRecordSetLoss(record, static_cast<float>(*r.collide->loss));
        }
        if (r.invisible) ChangePartFlags(scene, entry.part, GizmoPartHidden, 0);
        if (r.nonCollis) {
            ChangePartFlags(scene, entry.part, GizmoPartNonColliding, 0);
        } else if (!IsDrawn(scene, entry.part)) {
            ChangePartFlags(scene, entry.part, GizmoPartCollidesHidden, 0);
        }
        if (r.collisReset)
            PartRecordSetCollisionBits(record, static_cast<std::uint32_t>(*r.collisReset));
    }
    world.stagePart = roles.stagePart;
    world.gravity = roles.gravity;
    scene.fileID = roles.fileID;
    scene.overrideGameMode = roles.stage.overrideGameMode;
    scene.overrideEndTime = roles.stage.overrideEndTime;
    scene.overrideEndScore = roles.stage.overrideEndScore;
    scene.overrideTimeVal = roles.stage.overrideTimeVal;
    scene.overrideScoreVal = roles.stage.overrideScoreVal;

    // Stage.
    MeasureStage(scene.partTable[static_cast<std::size_t>(world.stagePart)], world);
    ChangePartFlags(scene, world.stagePart, GizmoPartFixedRole, 0);
    if (roles.stage.invisible) {
        ChangePartFlags(scene, world.stagePart, GizmoPartHidden | GizmoPartCollidesHidden, 0);
    }
    world.wallMargin = -1.0;

    // Objects.
    world.topY = world.floorY;
    double largestFlyerRadius = 0.0;
    BuildObjects(scene, roles, largestFlyerRadius);

    // World finish.
    if (roles.ceilingPart >= 0) {
        const std::uint8_t* ceiling = scene.partTable[static_cast<std::size_t>(roles.ceilingPart)];
        world.topY = std::max(world.topY, PartRecordPosition(ceiling).y);
        world.wallMargin = RecordParam(ceiling, 0);
        ChangePartFlags(scene, roles.ceilingPart, GizmoPartHidden | GizmoPartFixedRole, 0);
    }
    const double highest = highestTop / PartGridUnitsPerUnit;
    world.dropY = std::max(world.topY + largestFlyerRadius, highest) + largestFlyerRadius;
    world.fullVolumeSpeed = std::sqrt(2.0 * std::fabs((world.topY - world.floorY) * world.gravity));

    AddCatcherDiscs(scene, largestFlyerRadius);

    // Camera and lights.
    const double sceneRadius = EnclosingRadius(geometry, 0.0, 0.0, 0.0, EnclosingTolerance);
    scene.sceneRadius = sceneRadius;
    Matrix4W camera = view.GetCameraMatrix();
    for (std::int32_t i = 0;
         i < view.LightCount() && i < static_cast<std::int32_t>(SceneLightCount); ++i) {
        Vec3 p = Transform(camera, view.LightSlot(i).position);
        const double length = Vec3Length(p);
        if (i < view.directionLightCount && length < NearestLightRadii * sceneRadius &&
            length > 0.0) {
            p = Vec3Scale(p, NearestLightRadii * sceneRadius / length);
        }
        scene.lightPositions[static_cast<std::size_t>(i)] = {1.0, p.x, p.y, p.z};
    }
    scene.minCameraDistance = NearestCameraRadii * sceneRadius;
    Vec3 eye{camera.m[4], camera.m[8], camera.m[12]};
    const double loadDistance = Vec3Length(eye);
    if (!(loadDistance > 0.0) || !std::isfinite(loadDistance)) {
        // No direction to look in: the camera would turn into not-a-number.
        scene.errorText = "The camera stands at the centre of the scene";
        return -1;
    }
    if (scene.minCameraDistance > loadDistance) {
        eye = Vec3Scale(eye, scene.minCameraDistance / loadDistance);
    } else if (loadDistance > FarthestCamera) {
        eye = Vec3Scale(eye, FarthestCamera / loadDistance);
    }
    const double distance = Vec3Length(eye);
    scene.loadDistance = loadDistance;
    scene.loadNear = view.viewSettings.nearDepth;
    scene.loadFar = view.viewSettings.farDepth;
    const Vec3 look = Vec3Scale(eye, -1.0 / distance);
    const double pitch = PI - std::asin(std::clamp(look.y, -1.0, 1.0));
    const double yaw = AngleOfVector2(-look.z, look.x);
    scene.angles = {yaw, pitch};
    camera.m[4] = eye.x;
    camera.m[8] = eye.y;
    camera.m[12] = eye.z;
    RotationFromTwoAnglesWFirst(camera, pitch, yaw);
    // The view now looks from the new eye; the lights keep their places in the scene.
    view.viewSettings.camera.transform = FromWFirstMatrix(camera);
    view.viewSettings.camera.position = Vec3{};
    view.viewSettings.camera.orientation = Matrix3SetDiagonal(1.0);
    scene.sceneCentre = DrawnPartsCentre(scene);
    scene.perspective = EnclosingRadius(geometry, scene.sceneCentre.x, scene.sceneCentre.y,
                                        scene.sceneCentre.z, EnclosingTolerance);

    // Viewpoint.
    SceneBounds bounds{};
    SceneExtraSurfaces extra;
    if (!ProjectSceneBounds(geometry, camera, bounds, SceneFogSurfaces(scene, extra))) {
        scene.errorText = "Viewpoint is inside a solid object";
        return -1;
    }
    if (!(bounds[0] <= bounds[2]) || !(bounds[1] <= bounds[3])) bounds = {0.0, 0.0, 0.0, 0.0};

    // Window rectangle.
    scene.scale = view.focalScale * 1000.0;
    const std::int64_t margin = view.options.edgeLines ? 2 : 1;
    std::int64_t left = RoundToIntClamped(bounds[0] * scene.scale) - margin;
    std::int64_t top = RoundToIntClamped(bounds[1] * scene.scale) - margin;
    std::int64_t right = RoundToIntClamped(bounds[2] * scene.scale) + margin;
    std::int64_t bottom = RoundToIntClamped(bounds[3] * scene.scale) + margin;
    double centreX = 0.0;
    double centreY = 0.0;
    FitAxis(left, right, scene.workArea.left, scene.workArea.right, centreX, scene.windowOrigin[0]);
    FitAxis(top, bottom, scene.workArea.top, scene.workArea.bottom, centreY, scene.windowOrigin[1]);
    // The renderer draws nothing smaller than its least side.
    right = std::max(right, left + RenderMinSide);
    bottom = std::max(bottom, top + RenderMinSide);
    scene.windowRect =
        ScreenRect{static_cast<std::int32_t>(left), static_cast<std::int32_t>(top),
                   static_cast<std::int32_t>(right), static_cast<std::int32_t>(bottom)};

    // View set-up.
    const auto width = static_cast<std::int32_t>(right - left);
    const auto height = static_cast<std::int32_t>(bottom - top);
    TranslateBadAlloc([&] {
        scene.viewBits.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
                              0);
    });
    const double nearDepth = distance + (scene.loadNear - loadDistance);
    view.viewSettings.nearDepth = nearDepth;
    view.viewSettings.farDepth = nearDepth + (scene.loadFar - scene.loadNear);
    view.InitViewBuffers(width * 4, scene.viewBits.data(), width, height, true);
    view.centreX = centreX;
    view.centreY = centreY;
    // The light maps keep the density the scene file gave the view; the shadow maps cover
    // the ball that holds every drawn part, whatever sphere the file gave.
    SetPerspectiveValues(scene);
    FitShadowSphere(scene);

    // Show: the background kept, the moving parts over it.
    RenderGizmoBackground(scene);
    scene.previousFrameStamp = timeGetTime();
    scene.active = 1;
    scene.paused = 1;
    return 0;
}
