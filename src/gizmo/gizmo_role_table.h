#pragma once

// The roles of a whole gizmo, read from its scene's texts and checked. The loader collects
// the texts (every object's name in the document's object order, and for each group its
// name, its members with their names, and its parameter text) and reads them here in one
// pass; the table then holds everything the loader builds from. The role checks raise the
// system's messages in the order the load meets them:
//
// 1. object texts in object order: a "Guide" without an id, or on a part of a shape that
//    cannot guide;
// 2. the stage: none at all, a version level above 2, no identifier to be had;
// 3. group texts in group order: a flipper without id or a valid state, a slider without id,
//    orientation or map.
//
// The checks that belong to building one object — a flipper's second state and control
// parts, a slider's control part and guide — are made by ResolveFlipper, ResolveSlider and
// ResolveFlyerControl when the loader builds that object, so that a failure in one group is
// raised before anything in a later group is looked at. Every failure throws
// GizmoLoadException with the message.
//
// Each group text is read once, and both the object count and the objects the loader builds
// come from that one reading: a text whose "Game" follows its motion element holds no motion
// for either, so the count never promises an object that is not built.

#include "gizmo/gizmo_roles.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// A text with the part it belongs to (a part index of the scene geometry).
struct RoleText {
    std::int32_t part = -1;
    std::string text;
};

// One group of the scene as the loader collects it.
struct GroupRoleSource {
    std::string name;
    std::string parms;
    std::vector<RoleText> members;  // in member order
};

// The roles of one object text.
struct ObjectRoleEntry {
    std::int32_t part = -1;
    bool hasText = false;  // the text is not empty
    ObjectRoles roles;
};

// A part whose text holds "Guide", with the guide's id.
struct GuideEntry {
    std::int32_t part = -1;
    std::string id;
};

// A group with "Flip": the flip list sorted by id (bytewise), then state, pairs the two
// state groups of each flipper.
struct FlipEntry {
    std::int32_t group = -1;
    std::int32_t state = 0;
    std::string id;
};

// One group with the roles of its text. A group counts only when it has members and a
// non-empty parameter text; the roles of one that does not count are empty.
struct GroupRoleEntry {
    std::string name;
    std::vector<RoleText> members;
    bool counts = false;
    bool makesObject = false;  // a flipper's state "0", a flyer, or a slider
    GroupRoles roles;
};

struct GizmoRoles {
    std::vector<ObjectRoleEntry> objects;  // one per object text, in the given order
    std::int32_t stagePart = -1;           // the first object with "Stage"
    StageRole stage;
    std::string fileID;                   // the stage's identifier of the gizmo
    double gravity = -10.0;               // the world's: minus the stage's "gravity"
    std::int32_t ceilingPart = -1;        // the first object with "Ceiling"
    std::vector<GuideEntry> guides;       // in object order
    std::vector<GroupRoleEntry> groups;   // one per group, in the given order
    std::vector<FlipEntry> flipList;      // sorted
    std::vector<std::int32_t> flipIndex;  // per group: its entry in flipList, -1 = none
    std::int32_t objectCount = 0;         // groups that make an object
};

// The version level of the player: a stage that asks for a higher one is refused.
inline constexpr std::int32_t GizmoCompatibilityLevel = 2;

// Reads and checks every role of the scene. partRecords holds the part record of each part
// index (the guide check reads shape types and parameters). Throws GizmoLoadException with
// the message of the first failed check.
GizmoRoles ReadGizmoRoles(std::span<const RoleText> objects,
                          std::span<const GroupRoleSource> groups,
                          std::span<const std::uint8_t* const> partRecords);

// The control part of a group: the only member of a one-member group, else the first member
// whose text holds "Control"; -1 when there is none.
std::int32_t FindControlPart(std::span<const RoleText> members);

// What the loader builds a flipper from.
struct FlipperRoles {
    std::int32_t secondGroup = -1;  // the state "1" group
    std::int32_t controlPart = -1;
    std::int32_t secondControlPart = -1;
    std::int32_t goEase = 0;
    std::int32_t returnEase = 0;  // the second state's easing, EaseIn and EaseOut exchanged
    double goTime = 1.0;
    double returnTime = 1.0;
    bool forAndBack = false;
    bool mouseActivated = false;
    std::int32_t keyBits = 0;
    bool collisionActivated = false;
    bool activated = false;  // any of the three triggers
};

// The flipper of a state "0" group: its second state is the next entry of the flip list,
// which must be a state "1" group of the same id; both groups need a control part. Throws
// GizmoLoadException when either is missing.
FlipperRoles ResolveFlipper(const GizmoRoles& roles, std::int32_t group);

// What the loader builds a slider from.
struct SliderRoles {
    std::int32_t controlPart = -1;
    std::int32_t guidePart = -1;  // the first guide with the slider's id
    bool axial = false;           // "orientation" is "axial"
    std::int32_t map = 0;         // 1 top, 0 middle, -1 bottom
    std::int32_t rotSnap = 0;
    double mousePixels = 80.0;
    bool invertFirst = false;
    bool invertSecond = false;
};

// The slider of a "Slide" group. Throws GizmoLoadException when it has no control part or no
// guide of its id.
SliderRoles ResolveSlider(const GizmoRoles& roles, std::int32_t group);

// The control part of a flyer group, -1 when it has none (a flyer needs none).
std::int32_t ResolveFlyerControl(const GizmoRoles& roles, std::int32_t group);

// Raises the failure of a slider's guide set-up: its result -1 (the axis misses the guide)
// or -2 (the axis meets the guide at an angle) throws GizmoLoadException naming the group;
// any other result returns.
void CheckSliderSetUp(std::string_view groupName, std::int32_t result);
