#include "model/q_group.h"

QGroup::QGroup(std::string_view groupName) : name(groupName) { typeId = TypeIdGroup; }

QGroup::~QGroup() { Broadcast(this, MessageDestroyed, 0); }
