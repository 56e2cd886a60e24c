#include "object/undo_history.h"

#include "core/check.h"
#include "core/operation_log.h"
#include "object/q_reference_object.h"

#include <algorithm>
#include <memory>

namespace {

UndoHistory*& CurrentHistorySlot() {
    static UndoHistory* current = nullptr;
    return current;
}

// Every history alive, so that a dying object can leave all change lists it stands in.
std::vector<UndoHistory*>& LiveHistories() {
    static std::vector<UndoHistory*> histories;
    return histories;
}

// Erases the entry at index from a history when the history reaches that far.
template <typename History>
void EraseAt(History& history, std::size_t index) {
    if (index < history.size()) {
        history.erase(history.begin() + static_cast<std::ptrdiff_t>(index));
    }
}

}  // namespace

UndoHistory* CurrentUndoHistory() { return CurrentHistorySlot(); }

void SetCurrentUndoHistory(UndoHistory* history) { CurrentHistorySlot() = history; }

UndoHistory::UndoHistory() { LiveHistories().push_back(this); }

UndoHistory::~UndoHistory() {
    Release();
    std::erase(LiveHistories(), this);
    // A current-history pointer left on a destroyed history would have the next recording
    // write into freed memory.
    if (CurrentUndoHistory() == this) SetCurrentUndoHistory(nullptr);
}

void UndoHistory::Release() {
    DestroyForgottenObjects();
    DetachChangeList();
}

void UndoHistory::Append(QReferenceObject* object) {
    ORBELLE_CHECK(object != nullptr);
    changeList.push_back(object);
    ++object->changeListCount;
}

void UndoHistory::BeginStep(std::string_view name) {
    if (CurrentUndoHistory() == this) {
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
        if (stepNumber <= age) {
            const std::int32_t newAge = age + 1 - stepNumber;
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

    const auto undone = std::min(operationNames.size(), static_cast<std::size_t>(stepNumber));
    operationNames.erase(operationNames.begin(),
                         operationNames.begin() + static_cast<std::ptrdiff_t>(undone));
    operationNames.emplace_front(name);
    if (operationNames.size() > static_cast<std::size_t>(UndoStepLimit)) {
        operationNames.pop_back();
    }
    stepNumber = 0;
}

void UndoHistory::ForgetEntry(std::size_t index) {
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

void UndoHistory::Clear() {
    DestroyForgottenObjects();
    stepNumber = 0;
    DetachChangeList();
    operationNames.clear();
}

void UndoHistory::DestroyForgottenObjects() {
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

void UndoHistory::DestroyRecorded(QReferenceObject* object) {
    RemoveAllOccurrences(object);
    // The history is the owner of what it forgets: recorded deletions and undo states.
    std::unique_ptr<QReferenceObject> owned(object);
}

void UndoHistory::ClearElement(std::size_t index) {
    QReferenceObject*& element = changeList[index];
    if (element == nullptr) return;
    --element->changeListCount;
    element = nullptr;
}

void UndoHistory::RemoveAllOccurrences(const QReferenceObject* object) {
    for (std::size_t i = 0; i < changeList.size(); ++i) {
        if (changeList[i] == object) ClearElement(i);
    }
    if (walkDepth == 0) SqueezeChangeList();
}

void UndoHistory::SqueezeChangeList() { std::erase(changeList, nullptr); }

void UndoHistory::DetachChangeList() {
    for (std::size_t i = 0; i < changeList.size(); ++i) ClearElement(i);
    changeList.clear();
}

void UndoHistory::ForgetDestroyedObject(QReferenceObject* object) {
    for (UndoHistory* history : LiveHistories()) {
        if (object->changeListCount == 0) return;
        history->RemoveAllOccurrences(object);
    }
}
