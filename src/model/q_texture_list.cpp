#include "model/q_texture_list.h"

#include "core/check.h"
#include "model/q_document_base.h"
#include "object/q_reference_trans_port.h"

#include <algorithm>
#include <memory>

QTextureList::QTextureList() { typeId = TypeIdTextureList; }

QTextureList::~QTextureList() {
    RemoveAll();
    Broadcast(this, MessageDestroyed, 0);
}

void QTextureList::BroadcastChange(std::int32_t change, QReferenceObject* texture) {
    Broadcast(this, MessageChanged, change, std::make_unique<QReferenceTransPort>(texture));
}

void QTextureList::AddTexture(QReferenceObject* texture) {
    ORBELLE_CHECK(texture != nullptr && texture->TypeId() == TypeIdTexture);
    if (std::find(textures.begin(), textures.end(), texture) != textures.end()) return;
    textures.push_back(texture);
    AddReference(texture, this, 0);
    BroadcastChange(TextureListAdded, texture);
}

void QTextureList::RemoveTexture(QReferenceObject* texture) {
    const auto found = std::find(textures.begin(), textures.end(), texture);
    if (found == textures.end()) return;
    textures.erase(found);
    RemoveReference(texture, this, 0);
    BroadcastChange(TextureListRemoved, texture);
}

bool QTextureList::IsUnused(const QReferenceObject* texture) const {
    // The list's document is the one registered on it.
    const auto* document = static_cast<const QDocumentBase*>(FindReferrerByType(TypeIdDocument, 1));
    if (document != nullptr && document->CurrentTexture() == texture) return false;
    return texture->CollectReferrersByType(TypeIdObject).empty();
}

bool QTextureList::HasUnusedTextures() const {
    return std::any_of(textures.begin(), textures.end(),
                       [this](const QReferenceObject* texture) { return IsUnused(texture); });
}

void QTextureList::DeleteUnusedTextures() {
    std::vector<QReferenceObject*> unused;
    for (QReferenceObject* texture : textures) {
        if (IsUnused(texture)) unused.push_back(texture);
    }
    for (QReferenceObject* texture : unused) texture->MarkDeleted();
}

bool QTextureList::IsImageShared(const QReferenceObject* image) const {
    const auto users = std::count_if(
        textures.begin(), textures.end(),
        [image](const QReferenceObject* texture) { return texture->IsRegisteredOn(image, 0); });
    return users > 1;
}

void QTextureList::RemoveAll() {
    removing = true;
    // Each texture leaves the vector before it dies, so the vector never holds freed memory.
    std::vector<QReferenceObject*> doomed;
    doomed.swap(textures);
    for (QReferenceObject* texture : doomed) {
        RemoveReference(texture, this, 0);
        delete texture;
    }
    removing = false;
}

void QTextureList::ClearHistory() {
    for (QReferenceObject* texture : textures) texture->ClearHistory();
}

void QTextureList::HandleMessage(std::int32_t message, std::int32_t, QReferenceObject*,
                                 QReferenceObject* sender) {
    if (sender == nullptr || sender->TypeId() != TypeIdTexture) return;
    switch (message) {
        case MessageDestroyed:
        case MessageDeleted:
            std::erase(textures, sender);
            break;
        case MessageRestored:
            if (std::find(textures.begin(), textures.end(), sender) == textures.end()) {
                textures.push_back(sender);
            }
            break;
        default:
            return;
    }
    BroadcastChange(TextureListRemoved, sender);
}
