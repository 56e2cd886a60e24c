// replay: geometry/part_block
// Takes arbitrary bytes as a part block three ways: loaded whole into a scene geometry with a
// renderer's view attached (as a block read from a file, in either byte order, legacy or
// not), loaded in two halves through the append path, and handed to a document whose object
// list is rebuilt from it and then edited. Either the block is refused, leaving its bytes as
// they were, or every part it describes is placed and safe to build, query and change, and
// both ways of loading reserve the same surfaces; every part built is finite or unbuildable.

#include "app/process_init.h"
#include "core/byte_order.h"
#include "core/private_heap.h"
#include "geometry/geometry_view_state.h"
#include "geometry/part_block.h"
#include "geometry/part_record.h"
#include "geometry/part_shape_build.h"
#include "geometry/scene_geometry.h"
#include "geometry/shape_type.h"
#include "model/q_document_base.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

// Offsets of the records of an accepted (now native) block.
std::vector<std::uint32_t> RecordOffsets(const std::uint8_t* block, std::uint32_t count) {
    std::vector<std::uint32_t> offsets;
    std::uint64_t offset = PartBlockHeaderBytes;
    for (std::uint32_t i = 0; i < count; ++i) {
        offsets.push_back(static_cast<std::uint32_t>(offset));
        offset += PartRecordBytes(block + offset);
    }
    return offsets;
}

// Loads the block whole, then again in two halves (the second through the append path), and
// checks that both hold the same parts with the same reserved surfaces.
void LoadWholeAndAppended(const std::uint8_t* data, std::size_t size) {
    const auto length = static_cast<std::uint32_t>(size);
    std::vector<std::uint8_t> block(data, data + size);
    SceneGeometry whole;
    GeometryViewState view;
    view.lightSlots = static_cast<std::int32_t>(size % 18);
    whole.AttachViewState(view);
    if (LoadPartBlock(whole, block.data(), length, true, nullptr, false) == PartBlockRejected) {
        Require(size == 0 || std::memcmp(block.data(), data, size) == 0);
        return;
    }
    Require(view.partCount == whole.PartCount());
    // Every part is built finite, or unbuildable with nothing in use.
    for (std::int32_t i = 0; i < whole.PartCount(); ++i) {
        const PartRenderRecord& part = *whole.Part(i);
        Require(part.surfaceCount >= 0 && part.surfaceCount <= part.surfaceRoom);
        Require(std::isfinite(part.boundRadius) && std::isfinite(part.boundCentre.x) &&
                std::isfinite(part.boundCentre.y) && std::isfinite(part.boundCentre.z));
        for (double v : part.proxy.m) Require(std::isfinite(v));
        for (std::int32_t s = 0; s < part.surfaceCount; ++s) {
            for (double v : part.Surfaces()[static_cast<std::size_t>(s)].m) {
                Require(std::isfinite(v));
            }
        }
        // The bowl, revolved pair and cored solid keep the shape of parameters that give no
        // valid solid, finite as every other.
        const bool keepsInvalidShape = part.shapeType == ShapeType::Bowl ||
                                       part.shapeType == ShapeType::RevolvedPair ||
                                       part.shapeType == ShapeType::CoredSolid;
        Require(part.buildResult != PartBuildUnbuildable || keepsInvalidShape ||
                (part.surfaceCount == 0 && part.visible == 0));
    }
    // Loaded again it is native and converts nothing.
    std::vector<std::uint8_t> again = block;
    Require(LoadPartBlock(whole, again.data(), length, false, nullptr, true) != PartBlockRejected);
    Require(again == block);

    const auto count = static_cast<std::uint32_t>(whole.PartCount());
    if (count < 2) return;
    const std::vector<std::uint32_t> offsets = RecordOffsets(block.data(), count);
    SceneGeometry halves;
    StoreU32LE(block.data() + PartBlockPartCountOffset, count / 2);
    Require(LoadPartBlock(halves, block.data(), length, false, nullptr, true) != PartBlockRejected);
    StoreU32LE(block.data() + PartBlockPartCountOffset, count);
    Require(LoadPartBlock(halves, block.data(), length, true, block.data() + offsets[count / 2],
                          true) != PartBlockRejected);
    Require(halves.PartCount() == whole.PartCount());
    Require(halves.SurfaceTotal() == whole.SurfaceTotal());
    for (std::int32_t i = 0; i < whole.PartCount(); ++i) {
        Require(halves.Part(i)->surfaceRoom == whole.Part(i)->surfaceRoom);
        Require(halves.Part(i)->shapeType == whole.Part(i)->shapeType);
    }
    while (halves.PartCount() > 0) halves.RemoveLastPart();
    Require(halves.SurfaceTotal() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    InitProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    const auto length = static_cast<std::uint32_t>(size);
    (void)PartBlockIsWellFormed(data, length);
    LoadWholeAndAppended(data, size);

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
