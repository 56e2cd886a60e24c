#pragma once

// DragRedrawCache keeps, during a drag, the picture of everything the edit does not touch,
// so that each step re-renders only the edited objects or the changed background layer. The
// document's mouse action owns one.
//
// For now the cache holds its state: the view and document it serves, its mode, the id sets
// of the edit and the copy of the view settings it was built with. Building, updating and
// invalidating the kept picture join it with the renderer.

#include "core/id_set.h"
#include "core/private_block.h"
#include "model/view_settings.h"

#include <cstdint>

class QDocumentBase;
class QRenderView;

class DragRedrawCache {
public:
    // An inactive cache of mode 0 for document, with empty id sets.
    explicit DragRedrawCache(QDocumentBase* owner);

    DragRedrawCache(const DragRedrawCache&) = delete;
    DragRedrawCache& operator=(const DragRedrawCache&) = delete;

    // On an active cache, without a redraw: inactive and not ready, with the edit's id sets
    // (edited, current, saved, saved edited, changed) emptied. An inactive cache is left as it
    // is.
    void Invalidate();

    QRenderView* view = nullptr;
    QDocumentBase* document = nullptr;
    std::int32_t mode = 0;
    std::uint8_t active = 0;
    IdSet editedIds;
    IdSet currentIds;
    IdSet savedIds;
    IdSet savedEditedIds;
    PrivateBlockPtr<std::uint8_t> storedBuffer;
    IdSet changedIdsA;
    IdSet changedIdsB;
    IdSet changedIds;
    IdSet markedIds;
    IdSet fifthIds;
    std::uint8_t redrawn = 0;
    std::uint8_t ready = 0;
    ViewSettings viewSettings;
};
