// replay: texture/xml
// Reads arbitrary text as a texture element into a texture of a document, then writes the
// texture back: whatever the reader accepts must be safe to use and to save again.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "app/process_init.h"
#include "core/private_heap.h"
#include "core/xml_document.h"
#include "model/q_document_base.h"
#include "model/q_texture_list.h"
#include "texture/q_texture.h"
#include "texture/texture_xml.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    InitProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QDocumentBase document;
    SetCurrentDocument(&document);
    // Decoded images are capped so that a header claiming a huge size fails fast.
    PrivateHeapSetCeiling(PrivateHeapBytesInUse() + (64u << 20));
    // Exhausting the private heap is the one failure the reader lets out.
    try {
        XmlDocument xml(std::string_view(reinterpret_cast<const char*>(data), size));
        auto owned = std::make_unique<QTexture>(&document);
        QTexture* texture = owned.get();
        document.TextureList()->AddTexture(std::move(owned));
        if (ReadTextureXml(&document, xml, *texture, false, false) == 0) {
            XmlDocument out;
            WriteTextureXml(*texture, out, true);
        }
    } catch (const KVOutOfMemoryException&) {
    }
    PrivateHeapSetCeiling(0);
    SetCurrentDocument(nullptr);
    return 0;
}
