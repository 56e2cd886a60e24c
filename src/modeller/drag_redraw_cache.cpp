#include "modeller/drag_redraw_cache.h"

DragRedrawCache::DragRedrawCache(QDocumentBase* owner) : document(owner) {}
