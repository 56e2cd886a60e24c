#include "render/q_render_view.h"

#include "model/q_document_base.h"

QRenderView::QRenderView(QDocumentBase* owner) : document(owner) {
    if (document != nullptr) document->SetRenderView(this);
}

QRenderView::~QRenderView() {
    // A document left pointing at a destroyed view would hand it to the next select-bot
    // event.
    if (document != nullptr && document->RenderView() == this) document->SetRenderView(nullptr);
}
