#include "model/document_view.h"

#include "model/q_document_base.h"

DocumentView::DocumentView(QDocumentBase* owner) : document(owner) {
    if (document != nullptr) document->SetRenderView(this);
}

DocumentView::~DocumentView() {
    // A document left pointing at a destroyed view would hand it to the next select-bot
    // event.
    if (document != nullptr && document->RenderView() == this) document->SetRenderView(nullptr);
}
