// The modeller's event entry: QKVAction::HandleEvent sorts events by type between the
// command dispatcher and the tool handler.

#include "core/operation_log.h"
#include "modeller/drag_redraw_cache.h"
#include "modeller/kv_event.h"
#include "modeller/q_kv_action.h"

#include <string>

namespace {

// Event types by receiver.
constexpr std::int32_t FirstToolType = 1;
constexpr std::int32_t LastToolType = 30;
constexpr std::int32_t FirstCommandType = 31;
constexpr std::int32_t LastCommandType = 200;
constexpr std::int32_t FirstLateToolType = 201;
constexpr std::int32_t LastLateToolType = 250;

// The command dispatcher: logs the command and runs the commands built so far.
std::int32_t DispatchCommand(QKVAction& action, const KVEvent& event) {
    AppendToLogFile("CommandEvent: theEvent.type=" + std::to_string(event.type) + "\n");
    switch (event.type) {
        case EventKeyDown:
            return action.KeyDown(event);
        case EventKeyUp:
            return action.KeyUp(event);
        default:
            return 0;
    }
}

}  // namespace

std::int32_t QKVAction::HandleEvent(KVEvent* event) {
    if (event == nullptr) return 0;
    const std::int32_t type = event->type;
    const bool isTool = (type >= FirstToolType && type <= LastToolType) ||
                        (type >= FirstLateToolType && type <= LastLateToolType);
    const bool isCommand = type >= FirstCommandType && type <= LastCommandType;
    if (!isTool && !isCommand) return 0;

    view = event->view;
    if (redrawCache) redrawCache->view = event->view;
    if (isCommand) return DispatchCommand(*this, *event);
    return 0;
}
