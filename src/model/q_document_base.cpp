#include "model/q_document_base.h"

#include <algorithm>

#include "core/check.h"
#include "core/operation_log.h"

namespace {

QDocumentBase*& CurrentDocumentSlot() {
    static QDocumentBase* current = nullptr;
    return current;
}

// Every document alive, so that a dying object can leave all change lists it stands in.
std::vector<QDocumentBase*>& LiveDocuments() {
    static std::vector<QDocumentBase*> documents;
    return documents;
}

// Erases the entry at index from a history when the history reaches that far.
template <typename History>
void EraseAt(History& history, std::size_t index) {
    if (index < history.size()) {
        history.erase(history.begin() + static_cast<std::ptrdiff_t>(index));
    }
}

}  // namespace

QDocumentBase* CurrentDocument() { return CurrentDocumentSlot(); }

void SetCurrentDocument(QDocumentBase* document) { CurrentDocumentSlot() = document; }

QDocumentBase::QDocumentBase() {
    typeId = TypeIdDocument;
    LiveDocuments().push_back(this);
}

QDocumentBase::~QDocumentBase() {
    // The history owns its undo states and deleted objects; nothing else would free them.
    DestroyForgottenObjects();
    DetachChangeList();
    std::erase(LiveDocuments(), this);
    // A current-document pointer left on a destroyed document would have the next recording
    // write into freed memory.
    if (CurrentDocument() == this) SetCurrentDocument(nullptr);
    Broadcast(this, MessageDestroyed, 0);
}

void QDocumentBase::AppendToChangeList(QReferenceObject* object) {
    ORBELLE_CHECK(object != nullptr);
    changeList.push_back(object);
    ++object->changeListCount;
}

void QDocumentBase::BeginOperation(std::string_view name) {
    if (CurrentDocument() == this) {
        std::string line = "Op: ";
        line += name;
        line += "\n";
        AppendToLogFile(line);
    }

    for (QReferenceObject* object : changeList) {
        if (object != nullptr) object->historyCursor = 0;
    }

    // Each object's cursor walks its histories in step with its occurrences in the list, so
    // the n-th occurrence of an object ages the n-th of its remaining entries.
    ++walkDepth;
    const std::size_t count = changeList.size();
    for (std::size_t i = 0; i < count; ++i) {
        QReferenceObject* object = changeList[i];
        if (object == nullptr) continue;
        const auto cursor = static_cast<std::size_t>(object->historyCursor);
        if (cursor >= object->undoStepHistory.size()) {
            // Its histories were cleared meanwhile; there is nothing left to age.
            ClearElement(i);
            continue;
        }
        const std::int32_t age = object->undoStepHistory[cursor];
        if (undoStepNumber <= age) {
            const std::int32_t newAge = age + 1 - undoStepNumber;
            object->undoStepHistory[cursor] = newAge;
            if (newAge < UndoStepLimit) {
                ++object->historyCursor;
                continue;
            }
        }
        ForgetEntry(i);
    }
    --walkDepth;
    SqueezeChangeList();

    const auto undone = std::min(operationNames.size(), static_cast<std::size_t>(undoStepNumber));
    operationNames.erase(operationNames.begin(),
                         operationNames.begin() + static_cast<std::ptrdiff_t>(undone));
    operationNames.emplace_front(name);
    if (operationNames.size() > static_cast<std::size_t>(UndoStepLimit)) {
        operationNames.pop_back();
    }
    undoStepNumber = 0;
    Broadcast(this, MessageChanged, DocumentChangeUndoHistory);
}

void QDocumentBase::ForgetEntry(std::size_t index) {
    QReferenceObject* object = changeList[index];
    if (object->typeId == TypeIdUndoState) {
        DestroyRecorded(object);
        return;
    }
    const auto cursor = static_cast<std::size_t>(object->historyCursor);
    const std::uint16_t state =
        cursor < object->stateHistory.size() ? object->stateHistory[cursor] : 0;
    // A deletion entry destroys the object only while it is still deleted: an object that
    // came back since belongs to its lists again and must not be freed under them.
    if (state == HistoryDeleted && !object->alive) {
        DestroyRecorded(object);
        return;
    }
    if (state == HistoryExists || state == HistoryDeleted) {
        EraseAt(object->stateHistory, cursor);
        EraseAt(object->undoStepHistory, cursor);
    }
    ClearElement(index);
}

void QDocumentBase::ClearUndoHistory() {
    DestroyForgottenObjects();
    undoStepNumber = 0;
    DetachChangeList();
    operationNames.clear();
    Broadcast(this, MessageChanged, DocumentChangeUndoHistory);
}

void QDocumentBase::DestroyForgottenObjects() {
    for (QReferenceObject* object : changeList) {
        if (object != nullptr) object->historyCursor = 0;
    }
    std::vector<bool> destroy(changeList.size(), false);
    for (std::size_t i = 0; i < changeList.size(); ++i) {
        QReferenceObject* object = changeList[i];
        if (object == nullptr) continue;
        const auto cursor = static_cast<std::size_t>(object->historyCursor);
        const bool deleted = cursor < object->stateHistory.size() &&
                             object->stateHistory[cursor] == HistoryDeleted && !object->alive;
        destroy[i] = object->typeId == TypeIdUndoState || deleted;
        ++object->historyCursor;
    }

    // Destroying one object may destroy others of the list; they clear their own elements,
    // so every element is looked at again just before it is used.
    ++walkDepth;
    for (std::size_t i = 0; i < destroy.size(); ++i) {
        if (destroy[i] && changeList[i] != nullptr) DestroyRecorded(changeList[i]);
    }
    --walkDepth;
    SqueezeChangeList();
}

void QDocumentBase::DestroyRecorded(QReferenceObject* object) {
    RemoveAllOccurrences(object);
    delete object;
}

void QDocumentBase::ClearElement(std::size_t index) {
    QReferenceObject*& element = changeList[index];
    if (element == nullptr) return;
    --element->changeListCount;
    element = nullptr;
}

void QDocumentBase::RemoveAllOccurrences(const QReferenceObject* object) {
    for (std::size_t i = 0; i < changeList.size(); ++i) {
        if (changeList[i] == object) ClearElement(i);
    }
    if (walkDepth == 0) SqueezeChangeList();
}

void QDocumentBase::SqueezeChangeList() { std::erase(changeList, nullptr); }

void QDocumentBase::DetachChangeList() {
    for (std::size_t i = 0; i < changeList.size(); ++i) ClearElement(i);
    changeList.clear();
}

void QDocumentBase::ForgetDestroyedObject(QReferenceObject* object) {
    for (QDocumentBase* document : LiveDocuments()) {
        if (object->changeListCount == 0) return;
        document->RemoveAllOccurrences(object);
    }
}
