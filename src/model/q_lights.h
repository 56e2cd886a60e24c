#pragma once

// QLights is the ordered light list of a render view's or a bot's view settings; the order
// is the light index. The list owns the lights it holds (an OwnedList) and is registered (set
// 0) on each, so it hears when one dies or is deleted and restored undoably: a light deleted
// undoably leaves the list and belongs to the undo history until it comes back.

#include "core/id_set.h"
#include "model/q_light.h"
#include "object/owned_list.h"
#include "object/q_reference_object.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class DocumentView;

class QLights : public QReferenceObject {
public:
    // An empty list without a view; type id 4.
    QLights();

    // Deletes every light it holds, then broadcasts message 0.
    ~QLights() override;

    QLights(const QLights&) = delete;
    QLights& operator=(const QLights&) = delete;

    std::int32_t Count() const { return static_cast<std::int32_t>(lights.Count()); }
    QLight* At(std::int32_t index) const { return lights[static_cast<std::size_t>(index)]; }
    std::span<QLight* const> Lights() const { return lights.Items(); }

    // Takes light over, registers on it, appends it and broadcasts message 7 with its index.
    // Throws std::bad_alloc (the light is then deleted).
    void AddLight(std::unique_ptr<QLight> light);

    // Takes the light at index out of the list. With deleteLight the light is unregistered
    // and freed and null is returned; otherwise the list stays registered and the caller gets
    // the light (to hand it to the undo history, it deletes it undoably and lets go).
    std::unique_ptr<QLight> RemoveLightAt(std::int32_t index, bool deleteLight);

    // Deletes every light and empties the list.
    void RemoveAll();

    // The light's index, or Count() when it is not in the list.
    std::int32_t IndexOf(const QLight* light) const;

    // Makes this list equal to other: lights are assigned one to one when the counts agree,
    // else recreated as copies; then the view is re-synchronised. Throws std::bad_alloc.
    void SyncFrom(const QLights& other);

    // Replaces every light by a new view light assigned from other's, each with a first
    // snapshot. Throws std::bad_alloc.
    void CopyFrom(const QLights& other);

    // Assigns each light's snapshot at its cursor back into the light; a cursor outside the
    // history leaves that light as it is.
    void RestoreSnapshots();

    // Makes ids the indices of the selected scene objects followed by lights that are on:
    // those of lights that keep their distance, then those of lights at their object. Empty
    // on a delegate view. Throws KVOutOfMemoryException.
    void CollectLinkedObjectIds(IdSet& ids) const;

    // Replaces every light by the two default lights, white and on, each with a first
    // snapshot, both at distance 4000 from the origin: brightness 0.8 towards
    // (sin(pi/8), sin(pi/3), cos(pi/3)) and brightness 0.5 towards
    // (cos(pi/4), sin(pi/4), -cos(pi/4)). Throws std::bad_alloc.
    void SetDefaultLights();

    // From lights only: message 0 or 1 takes the light out of the list (1 also drops its
    // links), message 2 puts it back at the end; the view's light data is then prepared
    // again and message 7 with the light's index is broadcast.
    void HandleMessage(std::int32_t message, std::int32_t a, QReferenceObject* payload,
                       QReferenceObject* sender) override;

    // Clears each light's history and gives it one snapshot of its present state.
    void ClearHistory() override;

    DocumentView* view = nullptr;

protected:
    // Forgets a light destroyed without announcing it.
    void OnTargetDestroyed(QReferenceObject* target) override;

private:
    // Deletes every light; when one was shown in the view, re-synchronises the view.
    void DeleteAllLights();

    OwnedList<QLight> lights;
};
