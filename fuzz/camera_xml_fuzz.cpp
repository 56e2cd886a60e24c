// replay: model/camera
// Reads arbitrary text as a "Camera" element, then uses and saves the camera: a damaged
// element must leave a camera that is safe to copy, view through and write.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/process_init.h"
#include "core/private_heap.h"
#include "core/xml_document.h"
#include "model/q_camera.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    InitProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Thumbnails are capped so that a header claiming a huge size fails fast.
    PrivateHeapSetCeiling(PrivateHeapBytesInUse() + (64u << 20));
    // Exhausting the private heap is the one failure the reader lets out.
    try {
        XmlDocument xml(std::string_view(reinterpret_cast<const char*>(data), size));
        if (xml.FindElement("Camera")) {
            QCamera camera;
            camera.ReadXml(xml);
            const QCamera copy(camera);
            (void)copy.GetViewMatrix();
            if (copy.HasThumbnail()) {
                (void)copy.ThumbnailPixel(copy.ThumbnailWidth() - 1, copy.ThumbnailHeight() - 1);
            }
            XmlDocument out;
            copy.WriteXml(out);
        }
    } catch (const KVOutOfMemoryException&) {
    }
    PrivateHeapSetCeiling(0);
    return 0;
}
