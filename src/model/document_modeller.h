#pragma once

// DocumentModeller is the modeller's part of a scene document: the mouse action that keeps the
// modeller's tool state between events. The modeller lives above the document, so it registers
// a maker here; a document made while a maker is registered owns what it makes, and a document
// made without one (the player's) has no modeller part.

#include <cstdint>
#include <memory>

class QDocumentBase;
class QMorvanObject;
class QToadObj;

// What the render view's object-axis arrows follow of the modeller's tools: the tool word
// (its low 24 bits the current tool id) and, per tool, the axes it acts on and the frame it
// acts in. An axis choice is 0 (all three axes) or 1, 2, 3 (axis 0, 1 or 2 alone); a frame
// mode 0 (the view's axes), 1 (the world's) or 2 (the object's); an axis mask holds bits 0, 1
// and 2 for axes 0, 1 and 2.
struct AxisToolSettings {
    std::int32_t toolWord = 103;
    std::int32_t tool102AxisChoice = 0;
    std::int32_t tool102FrameMode = 0;
    std::int32_t tool103AxisMask = 0;
    std::int32_t tool103FrameMode = 0;
    std::int32_t tool104AxisChoice = 0;
};

class DocumentModeller {
public:
    virtual ~DocumentModeller() = default;

    // Hands a restored bot to the modeller's select-bot command; the bot list calls it when a
    // bot comes back while the document has no current bot.
    virtual void SelectBot(QToadObj& bot) = 0;

    // The object the mouse is dragging, which a full render of the scene leaves out (the drag
    // draws it over the picture of the rest); null when none.
    virtual QMorvanObject* DraggedObject() const { return nullptr; }

    // The tool settings the object-axis arrows follow.
    virtual AxisToolSettings AxisTools() const { return {}; }

    // True when the selection tool (105) is the primary or the temporary tool; it lets the
    // view mark a selection while the highlight switch is off.
    virtual bool IsTool105Active() const { return false; }

    // Throws away the picture the drag redraw cache keeps, without drawing: the view is about
    // to render in a way the cache did not see (a render into another buffer).
    virtual void InvalidateDragRedraw() {}
};

// Makes the modeller part of a new document. Throws KVOutOfMemoryException.
using DocumentModellerMaker = std::unique_ptr<DocumentModeller> (*)(QDocumentBase& document);

// Registers the maker that new documents use (null for none); the modeller's start-up calls
// it.
void SetDocumentModellerMaker(DocumentModellerMaker maker);

// The registered maker; null when none is registered.
DocumentModellerMaker GetDocumentModellerMaker();
