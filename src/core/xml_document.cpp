#include "core/xml_document.h"

#include "core/byte_order.h"
#include "core/check.h"
#include "platform/file_bytes.h"
#include "platform/safe_file_writer.h"

#include <charconv>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>

// The element table is one flat array: a position is simply the record's index. Positions
// stay 32-bit as callers store them, while offsets and tag lengths are 64-bit, so no tag,
// attribute or data element is too long to record.

namespace {

// Node kinds reported by the node scanner; only start tags, end tags, malformed nodes and
// the end of the text shape the element table.
enum NodeKind : int {
    EndOfText = -2,
    Malformed = -1,
    EndTag = 0,
    StartTag = 1,
    TextNode = 2,
    WhitespaceNode = 4,
    CDataNode = 8,
    ProcessingInstructionNode = 16,
    CommentNode = 32,
    DoctypeNode = 64,
};

struct Node {
    int kind = EndOfText;
    std::int64_t start = 0;
    std::int64_t next = 0;       // just past the node
    std::int64_t nameStart = 0;  // tag name of a start or end tag, [nameStart, nameEnd)
    std::int64_t nameEnd = 0;
    bool isEmptyTag = false;  // "<a/>"
    std::string message;      // for a malformed node
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool IsQuote(char c) { return c == '"' || c == '\''; }

// A start tag's name begins with a letter, "_", ":" or any byte from 0x61 up (which takes in
// the bytes of multi-byte UTF-8 characters).
bool IsNameStart(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') || u == '_' || u == ':' || u >= 0x61;
}

bool EndsName(char c) { return IsSpace(c) || c == '/' || c == '>'; }

std::string Int64ToText(std::int64_t value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof(digits), value);
    return std::string(digits, result.ptr);
}

// A token matches a name when the name starts with the token's bytes and ends there or goes
// on with " ", "=", "/", "[" or "]"; so "ab" does not match "abc".
bool MatchName(std::string_view token, std::string_view name) {
    if (name.size() < token.size() || name.compare(0, token.size(), token) != 0) return false;
    if (name.size() == token.size()) return true;
    const char c = name[token.size()];
    return c == ' ' || c == '=' || c == '/' || c == '[' || c == ']';
}

// The offset of the first ">" at or after `from` whose preceding characters are `mark`,
// with the mark starting no earlier than `markMin`; npos when there is none.
std::size_t FindEndMark(std::string_view text, std::size_t from, std::string_view mark,
                        std::size_t markMin) {
    std::size_t pos = from;
    while (true) {
        const std::size_t gt = text.find('>', pos);
        if (gt == std::string_view::npos) return gt;
        if (gt >= markMin + mark.size() && text.compare(gt - mark.size(), mark.size(), mark) == 0) {
            return gt;
        }
        pos = gt + 1;
    }
}

// Scans one node starting at `offset`. The text may be a prefix of the document (to keep a
// scan inside an element's content); offsets stay those of the document.
Node ScanNode(std::string_view text, std::int64_t offset) {
    const auto n = static_cast<std::int64_t>(text.size());
    Node node;
    node.start = offset;
    node.next = offset;
    if (offset >= n) return node;

    const auto s = static_cast<std::size_t>(offset);
    auto unterminated = [&](const char* what) {
        node.kind = Malformed;
        node.message = std::string(what) + " at offset " + Int64ToText(offset) + " unterminated";
        node.next = n;
        return node;
    };
    auto incorrect = [&](const char* what) {
        node.kind = Malformed;
        node.message = std::string("Incorrect ") + what + " at offset " + Int64ToText(offset);
        const std::size_t lt = text.find('<', s + 1);
        node.next = lt == std::string_view::npos ? n : static_cast<std::int64_t>(lt);
        return node;
    };
    auto endAfter = [&](std::size_t gt, int kind) {
        node.kind = kind;
        node.next = static_cast<std::int64_t>(gt) + 1;
        return node;
    };

    if (text[s] != '<') {
        const std::size_t lt = text.find('<', s);
        const std::size_t end = lt == std::string_view::npos ? text.size() : lt;
        node.kind = WhitespaceNode;
        for (std::size_t i = s; i < end; ++i) {
            if (!IsSpace(text[i])) {
                node.kind = TextNode;
                break;
            }
        }
        node.next = static_cast<std::int64_t>(end);
        return node;
    }

    if (s + 1 >= text.size()) return unterminated("tag");
    const char c1 = text[s + 1];
    if (IsNameStart(c1)) {
        std::size_t q = s + 1;
        while (q < text.size() && !EndsName(text[q])) ++q;
        node.nameStart = static_cast<std::int64_t>(s + 1);
        node.nameEnd = static_cast<std::int64_t>(q);
        // Quotes are honoured only where a value starts, after "=", so a ">" inside a quoted
        // value does not end the tag.
        enum class State { Normal, AfterEquals, Quoted, Bare } state = State::Normal;
        char quote = 0;
        for (; q < text.size(); ++q) {
            const char c = text[q];
            if (state == State::Quoted) {
                const std::size_t close = text.find(quote, q);
                if (close == std::string_view::npos) return unterminated("Element tag");
                q = close;
                state = State::Normal;
            } else if (state == State::AfterEquals) {
                if (IsSpace(c)) continue;
                if (IsQuote(c)) {
                    quote = c;
                    state = State::Quoted;
                } else if (c == '>') {
                    break;
                } else {
                    state = c == '=' ? State::Normal : State::Bare;
                }
            } else if (c == '>') {
                break;
            } else if (state == State::Bare) {
                if (IsSpace(c)) state = State::Normal;
            } else if (c == '=') {
                state = State::AfterEquals;
            }
        }
        if (q >= text.size()) return unterminated("Element tag");
        // "/>" makes an empty-element tag only when the "/" follows the name, a blank or a
        // quote: in "<a x=1/>" it belongs to the unquoted value.
        if (text[q - 1] == '/' && q - 1 > s + 1) {
            const std::size_t slash = q - 1;
            node.isEmptyTag = static_cast<std::int64_t>(slash) == node.nameEnd ||
                              IsSpace(text[slash - 1]) || IsQuote(text[slash - 1]);
        }
        return endAfter(q, StartTag);
    }
    switch (c1) {
        case '/': {
            std::size_t q = s + 2;
            while (q < text.size() && !EndsName(text[q])) ++q;
            node.nameStart = static_cast<std::int64_t>(s + 2);
            node.nameEnd = static_cast<std::int64_t>(q);
            const std::size_t gt = text.find('>', q);
            if (gt == std::string_view::npos) return unterminated("Element end tag");
            return endAfter(gt, EndTag);
        }
        case '?': {
            const std::size_t gt = FindEndMark(text, s + 2, "?", s + 2);
            if (gt == std::string_view::npos) return unterminated("Processing instruction");
            return endAfter(gt, ProcessingInstructionNode);
        }
        case '!':
            break;
        default:
            return incorrect("tag name character");
    }

    if (s + 2 >= text.size()) return unterminated("tag");
    const char c2 = text[s + 2];
    // "<!--" opens a comment and "<![C" a CDATA section; each needs its second character.
    auto markedSection = [&](char second, const char* wrongSecond, std::string_view endMark,
                             int kind, const char* unterminatedName) {
        if (s + 3 >= text.size()) return unterminated("tag");
        if (text[s + 3] != second) return incorrect(wrongSecond);
        const std::size_t gt = FindEndMark(text, s + 4, endMark, s + 4);
        if (gt == std::string_view::npos) return unterminated(unterminatedName);
        return endAfter(gt, kind);
    };
    if (c2 == '-') return markedSection('-', "comment tag", "--", CommentNode, "Comment");
    if (c2 == '[') return markedSection('C', "tag", "]]", CDataNode, "CDATA Section");
    if (c2 == 'D') {
        // The DOCTYPE ends at the first ">" outside its nested declarations; quotes toggle.
        std::int64_t depth = 0;
        char quote = 0;
        for (std::size_t q = s + 3; q < text.size(); ++q) {
            const char c = text[q];
            if (quote != 0) {
                if (c == quote) quote = 0;
            } else if (IsQuote(c)) {
                quote = c;
            } else if (c == '<') {
                ++depth;
            } else if (c == '>') {
                if (depth == 0) return endAfter(q, DoctypeNode);
                --depth;
            }
        }
        return unterminated("Doctype");
    }
    return incorrect("! tag");
}

// Open elements during a parse, looked up by the end-tag names that match them. A name is
// filed under every token that matches it (the whole name and each prefix that stops before
// "=", "[" or "]"), so the innermost match for an end tag is found without walking the
// stack: a hostile run of stray end tags inside deep nesting stays linear.
class OpenElementIndex {
public:
    void Push(std::string_view name, std::int32_t depth) {
        ForEachKey(name, [&](std::string_view key) { byKey[key].push_back(depth); });
    }
    void Pop(std::string_view name) {
        ForEachKey(name, [&](std::string_view key) {
            std::vector<std::int32_t>& depths = byKey[key];
            ORBELLE_DCHECK(!depths.empty());
            depths.pop_back();
        });
    }
    // The depth of the innermost open element the token matches, or -1.
    std::int32_t Innermost(std::string_view token) const {
        const auto found = byKey.find(token);
        if (found == byKey.end() || found->second.empty()) return -1;
        return found->second.back();
    }

private:
    template <typename Fn>
    static void ForEachKey(std::string_view name, Fn&& fn) {
        for (std::size_t i = 1; i < name.size(); ++i) {
            if (name[i] == '=' || name[i] == '[' || name[i] == ']') fn(name.substr(0, i));
        }
        fn(name);
    }
    std::unordered_map<std::string_view, std::vector<std::int32_t>> byKey;
};

// Decodes one UTF-8 character at text[i], advancing i; -1 for a malformed, overlong,
// surrogate or out-of-range sequence, after which i has moved past the bad bytes.
std::int32_t DecodeUtf8Char(std::string_view text, std::size_t& i) {
    const auto lead = static_cast<unsigned char>(text[i++]);
    if (lead < 0x80) return lead;
    int extra = 0;
    std::int32_t cp = 0;
    std::int32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        cp = lead & 0x1F;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        cp = lead & 0x0F;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        cp = lead & 0x07;
        minimum = 0x10000;
    } else {
        return -1;
    }
    for (int k = 0; k < extra; ++k) {
        if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return -1;
        cp = (cp << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
    return cp;
}

void EncodeUtf8Char(std::uint32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Converts little-endian UTF-16 units to UTF-8. Only a high surrogate followed by a low one
// forms a pair; any other surrogate becomes "?", as the writer does for malformed input,
// so no unit swallows the character after it.
std::string Utf16ToUtf8(const std::uint8_t* units, std::size_t unitCount) {
    std::string out;
    out.reserve(unitCount + unitCount / 2);
    for (std::size_t i = 0; i < unitCount; ++i) {
        const std::uint32_t u = LoadU16LE(units + 2 * i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < unitCount) {
            const std::uint32_t low = LoadU16LE(units + 2 * (i + 1));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                EncodeUtf8Char(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00), out);
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) {
            out.push_back('?');
        } else {
            EncodeUtf8Char(u, out);
        }
    }
    return out;
}

// Converts UTF-8 to UTF-16 units; characters above 0xFFFF become surrogate pairs and a
// malformed sequence becomes "?".
std::vector<char16_t> Utf8ToUtf16(std::string_view text) {
    std::vector<char16_t> out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::int32_t cp = DecodeUtf8Char(text, i);
        if (cp < 0) {
            out.push_back(u'?');
        } else if (cp >= 0x10000) {
            const std::int32_t v = cp - 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

// The C library's text for an error number, cut at the first line break.
std::string SystemErrorText(int errorNumber) {
    std::string message = std::strerror(errorNumber);
    const std::size_t cut = message.find_first_of("\r\n");
    if (cut != std::string::npos) message.resize(cut);
    return message;
}

// Writes the head and body beside the target and renames them into place; false with the
// system's error number in errorNumber on any failure, with the target untouched.
bool WriteWholeFile(std::string_view path, std::string_view head, std::string_view body,
                    int& errorNumber) {
    const auto asBytes = [](std::string_view part) {
        return std::span(reinterpret_cast<const std::uint8_t*>(part.data()), part.size());
    };
    SafeFileWriter file;
    const bool ok = file.Open(path) == FileOpenError::None && file.Write(asBytes(head)) &&
                    file.Write(asBytes(body)) && file.Commit();
    errorNumber = ok ? 0 : file.ErrorNumber();
    return ok;
}

std::string BytesLine(std::size_t count) {
    return Int64ToText(static_cast<std::int64_t>(count)) + " bytes";
}

// The element's name: the start tag's text after "<" up to a blank, "/" or ">".
std::string_view ElementName(std::string_view text, const ElementPosition& e) {
    const auto nameStart = static_cast<std::size_t>(e.start + 1);
    const auto tagEnd = static_cast<std::size_t>(e.start + e.startTagLength);
    std::size_t nameEnd = nameStart;
    while (nameEnd < tagEnd && !EndsName(text[nameEnd])) ++nameEnd;
    return text.substr(nameStart, nameEnd - nameStart);
}

}  // namespace

XmlDocument::XmlDocument() { Parse(); }

XmlDocument::XmlDocument(const char* source)
    : XmlDocument(source == nullptr ? std::string_view() : std::string_view(source)) {}

XmlDocument::XmlDocument(std::string_view source) : text(source) { Parse(); }

bool XmlDocument::ReadTextFile(std::string_view path, std::string& text, std::uint32_t& flags,
                               std::string& result) {
    FileBytes file;
    if (file.Read(path) != FileOpenError::None) {
        result = SystemErrorText(file.ErrorNumber());
        return false;
    }
    const std::span<const std::uint8_t> b = file.Bytes();
    const auto asText = [](std::span<const std::uint8_t> bytes) {
        return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    };
    if (b.size() >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        flags |= XmlUtf8MarkFlag;
        text = asText(b.subspan(3));
        result = "UTF-8 BOM + " + BytesLine(text.size());
    } else if (b.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
        flags |= XmlUtf16Flag;
        // A trailing odd byte is no whole unit and carries no character.
        const std::size_t unitCount = (b.size() - 2) / 2;
        text = Utf16ToUtf8(b.data() + 2, unitCount);
        result = "UTF-16LE BOM + " + Int64ToText(static_cast<std::int64_t>(unitCount)) +
                 " wide chars to " + BytesLine(text.size());
    } else {
        flags &= ~(XmlUtf16Flag | XmlUtf8MarkFlag);
        text = asText(b);
        result = BytesLine(text.size());
    }
    return true;
}

bool XmlDocument::WriteTextFile(std::string_view text, std::string& result, std::string_view path,
                                std::uint32_t& flags) {
    std::string line;
    bool ok = false;
    int errorNumber = 0;
    if ((flags & XmlUtf16Flag) != 0) {
        const std::vector<char16_t> units = Utf8ToUtf16(text);
        std::string bytes(units.size() * 2, '\0');
        for (std::size_t i = 0; i < units.size(); ++i) {
            StoreU16LE(reinterpret_cast<std::uint8_t*>(bytes.data()) + 2 * i, units[i]);
        }
        ok = WriteWholeFile(path, "\xFF\xFE", bytes, errorNumber);
        line = BytesLine(text.size()) + " to UTF-16LE BOM + " +
               Int64ToText(static_cast<std::int64_t>(units.size())) + " wide chars";
    } else if ((flags & XmlUtf8MarkFlag) != 0) {
        ok = WriteWholeFile(path, "\xEF\xBB\xBF", text, errorNumber);
        line = "UTF-8 BOM + " + BytesLine(text.size());
    } else {
        ok = WriteWholeFile(path, {}, text, errorNumber);
        line = BytesLine(text.size());
    }
    result = ok ? line : SystemErrorText(errorNumber);
    return ok;
}

bool XmlDocument::Load(std::string_view path) {
    text.clear();
    documentFlags = 0;
    if (!ReadTextFile(path, text, documentFlags, resultText)) {
        text.clear();
        ClearTable();
        return false;
    }
    return Parse();
}

bool XmlDocument::Save(std::string_view path) {
    return WriteTextFile(text, resultText, path, documentFlags);
}

void XmlDocument::ClearTable() {
    parentPosition = 0;
    currentPosition = 0;
    childPosition = 0;
    nodeType = 0;
    elements.clear();
    elements.reserve(text.size() / 64 + 8);
    elements.emplace_back();
}

std::int32_t XmlDocument::NewRecord() {
    // A document has at most one element per three bytes; a text this large cannot be held.
    ORBELLE_CHECK(elements.size() <
                  static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()));
    elements.emplace_back();
    return static_cast<std::int32_t>(elements.size() - 1);
}

bool XmlDocument::IsElement(std::int32_t position) const {
    return position > 0 && static_cast<std::size_t>(position) < elements.size();
}

const ElementPosition* XmlDocument::Element(std::int32_t position) const {
    if (position < 0 || static_cast<std::size_t>(position) >= elements.size()) return nullptr;
    return &elements[static_cast<std::size_t>(position)];
}

bool XmlDocument::Parse() {
    const std::string kept = resultText;
    resultText.clear();
    ClearTable();
    std::int32_t root = 0;
    if (text.empty()) {
        resultText = "Empty document";
    } else {
        ParseElement(0, 0);
        elements[0].length = static_cast<std::int64_t>(text.size());
        root = elements[0].firstChild;
        if (root == 0) {
            resultText = "No root element";
        } else if (elements[root].nextSibling != 0) {
            resultText = "Root element has sibling";
        }
    }
    parentPosition = 0;
    currentPosition = 0;
    childPosition = 0;
    nodeType = 0;
    if (!kept.empty()) resultText = resultText.empty() ? kept : kept + ", " + resultText;
    return (elements[0].flags & DocumentNotWellFormed) == 0 && root != 0 &&
           elements[root].nextSibling == 0;
}

void XmlDocument::StoreMessage(const std::string& message) {
    if (resultText.empty()) resultText = message;
}

void XmlDocument::AppendChild(std::int32_t parent, std::int32_t position) {
    ElementPosition& p = elements[parent];
    ElementPosition& e = elements[position];
    e.parent = parent;
    e.nextSibling = 0;
    if (p.firstChild == 0) {
        p.firstChild = position;
        e.previousSibling = position;
    } else {
        ElementPosition& first = elements[p.firstChild];
        const std::int32_t last = first.previousSibling;
        elements[last].nextSibling = position;
        e.previousSibling = last;
        first.previousSibling = position;
    }
}

std::int32_t XmlDocument::ParseElement(std::int64_t offset, std::int32_t topParent) {
    resultText.clear();
    const std::string_view source(text);
    std::vector<std::int32_t> open;
    open.reserve(6);
    OpenElementIndex index;
    std::int32_t parent = topParent;
    std::int32_t first = 0;

    auto nameOf = [&](std::int32_t position) { return ElementName(source, elements[position]); };
    auto closeEnded = [&](const Node& endTag) {
        const std::int32_t position = open.back();
        ElementPosition& e = elements[position];
        e.length = endTag.next - e.start;
        e.endTagLength = endTag.next - endTag.start;
        index.Pop(nameOf(position));
        open.pop_back();
        parent = e.parent;
    };
    // Closes the open elements from `depth` inwards as not ended, all at once. Their children
    // move up to follow the outermost of them as siblings under `newParent`; the chain after
    // it is the concatenation of each one's children, since each next one is the previous
    // one's last child. Done in one pass, every element is moved at most once per parse.
    auto closeNotEnded = [&](std::size_t depth, std::int32_t newParent) {
        bool hadError = false;
        std::int32_t tail = open[depth];
        for (std::size_t d = depth; d < open.size(); ++d) {
            ElementPosition& e = elements[open[d]];
            e.length = e.startTagLength;
            e.endTagLength = 0;
            e.flags |= ElementNotEnded;
            hadError = hadError || (e.flags & ElementHasError) != 0;
            e.flags &= ~ElementHasError;
            const std::int32_t child = e.firstChild;
            if (child == 0) continue;
            const std::int32_t last = elements[child].previousSibling;
            for (std::int32_t c = child; c != 0; c = elements[c].nextSibling) {
                elements[c].parent = newParent;
            }
            elements[tail].nextSibling = child;
            elements[child].previousSibling = tail;
            tail = last;
            e.firstChild = 0;
        }
        elements[elements[newParent].firstChild].previousSibling = tail;
        if (hadError) elements[newParent].flags |= ElementHasError;
        elements[0].flags |= DocumentNotWellFormed;
        while (open.size() > depth) {
            index.Pop(nameOf(open.back()));
            open.pop_back();
        }
        parent = newParent;
    };

    while (true) {
        Node node = ScanNode(source, offset);
        offset = node.next;
        switch (node.kind) {
            case StartTag: {
                const std::int32_t position = NewRecord();
                if (first == 0 && open.empty()) first = position;
                AppendChild(parent, position);
                ElementPosition& e = elements[position];
                e.start = node.start;
                e.startTagLength = node.next - node.start;
                if (node.isEmptyTag) {
                    e.length = e.startTagLength;
                } else {
                    index.Push(nameOf(position), static_cast<std::int32_t>(open.size()));
                    open.push_back(position);
                    parent = position;
                }
                break;
            }
            case EndTag: {
                const std::string_view token =
                    source.substr(static_cast<std::size_t>(node.nameStart),
                                  static_cast<std::size_t>(node.nameEnd - node.nameStart));
                const std::int32_t depth = index.Innermost(token);
                if (depth < 0) {
                    elements[0].flags |= DocumentNotWellFormed;
                    elements[parent].flags |= ElementHasError;
                    StoreMessage("No start tag for end tag '" + std::string(token) +
                                 "' at offset " + Int64ToText(node.start));
                    break;
                }
                const auto matched = static_cast<std::size_t>(depth);
                if (matched + 1 < open.size()) {
                    const std::int32_t innermost = open.back();
                    StoreMessage("End tag '" + std::string(token) + "' at offset " +
                                 Int64ToText(node.start + 1) + " does not match start tag '" +
                                 std::string(nameOf(innermost)) + "' at offset " +
                                 Int64ToText(elements[innermost].start));
                    closeNotEnded(matched + 1, open[matched]);
                }
                closeEnded(node);
                break;
            }
            case Malformed:
                elements[0].flags |= DocumentNotWellFormed;
                elements[parent].flags |= ElementHasError;
                StoreMessage(node.message);
                break;
            case EndOfText:
                if (!open.empty()) {
                    const std::int32_t innermost = open.back();
                    StoreMessage("Element '" + std::string(nameOf(innermost)) + "' at offset " +
                                 Int64ToText(elements[innermost].start) + " not ended");
                    closeNotEnded(0, topParent);
                }
                return first;
            default:
                break;
        }
    }
}

bool XmlDocument::FindElement(std::string_view name) {
    const std::int32_t found = FindElementPath(parentPosition, currentPosition, name);
    if (found == 0) return false;
    currentPosition = found;
    childPosition = 0;
    nodeType = 1;
    return true;
}

std::int32_t XmlDocument::FindElementPath(std::int32_t parent, std::int32_t position,
                                          std::string_view name) const {
    std::int32_t candidate = 0;
    if (position != 0) {
        if (!IsElement(position)) return 0;
        candidate = elements[position].nextSibling;
    } else {
        if (Element(parent) == nullptr) return 0;
        candidate = elements[parent].firstChild;
    }
    for (; candidate != 0; candidate = elements[candidate].nextSibling) {
        if (MatchName(ElementName(text, elements[candidate]), name)) return candidate;
    }
    return 0;
}

bool XmlDocument::EnterElement() {
    if (currentPosition == 0) return false;
    parentPosition = currentPosition;
    currentPosition = childPosition;
    childPosition = 0;
    nodeType = currentPosition != 0 ? 1 : 0;
    return true;
}

bool XmlDocument::LeaveElement() {
    if (parentPosition == 0) return false;
    childPosition = currentPosition;
    currentPosition = parentPosition;
    parentPosition = elements[parentPosition].parent;
    nodeType = 1;
    return true;
}

std::string XmlDocument::GetElementName(std::int32_t position) const {
    if (!IsElement(position)) return {};
    return std::string(ElementName(text, elements[position]));
}

namespace {

// Where an attribute stands in a start tag.
struct AttributeSpot {
    bool found = false;
    bool hasValue = false;  // "name" alone has none
    bool isQuoted = false;
    std::size_t nameEnd = 0;     // just past the attribute's name
    std::size_t valueStart = 0;  // the value without its quotes, [valueStart, valueEnd)
    std::size_t valueEnd = 0;
    std::size_t insertAt = 0;  // just past the last attribute (or the element name)
};

// Scans the start tag [tagStart, tagEnd) for the attribute: after the element name come
// name "=" value groups; a value is quoted (up to the same quote) or bare (up to a blank or
// ">"); a name runs up to "=", a blank, ">", "/" or "?", and the scan stops at those last
// three.
AttributeSpot FindAttribute(std::string_view text, std::size_t tagStart, std::size_t tagEnd,
                            std::string_view name) {
    AttributeSpot spot;
    std::size_t q = tagStart + 1;
    while (q < tagEnd && !EndsName(text[q])) ++q;
    spot.insertAt = q;
    auto skipSpace = [&](std::size_t& p) {
        while (p < tagEnd && IsSpace(text[p])) ++p;
    };
    while (true) {
        skipSpace(q);
        if (q >= tagEnd || text[q] == '>' || text[q] == '/' || text[q] == '?') break;
        const std::size_t nameStart = q;
        while (q < tagEnd && !IsSpace(text[q]) && text[q] != '=' && text[q] != '>' &&
               text[q] != '/' && text[q] != '?') {
            ++q;
        }
        const std::string_view attributeName = text.substr(nameStart, q - nameStart);
        AttributeSpot here;
        here.nameEnd = q;
        std::size_t p = q;
        skipSpace(p);
        if (p < tagEnd && text[p] == '=') {
            ++p;
            skipSpace(p);
            here.hasValue = true;
            if (p < tagEnd && IsQuote(text[p])) {
                here.isQuoted = true;
                here.valueStart = p + 1;
                const std::size_t close = text.find(text[p], p + 1);
                here.valueEnd =
                    close == std::string_view::npos || close >= tagEnd ? tagEnd - 1 : close;
                q = here.valueEnd + 1;
            } else {
                here.valueStart = p;
                while (p < tagEnd && !IsSpace(text[p]) && text[p] != '>') ++p;
                here.valueEnd = p;
                q = p;
            }
        }
        if (!attributeName.empty() && MatchName(attributeName, name)) {
            here.found = true;
            here.insertAt = spot.insertAt;
            return here;
        }
        spot.insertAt = q;
    }
    return spot;
}

}  // namespace

std::string XmlDocument::GetAttribute(std::string_view name) const {
    return GetAttributeAt(currentPosition, name);
}

std::string XmlDocument::GetAttributeAt(std::int32_t position, std::string_view name) const {
    if (nodeType != 1 || !IsElement(position)) return {};
    const ElementPosition& e = elements[position];
    const AttributeSpot spot =
        FindAttribute(text, static_cast<std::size_t>(e.start),
                      static_cast<std::size_t>(e.start + e.startTagLength), name);
    if (!spot.found || !spot.hasValue) return {};
    return UnescapeText(
        std::string_view(text).substr(spot.valueStart, spot.valueEnd - spot.valueStart));
}

bool XmlDocument::SetAttribute(std::int32_t position, std::string_view name,
                               std::string_view value) {
    if (nodeType != 1 || !IsElement(position)) return false;
    const std::string quoted = '"' + EscapeText(value, XmlEscapeQuotes) + '"';
    ElementPosition& e = elements[position];
    const AttributeSpot spot =
        FindAttribute(text, static_cast<std::size_t>(e.start),
                      static_cast<std::size_t>(e.start + e.startTagLength), name);
    std::size_t at = 0;
    std::size_t removeCount = 0;
    std::string insert;
    if (spot.found && spot.hasValue) {
        at = spot.isQuoted ? spot.valueStart - 1 : spot.valueStart;
        const std::size_t end = spot.isQuoted ? spot.valueEnd + 1 : spot.valueEnd;
        removeCount = end - at;
        insert = quoted;
    } else if (spot.found) {
        // A name standing without a value gets one, rather than a second attribute of the
        // same name.
        at = spot.nameEnd;
        insert = '=' + quoted;
    } else {
        at = spot.insertAt;
        insert = ' ' + std::string(name) + '=' + quoted;
    }
    const auto delta =
        static_cast<std::int64_t>(insert.size()) - static_cast<std::int64_t>(removeCount);
    ReplaceText(static_cast<std::int64_t>(at), static_cast<std::int64_t>(removeCount), insert);
    e.startTagLength += delta;
    e.length += delta;
    AdjustPositions(position, delta);
    return true;
}

std::string XmlDocument::GetData() const { return GetDataAt(currentPosition); }

std::string XmlDocument::GetDataAt(std::int32_t position) const {
    if (!IsElement(position)) return {};
    const ElementPosition& e = elements[position];
    if (e.firstChild != 0 || e.endTagLength == 0) return {};
    const auto contentStart = static_cast<std::size_t>(e.start + e.startTagLength);
    const auto contentEnd = static_cast<std::size_t>(e.start + e.length - e.endTagLength);
    if (contentEnd <= contentStart) return {};
    const std::string_view content =
        std::string_view(text).substr(contentStart, contentEnd - contentStart);
    if (content.find('<') == std::string_view::npos) return UnescapeText(content);

    const std::string_view scope = std::string_view(text).substr(0, contentEnd);
    std::string data;
    auto offset = static_cast<std::int64_t>(contentStart);
    while (true) {
        const Node node = ScanNode(scope, offset);
        if (node.kind == EndOfText) break;
        const auto start = static_cast<std::size_t>(node.start);
        const auto next = static_cast<std::size_t>(node.next);
        if (node.kind == TextNode) {
            data += UnescapeText(scope.substr(start, next - start));
        } else if (node.kind == CDataNode && next >= start + 12) {
            data.append(scope.substr(start + 9, next - start - 12));
        }
        offset = node.next;
    }
    return data;
}

void XmlDocument::ReplaceText(std::int64_t offset, std::int64_t removeCount,
                              std::string_view insert) {
    const std::size_t newLength =
        text.size() - static_cast<std::size_t>(removeCount) + insert.size();
    // Room for half as much again, so a run of additions does not copy the text each time.
    if (newLength > text.capacity()) text.reserve(newLength + newLength / 2 + 128);
    text.replace(static_cast<std::size_t>(offset), static_cast<std::size_t>(removeCount), insert);
}

void XmlDocument::AdjustPositions(std::int32_t position, std::int64_t delta) {
    if (delta == 0) return;
    for (std::int32_t a = elements[position].parent; a != 0; a = elements[a].parent) {
        elements[a].length += delta;
    }
    elements[0].length += delta;
    // Everything after the changed element in document order moves: its children, then its
    // following siblings, then each ancestor's following siblings, with their subtrees.
    std::int32_t n = position;
    while (true) {
        if (elements[n].firstChild != 0) {
            n = elements[n].firstChild;
        } else {
            while (n != 0 && elements[n].nextSibling == 0) n = elements[n].parent;
            if (n == 0) break;
            n = elements[n].nextSibling;
        }
        elements[n].start += delta;
    }
}

void XmlDocument::AddElement(std::string_view name, std::string_view data) {
    const std::int32_t position = NewRecord();
    std::string element;
    std::int64_t startTagLength = 0;
    std::int64_t endTagLength = 0;
    if (data.empty()) {
        element = '<' + std::string(name) + "/>";
        startTagLength = static_cast<std::int64_t>(element.size());
    } else {
        element =
            '<' + std::string(name) + '>' + EscapeText(data, 0) + "</" + std::string(name) + '>';
        startTagLength = static_cast<std::int64_t>(name.size()) + 2;
        endTagLength = static_cast<std::int64_t>(name.size()) + 3;
    }
    const auto elementLength = static_cast<std::int64_t>(element.size());

    std::int64_t at = 0;
    std::int64_t removeCount = 0;
    std::int64_t elementStart = 0;
    std::string insert;
    // After the current element, a following run of blanks before the next tag (or the end)
    // is kept with what precedes it.
    auto skipBlankRun = [&](std::int64_t from) {
        auto p = static_cast<std::size_t>(from);
        while (p < text.size() && IsSpace(text[p])) ++p;
        return p == text.size() || text[p] == '<' ? static_cast<std::int64_t>(p) : from;
    };
    if (currentPosition != 0) {
        const ElementPosition& current = elements[currentPosition];
        at = skipBlankRun(current.start + current.length);
        insert = element + "\r\n";
        elementStart = at;
    } else if (parentPosition != 0) {
        ElementPosition& p = elements[parentPosition];
        if (p.endTagLength == 0) {
            // An empty-element parent is opened: "<p/>" becomes "<p>" CR LF, the element,
            // CR LF, "</p>". One that was not ended gets its end tag the same way.
            const std::string parentName = GetElementName(parentPosition);
            insert = ">\r\n" + element + "\r\n</" + parentName;
            if ((p.flags & ElementNotEnded) != 0) {
                at = p.start + p.startTagLength - 1;
                p.flags &= ~ElementNotEnded;
            } else {
                at = p.start + p.startTagLength - 2;
                removeCount = 1;
                p.startTagLength -= 1;
            }
            p.endTagLength = static_cast<std::int64_t>(parentName.size()) + 3;
            elementStart = at + 3;
        } else {
            at = p.start + p.length - p.endTagLength;
            if (at == p.start + p.startTagLength) {
                insert = "\r\n" + element + "\r\n";
                elementStart = at + 2;
            } else {
                at = skipBlankRun(at);
                insert = element + "\r\n";
                elementStart = at;
            }
        }
    } else {
        at = static_cast<std::int64_t>(text.size());
        insert = element + "\r\n";
        elementStart = at;
    }

    ReplaceText(at, removeCount, insert);

    // Link the record after the current element, or as the parent's last child, so that the
    // table's order stays the text's order.
    ElementPosition& e = elements[position];
    e.start = elementStart;
    e.length = elementLength;
    e.startTagLength = startTagLength;
    e.endTagLength = endTagLength;
    if (currentPosition != 0) {
        ElementPosition& current = elements[currentPosition];
        e.parent = current.parent;
        e.previousSibling = currentPosition;
        e.nextSibling = current.nextSibling;
        if (current.nextSibling != 0) {
            elements[current.nextSibling].previousSibling = position;
        } else {
            elements[elements[e.parent].firstChild].previousSibling = position;
        }
        current.nextSibling = position;
    } else {
        AppendChild(parentPosition, position);
    }
    AdjustPositions(position, static_cast<std::int64_t>(insert.size()) - removeCount);

    currentPosition = position;
    childPosition = 0;
    nodeType = 1;
}

std::string XmlDocument::EscapeText(std::string_view source, std::uint32_t flags) {
    const bool escapeQuotes = (flags & XmlEscapeQuotes) != 0;
    std::string out;
    out.reserve(source.size() + source.size() / 5 + 7);
    for (const char c : source) {
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '\'':
                out += escapeQuotes ? "&apos;" : "'";
                break;
            case '"':
                out += escapeQuotes ? "&quot;" : "\"";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

namespace {

// The character reference at text[i] ("&#65;" or "&#x41;"), its value and length; nullopt
// when it is not one or its value is 0, a surrogate or above 0x10FFFF.
struct CharacterReference {
    std::uint32_t value = 0;
    std::size_t length = 0;
};

std::optional<CharacterReference> ParseCharacterReference(std::string_view text, std::size_t i) {
    if (i + 2 >= text.size() || text[i + 1] != '#') return std::nullopt;
    const bool isHex = text[i + 2] == 'x';
    const std::size_t digitsStart = i + 2 + (isHex ? 1 : 0);
    // Seven decimal or six hexadecimal digits reach every character.
    const std::size_t maxDigits = isHex ? 6 : 7;
    std::uint32_t value = 0;
    std::size_t p = digitsStart;
    for (; p < text.size() && p - digitsStart < maxDigits; ++p) {
        const char c = text[p];
        std::uint32_t digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<std::uint32_t>(c - '0');
        } else if (isHex && c >= 'a' && c <= 'f') {
            digit = static_cast<std::uint32_t>(c - 'a' + 10);
        } else if (isHex && c >= 'A' && c <= 'F') {
            digit = static_cast<std::uint32_t>(c - 'A' + 10);
        } else {
            break;
        }
        value = value * (isHex ? 16 : 10) + digit;
    }
    if (p == digitsStart || p >= text.size() || text[p] != ';') return std::nullopt;
    if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return std::nullopt;
    }
    return CharacterReference{value, p + 1 - i};
}

}  // namespace

std::string XmlDocument::UnescapeText(std::string_view source) {
    static constexpr struct {
        std::string_view entity;
        char character;
    } Entities[] = {
        {"&lt;", '<'}, {"&amp;", '&'}, {"&gt;", '>'}, {"&apos;", '\''}, {"&quot;", '"'}};
    std::string out;
    out.reserve(source.size());
    std::size_t i = 0;
    while (i < source.size()) {
        const std::size_t amp = source.find('&', i);
        if (amp == std::string_view::npos) {
            out.append(source.substr(i));
            break;
        }
        out.append(source.substr(i, amp - i));
        i = amp;
        bool replaced = false;
        for (const auto& e : Entities) {
            if (source.compare(i, e.entity.size(), e.entity) == 0) {
                out.push_back(e.character);
                i += e.entity.size();
                replaced = true;
                break;
            }
        }
        if (replaced) continue;
        if (const std::optional<CharacterReference> ref = ParseCharacterReference(source, i)) {
            EncodeUtf8Char(ref->value, out);
            i += ref->length;
            continue;
        }
        out.push_back('&');
        ++i;
    }
    return out;
}
