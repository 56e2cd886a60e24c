#pragma once

// A view made on a document becomes the document's render view; a DocumentViewKept puts the
// document's own view back when it goes, also when an exception passes, so a temporary view
// leaves the document as it found it.

#include "model/q_document_base.h"

class DocumentViewKept {
public:
    explicit DocumentViewKept(QDocumentBase& owner) : document(owner), kept(owner.RenderView()) {}
    ~DocumentViewKept() { document.SetRenderView(kept); }
    DocumentViewKept(const DocumentViewKept&) = delete;
    DocumentViewKept& operator=(const DocumentViewKept&) = delete;

private:
    QDocumentBase& document;
    DocumentView* kept = nullptr;
};
