#pragma once

// Small model classes for the model tests: a referrer that records what it hears and can act
// inside its handler, a sender that announces its destruction like the real model classes,
// and an undo state over such objects.

#include "model/q_document_base.h"
#include "object/q_reference_object.h"
#include "object/q_state.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace model_test {

// One delivery as a referrer saw it.
struct Heard {
    std::string who;
    std::int32_t message = 0;
    std::int32_t a = 0;
    const QReferenceObject* sender = nullptr;
    const QReferenceObject* payload = nullptr;
};

using HeardLog = std::vector<Heard>;

// A model object that logs every message it hears and its own destruction, announces its
// destruction with message 0 as the model classes do, and runs an optional action inside
// its handler.
class Recorder : public QReferenceObject {
public:
    Recorder(std::string recorderName, HeardLog* heardLog, std::int32_t type = TypeIdObject,
             bool* destroyedFlag = nullptr)
        : name(std::move(recorderName)), log(heardLog), destroyed(destroyedFlag) {
        typeId = type;
    }

    ~Recorder() override {
        if (destroyed != nullptr) *destroyed = true;
        Broadcast(this, MessageDestroyed, 0);
    }

    void HandleMessage(std::int32_t message, std::int32_t a, QReferenceObject* payload,
                       QReferenceObject* sender) override {
        if (log != nullptr) log->push_back(Heard{name, message, a, sender, payload});
        if (onMessage) onMessage(message, sender);
    }

    void OnBeforeBroadcast(std::int32_t message, std::int32_t, QReferenceObject*) override {
        if (log != nullptr) log->push_back(Heard{name + ":before", message, 0, this, nullptr});
    }

    void OnAfterBroadcast(std::int32_t message, std::int32_t, QReferenceObject*) override {
        if (log != nullptr) log->push_back(Heard{name + ":after", message, 0, this, nullptr});
    }

    void SetType(std::int32_t type) { typeId = type; }

    std::string name;
    HeardLog* log = nullptr;
    bool* destroyed = nullptr;
    std::function<void(std::int32_t message, QReferenceObject* sender)> onMessage;
};

// An undo state that registers on the objects it records, as the real states do, and drops
// them when they are deleted or destroyed.
class TestState : public QState {
public:
    explicit TestState(bool* destroyedFlag = nullptr) : destroyed(destroyedFlag) {}

    ~TestState() override {
        if (destroyed != nullptr) *destroyed = true;
        for (QReferenceObject* object : objects) RemoveReference(object, this, 0);
        Broadcast(this, MessageDestroyed, 0);
    }

    void Add(QReferenceObject* object) {
        objects.push_back(object);
        AddReference(object, this, 0);
    }

    void HandleMessage(std::int32_t message, std::int32_t, QReferenceObject*,
                       QReferenceObject* sender) override {
        if (message == MessageDestroyed || message == MessageDeleted) std::erase(objects, sender);
    }

    void Step(bool older) override { steps.push_back(older); }

    std::vector<QReferenceObject*> objects;
    std::vector<bool> steps;
    bool* destroyed = nullptr;
};

// Counts the destructions of the objects it is registered on. It hears the destruction of an
// object deleted undoably too, whose message 0 reaches nobody.
class DestructionWitness : public QReferenceObject {
public:
    std::int32_t destroyedCount = 0;

protected:
    void OnTargetDestroyed(QReferenceObject*) override { ++destroyedCount; }
};

// Makes a fresh document current for the life of the fixture object.
class CurrentDocumentScope {
public:
    CurrentDocumentScope() : document(std::make_unique<QDocumentBase>()) {
        SetCurrentDocument(document.get());
    }
    ~CurrentDocumentScope() {
        if (CurrentDocument() == document.get()) SetCurrentDocument(nullptr);
    }
    CurrentDocumentScope(const CurrentDocumentScope&) = delete;
    CurrentDocumentScope& operator=(const CurrentDocumentScope&) = delete;

    QDocumentBase& operator*() { return *document; }
    QDocumentBase* operator->() { return document.get(); }

    std::unique_ptr<QDocumentBase> document;
};

}  // namespace model_test
