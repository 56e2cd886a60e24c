// replay: geometry/part_block
// Takes arbitrary bytes as a part block two ways: loaded straight into a scene geometry (as
// a block read from a file, in either byte order, legacy or not), and handed to a document
// whose object list is rebuilt from it and then edited. Either the block is refused or every
// part it describes is safe to build, query and change.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/process_init.h"
#include "core/private_heap.h"
#include "geometry/part_block.h"
#include "geometry/scene_geometry.h"
#include "model/q_document_base.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    InitProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    const auto length = static_cast<std::uint32_t>(size);
    (void)PartBlockIsWellFormed(data, length);
    {
        std::vector<std::uint8_t> block(data, data + size);
        SceneGeometry geometry;
        // The loader converts in place; a second load of the same block sees it native.
        if (LoadPartBlock(geometry, block.data(), length, true, nullptr, false) !=
            PartBlockRejected) {
            (void)LoadPartBlock(geometry, block.data(), length, true, nullptr, true);
        }
    }

    QDocumentBase document;
    SetCurrentDocument(&document);
    {
        // Hand the document a block of exactly the input's bytes.
        void* block = PrivateAlloc(length == 0 ? 1 : length);
        if (length != 0) std::memcpy(block, data, size);
        PrivateFree(*document.PartBlockSlot());
        *document.PartBlockSlot() = static_cast<std::uint8_t*>(block);
        *document.PartBlockBytesSlot() = length;
        QMorvanObjects& objects = *document.Objects();
        if (objects.RebuildObjectList()) {
            (void)LoadPartBlock(*document.Geometry(), objects.Block(),
                                PartBlockHeaderBytes + objects.RecordBytes(), true, nullptr, true);
            // Deleting the last object drops its part from the geometry; deleting another
            // reloads the block.
            delete objects.At(objects.Count() - 1);
            delete objects.At(0);
            objects.SelectAll(true);
            Vec3 centre;
            double radius = 0.0;
            objects.GetBoundingSphere(centre, radius, true, true);
            (void)objects.BuildDimensionList(0);
            objects.AddDefaultShape(1);
            if (objects.Count() > 1) objects.TruncateTo(objects.Count() / 2);
        } else {
            objects.ClearAll();
        }
    }
    SetCurrentDocument(nullptr);
    return 0;
}
