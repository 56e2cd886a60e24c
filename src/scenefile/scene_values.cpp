#include "scenefile/scene_values.h"

#include "core/base64.h"
#include "core/byte_order.h"
#include "core/number_text.h"
#include "core/xml_document.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

namespace {

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Base64 characters decoded for one float: eight carry its four bytes; the rest allow for a
// line break inside the group, which the decoder skips.
constexpr std::size_t FloatTextLimit = 12;

}  // namespace

std::int32_t SceneTextToInt(std::string_view text) { return TextToInt32(text); }

double SceneTextToDouble(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i < text.size() && text[i] == '+') ++i;
    double value = 0.0;
    const char* first = text.data() + i;
    const auto [end, error] = std::from_chars(first, text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range) {
        // from_chars leaves the value alone on overflow; atof gives the infinity of the sign.
        return (i < text.size() && text[i] == '-') ? -HUGE_VAL : HUGE_VAL;
    }
    if (error != std::errc{} || end == first) return 0.0;
    return value;
}

float SceneTextToFloat(std::string_view text) {
    std::array<std::uint8_t, 4> bytes{};
    const std::string_view head = text.substr(0, std::min(text.size(), FloatTextLimit));
    if (Base64ToBytes(head, bytes.data(), bytes.size(), 4) < 4) return 0.0f;
    return LoadF32LE(bytes.data());
}

bool SceneHasValue(const XmlDocument& xml, std::int32_t element, std::string_view name) {
    return !xml.GetAttributeAt(element, name).empty();
}

std::int32_t SceneIntAt(const XmlDocument& xml, std::int32_t element, std::string_view name) {
    return SceneTextToInt(xml.GetAttributeAt(element, name));
}

float SceneFloatAt(const XmlDocument& xml, std::int32_t element, std::string_view name) {
    return SceneTextToFloat(xml.GetAttributeAt(element, name));
}

Vec3 SceneVectorAt(const XmlDocument& xml, std::int32_t element, std::string_view prefix) {
    std::string name(prefix);
    name.push_back('x');
    Vec3 v;
    v.x = SceneFloatAt(xml, element, name);
    name.back() = 'y';
    v.y = SceneFloatAt(xml, element, name);
    name.back() = 'z';
    v.z = SceneFloatAt(xml, element, name);
    return v;
}

Colour SceneColourAt(const XmlDocument& xml, std::int32_t element, std::string_view name) {
    return ColourFromRgb24(static_cast<std::uint32_t>(SceneIntAt(xml, element, name)));
}

std::optional<std::int32_t> SceneOptionalIntAt(const XmlDocument& xml, std::int32_t element,
                                               std::string_view name) {
    const std::string text = xml.GetAttributeAt(element, name);
    if (text.empty()) return std::nullopt;
    return SceneTextToInt(text);
}

float SceneFloatDataAt(const XmlDocument& xml, std::int32_t element) {
    return SceneTextToFloat(xml.GetDataAt(element));
}

std::int32_t SceneFindChild(const XmlDocument& xml, std::int32_t parent, std::int32_t after,
                            std::string_view name) {
    return xml.FindElementPath(parent, after, name);
}

std::int32_t SceneNextNamed(const XmlDocument& xml, std::int32_t element, std::string_view name) {
    const ElementPosition* record = xml.Element(element);
    if (record == nullptr || element == 0) return 0;
    return xml.FindElementPath(record->parent, element, name);
}

void SceneRotationVector(const Vec3& vector, Vec3& axis, double& angle) {
    angle = std::sqrt(vector.x * vector.x + vector.y * vector.y + vector.z * vector.z);
    if (!(angle > 0.0) || !std::isfinite(angle)) {
        axis = Vec3{1.0, 0.0, 0.0};
        angle = 0.0;
        return;
    }
    axis = Vec3{vector.x / angle, vector.y / angle, vector.z / angle};
}
