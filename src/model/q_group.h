#pragma once

// QGroup is a named group of scene objects. Its members are the objects registered on it
// (set 0): its alive referrers of type id 1. The document's group list owns the groups.

#include "object/q_reference_object.h"

#include <string>
#include <string_view>

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

private:
    std::string text;  // the parameter text
    std::string name;
};
