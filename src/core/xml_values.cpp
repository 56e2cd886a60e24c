#include "core/xml_values.h"

#include "core/base64.h"
#include "core/byte_order.h"
#include "core/number_text.h"
#include "core/xml_document.h"

#include <array>
#include <cstddef>
#include <vector>

namespace {

// Encodes the values as consecutive little-endian floats.
std::string FloatsToBase64(const double* values, std::size_t count) {
    std::array<std::uint8_t, 64> bytes{};
    for (std::size_t i = 0; i < count; ++i) {
        StoreF32LE(bytes.data() + 4 * i, static_cast<float>(values[i]));
    }
    return BytesToBase64(bytes.data(), 4 * count);
}

// Decodes up to count floats into values; returns how many whole floats the text held.
std::size_t Base64ToFloats(std::string_view text, double* values, std::size_t count) {
    const std::vector<std::uint8_t> bytes = Base64Decode(text);
    std::size_t available = bytes.size() / 4;
    if (available > count) available = count;
    for (std::size_t i = 0; i < available; ++i) {
        values[i] = LoadF32LE(bytes.data() + 4 * i);
    }
    return available;
}

void SetIdentity(double matrix[16]) {
    for (int i = 0; i < 16; ++i) matrix[i] = (i % 5 == 0) ? 1.0 : 0.0;
}

std::string AxisName(std::string_view prefix, char axis) {
    std::string name(prefix);
    name.push_back(axis);
    return name;
}

}  // namespace

std::string FloatToBase64(float value) {
    std::uint8_t bytes[4];
    StoreF32LE(bytes, value);
    return BytesToBase64(bytes, sizeof(bytes));
}

float Base64ToFloat(std::string_view text) {
    double value = 0.0;
    Base64ToFloats(text, &value, 1);
    return static_cast<float>(value);
}

std::string VectorToBase64(const double vector[3]) { return FloatsToBase64(vector, 3); }

std::string Matrix3ToBase64(const double matrix[9]) { return FloatsToBase64(matrix, 9); }

void Base64ToMatrix3(std::string_view text, double matrix4[16]) {
    double block[9] = {1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0};
    Base64ToFloats(text, block, 9);
    SetIdentity(matrix4);
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            matrix4[row * 4 + column] = block[row * 3 + column];
        }
    }
}

std::string Matrix4ToBase64(const double matrix[16]) { return FloatsToBase64(matrix, 16); }

void Base64ToMatrix4(std::string_view text, double matrix[16]) {
    SetIdentity(matrix);
    Base64ToFloats(text, matrix, 16);
}

void SetFloatAttribute(XmlDocument& document, std::string_view name, float value) {
    document.SetAttribute(document.CurrentPosition(), name, FloatToBase64(value));
}

float GetFloatAttribute(const XmlDocument& document, std::string_view name) {
    return Base64ToFloat(document.GetAttribute(name));
}

void WriteVectorAttributes(XmlDocument& document, std::string_view prefix, const double vector[3]) {
    SetFloatAttribute(document, AxisName(prefix, 'x'), static_cast<float>(vector[0]));
    SetFloatAttribute(document, AxisName(prefix, 'y'), static_cast<float>(vector[1]));
    SetFloatAttribute(document, AxisName(prefix, 'z'), static_cast<float>(vector[2]));
}

void ReadVectorAttributes(const XmlDocument& document, std::string_view prefix, double vector[3]) {
    vector[0] = GetFloatAttribute(document, AxisName(prefix, 'x'));
    vector[1] = GetFloatAttribute(document, AxisName(prefix, 'y'));
    vector[2] = GetFloatAttribute(document, AxisName(prefix, 'z'));
}

bool SetIntAttribute(XmlDocument& document, std::string_view name, std::int32_t value) {
    return document.SetAttribute(document.CurrentPosition(), name, IntToString(value));
}

std::string VectorToBase64(const Vec3& vector) {
    const double v[3] = {vector.x, vector.y, vector.z};
    return VectorToBase64(v);
}

std::string Matrix3ToBase64(const Matrix3& matrix) { return Matrix3ToBase64(matrix.m.data()); }

Matrix4 Base64ToMatrix3(std::string_view text) {
    Matrix4 matrix;
    Base64ToMatrix3(text, matrix.m.data());
    return matrix;
}

std::string Matrix4ToBase64(const Matrix4& matrix) { return Matrix4ToBase64(matrix.m.data()); }

Matrix4 Base64ToMatrix4(std::string_view text) {
    Matrix4 matrix;
    Base64ToMatrix4(text, matrix.m.data());
    return matrix;
}

void WriteVectorAttributes(XmlDocument& document, std::string_view prefix, const Vec3& vector) {
    const double v[3] = {vector.x, vector.y, vector.z};
    WriteVectorAttributes(document, prefix, v);
}

Vec3 ReadVectorAttributes(const XmlDocument& document, std::string_view prefix) {
    double v[3] = {0.0, 0.0, 0.0};
    ReadVectorAttributes(document, prefix, v);
    return {v[0], v[1], v[2]};
}
