#pragma once

// QDocumentBase is the scene document: the one object that owns what a scene holds and
// records its undo history.
//
// The undo history is kept per user operation (a step). The change list holds one element per
// recorded entry: an object stands once for each existence entry in its histories, an undo
// state once. Every new step ages the entries by one; an entry five steps old is forgotten,
// and forgetting a deletion destroys the deleted object for good, forgetting a step destroys
// its undo states. The document owns the undo states and the deleted objects of its change
// list. An object destroyed elsewhere while it stands in a change list leaves that list at
// once, so the list never holds freed memory.

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "model/q_reference_object.h"

// Argument of message 7 from the document: the undo history changed.
inline constexpr std::int32_t DocumentChangeUndoHistory = 13;

// Number of steps the undo history covers, and of operation names kept.
inline constexpr std::int32_t UndoStepLimit = 5;

class QDocumentBase : public QReferenceObject {
public:
    // Type id 13, empty undo history, undo-step number 0.
    QDocumentBase();

    // Destroys the undo states and deleted objects of the change list, stops being the
    // current document, then broadcasts message 0.
    ~QDocumentBase() override;

    QDocumentBase(const QDocumentBase&) = delete;
    QDocumentBase& operator=(const QDocumentBase&) = delete;

    // Opens a new step named name: logs "Op: <name>" when this is the current document, ages
    // every recorded entry and forgets those that reach five steps (or belong to undone
    // steps), puts the name in front of the operation names (at most five are kept), resets
    // the undo-step number and broadcasts message 7 with argument 13.
    void BeginOperation(std::string_view name);

    // Forgets the whole history: destroys every undo state and every object whose recorded
    // entry is a deletion, empties the change list and the operation names, resets the
    // undo-step number and broadcasts message 7 with argument 13.
    void ClearUndoHistory();

    // Appends one element to the change list. An undo state appended here belongs to the
    // document from then on.
    void AppendToChangeList(QReferenceObject* object);

    // The number of recorded steps currently undone; 0 when none.
    std::int32_t UndoStepNumber() const { return undoStepNumber; }

    // One element per recorded entry, in recording order.
    const std::vector<QReferenceObject*>& ChangeList() const { return changeList; }

    // The names of the recorded steps, newest first.
    const std::deque<std::string>& OperationNames() const { return operationNames; }

private:
    friend class QReferenceObject;

    // Takes a dying object out of the change list of every live document.
    static void ForgetDestroyedObject(QReferenceObject* object);

    // Forgets the entry of element index whose age has run out.
    void ForgetEntry(std::size_t index);

    // Destroys the undo states and the still-deleted objects of the change list.
    void DestroyForgottenObjects();

    // Takes the object out of the change list wherever it stands, then deletes it.
    void DestroyRecorded(QReferenceObject* object);

    void ClearElement(std::size_t index);
    void RemoveAllOccurrences(const QReferenceObject* object);

    // Drops the elements cleared during a walk, keeping the order of the rest.
    void SqueezeChangeList();

    // Empties the change list.
    void DetachChangeList();

    std::vector<QReferenceObject*> changeList;
    std::deque<std::string> operationNames;
    std::int32_t undoStepNumber = 0;
    std::int32_t walkDepth = 0;  // while above 0, removals clear elements instead of erasing
};

// The current document, or null when there is none. Undo recording and the operation log
// refer to it.
QDocumentBase* CurrentDocument();

// Makes document (null for none) the current document.
void SetCurrentDocument(QDocumentBase* document);
