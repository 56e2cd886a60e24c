#include "object/operation_progress.h"

namespace {

OperationProgress*& CurrentProgressSlot() {
    static OperationProgress* current = nullptr;
    return current;
}

}  // namespace

OperationProgress* CurrentOperationProgress() { return CurrentProgressSlot(); }

void SetCurrentOperationProgress(OperationProgress* progress) { CurrentProgressSlot() = progress; }
