#pragma once

// QRenderView is the render view of a document: it draws the document's scene and keeps the
// settings it is seen with. The view and its document refer to each other; the view
// registers itself as the document's render view and withdraws when it is destroyed.
//
// For now the view holds its document and view settings; the renderer, its buffers and the
// camera operations join it with the renderer.

#include "model/view_settings.h"

class QDocumentBase;

class QRenderView {
public:
    // A view of document (may be null) with default view settings; becomes the document's
    // render view.
    explicit QRenderView(QDocumentBase* owner);

    // Stops being its document's render view when it still is.
    ~QRenderView();

    QRenderView(const QRenderView&) = delete;
    QRenderView& operator=(const QRenderView&) = delete;

    QDocumentBase* Document() const { return document; }

    // Forgets the document; the document calls it when it is destroyed before its view.
    void DetachDocument() { document = nullptr; }

    ViewSettings viewSettings;

private:
    QDocumentBase* document = nullptr;
};
