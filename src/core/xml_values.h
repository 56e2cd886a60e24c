#pragma once

// Typed values in the system's XML: every non-integer number is stored as base64 of its
// 4-byte little-endian IEEE single-precision value, never as decimal text, so a value
// survives a save and a load bit for bit. Doubles are narrowed to float when written and
// widened back when read.
//
// Vectors are three doubles and matrices are row-major arrays of doubles: 9 for a 3x3,
// 16 for a 4x4 (translation in elements 3, 7 and 11).
//
// The fixed-size decoders take as many whole floats as the text yields, up to the count
// they expect; the rest keep their defaults (0.0 for a float, the identity for a matrix).

#include "core/matrix3.h"
#include "core/matrix4.h"
#include "core/vec3.h"

#include <cstdint>
#include <string>
#include <string_view>

class XmlDocument;

// Base64 of the float's 4 bytes: always 8 characters ending in "==".
std::string FloatToBase64(float value);

// The float in the first 4 decoded bytes; 0.0 when the text yields fewer than 4.
float Base64ToFloat(std::string_view text);

// Base64 of the three components as floats (12 bytes).
std::string VectorToBase64(const double vector[3]);

// Base64 of the nine elements as floats, row by row (36 bytes).
std::string Matrix3ToBase64(const double matrix[9]);

// Reads a 3x3 block into a 4x4: the nine values fill the upper-left block, the translation
// (elements 3, 7, 11) and elements 12-14 are 0 and element 15 is 1.
void Base64ToMatrix3(std::string_view text, double matrix4[16]);

// Base64 of the sixteen elements as floats in element order (64 bytes).
std::string Matrix4ToBase64(const double matrix[16]);

// Reads sixteen values in element order over an identity matrix.
void Base64ToMatrix4(std::string_view text, double matrix[16]);

// Sets the attribute on the document's current element to FloatToBase64(value); does
// nothing when there is no current element.
void SetFloatAttribute(XmlDocument& document, std::string_view name, float value);

// Base64ToFloat of the current element's attribute; 0.0 when it is missing.
float GetFloatAttribute(const XmlDocument& document, std::string_view name);

// Sets prefix + "x", prefix + "y" and prefix + "z", in that order, on the current element.
void WriteVectorAttributes(XmlDocument& document, std::string_view prefix, const double vector[3]);

// Reads the three attributes written by WriteVectorAttributes; a missing one gives 0.0.
void ReadVectorAttributes(const XmlDocument& document, std::string_view prefix, double vector[3]);

// Sets the attribute on the current element to the value's decimal text; false when there
// is no current element.
bool SetIntAttribute(XmlDocument& document, std::string_view name, std::int32_t value);

// The same encodings for the maths types.
std::string VectorToBase64(const Vec3& vector);
std::string Matrix3ToBase64(const Matrix3& matrix);
Matrix4 Base64ToMatrix3(std::string_view text);
std::string Matrix4ToBase64(const Matrix4& matrix);
Matrix4 Base64ToMatrix4(std::string_view text);
void WriteVectorAttributes(XmlDocument& document, std::string_view prefix, const Vec3& vector);
Vec3 ReadVectorAttributes(const XmlDocument& document, std::string_view prefix);
