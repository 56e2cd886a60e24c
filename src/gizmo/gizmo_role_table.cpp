#include "gizmo/gizmo_role_table.h"

#include "core/check.h"
#include "geometry/part_record.h"
#include "geometry/shape_type.h"
#include "gizmo/gizmo_load_exception.h"
#include "gizmo/preset_motion.h"

#include <algorithm>
#include <array>
#include <variant>

namespace {

[[noreturn]] void Fail(std::string message) { throw GizmoLoadException{std::move(message)}; }

// Shape types a slider can be guided by. A type 9 part guides only when its first and third
// parameters are equal.
constexpr std::array<ShapeType, 13> GuideShapeTypes = {
    ShapeType::Sphere,     ShapeType::Cylinder,
    ShapeType::Box,        ShapeType::Frustum,
    ShapeType::Torus,      ShapeType::SphereZone,
    ShapeType::Ellipsoid,  ShapeType::RoundedCylinder,
    ShapeType::RoundedBox, ShapeType::RoundedFrustum,
    ShapeType::Bowl,       ShapeType::RevolvedPair,
    ShapeType::CoredSolid};
constexpr ShapeType GuideShapeTypeWithEqualSides = ShapeType::Ellipsoid;

bool CanGuide(const std::uint8_t* record) {
    const ShapeType type = PartRecordShapeType(record);
    if (std::find(GuideShapeTypes.begin(), GuideShapeTypes.end(), type) == GuideShapeTypes.end()) {
        return false;
    }
    if (type != GuideShapeTypeWithEqualSides) return true;
    // A record too short to hold the two parameters cannot be judged, so it cannot guide.
    return PartRecordParamCount(record) >= 3 &&
           PartRecordParam(record, 0) == PartRecordParam(record, 2);
}

// The identifier of a stage that gives no "fileID": the four characters of its "gravity"
// text from the third one on. A stage whose "gravity" text is shorter than two characters
// (or absent) has no identifier to give, and the load is refused with a message rather
// than failing without one.
std::string StageFileID(const StageRole& stage) {
    if (!stage.fileID.empty()) return stage.fileID;
    if (stage.gravityText.size() < 2) Fail("Stage object must have fileID");
    return stage.gravityText.substr(2, 4);
}

void TakeStage(GizmoRoles& table, std::int32_t part, const StageRole& stage) {
    table.stagePart = part;
    table.stage = stage;
    if (stage.gravity) table.gravity = -*stage.gravity;
    table.fileID = StageFileID(stage);
}

void ReadObjectTexts(GizmoRoles& table, std::span<const RoleText> objects,
                     std::span<const std::uint8_t* const> partRecords) {
    table.objects.reserve(objects.size());
    for (const RoleText& object : objects) {
        ObjectRoleEntry& entry = table.objects.emplace_back();
        entry.part = object.part;
        entry.hasText = !object.text.empty();
        if (!entry.hasText) continue;
        entry.roles = ReadObjectRoles(object.text, {table.stagePart < 0, table.ceilingPart < 0});
        const ObjectRoles& roles = entry.roles;
        if (roles.guideId) {
            const std::string& id = *roles.guideId;
            if (id.empty()) Fail("All slider guide objects must have id");
            ORBELLE_CHECK(object.part >= 0 &&
                          static_cast<std::size_t>(object.part) < partRecords.size());
            if (!CanGuide(partRecords[static_cast<std::size_t>(object.part)])) {
                Fail("Slider guide object with id = " + id + " is of the wrong type");
            }
            table.guides.push_back({object.part, id});
        }
        if (roles.stage) TakeStage(table, object.part, *roles.stage);
        if (roles.ceiling) table.ceilingPart = object.part;
    }
}

void CheckStage(const GizmoRoles& table) {
    if (table.stagePart < 0) Fail("There has to be a stage object");
    if (table.stage.compatibility.value_or(0) > GizmoCompatibilityLevel) {
        Fail("This file requires the latest version of Orbelle");
    }
}

// Checks a counted group's motion; true when it makes an object.
bool CheckGroup(GizmoRoles& table, std::int32_t group) {
    const GroupRoleEntry& entry = table.groups[static_cast<std::size_t>(group)];
    const std::string& name = entry.name;
    if (const FlipRole* flip = std::get_if<FlipRole>(&entry.roles.motion)) {
        if (flip->id.empty()) Fail("Flipper " + name + " must have id");
        if (flip->state != "0" && flip->state != "1") {
            Fail("Flipper " + name + " must have state, 0 or 1");
        }
        const std::int32_t state = flip->state == "0" ? 0 : 1;
        table.flipList.push_back({group, state, flip->id});
        return state == 0;
    }
    if (const FlyRole* fly = std::get_if<FlyRole>(&entry.roles.motion)) {
        return fly->state.empty() || fly->state == "0";
    }
    if (const SlideRole* slide = std::get_if<SlideRole>(&entry.roles.motion)) {
        if (slide->id.empty()) Fail("Slider " + name + " must have id");
        if (slide->orientation != "axial" && slide->orientation != "fixed") {
            Fail("Slider " + name + " must have orientation - axial or fixed");
        }
        if (slide->map != "top" && slide->map != "middle" && slide->map != "bottom") {
            Fail("Slider " + name + " must have map - top, middle or bottom");
        }
        return true;
    }
    return false;
}

void ReadGroupTexts(GizmoRoles& table, std::span<const GroupRoleSource> groups) {
    table.groups.reserve(groups.size());
    for (const GroupRoleSource& source : groups) {
        GroupRoleEntry& entry = table.groups.emplace_back();
        entry.name = source.name;
        entry.members = source.members;
        entry.counts = !source.members.empty() && !source.parms.empty();
        if (entry.counts) entry.roles = ReadGroupRoles(source.parms);
    }
    for (std::size_t g = 0; g < table.groups.size(); ++g) {
        GroupRoleEntry& entry = table.groups[g];
        if (!entry.counts) continue;
        entry.makesObject = CheckGroup(table, static_cast<std::int32_t>(g));
        if (entry.makesObject) ++table.objectCount;
    }
    // Equal entries keep group order, so the pairing never depends on the sort.
    std::stable_sort(table.flipList.begin(), table.flipList.end(),
                     [](const FlipEntry& a, const FlipEntry& b) {
                         if (a.id != b.id) return a.id < b.id;
                         return a.state < b.state;
                     });
    table.flipIndex.assign(table.groups.size(), -1);
    for (std::size_t i = 0; i < table.flipList.size(); ++i) {
        table.flipIndex[static_cast<std::size_t>(table.flipList[i].group)] =
            static_cast<std::int32_t>(i);
    }
}

const GroupRoleEntry& GroupAt(const GizmoRoles& roles, std::int32_t group) {
    ORBELLE_CHECK(group >= 0 && static_cast<std::size_t>(group) < roles.groups.size());
    return roles.groups[static_cast<std::size_t>(group)];
}

std::int32_t SwapEaseInOut(std::int32_t ease) {
    if (ease == EaseIn) return EaseOut;
    if (ease == EaseOut) return EaseIn;
    return ease;
}

}  // namespace

GizmoRoles ReadGizmoRoles(std::span<const RoleText> objects,
                          std::span<const GroupRoleSource> groups,
                          std::span<const std::uint8_t* const> partRecords) {
    GizmoRoles table;
    ReadObjectTexts(table, objects, partRecords);
    CheckStage(table);
    ReadGroupTexts(table, groups);
    return table;
}

std::int32_t FindControlPart(std::span<const RoleText> members) {
    if (members.size() == 1) return members.front().part;
    for (const RoleText& member : members) {
        if (HasControlRole(member.text)) return member.part;
    }
    return -1;
}

FlipperRoles ResolveFlipper(const GizmoRoles& roles, std::int32_t group) {
    const GroupRoleEntry& entry = GroupAt(roles, group);
    const FlipRole* flip = std::get_if<FlipRole>(&entry.roles.motion);
    ORBELLE_CHECK(flip != nullptr && entry.makesObject);
    if (flip->id.empty()) Fail("Flipper " + entry.name + " must have id");

    // The second state is the entry right after this group's in the sorted flip list.
    const std::int32_t index = roles.flipIndex[static_cast<std::size_t>(group)];
    const auto next = static_cast<std::size_t>(index) + 1;
    if (index < 0 || next >= roles.flipList.size() || roles.flipList[next].id != flip->id ||
        roles.flipList[next].state != 1 || roles.flipList[next].group == group) {
        Fail("Flipper " + entry.name + " must have second state");
    }
    FlipperRoles result;
    result.secondGroup = roles.flipList[next].group;
    const GroupRoleEntry& second = GroupAt(roles, result.secondGroup);
    const FlipRole& secondFlip = std::get<FlipRole>(second.roles.motion);

    result.controlPart = FindControlPart(entry.members);
    if (result.controlPart < 0) Fail("Flipper " + entry.name + " must have Control object");
    result.secondControlPart = FindControlPart(second.members);
    if (result.secondControlPart < 0) Fail("Flipper " + second.name + " must have Control object");

    result.goEase = flip->ease;
    result.returnEase = SwapEaseInOut(secondFlip.ease);
    result.goTime = flip->time;
    result.returnTime = secondFlip.time;
    result.forAndBack = flip->forAndBack;
    result.mouseActivated = flip->mouseActivated;
    result.keyBits = flip->keyBits;
    result.collisionActivated = flip->collisionActivated;
    result.activated = result.mouseActivated || result.keyBits != 0 || result.collisionActivated;
    return result;
}

SliderRoles ResolveSlider(const GizmoRoles& roles, std::int32_t group) {
    const GroupRoleEntry& entry = GroupAt(roles, group);
    const SlideRole* slide = std::get_if<SlideRole>(&entry.roles.motion);
    ORBELLE_CHECK(slide != nullptr && entry.makesObject);
    SliderRoles result;
    result.controlPart = FindControlPart(entry.members);
    if (result.controlPart < 0) Fail("Slider " + entry.name + " must have Control object");
    const auto guide = std::find_if(roles.guides.begin(), roles.guides.end(),
                                    [&](const GuideEntry& g) { return g.id == slide->id; });
    if (guide == roles.guides.end()) {
        Fail("Slider " + entry.name + " must have a guide object with matching id");
    }
    result.guidePart = guide->part;
    result.axial = slide->orientation == "axial";
    result.map = SlideMapCode(slide->map);
    result.rotSnap = slide->rotSnap;
    result.mousePixels = slide->mousePixels;
    result.invertFirst = slide->invertFirst;
    result.invertSecond = slide->invertSecond;
    return result;
}

std::int32_t ResolveFlyerControl(const GizmoRoles& roles, std::int32_t group) {
    const GroupRoleEntry& entry = GroupAt(roles, group);
    ORBELLE_CHECK(std::holds_alternative<FlyRole>(entry.roles.motion) && entry.makesObject);
    return FindControlPart(entry.members);
}

void CheckSliderSetUp(std::string_view groupName, std::int32_t result) {
    const std::string name(groupName);
    if (result == -1) Fail("Slider " + name + "'s axis does not go through its guiding object");
    if (result == -2) {
        Fail("Slider " + name +
             "'s axis is not perpendicular to the surface of its guiding object");
    }
}
