#pragma once

// Helpers for the scene object tests: a current document, a texture with a registered
// material, and a check that the part block describes exactly the collection's objects.

#include "core/byte_order.h"
#include "geometry/part_block.h"
#include "geometry/part_record.h"
#include "geometry/scene_geometry.h"
#include "geometry/texture_params_table.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
#include "model_test_objects.h"
#include "texture/texture_params.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace scene_test {

// A stand-in texture: a model object of type id 6 whose material is in the handle table for
// as long as it lives.
class TestTexture : public QReferenceObject {
public:
    TestTexture() {
        typeId = TypeIdTexture;
        handle = RegisterTextureParams(&params, this);
    }
    ~TestTexture() override {
        UnregisterTextureParams(handle);
        Broadcast(this, MessageDestroyed, 0);
    }
    TextureParams params;
    std::uint32_t handle = 0;
};

// The header count and length equal the records, every record is 80 + e + 4n bytes, the
// objects sit on consecutive records with dense indices, and the selection matches the marks.
inline void ExpectBlockMatchesObjects(const QMorvanObjects& objects) {
    const std::uint8_t* block = objects.Block();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(LoadU32LE(block + PartBlockPartCountOffset),
              static_cast<std::uint32_t>(objects.Count()));
    std::uint32_t offset = PartBlockHeaderBytes;
    IdSet selected;
    for (std::int32_t i = 0; i < objects.Count(); ++i) {
        const QMorvanObject* object = objects.At(i);
        SCOPED_TRACE(i);
        EXPECT_EQ(object->Index(), i);
        EXPECT_EQ(object->RecordOffset(), offset);
        EXPECT_TRUE(object->IsPresentInBlock());
        const std::uint8_t* record = block + offset;
        EXPECT_EQ(PartRecordBytes(record),
                  80u + LoadU32LE(record + 32) + 4u * static_cast<std::uint32_t>(LoadI32LE(record + 36)));
        offset += static_cast<std::uint32_t>(PartRecordBytes(record));
        if (object->IsSelected()) selected.Insert(i);
    }
    EXPECT_EQ(LoadU32LE(block + PartBlockRecordBytesOffset), offset - PartBlockHeaderBytes);
    EXPECT_LE(offset, objects.ReservedBytes());
    EXPECT_TRUE(selected == objects.SelectionIds());
    EXPECT_TRUE(PartBlockIsWellFormed(block, objects.ReservedBytes()));
}

// A fresh current document and its collection.
struct SceneFixture {
    model_test::CurrentDocumentScope document;
    QMorvanObjects& objects() { return *document->Objects(); }
    SceneGeometry& geometry() { return *document->Geometry(); }
};

}  // namespace scene_test
