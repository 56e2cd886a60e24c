#pragma once

// Typed attribute values of scene and object files, read at an element's position. The
// encodings are those the writers use: integers as decimal text read the way the C library's
// atoi reads them (absent or empty gives 0), floats as base64 of their four little-endian
// bytes (absent or empty gives 0.0), vectors as three float attributes with the suffixes
// "x", "y" and "z", colours as a decimal 0xRRGGBB.
//
// The document must have a current element (XmlDocument answers attribute reads only then);
// the readers position it on the file's root before they read by position.

#include "core/colour.h"
#include "core/vec3.h"

#include <cstdint>
#include <optional>
#include <string_view>

class XmlDocument;

// Decimal text as atoi reads it: leading blanks, a sign, digits up to the first other
// character. Values beyond the 64-bit range saturate and the low 32 bits are kept, so an
// unsigned word written as a negative decimal ("%d") or as "%u" comes back with its bits.
std::int32_t SceneTextToInt(std::string_view text);

// Decimal text as atof reads it (leading blanks, an optional "+", then the longest number);
// 0.0 when no number starts the text.
double SceneTextToDouble(std::string_view text);

// The float whose base64 starts the text. Only the first characters are decoded, so an
// attribute of any length costs the same; 0.0 when they yield fewer than four bytes.
float SceneTextToFloat(std::string_view text);

// True when the element has the attribute with a value (an empty value counts as absent, as
// the readers treat it).
bool SceneHasValue(const XmlDocument& xml, std::int32_t element, std::string_view name);

std::int32_t SceneIntAt(const XmlDocument& xml, std::int32_t element, std::string_view name);
float SceneFloatAt(const XmlDocument& xml, std::int32_t element, std::string_view name);
Vec3 SceneVectorAt(const XmlDocument& xml, std::int32_t element, std::string_view prefix);
Colour SceneColourAt(const XmlDocument& xml, std::int32_t element, std::string_view name);

// The value when the attribute is present, else nothing.
std::optional<std::int32_t> SceneOptionalIntAt(const XmlDocument& xml, std::int32_t element,
                                               std::string_view name);

// The element's text read as a float (the "P" parameters).
float SceneFloatDataAt(const XmlDocument& xml, std::int32_t element);

// The first child element named `name` of parent, or the first one after `after` when after
// is not 0; 0 when there is none.
std::int32_t SceneFindChild(const XmlDocument& xml, std::int32_t parent, std::int32_t after,
                            std::string_view name);

// The next sibling element of the same name after element; 0 when there is none.
std::int32_t SceneNextNamed(const XmlDocument& xml, std::int32_t element, std::string_view name);

// A rotation vector (unit axis times angle in radians) as axis and angle; the zero vector
// gives the x axis and angle 0.
void SceneRotationVector(const Vec3& vector, Vec3& axis, double& angle);
