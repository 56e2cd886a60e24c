#include "core/xml_values.h"

#include "core/base64.h"
#include "core/xml_document.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>

TEST(XmlValues, FloatEncodesAsLittleEndianSingle) {
    EXPECT_EQ(FloatToBase64(1.0f), "AACAPw==");
    EXPECT_EQ(FloatToBase64(2.0f), "AAAAQA==");
    EXPECT_EQ(FloatToBase64(-0.0f), "AAAAgA==");
    EXPECT_EQ(Base64ToFloat("AACAPw=="), 1.0f);
    EXPECT_EQ(Base64ToFloat(""), 0.0f);
}

TEST(XmlValues, FloatRoundTripKeepsBits) {
    const float values[] = {0.1f,
                            -123.456f,
                            std::numeric_limits<float>::min(),
                            std::numeric_limits<float>::max(),
                            std::numeric_limits<float>::denorm_min(),
                            std::numeric_limits<float>::infinity(),
                            std::bit_cast<float>(0x7FC01234u)};
    for (const float v : values) {
        SCOPED_TRACE(v);
        const std::string text = FloatToBase64(v);
        EXPECT_EQ(text.size(), 8u);
        EXPECT_EQ(text.substr(6), "==");
        EXPECT_EQ(std::bit_cast<std::uint32_t>(Base64ToFloat(text)),
                  std::bit_cast<std::uint32_t>(v));
    }
}

TEST(XmlValues, ShortTextsReadOnlyWhatWasDecoded) {
    // Three bytes are no whole float.
    EXPECT_EQ(Base64ToFloat("AACA"), 0.0f);
    double matrix[16];
    // Two floats over the identity: only elements 0 and 1 change.
    const std::uint8_t bytes[8] = {0, 0, 0xA0, 0x40, 0, 0, 0xC0, 0x40};
    Base64ToMatrix4(BytesToBase64(bytes, sizeof(bytes)), matrix);
    EXPECT_EQ(matrix[0], 5.0);
    EXPECT_EQ(matrix[1], 6.0);
    for (int i = 2; i < 16; ++i) EXPECT_EQ(matrix[i], i % 5 == 0 ? 1.0 : 0.0) << i;
}

TEST(XmlValues, VectorAndMatrixBlocks) {
    const double vector[3] = {1.0, -2.5, 0.125};
    const std::string vectorText = VectorToBase64(vector);
    EXPECT_EQ(Base64Decode(vectorText).size(), 12u);
    EXPECT_EQ(vectorText.substr(0, 8), "AACAPwAA");

    const double matrix3[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    const std::string text3 = Matrix3ToBase64(matrix3);
    EXPECT_EQ(Base64Decode(text3).size(), 36u);
    double read3[16];
    Base64ToMatrix3(text3, read3);
    const double expected3[16] = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 0, 0, 0, 1};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(read3[i], expected3[i]) << i;

    const double matrix4[16] = {1, 0.5, -2, 10, 0, 1, 0, 20, 0.25, 0, 1, 30, 0, 0, 0, 1};
    const std::string text4 = Matrix4ToBase64(matrix4);
    EXPECT_EQ(Base64Decode(text4).size(), 64u);
    double read4[16];
    Base64ToMatrix4(text4, read4);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(read4[i], matrix4[i]) << i;

    // Doubles narrow to float on writing.
    const double fine[16] = {0.1};
    Base64ToMatrix4(Matrix4ToBase64(fine), read4);
    EXPECT_EQ(read4[0], static_cast<double>(0.1f));
}

TEST(XmlValues, AttributeHelpersWorkOnTheCurrentElement) {
    XmlDocument document;
    const double vector[3] = {1.0, 2.0, 3.0};
    // No current element: nothing is written.
    SetFloatAttribute(document, "f", 1.0f);
    EXPECT_FALSE(SetIntAttribute(document, "i", 1));
    EXPECT_EQ(document.Text(), "");

    document.AddElement("e");
    WriteVectorAttributes(document, "p", vector);
    EXPECT_TRUE(SetIntAttribute(document, "n", -5));
    SetFloatAttribute(document, "f", 0.5f);
    EXPECT_EQ(document.Text(),
              "<e px=\"AACAPw==\" py=\"AAAAQA==\" pz=\"AABAQA==\" n=\"-5\" f=\"AAAAPw==\"/>\r\n");

    XmlDocument reread(document.Text());
    ASSERT_TRUE(reread.FindElement("e"));
    double read[3] = {9, 9, 9};
    ReadVectorAttributes(reread, "p", read);
    EXPECT_EQ(read[0], 1.0);
    EXPECT_EQ(read[1], 2.0);
    EXPECT_EQ(read[2], 3.0);
    EXPECT_EQ(GetFloatAttribute(reread, "f"), 0.5f);
    EXPECT_EQ(GetFloatAttribute(reread, "missing"), 0.0f);
    ReadVectorAttributes(reread, "q", read);
    EXPECT_EQ(read[0], 0.0);
    EXPECT_EQ(read[2], 0.0);
}

namespace {

TEST(XmlValues, MathsTypesMatchTheArrayForms) {
    const Vec3 v{1.0, -2.5, 0.125};
    const double va[3] = {1.0, -2.5, 0.125};
    EXPECT_EQ(VectorToBase64(v), VectorToBase64(va));

    Matrix3 m3;
    for (int i = 0; i < 9; ++i) m3.m[i] = i + 1;
    const Matrix4 read3 = Base64ToMatrix3(Matrix3ToBase64(m3));
    const Matrix4 expected3{{1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 0, 0, 0, 1}};
    EXPECT_EQ(read3.m, expected3.m);

    const Matrix4 m4{{1, 0.5, -2, 10, 0, 1, 0, 20, 0.25, 0, 1, 30, 0, 0, 0, 1}};
    EXPECT_EQ(Base64ToMatrix4(Matrix4ToBase64(m4)).m, m4.m);
    EXPECT_EQ(Base64ToMatrix4("").m, Matrix4{}.m);  // identity when nothing is read

    XmlDocument document;
    document.AddElement("e");
    WriteVectorAttributes(document, "p", v);
    XmlDocument reread(document.Text());
    ASSERT_TRUE(reread.FindElement("e"));
    const Vec3 back = ReadVectorAttributes(reread, "p");
    EXPECT_EQ(back.x, 1.0);
    EXPECT_EQ(back.y, -2.5);
    EXPECT_EQ(back.z, 0.125);
}

}  // namespace
