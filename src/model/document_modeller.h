#pragma once

// DocumentModeller is the modeller's part of a scene document: the mouse action that keeps the
// modeller's tool state between events. The modeller lives above the document, so it registers
// a maker here; a document made while a maker is registered owns what it makes, and a document
// made without one (the player's) has no modeller part.

#include <memory>

class QDocumentBase;
class QMorvanObject;
class QToadObj;

class DocumentModeller {
public:
    virtual ~DocumentModeller() = default;

    // Hands a restored bot to the modeller's select-bot command; the bot list calls it when a
    // bot comes back while the document has no current bot.
    virtual void SelectBot(QToadObj& bot) = 0;

    // The object the mouse is dragging, which a full render of the scene leaves out (the drag
    // draws it over the picture of the rest); null when none.
    virtual QMorvanObject* DraggedObject() const { return nullptr; }
};

// Makes the modeller part of a new document. Throws KVOutOfMemoryException.
using DocumentModellerMaker = std::unique_ptr<DocumentModeller> (*)(QDocumentBase& document);

// Registers the maker that new documents use (null for none); the modeller's start-up calls
// it.
void SetDocumentModellerMaker(DocumentModellerMaker maker);

// The registered maker; null when none is registered.
DocumentModellerMaker GetDocumentModellerMaker();
