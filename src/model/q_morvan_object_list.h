#pragma once

// A list of scene objects that follows its members (set 0): an object that goes away or is
// deleted leaves the list. The document keeps the scene objects the user chose for the
// Sproutling engine in one.

#include "object/q_reference_object.h"

#include <cstdint>
#include <vector>

class QMorvanObject;

class QMorvanObjectList : public QReferenceObject {
public:
    QMorvanObjectList() = default;
    // Leaves every member, then broadcasts message 0.
    ~QMorvanObjectList() override;

    QMorvanObjectList(const QMorvanObjectList&) = delete;
    QMorvanObjectList& operator=(const QMorvanObjectList&) = delete;

    // Appends object (not null) and follows it; an object already listed stays where it is.
    void Add(QMorvanObject* object);

    // Leaves every member and empties the list.
    void Clear();

    // Entry i, or the last entry when i is past the end; null when the list is empty or i
    // is negative.
    QMorvanObject* GetIdClamped(std::int32_t i) const;

    const std::vector<QMorvanObject*>& Members() const { return members; }

    // Messages 0 and 1 from a member take it out of the list.
    void HandleMessage(std::int32_t message, std::int32_t a, QReferenceObject* payload,
                       QReferenceObject* sender) override;

protected:
    void OnTargetDestroyed(QReferenceObject* target) override;

private:
    std::vector<QMorvanObject*> members;
};
