#pragma once

// The gizmo role language. A gizmo is an ordinary scene whose objects and groups carry game
// roles, written as small XML documents into texts the scene already stores: an object's name
// (the object text; also the member text of a group's member) and a group's parameter text
// (the group text). This unit reads one such text into a record of the roles it holds; the
// role table (gizmo_role_table.h) combines the records of a whole scene and checks them.
//
// How a text is read, the same for all three kinds:
// - The whole text is one XML document. An empty text, or one that does not parse, holds no
//   roles; neither is an error.
// - The first element of the document, whatever its name, is the root; roles are its
//   children, with case-sensitive names.
// - Roles are searched for in a fixed order, each search starting after the element the
//   previous successful search found. A role written before one that comes earlier in the
//   order is therefore not seen (a "Game" written after "Collide" in an object text is
//   missed), and each role is read at most once.
// - An absent attribute reads as empty text. Integers are read as atoi reads them and reals
//   as atof does; a number whose text is empty keeps its default. Yes/no values compare the
//   whole text with "yes" (and "no" where a value may be switched off); anything else
//   counts as not given.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

// "Collide": the part's friction and energy loss in collisions; absent values leave the part
// record's own.
struct CollideRole {
    std::optional<double> friction;
    std::optional<double> loss;
};

// "Stage": the gizmo's stage part and the settings the gizmo gives the player. The five
// overrides are -1 when not given; the yes/no ones are 1 for "yes" and 0 for "no".
struct StageRole {
    std::optional<double> gravity;  // as written; the world falls at minus this
    std::string gravityText;        // the attribute's text, kept for a missing "fileID"
    std::string fileID;             // as written, possibly empty
    bool invisible = false;
    std::optional<std::int32_t> compatibility;
    std::int32_t overrideGameMode = -1;
    std::int32_t overrideEndTime = -1;
    std::int32_t overrideEndScore = -1;
    std::int32_t overrideTimeVal = -1;
    std::int32_t overrideScoreVal = -1;
};

// The roles of one object text, in reading order.
struct ObjectRoles {
    std::optional<CollideRole> collide;
    bool invisible = false;                   // "Invisible": not drawn, still collides
    bool nonCollis = false;                   // "NonCollis": takes no part in collisions
    std::optional<std::int32_t> collisReset;  // "Game": the part's collision bits
    std::optional<std::string> guideId;       // "Guide": its "id", possibly empty
    std::optional<StageRole> stage;
    bool ceiling = false;  // "Ceiling"
};

// Which of the roles that only their first holder keeps are still looked for. A role that is
// not looked for does not move the search either, so a later role is found as if it were
// absent.
struct ObjectRoleWants {
    bool stage = true;
    bool ceiling = true;
};

// Reads the roles of an object text. Never fails: a text without roles gives an empty
// record.
ObjectRoles ReadObjectRoles(std::string_view text, ObjectRoleWants wants = {});

// "Game" in a group text: the scoring, reset and sound settings of the group's object.
// Sound names are empty when not given.
struct GameRole {
    std::int32_t scoreMult = 0;
    std::int32_t scoreVal = 0;
    std::int32_t collisReset = 0;
    std::int32_t keyReset = 0;
    std::string sound;
    std::string scoreSound;
};

// "Flip": one state group of a flipper. The triggers and "ForAndBack" count only in the
// state "0" group.
struct FlipRole {
    std::string id;
    std::string state;      // "0" or "1" when valid
    std::int32_t ease = 0;  // the "motion" as an easing code
    double time = 1.0;      // seconds
    bool forAndBack = false;
    bool mouseActivated = false;      // "UserActivated" "mouse"
    std::int32_t keyBits = 0;         // "UserActivated" "key"
    bool collisionActivated = false;  // "CollisionActivated"
};

// "Fly": the group is a flyer when its state is empty or "0".
struct FlyRole {
    std::string state;
};

// "Slide": a slider guided by the "Guide" part of the same id. The two inversion flags come
// from "invMouseNear" and "invMouseFar" for a "top" or "bottom" map, and from
// "invMouseCirc" and "invMouseAxial" for any other.
struct SlideRole {
    std::string id;
    std::string orientation;  // "axial" or "fixed" when valid
    std::string map;          // "top", "middle" or "bottom" when valid
    std::int32_t rotSnap = 0;
    double mousePixels = 80.0;
    bool invertFirst = false;
    bool invertSecond = false;
};

// The roles of one group text: an optional "Game" and at most one motion. "Flip" is looked
// for first, then "Fly", then "Slide"; "Game" must come before the motion, which is
// otherwise not seen.
struct GroupRoles {
    std::optional<GameRole> game;
    std::variant<std::monostate, FlipRole, FlyRole, SlideRole> motion;
};

// Reads the roles of a group text. Never fails: a text without roles gives an empty record.
GroupRoles ReadGroupRoles(std::string_view text);

// True when the member text holds "Control".
bool HasControlRole(std::string_view text);

// The easing code of a "motion" text: 1 "EaseIn", 2 "EaseOut", 3 "EaseInOut", 0 (linear)
// for anything else.
std::int32_t EaseCodeFromText(std::string_view motion);

// The map code of a slider: 1 for "top", -1 for "bottom", 0 for anything else.
std::int32_t SlideMapCode(std::string_view map);
