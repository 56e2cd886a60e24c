#include "object/q_state.h"

#include "core/check.h"
#include "object/undo_history.h"

QState::QState() {
    UndoHistory* history = CurrentUndoHistory();
    ORBELLE_CHECK(history != nullptr);
    typeId = TypeIdUndoState;
    undoStepHistory.push_back(history->StepNumber());
}
