#include "texture/q_texture.h"

#include "core/file_names.h"
#include "core/private_heap.h"
#include "core/xml_document.h"
#include "texture/q_texture_image.h"
#include "texture/texture_material_registry.h"
#include "texture/texture_xml.h"

QTexture::QTexture(TextureDocument* owner) : document(owner) {
    typeId = TypeIdTexture;
    params = TranslateBadAlloc([] { return std::make_unique<TextureParams>(); });
    params->cTiles = 2.0;
    // Parts name the material by this handle; without it a scene object wearing the texture
    // would draw untextured.
    materialHandle = EnterTextureMaterial(params.get(), static_cast<const QReferenceObject*>(this));
}

QTexture::~QTexture() {
    Broadcast(this, MessageDestroyed, 0);
    previewScene.reset();
    LeaveTextureMaterial(materialHandle);
    materialHandle = 0;
    if (params) params->image = nullptr;
    SetImage(nullptr);
}

void QTexture::HandleMessage(std::int32_t message, std::int32_t, QReferenceObject*,
                             QReferenceObject* sender) {
    if (message == MessageDestroyed && sender != nullptr && sender == image) ForgetImage();
}

void QTexture::OnTargetDestroyed(QReferenceObject* target) {
    if (target == image) ForgetImage();
}

void QTexture::ForgetImage() {
    // The record must not keep sampling the pyramid of an image that is going away.
    if (params && params->image == imagePyramid) params->image = nullptr;
    image = nullptr;
    imagePyramid = nullptr;
}

void QTexture::SetImage(QTextureImage* newImage) {
    if (newImage == image) return;
    QTextureImage* old = image;
    if (newImage != nullptr) AddReference(newImage, this, 0);
    image = newImage;
    imagePyramid = newImage != nullptr ? newImage->pyramid.get() : nullptr;
    if (old != nullptr) RemoveReference(old, this, 0);
}

std::int32_t LoadTextureFile(QTexture& texture, TextureDocument* document) {
    if (texture.filePath.empty()) return 0;
    XmlDocument xml;
    if (!xml.Load(texture.filePath)) return TextureFileUnreadable;
    const std::int32_t result = ReadTextureXml(document != nullptr ? document : texture.document,
                                               xml, texture, true, false);
    if (result == 0) texture.name = StripExtension(GetFileName(texture.filePath));
    return result;
}
