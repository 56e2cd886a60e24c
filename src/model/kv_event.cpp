#include "model/kv_event.h"

#include "model/q_kv_action.h"
#include "render/q_render_view.h"

void KVEvent::InitToolChange(QRenderView* toolView) {
    type = EventToolChange;
    view = toolView;
    if (toolView != nullptr) viewSettings.CopyFrom(toolView->viewSettings);
}
