#include "texture/q_texture.h"

#include "core/colour.h"
#include "core/xml_document.h"
#include "geometry/part_render_record.h"
#include "geometry/scene_geometry.h"
#include "geometry/texture_params_table.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
#include "support/temp_folder.h"
#include "texture/texture_xml.h"
#include "texture_test_support.h"

#include <gtest/gtest.h>

namespace {

TEST(QTexture, NewTextureDefaults) {
    QTexture texture(nullptr);
    EXPECT_EQ(texture.TypeId(), TypeIdTexture);
    EXPECT_EQ(texture.type, 1);
    EXPECT_EQ(texture.params->cTiles, 2.0);
    EXPECT_EQ(TextureParams{}.cTiles, 1.0);
    EXPECT_EQ(texture.params->image, nullptr);
    EXPECT_EQ(texture.Image(), nullptr);
    EXPECT_EQ(texture.previewStride, 512);
}

// Hears a texture's message 0 and looks at what the texture still holds at that moment.
class DestructionWitness : public QReferenceObject {
public:
    void HandleMessage(std::int32_t message, std::int32_t, QReferenceObject*,
                       QReferenceObject* sender) override {
        if (message != MessageDestroyed) return;
        auto* texture = static_cast<QTexture*>(sender);
        heard = true;
        scaleSeen = texture->params->scale;
        imageSeen = texture->Image() != nullptr;
    }
    bool heard = false;
    double scaleSeen = 0;
    bool imageSeen = false;
};

using QTextureLifetime = TextureDocumentTest;

// A part record names its material by the texture's handle: a scene object that wears a
// texture builds with the texture's record, and the handle names nothing once the texture is
// gone.
TEST(QTexture, EntersItsRecordInTheMaterialTable) {
    QDocumentBase document;
    auto texture = std::make_unique<QTexture>(&document);
    ASSERT_NE(texture->materialHandle, 0u);
    EXPECT_EQ(ResolveTextureRef(texture->materialHandle), texture->params.get());
    QMorvanObject* object =
        document.Objects()->AddShapeType1(0.5, ColourFromBytes(255, 255, 255), Vec3{});
    object->SetTexture(texture.get(), true);
    EXPECT_EQ(document.Geometry()->Part(object->Index())->texParams, texture->params.get());

    const std::uint32_t handle = texture->materialHandle;
    texture.reset();
    EXPECT_EQ(ResolveTextureRef(handle), nullptr);
}

TEST_F(QTextureLifetime, DestructionIsAnnouncedWhileTheTextureIsWhole) {
    QTexture* texture = NewTexture();
    GiveImage(*texture, 8, 8, false);
    texture->params->scale = 3.5;
    DestructionWitness witness;
    QReferenceObject::AddReference(texture, &witness, 0);
    document.TextureList()->RemoveTexture(texture).reset();
    EXPECT_TRUE(witness.heard);
    EXPECT_EQ(witness.scaleSeen, 3.5);
    EXPECT_TRUE(witness.imageSeen);
}

TEST_F(QTextureLifetime, SharedImageLivesUntilItsLastTextureGoes) {
    const std::size_t blocksBefore = PrivateHeapBlockCount();
    QTexture* first = NewTexture();
    QTexture* second = NewTexture();
    QTextureImage* image = GiveImage(*first, 8, 8, false);
    second->SetImage(image);
    document.TextureList()->RemoveTexture(first).reset();
    ASSERT_EQ(second->Image(), image);
    EXPECT_EQ(image->width, 8);
    document.TextureList()->RemoveTexture(second).reset();
    EXPECT_EQ(PrivateHeapBlockCount(), blocksBefore) << "the image should be gone";
}

TEST_F(QTextureLifetime, TextureForgetsAnImageDeletedUnderIt) {
    QTexture* texture = NewTexture();
    QTextureImage* image = GiveImage(*texture, 4, 4, false);
    ASSERT_EQ(texture->params->image, image->pyramid.get());
    delete image;
    EXPECT_EQ(texture->Image(), nullptr);
    EXPECT_EQ(texture->params->image, nullptr);
}

using LoadTextureFileTest = TextureDocumentTest;

TEST_F(LoadTextureFileTest, NamesTheTextureAfterTheFileOnlyWhenReadingSucceeds) {
    TempFolder folder;
    QTexture* source = NewTexture();
    source->name = "inside";
    GiveImage(*source, 6, 4, true);
    XmlDocument xml;
    ASSERT_EQ(WriteTextureXml(*source, xml, false), 0);
    const std::string good = folder.WriteFile("Oak.Bark.txr", xml.Text());
    const std::string noElement = folder.WriteFile("empty.txr", "<Other/>\r\n");

    QTexture* texture = NewTexture();
    texture->name = "old";
    EXPECT_EQ(LoadTextureFile(*texture, nullptr), 0);  // no path: nothing read
    EXPECT_EQ(texture->name, "old");

    texture->filePath = folder.Str() + "/missing.txr";
    EXPECT_EQ(LoadTextureFile(*texture, nullptr), TextureFileUnreadable);
    texture->filePath = noElement;
    EXPECT_EQ(LoadTextureFile(*texture, nullptr), TextureXmlNoElement);
    EXPECT_EQ(texture->name, "old");

    texture->filePath = good;
    ASSERT_EQ(LoadTextureFile(*texture, &document), 0);
    EXPECT_EQ(texture->name, "Oak.Bark");
    texture->name.clear();
    texture->filePath = folder.Str() + "\\Oak.Bark.txr";
    ASSERT_EQ(LoadTextureFile(*texture, &document), 0);
    EXPECT_EQ(texture->name, "Oak.Bark");
    ASSERT_NE(texture->Image(), nullptr);
    EXPECT_EQ(texture->Image(), source->Image()) << "same picture in the same document";
}

}  // namespace
