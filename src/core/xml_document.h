#pragma once

// The system's XML document: the whole document as one text string plus a table of element
// records that locate every element inside that text. Nothing is turned into a tree of node
// objects: reading an attribute or data scans the text at the recorded offsets, and every
// edit rewrites the text in place and shifts the recorded offsets of what follows.
//
// The class is navigational. A document has a current element, its parent and a remembered
// child position; callers find an element by name at the current level, step into it, read
// its attributes and data, and step out again. Writers add elements at the current level and
// set attributes on the current element.
//
// Parsing never fails loudly: a malformed document keeps the elements that were recognised,
// and the first problem found is described in the result text with its byte offset.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One element of a document (memory only, never stored). Offsets and lengths are in bytes of
// the document text; positions index the document's element table, where position 0 is the
// document itself and also means "none".
struct ElementPosition {
    std::int64_t start = 0;           // offset of the start tag's "<"
    std::int64_t length = 0;          // "<" up to the end tag's ">", or the start tag alone
    std::int64_t startTagLength = 0;  // bytes of the start tag
    std::int64_t endTagLength = 0;    // bytes of the end tag; 0 for "<a/>" or a missing one
    std::uint32_t flags = 0;          // ElementNotEnded, ElementHasError, DocumentNotWellFormed
    std::int32_t parent = 0;          // 0 for a top-level element
    std::int32_t firstChild = 0;
    std::int32_t nextSibling = 0;
    std::int32_t previousSibling = 0;  // the first child's holds the last child
};

// The element had no end tag; its children were moved up to follow it as siblings.
inline constexpr std::uint32_t ElementNotEnded = 0x100000;
// A malformed node or a stray end tag was found inside the element.
inline constexpr std::uint32_t ElementHasError = 0x200000;
// On the document record only: the document is not well formed.
inline constexpr std::uint32_t DocumentNotWellFormed = 0x800000;

// Document flags: how the file was or is to be encoded.
inline constexpr std::uint32_t XmlUtf16Flag = 1;     // UTF-16LE with a byte-order mark
inline constexpr std::uint32_t XmlUtf8MarkFlag = 4;  // UTF-8 with a byte-order mark

// EscapeText flag: also escape apostrophe and double quote (attribute values).
inline constexpr std::uint32_t XmlEscapeQuotes = 0x100;

class XmlDocument {
public:
    // An empty document; its result text is "Empty document".
    XmlDocument();
    // Parses a copy of the text (null counts as empty); the result text holds the first parse
    // message, if any.
    explicit XmlDocument(const char* text);
    explicit XmlDocument(std::string_view text);

    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;
    XmlDocument(XmlDocument&&) = default;
    XmlDocument& operator=(XmlDocument&&) = default;
    ~XmlDocument() = default;

    // Reads a whole file with byte-order-mark detection: a UTF-8 mark is skipped (flag 4
    // set), UTF-16LE with a mark is converted to UTF-8 (flag 1 set), anything else is taken
    // as it is. The result line says what was read; on failure it is the system's error text
    // and the result is false.
    static bool ReadTextFile(std::string_view path, std::string& text, std::uint32_t& flags,
                             std::string& result);

    // Writes the text as the flags say (flag 1 UTF-16LE with a mark, flag 4 UTF-8 with a mark,
    // else the bytes as they are). The file is written beside the target and renamed into
    // place (SafeFileWriter), so a failed write leaves the old file intact; a read-only target
    // is not replaced, and a replaced file keeps its permission bits. On failure the result
    // is false and the result line is the system's error text.
    static bool WriteTextFile(std::string_view text, std::string& result, std::string_view path,
                              std::uint32_t& flags);

    // Reads the file into this document (the flags then say how it was encoded, so Save
    // writes it back the same way) and parses it; false when the read fails or the
    // document is not well formed (its recognised elements stay usable). The result text is
    // the read line, followed by ", " and the first parse message when there is one.
    bool Load(std::string_view path);

    // Writes the document text with the document's flags; false on failure (see
    // WriteTextFile).
    bool Save(std::string_view path);

    // Rebuilds the element table from the text and resets navigation; true when the document
    // is well formed with exactly one root element. The first parse message is appended to
    // what the result text held before.
    bool Parse();

    // Finds the next element named `name` after the current one at the current level (or the
    // first one when there is no current element) and makes it current; false, with nothing
    // changed, when there is none.
    bool FindElement(std::string_view name);

    // Steps into the current element, resuming at the child remembered by LeaveElement;
    // false when there is no current element.
    bool EnterElement();

    // Steps out to the parent, remembering the current element as the child position; false
    // at the top level.
    bool LeaveElement();

    // The unescaped value of the current element's attribute; empty when there is no current
    // element or no such attribute.
    std::string GetAttribute(std::string_view name) const;
    std::string GetAttributeAt(std::int32_t position, std::string_view name) const;

    // Sets the attribute (escaped, in double quotes) on the element at the position, replacing
    // an existing value in place or adding it after the last attribute; false when the
    // position is 0 or there is no current element.
    bool SetAttribute(std::int32_t position, std::string_view name, std::string_view value);

    // The element's text content: its text (unescaped) and CDATA sections (as they are);
    // empty for an element with child elements, an empty-element tag, an element that was
    // not ended, or a position that names no element.
    std::string GetData() const;
    std::string GetDataAt(std::int32_t position) const;

    // Adds an element after the current one (or as the parent's last child) and makes it
    // current. It is written as "<name/>" when data is empty, else with its data escaped,
    // followed by CR LF; an empty-element parent is opened to take it.
    void AddElement(std::string_view name, std::string_view data = {});

    // The first element named `name` among the siblings after `position`, or among the
    // parent's children when `position` is 0; 0 when there is none.
    std::int32_t FindElementPath(std::int32_t parent, std::int32_t position,
                                 std::string_view name) const;

    // The name of the element at the position; empty for 0 or an unknown position.
    std::string GetElementName(std::int32_t position) const;

    // Replaces "<", "&" and ">" by entity references, and with XmlEscapeQuotes also "'"
    // and '"'.
    static std::string EscapeText(std::string_view text, std::uint32_t flags);

    // Replaces the five entity references and decimal or hexadecimal character references
    // by their characters (UTF-8); anything else, including an invalid reference, is copied.
    static std::string UnescapeText(std::string_view text);

    const std::string& Text() const { return text; }
    const std::string& ResultText() const { return resultText; }
    std::uint32_t Flags() const { return documentFlags; }
    void SetFlags(std::uint32_t flags) { documentFlags = flags; }

    std::int32_t ParentPosition() const { return parentPosition; }
    std::int32_t CurrentPosition() const { return currentPosition; }
    std::int32_t ChildPosition() const { return childPosition; }
    // 1 while there is a current element, else 0.
    std::int32_t NodeType() const { return nodeType; }

    // The record at the position (0 is the document); null when the position names none.
    const ElementPosition* Element(std::int32_t position) const;

private:
    void ClearTable();
    std::int32_t NewRecord();
    bool IsElement(std::int32_t position) const;
    std::int32_t ParseElement(std::int64_t offset, std::int32_t parent);
    void StoreMessage(const std::string& message);
    void AppendChild(std::int32_t parent, std::int32_t position);
    void ReplaceText(std::int64_t offset, std::int64_t removeCount, std::string_view insert);
    void AdjustPositions(std::int32_t position, std::int64_t delta);

    std::string text;
    std::string resultText;
    std::int32_t parentPosition = 0;
    std::int32_t currentPosition = 0;
    std::int32_t childPosition = 0;
    std::int32_t nodeType = 0;
    std::uint32_t documentFlags = 0;
    std::vector<ElementPosition> elements;
};
