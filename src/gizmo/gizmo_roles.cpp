#include "gizmo/gizmo_roles.h"

#include "core/number_text.h"
#include "core/xml_document.h"
#include "gizmo/preset_motion.h"

namespace {

// One role text, positioned inside its root. Every search starts after the element the last
// successful one found; a failed search leaves the position where it was.
class RoleReader {
public:
    explicit RoleReader(std::string_view text) : document(text) {
        const ElementPosition* top = document.Element(0);
        if (top == nullptr || top->firstChild == 0) return;
        if ((top->flags & DocumentNotWellFormed) != 0) return;
        entered = document.FindElement(document.GetElementName(top->firstChild)) &&
                  document.EnterElement();
    }

    bool Find(std::string_view name) { return entered && document.FindElement(name); }

    // Steps into the element just found, so that its children are searched next.
    void Enter() { document.EnterElement(); }
    void Leave() { document.LeaveElement(); }

    std::string Text(std::string_view name) const { return document.GetAttribute(name); }

    bool IsYes(std::string_view name) const { return Text(name) == "yes"; }

    // The value is kept when the attribute's text is empty.
    void ReadInt(std::string_view name, std::int32_t& value) const {
        const std::string text = Text(name);
        if (!text.empty()) value = TextToInt32(text);
    }
    void ReadReal(std::string_view name, double& value) const {
        const std::string text = Text(name);
        if (!text.empty()) value = TextToDouble(text);
    }
    std::optional<double> OptionalReal(std::string_view name) const {
        const std::string text = Text(name);
        if (text.empty()) return std::nullopt;
        return TextToDouble(text);
    }
    std::optional<std::int32_t> OptionalInt(std::string_view name) const {
        const std::string text = Text(name);
        if (text.empty()) return std::nullopt;
        return TextToInt32(text);
    }

    // 1 for "yes", 0 for "no"; anything else keeps the value.
    void ReadYesNo(std::string_view name, std::int32_t& value) const {
        const std::string text = Text(name);
        if (text == "yes") value = 1;
        if (text == "no") value = 0;
    }

private:
    XmlDocument document;
    bool entered = false;
};

StageRole ReadStage(const RoleReader& reader) {
    StageRole stage;
    stage.gravityText = reader.Text("gravity");
    stage.gravity = reader.OptionalReal("gravity");
    stage.fileID = reader.Text("fileID");
    stage.invisible = reader.IsYes("invisible");
    stage.compatibility = reader.OptionalInt("compatibility");
    reader.ReadYesNo("gameMode", stage.overrideGameMode);
    reader.ReadYesNo("endTime", stage.overrideEndTime);
    reader.ReadYesNo("endScore", stage.overrideEndScore);
    reader.ReadInt("timeVal", stage.overrideTimeVal);
    reader.ReadInt("scoreVal", stage.overrideScoreVal);
    return stage;
}

GameRole ReadGame(const RoleReader& reader) {
    GameRole game;
    reader.ReadInt("scoreMult", game.scoreMult);
    reader.ReadInt("scoreVal", game.scoreVal);
    reader.ReadInt("collisReset", game.collisReset);
    reader.ReadInt("keyReset", game.keyReset);
    game.sound = reader.Text("sound");
    game.scoreSound = reader.Text("scoreSound");
    return game;
}

FlipRole ReadFlip(RoleReader& reader) {
    FlipRole flip;
    flip.id = reader.Text("id");
    flip.state = reader.Text("state");
    flip.ease = EaseCodeFromText(reader.Text("motion"));
    reader.ReadReal("time", flip.time);
    flip.forAndBack = reader.IsYes("ForAndBack");
    reader.Enter();
    if (reader.Find("UserActivated")) {
        flip.mouseActivated = reader.IsYes("mouse");
        reader.ReadInt("key", flip.keyBits);
    }
    flip.collisionActivated = reader.Find("CollisionActivated");
    reader.Leave();
    return flip;
}

SlideRole ReadSlide(const RoleReader& reader) {
    SlideRole slide;
    slide.id = reader.Text("id");
    slide.orientation = reader.Text("orientation");
    slide.map = reader.Text("map");
    reader.ReadInt("rotSnap", slide.rotSnap);
    reader.ReadReal("mousePixels", slide.mousePixels);
    const bool planar = SlideMapCode(slide.map) != 0;
    slide.invertFirst = reader.IsYes(planar ? "invMouseNear" : "invMouseCirc");
    slide.invertSecond = reader.IsYes(planar ? "invMouseFar" : "invMouseAxial");
    return slide;
}

}  // namespace

ObjectRoles ReadObjectRoles(std::string_view text, ObjectRoleWants wants) {
    ObjectRoles roles;
    if (text.empty()) return roles;
    RoleReader reader(text);
    if (reader.Find("Collide")) {
        roles.collide = CollideRole{reader.OptionalReal("friction"), reader.OptionalReal("loss")};
    }
    roles.invisible = reader.Find("Invisible");
    roles.nonCollis = reader.Find("NonCollis");
    if (reader.Find("Game")) roles.collisReset = reader.OptionalInt("collisReset");
    if (reader.Find("Guide")) roles.guideId = reader.Text("id");
    if (wants.stage && reader.Find("Stage")) roles.stage = ReadStage(reader);
    roles.ceiling = wants.ceiling && reader.Find("Ceiling");
    return roles;
}

GroupRoles ReadGroupRoles(std::string_view text) {
    GroupRoles roles;
    if (text.empty()) return roles;
    RoleReader reader(text);
    if (reader.Find("Game")) roles.game = ReadGame(reader);
    if (reader.Find("Flip")) {
        roles.motion = ReadFlip(reader);
    } else if (reader.Find("Fly")) {
        roles.motion = FlyRole{reader.Text("state")};
    } else if (reader.Find("Slide")) {
        roles.motion = ReadSlide(reader);
    }
    return roles;
}

bool HasControlRole(std::string_view text) {
    if (text.empty()) return false;
    RoleReader reader(text);
    return reader.Find("Control");
}

std::int32_t EaseCodeFromText(std::string_view motion) {
    if (motion == "EaseIn") return EaseIn;
    if (motion == "EaseOut") return EaseOut;
    if (motion == "EaseInOut") return EaseInOut;
    return EaseLinear;
}

std::int32_t SlideMapCode(std::string_view map) {
    if (map == "top") return 1;
    if (map == "bottom") return -1;
    return 0;
}
