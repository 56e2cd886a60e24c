#include "scenefile/scene_save.h"

#include "core/base64.h"
#include "core/colour.h"
#include "core/private_block.h"
#include "core/xml_document.h"
#include "imaging/image_file.h"
#include "model/q_document_base.h"
#include "model/q_morvan_objects.h"
#include "support/temp_folder.h"
#include "view/q_render_view.h"
#include "view/scene_thumbnail.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// The scene's preview picture as written, or nothing when the file has none.
std::vector<std::uint32_t> PreviewOf(const std::string& path) {
    XmlDocument xml;
    if (!xml.Load(path) || !xml.FindElement("KVXMLFile") || !xml.EnterElement() ||
        !xml.FindElement("MIN")) {
        return {};
    }
    const std::vector<std::uint8_t> tiff = Base64Decode(xml.GetData());
    std::int32_t width = 0, height = 0, samples = 0;
    PrivateBlockPtr<std::uint8_t> pixels(DecodeTiffFromMemory(
        tiff.data(), static_cast<std::int32_t>(tiff.size()), "argb", width, height, samples));
    if (!pixels || width != 128 || height != 128) return {};
    std::vector<std::uint32_t> words(128 * 128);
    std::memcpy(words.data(), pixels.get(), words.size() * 4);
    return words;
}

TEST(SceneSave, WritesTheThumbnailOfTheRenderView) {
    TempFolder folder;
    QDocumentBase document;
    QRenderView view(&document);
    document.Objects()->AddShapeType1(0.8, ColourFromBytes(40, 200, 90), Vec3{});

    // An unsized view gives no picture; the scene is saved without one.
    const std::string path = folder.Str() + "/scene.kvr";
    ASSERT_EQ(SaveSceneWithThumbnail(document, path, SceneSaveMode::Everything), SceneSaved);
    EXPECT_TRUE(PreviewOf(path).empty());

    std::vector<std::uint32_t> frame(320 * 200);
    ASSERT_TRUE(view.InitViewBuffers(320 * 4, frame.data(), 320, 200, true));
    ASSERT_EQ(SaveSceneWithThumbnail(document, path, SceneSaveMode::Everything), SceneSaved);
    const std::vector<std::uint32_t> written = PreviewOf(path);
    ASSERT_EQ(written.size(), 128u * 128u);
    std::uint32_t byteCount = 0;
    const PrivateBlockPtr<std::uint32_t> thumbnail = MakeSceneThumbnail(view, byteCount);
    ASSERT_NE(thumbnail, nullptr);
    for (std::size_t i = 0; i < written.size(); ++i) {
        // The file keeps colour only; the thumbnail is opaque.
        ASSERT_EQ(written[i], thumbnail.get()[i]) << i;
    }
    // The sphere is in the middle, green.
    const std::uint32_t centre = written[64 * 128 + 64];
    EXPECT_GT((centre >> 8) & 0xFF, (centre >> 16) & 0xFF);
}

}  // namespace
