#pragma once

// QGroup is a named group of scene objects. Its members are the objects registered on it
// (set 0): its alive referrers of type id 1. The document's group list owns the groups.
//
// A group's kind decides how its members are handled in the modeller: a loose group (the
// default) is only a name its members share; a whole group is handled as one piece, so a
// click or a lasso on any member selects all of them, and the transform tools show the
// group's own axes (its orientation) while its members alone are selected. The kind is held
// as a number whose two low bits are clear for a whole group.

#include "core/matrix3.h"
#include "core/matrix4.h"
#include "object/q_reference_object.h"

#include <string>
#include <string_view>

// Kinds of a group (QGroup::GetKind).
inline constexpr float GroupKindWhole = 0.0f;
inline constexpr float GroupKindLoose = 1.0f;

class QGroup : public QReferenceObject {
public:
    // Type id 8 with the given name.
    explicit QGroup(std::string_view groupName);

    // Broadcasts message 0.
    ~QGroup() override;

    QGroup(const QGroup&) = delete;
    QGroup& operator=(const QGroup&) = delete;

    std::string GetName() const { return name; }

    // Sets the name as given; QGroups::RenameGroup keeps names unique.
    void SetName(std::string_view groupName) { name = groupName; }

    // The group's parameter text (a small XML text the gizmo roles are written in), as the
    // scene file gave it.
    const std::string& GetParms() const { return text; }
    void SetParms(std::string_view parms) { text = parms; }

    // The kind as a number: 0 a whole group, 1 a loose one.
    float GetKind() const { return kind; }
    void SetKind(float value) { kind = value; }

    // True when a click or a lasso on a member takes the whole group: the kind, truncated,
    // has both low bits clear.
    bool IsSelectedWhole() const;

    // True when the transform tools turn the group's members in the group's own frame: the
    // kind, rounded, has both low bits clear.
    bool HasOwnFrame() const;

    // The group's placement; its 3x3 part is the group's orientation. Identity at first.
    const Matrix4& GetTransform() const { return transform; }
    void SetTransform(const Matrix4& value) { transform = value; }
    Matrix3 GetOrientation() const { return Matrix3FromMatrix4(transform); }

private:
    std::string text;  // the parameter text
    std::string name;
    float kind = GroupKindLoose;
    Matrix4 transform{};  // identity
};
