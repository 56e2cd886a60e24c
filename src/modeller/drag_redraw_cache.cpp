#include "modeller/drag_redraw_cache.h"

DragRedrawCache::DragRedrawCache(QDocumentBase* owner) : document(owner) {}

void DragRedrawCache::Invalidate() {
    if (active == 0) return;
    active = 0;
    ready = 0;
    for (IdSet* set : {&editedIds, &currentIds, &savedIds, &savedEditedIds, &changedIds}) {
        *set = IdSet();
    }
}
