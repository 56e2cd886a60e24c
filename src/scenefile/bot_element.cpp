#include "scenefile/bot_element.h"

#include "core/base64.h"
#include "core/byte_order.h"
#include "core/number_text.h"
#include "core/xml_document.h"
#include "core/xml_values.h"
#include "model/q_toad_obj.h"
#include "scenefile/scene_names.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace {

// The place of a child in a bot element: the pictures first, then the record's children
// with the file name among them, then everything else in the order it came.
int ChildRank(std::string_view name) {
    constexpr std::array<std::string_view, 8> Order = {
        "MIN", "SceneMin", "Gradient", BotNameElement, "fileName", BotMorphHeadElement,
        BotMorphElement, BotModeRowElement};
    for (std::size_t i = 0; i < Order.size(); ++i) {
        if (Order[i] == name) return static_cast<int>(i);
    }
    return static_cast<int>(Order.size());
}

struct Child {
    int rank = 0;
    std::string text;
};

// Appends "<name>" or "</name>".
void AppendTag(std::string& text, std::string_view name, bool isEnd) {
    text.append(isEnd ? "</" : "<").append(name).push_back('>');
}

std::string DataElement(std::string_view name, std::string_view data) {
    std::string text;
    if (data.empty()) return text.append("<").append(name).append("/>");
    AppendTag(text, name, false);
    text.append(XmlDocument::EscapeText(data, 0));
    AppendTag(text, name, true);
    return text;
}

std::string RawText(const XmlDocument& xml, std::int32_t position) {
    const ElementPosition* e = xml.Element(position);
    return xml.Text().substr(static_cast<std::size_t>(e->start), static_cast<std::size_t>(e->length));
}

// "Morph" with the record's mode and steps and a "T" with its duration, then the children of
// the stored "Morph" other than "T" (the morph values, which the record does not read).
std::string MorphElement(const QToadObj& bot, const std::vector<std::string>& keptChildren) {
    std::string text;
    text.append("<").append(BotMorphElement);
    text.append(" m=\"").append(IntToString(bot.morphMode));
    text.append("\" i=\"").append(IntToString(bot.morphSteps)).append("\">\r\n");
    text.append("<").append(BotMorphTimeElement);
    text.append(" s=\"").append(FloatToBase64(bot.morphDuration)).append("\"/>\r\n");
    for (const std::string& child : keptChildren) text.append(child).append("\r\n");
    AppendTag(text, BotMorphElement, true);
    return text;
}

std::string ModeRowElement(const QToadObj& bot) {
    std::array<std::uint8_t, 4 * std::tuple_size_v<decltype(bot.bt)>> bytes{};
    for (std::size_t i = 0; i < bot.bt.size(); ++i) StoreF32LE(bytes.data() + 4 * i, bot.bt[i]);
    return DataElement(BotModeRowElement, BytesToBase64(bytes.data(), bytes.size()));
}

}  // namespace

std::string BotElementText(const QToadObj& bot) {
    std::string startTag;
    startTag.append("<").append(BotElement).append(" version=\"1.0\">");
    std::vector<Child> children;
    std::vector<std::string> morphChildren;
    if (!bot.storedElement.empty()) {
        const XmlDocument stored(bot.storedElement);
        const std::int32_t root = stored.Element(0)->firstChild;
        if (root != 0 && stored.GetElementName(root) == BotElement) {
            const ElementPosition* e = stored.Element(root);
            startTag = stored.Text().substr(static_cast<std::size_t>(e->start),
                                            static_cast<std::size_t>(e->startTagLength));
            // "<Toad .../>" is opened to take its children.
            if (startTag.ends_with("/>")) startTag.erase(startTag.size() - 2, 1);
            for (std::int32_t child = e->firstChild; child != 0;
                 child = stored.Element(child)->nextSibling) {
                const std::string name = stored.GetElementName(child);
                if (name == BotMorphElement) {
                    for (std::int32_t m = stored.Element(child)->firstChild; m != 0;
                         m = stored.Element(m)->nextSibling) {
                        if (stored.GetElementName(m) != BotMorphTimeElement) {
                            morphChildren.push_back(RawText(stored, m));
                        }
                    }
                } else if (name != BotNameElement && name != BotMorphHeadElement &&
                           name != BotModeRowElement) {
                    children.push_back({ChildRank(name), RawText(stored, child)});
                }
            }
        }
    }

    // The record's children go before the first stored child that follows them in order.
    const Child own[] = {
        {ChildRank(BotNameElement), DataElement(BotNameElement, bot.name)},
        {ChildRank(BotMorphHeadElement), DataElement(BotMorphHeadElement, bot.morphHead != 0 ? "1" : "0")},
        {ChildRank(BotMorphElement), MorphElement(bot, morphChildren)},
        {ChildRank(BotModeRowElement), ModeRowElement(bot)},
    };
    for (const Child& child : own) {
        auto at = children.begin();
        while (at != children.end() && at->rank <= child.rank) ++at;
        children.insert(at, child);
    }

    std::string text = startTag;
    text.append("\r\n");
    for (const Child& child : children) text.append(child.text).append("\r\n");
    AppendTag(text, BotElement, true);
    return text;
}
