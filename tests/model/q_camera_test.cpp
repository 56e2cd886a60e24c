#include "model/q_camera.h"

#include "core/base64.h"
#include "core/byte_order.h"
#include "core/private_heap.h"
#include "core/scalar_maths.h"
#include "core/xml_document.h"
#include "core/xml_values.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// Writes camera into a new document and parses the text back with the "Camera" element
// current.
XmlDocument WriteAndReparse(const QCamera& camera) {
    XmlDocument written;
    camera.WriteXml(written);
    XmlDocument parsed(written.Text());
    EXPECT_TRUE(parsed.FindElement("Camera"));
    return parsed;
}

QCamera ReadBack(const QCamera& camera) {
    XmlDocument parsed = WriteAndReparse(camera);
    QCamera read;
    read.ReadXml(parsed);
    return read;
}

std::vector<std::uint32_t> Gradient(std::uint32_t width, std::uint32_t height) {
    std::vector<std::uint32_t> pixels;
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            pixels.push_back(0xFF000000u | (x * 20u) << 16 | (y * 30u) << 8 | ((x + y) * 7u));
        }
    }
    return pixels;
}

// The value of a one-value SHORT or LONG tag in the first directory of a little-endian TIFF;
// -1 when the tag is absent or the bytes are not such a TIFF.
std::int64_t TiffTag(const std::vector<std::uint8_t>& tiff, std::uint16_t wanted) {
    if (tiff.size() < 8 || tiff[0] != 'I' || tiff[1] != 'I' || LoadU16LE(&tiff[2]) != 42) return -1;
    const std::size_t directory = LoadU32LE(&tiff[4]);
    if (directory + 2 > tiff.size()) return -1;
    const std::size_t count = LoadU16LE(&tiff[directory]);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = directory + 2 + 12 * i;
        if (entry + 12 > tiff.size()) return -1;
        if (LoadU16LE(&tiff[entry]) != wanted) continue;
        const std::uint16_t type = LoadU16LE(&tiff[entry + 2]);
        return type == 3 ? LoadU16LE(&tiff[entry + 8]) : LoadU32LE(&tiff[entry + 8]);
    }
    return -1;
}

TEST(QCamera, DefaultsAndViewMatrix) {
    QCamera camera;
    EXPECT_EQ(camera.TypeId(), TypeIdPlain);
    EXPECT_EQ(camera.fov, 1.0);
    EXPECT_EQ(camera.m, 1.0);
    EXPECT_FALSE(camera.HasThumbnail());
    EXPECT_EQ(camera.ThumbnailWidth(), 0u);
    EXPECT_TRUE(IsIdentity(camera.GetViewMatrix()));

    camera.position = Vec3{1.0, -2.0, 3.5};
    const Matrix4 view = camera.GetViewMatrix();
    const Matrix4 expected = MakeTranslation(-1.0, 2.0, -3.5);
    for (int i = 0; i < 16; ++i) EXPECT_DOUBLE_EQ(view.m[i], expected.m[i]) << i;
}

TEST(QCamera, ViewMatrixUndoesTheRigThenThePositionThenTheOrientation) {
    QCamera camera;
    camera.transform = MakeTranslation(5.0, 0.0, 0.0);
    camera.position = Vec3{0.0, 1.0, 0.0};
    camera.orientation = Matrix3FromMatrix4(MakeRotationAboutAxis(Z_AXIS, HALF_PI));
    // The world point (5, 1, 0) is the rig origin moved to the camera position: it maps to
    // the camera's origin.
    const Vec3 origin = TransformPoint(camera.GetViewMatrix(), 5.0, 1.0, 0.0);
    EXPECT_NEAR(origin.x, 0.0, 1e-6);
    EXPECT_NEAR(origin.y, 0.0, 1e-6);
    // One unit further along x in the world is one unit along -y in the turned camera.
    const Vec3 beside = TransformPoint(camera.GetViewMatrix(), 6.0, 1.0, 0.0);
    EXPECT_NEAR(beside.x, 0.0, 1e-6);
    EXPECT_NEAR(beside.y, -1.0, 1e-6);
}

TEST(QCamera, WritesTheElementWithItsChildrenInOrder) {
    QCamera camera;
    camera.label = "Front \"A\"";
    XmlDocument parsed = WriteAndReparse(camera);
    EXPECT_EQ(parsed.GetAttribute("l"), "Front \"A\"");
    EXPECT_EQ(parsed.GetAttribute("fov"), FloatToBase64(1.0f));
    EXPECT_EQ(parsed.GetAttribute("px"), FloatToBase64(0.0f));
    ASSERT_TRUE(parsed.EnterElement());
    std::vector<std::string> children;
    for (std::int32_t child = parsed.FindElementPath(parsed.ParentPosition(), 0, "r"); child != 0;
         child = parsed.Element(child)->nextSibling) {
        children.push_back(parsed.GetElementName(child));
    }
    EXPECT_EQ(children, (std::vector<std::string>{"r", "o", "mn"}));
}

TEST(QCamera, RoundTripKeepsTheValuesAsFloats) {
    const QCamera plain;
    const QCamera plainBack = ReadBack(plain);
    EXPECT_TRUE(plainBack.Equals(plain));
    EXPECT_EQ(plainBack.fov, 1.0);
    EXPECT_EQ(plainBack.m, 1.0);
    EXPECT_FALSE(plainBack.HasThumbnail());
    EXPECT_EQ(plainBack.ThumbnailWidth(), 0u);
    EXPECT_EQ(plainBack.ThumbnailHeight(), 0u);

    QCamera placed;
    placed.position = Vec3{0.1, 0.0, 0.0};
    placed.transform = MakeTranslation(2.0, 4.0, -8.0);
    placed.orientation = Matrix3FromMatrix4(MakeRotationAboutAxis(Y_AXIS, 0.5));
    placed.fov = 0.75;
    placed.m = 2.0;
    placed.label = "Top";
    const QCamera placedBack = ReadBack(placed);
    // Positions compare byte-wise, and 0.1 comes back as the float nearest to it.
    EXPECT_FALSE(placedBack.Equals(placed));
    EXPECT_EQ(placedBack.position.x, static_cast<double>(0.1f));
    EXPECT_EQ(placedBack.transform.m[11], -8.0);
    EXPECT_EQ(placedBack.orientation.m[2], static_cast<double>(static_cast<float>(std::sin(0.5))));
    EXPECT_EQ(placedBack.fov, 0.75);
    EXPECT_EQ(placedBack.m, 2.0);
    EXPECT_EQ(placedBack.label, "Top");
}

TEST(QCamera, ThumbnailTravelsAsAnLzwRgbTiff) {
    const std::vector<std::uint32_t> pixels = Gradient(7, 5);
    QCamera camera;
    camera.SetThumbnail(pixels, 7, 5);
    XmlDocument parsed = WriteAndReparse(camera);

    ASSERT_TRUE(parsed.EnterElement());
    ASSERT_TRUE(parsed.FindElement("mn"));
    const std::vector<std::uint8_t> tiff = Base64Decode(parsed.GetData());
    EXPECT_EQ(TiffTag(tiff, 256), 7);   // width
    EXPECT_EQ(TiffTag(tiff, 257), 5);   // height
    EXPECT_EQ(TiffTag(tiff, 259), 5);   // LZW compression
    EXPECT_EQ(TiffTag(tiff, 262), 2);   // RGB
    EXPECT_EQ(TiffTag(tiff, 277), 3);   // samples per pixel
    EXPECT_EQ(TiffTag(tiff, 338), -1);  // no extra (alpha) sample

    const QCamera back = ReadBack(camera);
    ASSERT_TRUE(back.HasThumbnail());
    ASSERT_EQ(back.ThumbnailWidth(), 7u);
    ASSERT_EQ(back.ThumbnailHeight(), 5u);
    for (std::uint32_t y = 0; y < 5; ++y) {
        for (std::uint32_t x = 0; x < 7; ++x) {
            EXPECT_EQ(back.ThumbnailPixel(x, y), pixels[y * 7 + x]) << x << "," << y;
        }
    }
}

TEST(QCamera, UndecodableThumbnailLeavesNone) {
    const char* const texts[] = {"<Camera><mn>AAAAAAAA</mn></Camera>",
                                 "<Camera><mn>SUkqAAgAAAA=</mn></Camera>",
                                 "<Camera><mn/></Camera>"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        QCamera camera;
        camera.SetThumbnail(Gradient(2, 2), 2, 2);
        XmlDocument document(text);
        ASSERT_TRUE(document.FindElement("Camera"));
        camera.ReadXml(document);
        EXPECT_FALSE(camera.HasThumbnail());
        EXPECT_EQ(camera.ThumbnailWidth(), 0u);
        EXPECT_EQ(camera.ThumbnailHeight(), 0u);
    }
}

TEST(QCamera, MissingAttributesAndChildren) {
    const std::string r = Matrix4ToBase64(MakeTranslation(1.0, 2.0, 3.0));
    const std::string o = Matrix3ToBase64(Matrix3SetDiagonal(2.0));
    struct Case {
        const char* name;
        std::string text;
        double expectedTranslationX;  // element 3 of the transform
        double expectedOrientation0;  // element 0 of the orientation
        bool keepsThumbnail;          // no "mn" to replace the one the camera had
    };
    const Case cases[] = {
        {"no r", "<Camera><o>" + o + "</o><mn/></Camera>", 7.0, 2.0, false},
        {"no o", "<Camera><r>" + r + "</r><mn>AAAA</mn></Camera>", 1.0, 3.0, false},
        {"no mn", "<Camera><r>" + r + "</r><o>" + o + "</o></Camera>", 1.0, 2.0, true},
        {"no children", "<Camera/>", 7.0, 3.0, true},
        {"both", "<Camera><r>" + r + "</r><o>" + o + "</o><mn/></Camera>", 1.0, 2.0, false},
    };
    const std::vector<std::uint32_t> pixels = Gradient(3, 2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        XmlDocument document(c.text);
        ASSERT_TRUE(document.FindElement("Camera"));
        QCamera camera;
        camera.transform = MakeTranslation(7.0, 0.0, 0.0);
        camera.orientation = Matrix3SetDiagonal(3.0);
        camera.SetThumbnail(pixels, 3, 2);
        camera.ReadXml(document);
        EXPECT_EQ(camera.transform.m[3], c.expectedTranslationX);
        EXPECT_EQ(camera.orientation.m[0], c.expectedOrientation0);
        // Absent attributes read as 0.0 and an empty label.
        EXPECT_EQ(camera.fov, 0.0);
        EXPECT_EQ(camera.m, 0.0);
        EXPECT_EQ(camera.label, "");
        // An "mn" that does not decode leaves no thumbnail, and no size without pixels.
        EXPECT_EQ(camera.HasThumbnail(), c.keepsThumbnail);
        EXPECT_EQ(camera.ThumbnailWidth(), c.keepsThumbnail ? 3u : 0u);
        EXPECT_EQ(camera.ThumbnailHeight(), c.keepsThumbnail ? 2u : 0u);
        if (c.keepsThumbnail) {
            EXPECT_EQ(camera.ThumbnailPixel(2, 1), pixels[5]);
        }
        // The reader leaves the document on the camera element.
        EXPECT_EQ(document.GetElementName(document.CurrentPosition()), "Camera");
    }
}

TEST(QCamera, AssignCopiesTheThumbnailOrClearsItWithItsSize) {
    const std::vector<std::uint32_t> pixels = Gradient(3, 2);
    QCamera source;
    source.SetThumbnail(pixels, 3, 2);
    source.label = "S";
    source.fov = 0.5;

    QCamera copy(source);
    ASSERT_TRUE(copy.HasThumbnail());
    EXPECT_EQ(copy.ThumbnailWidth(), 3u);
    EXPECT_EQ(copy.ThumbnailHeight(), 2u);
    EXPECT_EQ(copy.ThumbnailPixel(2, 1), pixels[5]);
    EXPECT_EQ(copy.label, "S");
    EXPECT_TRUE(copy.Equals(source));

    const QCamera bare;
    copy.Assign(bare);
    EXPECT_FALSE(copy.HasThumbnail());
    EXPECT_EQ(copy.ThumbnailWidth(), 0u);
    EXPECT_EQ(copy.ThumbnailHeight(), 0u);
    EXPECT_EQ(copy.label, "");
    // With no pixels the camera writes and reads back without a thumbnail.
    EXPECT_FALSE(ReadBack(copy).HasThumbnail());
}

TEST(QCamera, RefusedThumbnailCopyLeavesTheTargetAsItWas) {
    const std::vector<std::uint32_t> pixels = Gradient(4, 4);
    QCamera source;
    source.SetThumbnail(pixels, 4, 4);
    source.fov = 0.25;
    QCamera target;
    target.label = "kept";
    const std::size_t blocksBefore = PrivateHeapBlockCount();
    PrivateHeapRefuseNext(2);
    EXPECT_THROW(target.Assign(source), KVOutOfMemoryException);
    PrivateHeapRefuseNext(0);
    EXPECT_EQ(target.fov, 1.0);
    EXPECT_EQ(target.label, "kept");
    EXPECT_FALSE(target.HasThumbnail());
    EXPECT_EQ(PrivateHeapBlockCount(), blocksBefore);
}

}  // namespace
