#include "model/q_group.h"

#include "core/float_convert.h"

QGroup::QGroup(std::string_view groupName) : name(groupName) { typeId = TypeIdGroup; }

QGroup::~QGroup() { Broadcast(this, MessageDestroyed, 0); }

bool QGroup::IsSelectedWhole() const { return (TruncToInt32(kind) & 3) == 0; }

bool QGroup::HasOwnFrame() const { return (RoundToInt32(kind) & 3) == 0; }
