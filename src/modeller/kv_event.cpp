#include "modeller/kv_event.h"

#include "modeller/q_kv_action.h"
#include "view/q_render_view.h"

void KVEvent::InitToolChange(QRenderView* toolView) {
    type = EventToolChange;
    view = toolView;
    if (toolView != nullptr) viewSettings.CopyFrom(toolView->viewSettings);
}
