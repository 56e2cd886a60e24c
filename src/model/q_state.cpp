#include "model/q_state.h"

#include "core/check.h"
#include "model/q_document_base.h"

QState::QState() {
    QDocumentBase* document = CurrentDocument();
    ORBELLE_CHECK(document != nullptr);
    typeId = TypeIdUndoState;
    undoStepHistory.push_back(document->UndoStepNumber());
}
