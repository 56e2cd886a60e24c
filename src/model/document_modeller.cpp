#include "model/document_modeller.h"

namespace {

DocumentModellerMaker& MakerSlot() {
    static DocumentModellerMaker maker = nullptr;
    return maker;
}

}  // namespace

void SetDocumentModellerMaker(DocumentModellerMaker maker) { MakerSlot() = maker; }

DocumentModellerMaker GetDocumentModellerMaker() { return MakerSlot(); }
