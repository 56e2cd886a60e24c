#pragma once

// UndoHistory records what a document's user operations did to its objects, step by step.
//
// The change list holds one element per recorded entry: an object stands once for each
// existence entry in its histories, an undo state once. Every new step ages the entries by
// one; an entry five steps old is forgotten, and forgetting a deletion destroys the deleted
// object for good, forgetting a step destroys its undo states. The history owns the undo
// states and the deleted objects of its change list. An object destroyed elsewhere while it
// stands in a change list leaves that list at once, so the list never holds freed memory.
//
// A document owns one history and forwards its undo calls to it. Objects record themselves in
// the current history (the current document's), so the object layer never sees a document.

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

class QReferenceObject;

// Number of steps the undo history covers, and of operation names kept.
inline constexpr std::int32_t UndoStepLimit = 5;

class UndoHistory {
public:
    UndoHistory();

    // Destroys the undo states and deleted objects still recorded (see Release).
    ~UndoHistory();

    UndoHistory(const UndoHistory&) = delete;
    UndoHistory& operator=(const UndoHistory&) = delete;

    // Opens a new step named name: logs "Op: <name>" when this is the current history, ages
    // every recorded entry and forgets those that reach five steps (or belong to undone
    // steps), puts the name in front of the operation names (at most five are kept) and
    // resets the undo-step number.
    void BeginStep(std::string_view name);

    // Forgets the whole history: destroys every undo state and every object whose recorded
    // entry is a deletion, empties the change list and the operation names and resets the
    // undo-step number.
    void Clear();

    // Destroys the undo states and still-deleted objects and empties the change list; the
    // owner calls it before it releases what those objects refer to.
    void Release();

    // Appends one element to the change list. An undo state appended here belongs to the
    // history from then on.
    void Append(QReferenceObject* object);

    // The number of recorded steps currently undone; 0 when none.
    std::int32_t StepNumber() const { return stepNumber; }

    // One element per recorded entry, in recording order.
    const std::vector<QReferenceObject*>& ChangeList() const { return changeList; }

    // The names of the recorded steps, newest first.
    const std::deque<std::string>& OperationNames() const { return operationNames; }

    // Takes a dying object out of the change list of every live history.
    static void ForgetDestroyedObject(QReferenceObject* object);

private:
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
    std::int32_t stepNumber = 0;
    std::int32_t walkDepth = 0;  // while above 0, removals clear elements instead of erasing
};

// The history objects record their creation and deletion in (the current document's); null
// when there is none.
UndoHistory* CurrentUndoHistory();

// Makes history (null for none) the current one; the document layer calls it when the
// current document changes.
void SetCurrentUndoHistory(UndoHistory* history);
