#pragma once

// QTextureList is the document's list of its textures. It owns them (an OwnedList: a texture
// deleted undoably belongs to the undo history until it is restored), registers on each (set
// 0), follows their deletion and restoration, and announces every change of membership with
// message 7 and a QReferenceTransPort on the texture as payload.
//
// Textures (type id 6) are held as model objects: the list needs only what every model
// object offers. A texture holds its image by registering on it, which is how the list tells
// which textures share an image.

#include "object/owned_list.h"
#include "object/q_reference_object.h"

#include <cstdint>
#include <memory>
#include <vector>

// Arguments of message 7 from the texture list.
inline constexpr std::int32_t TextureListAdded = 1;
inline constexpr std::int32_t TextureListRemoved = -1;

class QTextureList : public QReferenceObject {
public:
    // Type id 11, empty.
    QTextureList();

    // Deletes every texture (RemoveAll), then broadcasts message 0.
    ~QTextureList() override;

    QTextureList(const QTextureList&) = delete;
    QTextureList& operator=(const QTextureList&) = delete;

    // Takes texture (type id 6) over (a texture the list holds already fails a check);
    // registers on it and broadcasts (7, 1) naming it. Throws std::bad_alloc, and texture is
    // then freed.
    void AddTexture(std::unique_ptr<QReferenceObject> texture);

    // Takes texture out of the list and gives it to the caller: unregisters and broadcasts
    // (7, -1) naming it. Null, changing nothing, for a texture not in the list.
    [[nodiscard]] std::unique_ptr<QReferenceObject> RemoveTexture(QReferenceObject* texture);

    // True when a texture of the list is unused: no alive scene object refers to it and it
    // is not its document's current texture.
    bool HasUnusedTextures() const;

    // Deletes the unused textures undoably; the list drops each on its message 1.
    void DeleteUnusedTextures();

    // True when more than one texture of the list holds image.
    bool IsImageShared(const QReferenceObject* image) const;

    // Unregisters from every texture and deletes it; the list is empty afterwards.
    void RemoveAll();

    // Clears the histories of every texture.
    void ClearHistory() override;

    // Follows its textures: messages 0 and 1 take the texture out, message 2 puts it back;
    // each broadcasts (7, -1) naming the texture.
    void HandleMessage(std::int32_t message, std::int32_t a, QReferenceObject* payload,
                       QReferenceObject* sender) override;

    // The textures in insertion order.
    const std::vector<QReferenceObject*>& Textures() const { return textures.Items(); }

private:
    bool IsUnused(const QReferenceObject* texture) const;
    void BroadcastChange(std::int32_t change, QReferenceObject* texture);

    bool removing = false;
    OwnedList<QReferenceObject> textures;
};
