#include "model/q_texture_list.h"

#include "core/check.h"
#include "model/q_document_base.h"
#include "object/q_reference_trans_port.h"

#include <algorithm>
#include <memory>
#include <optional>

QTextureList::QTextureList() { typeId = TypeIdTextureList; }

QTextureList::~QTextureList() {
    RemoveAll();
    Broadcast(this, MessageDestroyed, 0);
}

void QTextureList::BroadcastChange(std::int32_t change, QReferenceObject* texture) {
    Broadcast(this, MessageChanged, change, std::make_unique<QReferenceTransPort>(texture));
}

void QTextureList::AddTexture(std::unique_ptr<QReferenceObject> owned) {
    ORBELLE_CHECK(owned != nullptr && owned->TypeId() == TypeIdTexture);
    QReferenceObject* texture = textures.Append(std::move(owned));
    AddReference(texture, this, 0);
    BroadcastChange(TextureListAdded, texture);
}

std::unique_ptr<QReferenceObject> QTextureList::RemoveTexture(QReferenceObject* texture) {
    const std::optional<std::size_t> at = textures.Find(texture);
    if (!at) return nullptr;
    std::unique_ptr<QReferenceObject> owned = textures.Release(*at);
    RemoveReference(texture, this, 0);
    BroadcastChange(TextureListRemoved, texture);
    return owned;
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
    // Every texture leaves the list before the first one dies.
    for (std::unique_ptr<QReferenceObject>& texture : textures.ReleaseAll()) {
        RemoveReference(texture.get(), this, 0);
        texture.reset();
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
            textures.Forget(sender);
            break;
        case MessageDeleted:
            textures.HandOver(sender);
            break;
        case MessageRestored:
            if (!textures.Contains(sender)) textures.TakeBack(textures.Count(), sender);
            break;
        default:
            return;
    }
    BroadcastChange(TextureListRemoved, sender);
}
