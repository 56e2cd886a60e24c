#include "gizmo/process_settings.h"

#include "core/operation_log.h"

#include <memory>

namespace {

std::unique_ptr<ProcessSettings>& Slot() {
    static std::unique_ptr<ProcessSettings> settings;
    return settings;
}

}  // namespace

ProcessSettings* CurrentProcessSettings() { return Slot().get(); }

ProcessSettings& CreateProcessSettings() {
    auto& slot = Slot();
    if (!slot) {
        slot = std::make_unique<ProcessSettings>();
        OperationLogSetSwitch(&slot->loggingSwitch);
    }
    return *slot;
}

void DeleteProcessSettings() {
    OperationLogSetSwitch(nullptr);
    Slot().reset();
}
