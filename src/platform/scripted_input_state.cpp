#include "platform/scripted_input_state.h"

bool ScriptedInputState::IsKeyHeld(std::int32_t virtualKey) {
    return virtualKey >= 0 && virtualKey < static_cast<std::int32_t>(held.size()) &&
           held[static_cast<std::size_t>(virtualKey)];
}

bool ScriptedInputState::HasPendingLeftButtonDown() {
    ++peekCount;
    return queuedAfter >= 0 && peekCount > queuedAfter;
}

void ScriptedInputState::HoldKey(std::int32_t virtualKey) {
    if (virtualKey >= 0 && virtualKey < static_cast<std::int32_t>(held.size())) {
        held[static_cast<std::size_t>(virtualKey)] = true;
    }
}

void ScriptedInputState::ReleaseKey(std::int32_t virtualKey) {
    if (virtualKey >= 0 && virtualKey < static_cast<std::int32_t>(held.size())) {
        held[static_cast<std::size_t>(virtualKey)] = false;
    }
}

void ScriptedInputState::QueueLeftButtonDownAfterPeeks(std::int32_t peeks) {
    queuedAfter = peekCount + (peeks < 0 ? 0 : peeks);
}

void ScriptedInputState::ClearQueue() { queuedAfter = -1; }
