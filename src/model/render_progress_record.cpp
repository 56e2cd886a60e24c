#include "model/render_progress_record.h"

void ClearRenderFlags(RenderProgressRecord& record) {
    record.stage = 0;
    record.percentage = 0;
    record.flagBytes = {};
}
