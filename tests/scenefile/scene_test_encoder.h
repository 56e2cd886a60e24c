#pragma once

// An encoder of scene files for tests, written apart from the system's own base64 and XML
// code: floats go through their IEEE bytes and a base64 written out here, so a reader that
// agrees with it agrees with the format, not with itself.

#include <array>
#include <bit>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace scene_test {

inline std::string Base64(const std::vector<std::uint8_t>& bytes) {
    static constexpr char Alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = bytes.size() - i;
        const std::uint32_t group = (std::uint32_t{bytes[i]} << 16) |
                                    (left > 1 ? std::uint32_t{bytes[i + 1]} << 8 : 0u) |
                                    (left > 2 ? std::uint32_t{bytes[i + 2]} : 0u);
        out.push_back(Alphabet[(group >> 18) & 63]);
        out.push_back(Alphabet[(group >> 12) & 63]);
        out.push_back(left > 1 ? Alphabet[(group >> 6) & 63] : '=');
        out.push_back(left > 2 ? Alphabet[group & 63] : '=');
    }
    return out;
}

// Base64 of the float's four bytes, least significant first.
inline std::string F(float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    return Base64({static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
                   static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)});
}

// key="F(v)" with a leading blank.
inline std::string A(std::string_view key, float value) {
    std::string text(" ");
    text.append(key).append("=\"").append(F(value)).append("\"");
    return text;
}

// A vector: the three attributes key + x, y, z.
inline std::string V(std::string_view key, float x, float y, float z) {
    std::string name(key);
    std::string text = A(name.append("x"), x);
    name.back() = 'y';
    text += A(name, y);
    name.back() = 'z';
    return text + A(name, z);
}

// key="text" with a leading blank; text is written as given.
inline std::string I(std::string_view key, std::string_view value) {
    std::string text(" ");
    text.append(key).append("=\"").append(value).append("\"");
    return text;
}
inline std::string I(std::string_view key, long long value) { return I(key, std::to_string(value)); }

// One "Obj": shape type, id, position, parameters; more attributes (flags, colour and the
// rest, which are left out otherwise) and children as given.
inline std::string Obj(int type, int id, std::array<float, 3> position,
                       const std::vector<float>& params, std::string_view attributes = {},
                       std::string_view children = {}) {
    std::string text = "<Obj" + I("o", type) + I("g", id) +
                       I("n", static_cast<long long>(params.size())) +
                       V("p", position[0], position[1], position[2]) + V("r", 0, 0, 0) +
                       std::string(attributes) + ">";
    for (float p : params) text += "<P>" + F(p) + "</P>";
    text += std::string(children) + "</Obj>\r\n";
    return text;
}

// A scene file: declaration, root with its version, "View_0" around the view elements, the
// object records and the lights, then the root-level elements.
struct SceneText {
    std::string rootAttributes = I("version", "2.1");
    bool withView = true;
    std::string viewAttributes;
    std::string viewElements;  // before "KVR"
    std::string kvrAttributes = I("version", 3) + I("numGroups", 1) + I("flags", 192);
    std::string objects;
    bool withKvr = true;
    std::string lights;  // after "KVR"
    std::string rootElements = "<Output x=\"0\" y=\"0\"/>\r\n<Textures/>\r\n<Toads/>\r\n";

    std::string Text() const {
        std::string kvr = withKvr ? "<KVR" + kvrAttributes + ">\r\n" + objects + "</KVR>\r\n" : "";
        std::string text = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<KVXMLFile" +
                           rootAttributes + ">\r\n";
        if (withView) {
            text += "<View_0" + viewAttributes + ">\r\n" + viewElements + kvr + lights +
                    "</View_0>\r\n" + rootElements;
        } else {
            text += kvr + lights;
        }
        return text + "</KVXMLFile>\r\n";
    }
};

}  // namespace scene_test
