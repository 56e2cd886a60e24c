#include "core/xml_document.h"

#include "core/crt_random.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Every element lies inside the text and its parent, and the sibling chains are consistent
// in both directions: what a malformed document must still guarantee.
void ExpectConsistentTable(const XmlDocument& document) {
    const auto textLength = static_cast<std::int64_t>(document.Text().size());
    ASSERT_EQ(document.Element(0)->length, textLength);
    std::vector<std::int32_t> pending = {0};
    std::size_t visited = 0;
    while (!pending.empty()) {
        const std::int32_t parent = pending.back();
        pending.pop_back();
        const ElementPosition* p = document.Element(parent);
        ASSERT_NE(p, nullptr);
        std::int32_t previous = 0;
        std::int64_t previousEnd = parent == 0 ? 0 : p->start + p->startTagLength;
        for (std::int32_t c = p->firstChild; c != 0; c = document.Element(c)->nextSibling) {
            const ElementPosition* e = document.Element(c);
            ASSERT_NE(e, nullptr);
            ++visited;
            ASSERT_LE(visited, document.Text().size()) << "sibling chain loops";
            EXPECT_EQ(e->parent, parent);
            EXPECT_GE(e->start, previousEnd);
            EXPECT_GE(e->length, e->startTagLength);
            EXPECT_LE(e->start + e->length, parent == 0 ? textLength : p->start + p->length);
            EXPECT_EQ(document.Text()[static_cast<std::size_t>(e->start)], '<');
            if (previous != 0) {
                EXPECT_EQ(e->previousSibling, previous);
            }
            previous = c;
            previousEnd = e->start + e->length;
            pending.push_back(c);
        }
        if (p->firstChild != 0) {
            EXPECT_EQ(document.Element(p->firstChild)->previousSibling, previous);
        }
    }
}

// Positions in document order; element 0 (the document) first.
std::vector<std::int32_t> DocumentOrder(const XmlDocument& document) {
    std::vector<std::int32_t> order;
    std::vector<std::int32_t> pending = {0};
    while (!pending.empty()) {
        const std::int32_t n = pending.back();
        pending.pop_back();
        order.push_back(n);
        std::vector<std::int32_t> children;
        for (std::int32_t c = document.Element(n)->firstChild; c != 0;
             c = document.Element(c)->nextSibling) {
            children.push_back(c);
        }
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
    return order;
}

// The table an edited document holds must describe its text as a fresh parse does. Records
// are compared in document order, since an edit numbers new records at the end.
void ExpectTableMatchesReparse(const XmlDocument& document) {
    const XmlDocument reparsed(document.Text());
    const std::vector<std::int32_t> order = DocumentOrder(document);
    const std::vector<std::int32_t> reorder = DocumentOrder(reparsed);
    ASSERT_EQ(order.size(), reorder.size());
    std::vector<std::size_t> rank(order.size() * 4 + 8, 0);
    std::vector<std::size_t> rerank(reorder.size() * 4 + 8, 0);
    for (std::size_t i = 0; i < order.size(); ++i) {
        ASSERT_LT(static_cast<std::size_t>(order[i]), rank.size());
        ASSERT_LT(static_cast<std::size_t>(reorder[i]), rerank.size());
        rank[static_cast<std::size_t>(order[i])] = i;
        rerank[static_cast<std::size_t>(reorder[i])] = i;
    }
    auto same = [&](std::int32_t a, std::int32_t b) {
        return (a == 0 && b == 0) ||
               (a != 0 && b != 0 &&
                rank[static_cast<std::size_t>(a)] == rerank[static_cast<std::size_t>(b)]);
    };
    for (std::size_t i = 1; i < order.size(); ++i) {
        SCOPED_TRACE(i);
        const ElementPosition* a = document.Element(order[i]);
        const ElementPosition* b = reparsed.Element(reorder[i]);
        EXPECT_EQ(a->start, b->start);
        EXPECT_EQ(a->length, b->length);
        EXPECT_EQ(a->startTagLength, b->startTagLength);
        EXPECT_EQ(a->endTagLength, b->endTagLength);
        EXPECT_TRUE(same(a->parent, b->parent));
        EXPECT_TRUE(same(a->firstChild, b->firstChild));
        EXPECT_TRUE(same(a->nextSibling, b->nextSibling));
        EXPECT_TRUE(same(a->previousSibling, b->previousSibling));
    }
}

// A folder of its own for each test, removed afterwards.
class TempFolder {
public:
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "orbelle_xml_XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempFolder() { std::filesystem::remove_all(path); }
    std::string File(const std::string& name) const { return path + "/" + name; }

private:
    std::string path;
};

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(XmlDocument, DefaultDocumentIsEmpty) {
    XmlDocument document;
    EXPECT_EQ(document.ResultText(), "Empty document");
    EXPECT_FALSE(document.FindElement("a"));
    EXPECT_FALSE(document.EnterElement());
    EXPECT_FALSE(document.LeaveElement());
    EXPECT_EQ(document.GetData(), "");
    EXPECT_EQ(XmlDocument(static_cast<const char*>(nullptr)).ResultText(), "Empty document");
}

TEST(XmlDocument, ParseResultsAndMessages) {
    const struct {
        std::string text;
        bool wellFormed;
        std::string message;
    } cases[] = {
        {"", false, "Empty document"},
        {"<a/>", true, ""},
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<a x='1'>t</a>\r\n", true, ""},
        {"<!DOCTYPE a [<!ELEMENT a (#PCDATA)> <!ATTLIST a x CDATA '>'>]><a/>", true, ""},
        {"<a b=\"x>y\" c='/>'></a>", true, ""},
        {"<a></a> trailing text <!-- c -->", true, ""},
        {"<a>&</a>", true, ""},
        {"hello", false, "No root element"},
        {"<!-- only a comment -->", false, "No root element"},
        {"<a/><b/>", false, "Root element has sibling"},
        {"<a>", false, "Element 'a' at offset 0 not ended"},
        {"<a><b></a>", false, "End tag 'a' at offset 7 does not match start tag 'b' at offset 3"},
        {"<r><a><b></r>", false,
         "End tag 'r' at offset 10 does not match start tag 'b' at offset 6"},
        {"<a><b x=1/></a>", false,
         "End tag 'a' at offset 12 does not match start tag 'b' at offset 3"},
        {"<a></b></a>", false, "No start tag for end tag 'b' at offset 3"},
        {"<a></a></a>", false, "No start tag for end tag 'a' at offset 7"},
        {"<a></></a>", false, "No start tag for end tag '' at offset 3"},
        {"<ab></a></ab>", false, "No start tag for end tag 'a' at offset 4"},
        {"<a>< b</a>", false, "Incorrect tag name character at offset 3"},
        {"<a><1/></a>", false, "Incorrect tag name character at offset 3"},
        {"<a><!x></a>", false, "Incorrect ! tag at offset 3"},
        {"<a><!-x--></a>", false, "Incorrect comment tag at offset 3"},
        {"<a><![X[y]]></a>", false, "Incorrect tag at offset 3"},
        {"<a><!-- c </a>", false, "Comment at offset 3 unterminated"},
        {"<a><![CDATA[x</a>", false, "CDATA Section at offset 3 unterminated"},
        {"<a><?pi </a>", false, "Processing instruction at offset 3 unterminated"},
        {"<a><!DOCTYPE x </a>", false, "Doctype at offset 3 unterminated"},
        {"<a x='>", false, "No root element"},
        {"<r><a x='></r>", false, "Element tag at offset 3 unterminated"},
        {"<a></a", false, "Element end tag at offset 3 unterminated"},
        {"<a><", false, "tag at offset 3 unterminated"},
        {"<a><!", false, "tag at offset 3 unterminated"},
        // Only the first message of a parse survives...
        {"<a>< b<!x></a>", false, "Incorrect tag name character at offset 3"},
        // ...unless the root check replaces it.
        {"<a></a><c>", false, "Root element has sibling"},
        {"<a><b>", false, "Root element has sibling"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        XmlDocument document(c.text);
        EXPECT_EQ(document.ResultText(), c.message);
        EXPECT_EQ(document.Parse(), c.wellFormed);
        ExpectConsistentTable(document);
    }
}

TEST(XmlDocument, ParseAgainJoinsMessagesAfterThePreviousResult) {
    XmlDocument document("<a>");
    EXPECT_FALSE(document.Parse());
    EXPECT_EQ(document.ResultText(),
              "Element 'a' at offset 0 not ended, Element 'a' at offset 0 not ended");
}

TEST(XmlDocument, UnendedElementsGiveUpTheirChildren) {
    // "a" is never ended: "b" and "c" move up to follow it as children of "r".
    XmlDocument document("<r><a><b/><c>t</c></r>");
    EXPECT_EQ(document.ResultText(),
              "End tag 'r' at offset 19 does not match start tag 'a' at offset 3");
    ASSERT_TRUE(document.FindElement("r"));
    ASSERT_TRUE(document.EnterElement());
    ASSERT_TRUE(document.FindElement("a"));
    const std::int32_t a = document.CurrentPosition();
    EXPECT_NE(document.Element(a)->flags & ElementNotEnded, 0u);
    EXPECT_EQ(document.Element(a)->length, 3);
    EXPECT_EQ(document.Element(a)->firstChild, 0);
    EXPECT_EQ(document.GetData(), "");
    ASSERT_TRUE(document.FindElement("c"));
    EXPECT_EQ(document.GetData(), "t");
    EXPECT_EQ(document.Element(document.CurrentPosition())->parent, document.ParentPosition());
    ExpectConsistentTable(document);
}

TEST(XmlDocument, Navigation) {
    XmlDocument document("<r><a id='1'/><ab id='x'/><b>t</b><a id=\"2\">x</a></r>");
    ASSERT_TRUE(document.Parse());
    EXPECT_FALSE(document.FindElement("a"));  // only "r" is at the top level
    ASSERT_TRUE(document.FindElement("r"));
    EXPECT_EQ(document.NodeType(), 1);
    const std::int32_t r = document.CurrentPosition();
    EXPECT_TRUE(document.EnterElement());
    EXPECT_EQ(document.ParentPosition(), r);
    EXPECT_EQ(document.CurrentPosition(), 0);
    EXPECT_EQ(document.NodeType(), 0);
    EXPECT_EQ(document.GetAttribute("id"), "");

    ASSERT_TRUE(document.FindElement("a"));
    EXPECT_EQ(document.GetAttribute("id"), "1");
    ASSERT_TRUE(document.FindElement("a"));  // "ab" is skipped: names match whole
    EXPECT_EQ(document.GetAttribute("id"), "2");
    const std::int32_t second = document.CurrentPosition();
    EXPECT_FALSE(document.FindElement("a"));
    EXPECT_EQ(document.CurrentPosition(), second);
    EXPECT_EQ(document.GetData(), "x");

    // Leaving remembers the child; entering again resumes there.
    EXPECT_TRUE(document.LeaveElement());
    EXPECT_EQ(document.CurrentPosition(), r);
    EXPECT_EQ(document.ParentPosition(), 0);
    EXPECT_EQ(document.ChildPosition(), second);
    EXPECT_FALSE(document.LeaveElement());
    EXPECT_TRUE(document.EnterElement());
    EXPECT_EQ(document.CurrentPosition(), second);
    EXPECT_EQ(document.GetElementName(second), "a");

    // Lookups by position, and positions that name nothing.
    const std::int32_t b = document.FindElementPath(r, 0, "b");
    EXPECT_EQ(document.GetDataAt(b), "t");
    EXPECT_EQ(document.GetAttributeAt(b, "id"), "");
    EXPECT_EQ(document.FindElementPath(r, b, "b"), 0);
    EXPECT_EQ(document.FindElementPath(r, 0, "ab"), document.FindElementPath(r, 0, "ab"));
    EXPECT_NE(document.FindElementPath(r, 0, "ab"), 0);
    EXPECT_EQ(document.FindElementPath(1000, 0, "a"), 0);
    EXPECT_EQ(document.GetDataAt(-3), "");
    EXPECT_EQ(document.GetDataAt(1000), "");
    EXPECT_EQ(document.GetElementName(1000), "");
    EXPECT_EQ(document.Element(1000), nullptr);
}

TEST(XmlDocument, Attributes) {
    XmlDocument document(
        "<e a=\"1\" b='two' c=bare d = \"sp aced\" q=\"&lt;&amp;&quot;&apos;&gt;\" flag\t"
        "u=\"&#x263A;\"/>");
    ASSERT_TRUE(document.FindElement("e"));
    const struct {
        const char* name;
        const char* value;
    } cases[] = {{"a", "1"},      {"b", "two"}, {"c", "bare"},         {"d", "sp aced"},
                 {"q", "<&\"'>"}, {"flag", ""}, {"u", "\xE2\x98\xBA"}, {"missing", ""},
                 {"aa", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(document.GetAttribute(c.name), c.value);
    }
}

TEST(XmlDocument, TextContent) {
    const struct {
        const char* text;
        const char* data;
    } cases[] = {
        {"<a>x &amp; y</a>", "x & y"},
        {"<a><![CDATA[<&amp;>]]></a>", "<&amp;>"},
        {"<a>p<!-- c -->q<?pi?> <![CDATA[r]]>\r\n</a>", "pqr"},
        {"<a>  </a>", "  "},
        {"<a></a>", ""},
        {"<a/>", ""},
        {"<a><b/></a>", ""},
        {"<a>x</b>y</a>", "xy"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        XmlDocument document(c.text);
        ASSERT_TRUE(document.FindElement("a"));
        EXPECT_EQ(document.GetData(), c.data);
    }
}

TEST(XmlDocument, EscapeAndUnescape) {
    EXPECT_EQ(XmlDocument::EscapeText("<a & 'b' \"c\">", 0), "&lt;a &amp; 'b' \"c\"&gt;");
    EXPECT_EQ(XmlDocument::EscapeText("<a & 'b' \"c\">", XmlEscapeQuotes),
              "&lt;a &amp; &apos;b&apos; &quot;c&quot;&gt;");
    const struct {
        const char* text;
        const char* plain;
    } cases[] = {
        {"&lt;&amp;&gt;&apos;&quot;", "<&>'\""},
        {"&#65;", "A"},
        {"&#x41;", "A"},
        {"&#xe9;&#233;", "\xC3\xA9\xC3\xA9"},
        {"&#x20AC;", "\xE2\x82\xAC"},
        // Characters beyond 0xFFFF keep all their bits, up to the last one.
        {"&#x1F600;", "\xF0\x9F\x98\x80"},
        {"&#128512;", "\xF0\x9F\x98\x80"},
        {"&#x10FFFF;", "\xF4\x8F\xBF\xBF"},
        // Anything that is not a reference to a character stays as it is.
        {"&#x110000;", "&#x110000;"},
        {"&#xD800;", "&#xD800;"},
        {"&#X41;", "&#X41;"},
        {"&foo;", "&foo;"},
        {"&#0;", "&#0;"},
        {"&#65", "&#65"},
        {"&#;", "&#;"},
        {"&#x;", "&#x;"},
        {"a & b &", "a & b &"},
        {"&amp;lt;", "&lt;"},
        {"&#00000065;", "&#00000065;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(XmlDocument::UnescapeText(c.text), c.plain);
    }
}

TEST(XmlDocument, EditsWriteTheExpectedText) {
    const struct {
        const char* name;
        const char* initial;  // null: a default-constructed document
        std::function<void(XmlDocument&)> edit;
        const char* expected;
    } cases[] = {
        {"root on empty document", nullptr, [](XmlDocument& d) { d.AddElement("R"); }, "<R/>\r\n"},
        {"child opens an empty parent", nullptr,
         [](XmlDocument& d) {
             d.AddElement("R");
             d.EnterElement();
             d.AddElement("C", "x<y");
         },
         "<R>\r\n<C>x&lt;y</C>\r\n</R>\r\n"},
        {"siblings follow the current element", nullptr,
         [](XmlDocument& d) {
             d.AddElement("R");
             d.EnterElement();
             d.AddElement("C", "1");
             d.AddElement("D");
             d.AddElement("E", "a&b");
             d.LeaveElement();
             d.AddElement("S");
         },
         "<R>\r\n<C>1</C>\r\n<D/>\r\n<E>a&amp;b</E>\r\n</R>\r\n<S/>\r\n"},
        {"after a prologue", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n",
         [](XmlDocument& d) { d.AddElement("KVXMLFile"); },
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<KVXMLFile/>\r\n"},
        {"into a parent without content", "<p></p>",
         [](XmlDocument& d) {
             d.FindElement("p");
             d.EnterElement();
             d.AddElement("c");
         },
         "<p>\r\n<c/>\r\n</p>"},
        {"last child of a parent with children", "<p>\r\n<a/>\r\n</p>",
         [](XmlDocument& d) {
             d.FindElement("p");
             d.EnterElement();
             d.AddElement("c");
         },
         "<p>\r\n<a/>\r\n<c/>\r\n</p>"},
        {"between siblings", "<p><a/>\r\n<b/></p>",
         [](XmlDocument& d) {
             d.FindElement("p");
             d.EnterElement();
             d.FindElement("a");
             d.AddElement("c");
         },
         "<p><a/>\r\n<c/>\r\n<b/></p>"},
        {"into an element that was not ended", "<r><p></r>",
         [](XmlDocument& d) {
             d.FindElement("r");
             d.EnterElement();
             d.FindElement("p");
             d.EnterElement();
             d.AddElement("c");
         },
         "<r><p>\r\n<c/>\r\n</p></r>"},
        {"new attribute on an empty element", "<e/>",
         [](XmlDocument& d) {
             d.FindElement("e");
             d.SetAttribute(d.CurrentPosition(), "x", "1");
         },
         "<e x=\"1\"/>"},
        {"new attribute goes after the last one", "<e a='1' ></e>",
         [](XmlDocument& d) {
             d.FindElement("e");
             d.SetAttribute(d.CurrentPosition(), "b", "2");
         },
         "<e a='1' b=\"2\" ></e>"},
        {"existing values are replaced in place", "<e x=1 y='2' z=\"3\"/>",
         [](XmlDocument& d) {
             d.FindElement("e");
             d.SetAttribute(d.CurrentPosition(), "x", "a\"b");
             d.SetAttribute(d.CurrentPosition(), "y", "<'>");
             d.SetAttribute(d.CurrentPosition(), "z", "");
         },
         "<e x=\"a&quot;b\" y=\"&lt;&apos;&gt;\" z=\"\"/>"},
        {"a name without a value gets one", "<e flag/>",
         [](XmlDocument& d) {
             d.FindElement("e");
             d.SetAttribute(d.CurrentPosition(), "flag", "on");
         },
         "<e flag=\"on\"/>"},
        {"attributes on an earlier element shift what follows", "<r><a/><b>t</b></r>",
         [](XmlDocument& d) {
             d.FindElement("r");
             d.SetAttribute(d.CurrentPosition(), "v", "1");
             d.EnterElement();
             d.FindElement("a");
             d.SetAttribute(d.CurrentPosition(), "w", "22");
             d.AddElement("n", "d");
         },
         "<r v=\"1\"><a w=\"22\"/><n>d</n>\r\n<b>t</b></r>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        XmlDocument document = c.initial ? XmlDocument(c.initial) : XmlDocument();
        c.edit(document);
        EXPECT_EQ(document.Text(), c.expected);
        ExpectTableMatchesReparse(document);
        ExpectConsistentTable(document);
    }
}

TEST(XmlDocument, AddedElementsCanBeReadBack) {
    XmlDocument document;
    document.AddElement("R");
    document.EnterElement();
    document.AddElement("A", "one");
    document.AddElement("B", "two & <three>");
    EXPECT_EQ(document.GetData(), "two & <three>");
    document.LeaveElement();
    EXPECT_EQ(document.GetElementName(document.CurrentPosition()), "R");
    document.EnterElement();
    EXPECT_EQ(document.GetElementName(document.CurrentPosition()), "B");

    XmlDocument reread(document.Text());
    EXPECT_TRUE(reread.Parse());
    ASSERT_TRUE(reread.FindElement("R"));
    ASSERT_TRUE(reread.EnterElement());
    ASSERT_TRUE(reread.FindElement("B"));
    EXPECT_EQ(reread.GetData(), "two & <three>");
}

TEST(XmlDocument, SetAttributeNeedsAnElement) {
    XmlDocument document("<e/>");
    EXPECT_FALSE(document.SetAttribute(0, "x", "1"));
    EXPECT_FALSE(document.SetAttribute(1, "x", "1"));  // no current element yet
    ASSERT_TRUE(document.FindElement("e"));
    EXPECT_FALSE(document.SetAttribute(0, "x", "1"));
    EXPECT_FALSE(document.SetAttribute(99, "x", "1"));
    EXPECT_EQ(document.Text(), "<e/>");
}

TEST(XmlDocument, LongTagsAndDataKeepTheirLengths) {
    // A start tag past a megabyte and an end tag past 511 bytes are recorded whole.
    const std::string value(2 * 1024 * 1024, 'v');
    const std::string longName(600, 'n');
    const std::string text =
        "<r><a x=\"" + value + "\"/><" + longName + ">d</" + longName + "><z>last</z></r>";
    XmlDocument document(text);
    ASSERT_TRUE(document.Parse());
    ASSERT_TRUE(document.FindElement("r"));
    ASSERT_TRUE(document.EnterElement());
    ASSERT_TRUE(document.FindElement("a"));
    EXPECT_EQ(document.GetAttribute("x"), value);
    ASSERT_TRUE(document.FindElement(longName));
    EXPECT_EQ(document.GetData(), "d");
    ASSERT_TRUE(document.FindElement("z"));
    EXPECT_EQ(document.GetData(), "last");
    document.AddElement("after");
    ExpectTableMatchesReparse(document);
}

TEST(XmlDocument, HostileDocumentsStayLinear) {
    const int depth = 200000;
    std::string deep;
    for (int i = 0; i < depth; ++i) deep += "<a>";
    std::string strays = "<r>" + deep;
    for (int i = 0; i < depth; ++i) strays += "</b>";
    strays += "</r>";
    std::string closedOnce = "<r>" + deep + "</r>";
    const struct {
        const char* name;
        const std::string& text;
        const char* message;
    } cases[] = {
        // Every unended element moves up beside the outermost one.
        {"deep unended nesting", deep, "Root element has sibling"},
        {"stray end tags inside deep nesting", strays,
         "No start tag for end tag 'b' at offset 600003"},
        {"one end tag closes deep nesting", closedOnce,
         "End tag 'r' at offset 600004 does not match start tag 'a' at offset 600000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        XmlDocument document(c.text);
        EXPECT_EQ(document.ResultText().substr(0, std::string(c.message).size()), c.message);
        EXPECT_FALSE(document.Parse());
    }

    const std::string data(50 * 1024 * 1024, 'A');
    XmlDocument big("<d>" + data + "</d>");
    ASSERT_TRUE(big.FindElement("d"));
    EXPECT_EQ(big.GetData().size(), data.size());
}

TEST(XmlDocument, MutatedDocumentsNeverBreakTheTable) {
    const std::string seed =
        "<?xml version=\"1.0\"?>\r\n<!DOCTYPE s>\r\n<s a=\"1\" b='x>y'>\r\n<o n=\"&lt;1&gt;\">"
        "<![CDATA[c<d]]><!-- note --><p/></o>\r\n<o n=2>text &amp; more<q x=\"/\"/></o>\r\n"
        "<?pi data?>\r\n</s>\r\n";
    const char alphabet[] = "<>/!?-[]\"'= \r\nabCD&;#x";
    CrtSrand(20240601);
    for (int round = 0; round < 3000; ++round) {
        std::string text = seed;
        const int edits = 1 + CrtRand() % 6;
        for (int e = 0; e < edits && !text.empty(); ++e) {
            const auto at = static_cast<std::size_t>(CrtRand()) % text.size();
            const char c = alphabet[CrtRand() % (sizeof(alphabet) - 1)];
            switch (CrtRand() % 4) {
                case 0:
                    text[at] = c;
                    break;
                case 1:
                    text.insert(at, 1, c);
                    break;
                case 2:
                    text.erase(at, 1);
                    break;
                default:
                    text.resize(at);
                    break;
            }
        }
        SCOPED_TRACE("round " + std::to_string(round) + ": " + text);
        XmlDocument document(text);
        document.Parse();
        ExpectConsistentTable(document);
        // Walk every element through the public interface.
        std::vector<std::int32_t> stack;
        int steps = 0;
        while (steps++ < 1000) {
            if (document.FindElement("o") || document.FindElement("s") ||
                document.FindElement("p")) {
                document.GetData();
                document.GetAttribute("n");
                document.GetAttribute("a");
                document.EnterElement();
            } else if (!document.LeaveElement()) {
                break;
            }
        }
        document.AddElement("added", "v");
        document.SetAttribute(document.CurrentPosition(), "k", "v");
        ExpectConsistentTable(document);
        if (HasFailure()) break;
    }
}

TEST(XmlDocument, LoadAndSaveRoundTrips) {
    TempFolder folder;
    const std::string body = "<r a=\"\xC3\xA9\">\r\n<c>\xF0\x9F\x98\x80 x</c>\r\n</r>\r\n";
    std::string utf16 = "\xFF\xFE";
    for (const char16_t unit :
         std::u16string(u"<r a=\"\u00E9\">\r\n<c>\U0001F600 x</c>\r\n</r>\r\n")) {
        utf16.push_back(static_cast<char>(unit & 0xFF));
        utf16.push_back(static_cast<char>(unit >> 8));
    }
    const struct {
        const char* name;
        std::string bytes;
        std::uint32_t flags;
        std::string loadLine;
        std::string saveLine;
    } cases[] = {
        {"plain", body, 0, "33 bytes", "33 bytes"},
        {"UTF-8 mark", "\xEF\xBB\xBF" + body, XmlUtf8MarkFlag, "UTF-8 BOM + 33 bytes",
         "UTF-8 BOM + 33 bytes"},
        {"UTF-16LE", utf16, XmlUtf16Flag, "UTF-16LE BOM + 30 wide chars to 33 bytes",
         "33 bytes to UTF-16LE BOM + 30 wide chars"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string in = folder.File(std::string(c.name) + ".xml");
        const std::string out = folder.File(std::string(c.name) + "-out.xml");
        WriteBytes(in, c.bytes);
        XmlDocument document;
        EXPECT_TRUE(document.Load(in));
        EXPECT_EQ(document.ResultText(), c.loadLine);
        EXPECT_EQ(document.Flags(), c.flags);
        EXPECT_EQ(document.Text(), body);
        ASSERT_TRUE(document.FindElement("r"));
        EXPECT_EQ(document.GetAttribute("a"), "\xC3\xA9");
        EXPECT_TRUE(document.Save(out));
        EXPECT_EQ(document.ResultText(), c.saveLine);
        EXPECT_EQ(ReadBytes(out), c.bytes);
    }
}

TEST(XmlDocument, LoadReportsProblemsAfterTheReadLine) {
    TempFolder folder;
    const std::string path = folder.File("Broken.XML");
    WriteBytes(path, "\xEF\xBB\xBF<a/><b/>");
    XmlDocument document;
    // The name is found whatever its case and separators.
    EXPECT_FALSE(document.Load(folder.File("broken.xml")));
    EXPECT_EQ(document.ResultText(), "UTF-8 BOM + 8 bytes, Root element has sibling");
    EXPECT_TRUE(document.FindElement("b"));

    WriteBytes(path, "");
    EXPECT_FALSE(document.Load(path));
    EXPECT_EQ(document.ResultText(), "0 bytes, Empty document");

    EXPECT_FALSE(document.Load(folder.File("missing.xml")));
    EXPECT_EQ(document.ResultText(), "No such file or directory");
    EXPECT_FALSE(document.Load(folder.File("")));
    EXPECT_EQ(document.ResultText(), "Is a directory");
    EXPECT_EQ(document.Text(), "");
    EXPECT_FALSE(document.FindElement("a"));
}

TEST(XmlDocument, MalformedUtf16IsReplacedNotJoined) {
    TempFolder folder;
    const struct {
        const char* name;
        std::string bytes;
        std::string text;
    } cases[] = {
        // A high surrogate before an ordinary character leaves the character alone.
        {"lone high", std::string("\xFF\xFE\x00\xD8\x41\x00", 6), "?A"},
        {"lone low", std::string("\xFF\xFE\x00\xDC\x41\x00", 6), "?A"},
        {"high at the end", std::string("\xFF\xFE\x41\x00\x00\xD8", 6), "A?"},
        {"two highs then a low", std::string("\xFF\xFE\x00\xD8\x00\xD8\x00\xDC", 8),
         "?\xF0\x90\x80\x80"},
        {"odd trailing byte", std::string("\xFF\xFE\x41\x00\x42", 5), "A"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text;
        std::string result;
        std::uint32_t flags = 0;
        const std::string path = folder.File("u16.xml");
        WriteBytes(path, c.bytes);
        ASSERT_TRUE(XmlDocument::ReadTextFile(path, text, flags, result));
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(flags, XmlUtf16Flag);
    }
}

TEST(XmlDocument, WritingUtf16ReplacesMalformedUtf8) {
    TempFolder folder;
    const std::string path = folder.File("w.xml");
    std::string result;
    std::uint32_t flags = XmlUtf16Flag;
    ASSERT_TRUE(XmlDocument::WriteTextFile("A\xFF\xC3", result, path, flags));
    EXPECT_EQ(ReadBytes(path), std::string("\xFF\xFE\x41\x00\x3F\x00\x3F\x00", 8));
    EXPECT_EQ(result, "3 bytes to UTF-16LE BOM + 3 wide chars");
}

TEST(XmlDocument, Utf16FlagWinsOverUtf8Mark) {
    TempFolder folder;
    const std::string path = folder.File("both.xml");
    std::string result;
    std::uint32_t flags = XmlUtf16Flag | XmlUtf8MarkFlag;
    ASSERT_TRUE(XmlDocument::WriteTextFile("<a/>", result, path, flags));
    EXPECT_EQ(ReadBytes(path), std::string("\xFF\xFE<\0a\0/\0>\0", 10));
    EXPECT_EQ(result, "4 bytes to UTF-16LE BOM + 4 wide chars");
    EXPECT_EQ(flags, XmlUtf16Flag | XmlUtf8MarkFlag);

    // A file without a mark is read as it is and drops both encoding flags.
    WriteBytes(path, "<a/>");
    std::string text;
    ASSERT_TRUE(XmlDocument::ReadTextFile(path, text, flags, result));
    EXPECT_EQ(text, "<a/>");
    EXPECT_EQ(flags, 0u);
    EXPECT_EQ(result, "4 bytes");
}

TEST(XmlDocument, FailedSaveReportsAndKeepsTheOldFile) {
    TempFolder folder;
    XmlDocument document("<a/>");
    EXPECT_FALSE(document.Save(folder.File("no/such/folder/x.xml")));
    EXPECT_EQ(document.ResultText(), "No such file or directory");

    EXPECT_FALSE(document.Save(folder.File("")));
    EXPECT_EQ(document.ResultText(), "Is a directory");

    // The target is replaced only by a complete write, through a file beside it that does
    // not stay, and keeps its permission bits.
    namespace fs = std::filesystem;
    const std::string path = folder.File("keep.xml");
    WriteBytes(path, "old");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(document.Save(path));
    EXPECT_EQ(ReadBytes(path), "<a/>");
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::mask,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const auto entries = fs::directory_iterator(fs::path(path).parent_path());
    EXPECT_EQ(std::distance(begin(entries), end(entries)), 1);
}

TEST(XmlDocument, SaveKeepsAPrivateModeAndAnotherSavesTemporary) {
    namespace fs = std::filesystem;
    TempFolder folder;
    const std::string path = folder.File("private.xml");
    WriteBytes(path, "old");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    // A file of the temporary's old fixed name belongs to someone else: a save must neither
    // write into it nor remove it.
    const std::string foreign = path + ".~tmp";
    WriteBytes(foreign, "not ours");

    XmlDocument document("<a/>");
    ASSERT_TRUE(document.Save(path));
    EXPECT_EQ(ReadBytes(path), "<a/>");
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::mask,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(ReadBytes(foreign), "not ours");
    const auto entries = fs::directory_iterator(folder.File(""));
    EXPECT_EQ(std::distance(begin(entries), end(entries)), 2);
}

TEST(XmlDocument, SaveOverAReadOnlyFileFailsAndKeepsIt) {
    if (::geteuid() == 0) GTEST_SKIP() << "the superuser may write any file";
    namespace fs = std::filesystem;
    TempFolder folder;
    const std::string path = folder.File("locked.xml");
    WriteBytes(path, "old");
    fs::permissions(path, fs::perms::owner_read);
    XmlDocument document("<a/>");
    EXPECT_FALSE(document.Save(path));
    EXPECT_EQ(document.ResultText(), "Permission denied");
    EXPECT_EQ(ReadBytes(path), "old");
    const auto entries = fs::directory_iterator(folder.File(""));
    EXPECT_EQ(std::distance(begin(entries), end(entries)), 1);
}

TEST(XmlDocument, CorruptFilesFailCleanly) {
    const struct {
        const char* file;
        std::string result;
    } cases[] = {
        {"unclosed.xml", "105 bytes, Root element has sibling"},
        {"mismatched.xml",
         "47 bytes, End tag 'KVXMLFile' at offset 34 does not match start tag 'Group' at offset "
         "13"},
        {"bad-comment.xml", "61 bytes, Incorrect comment tag at offset 13"},
        {"truncated-utf16.xml",
         "UTF-16LE BOM + 33 wide chars to 34 bytes, Root element has sibling"},
        {"not-xml.bin", "273 bytes, No start tag for end tag '\x80"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        XmlDocument document;
        EXPECT_FALSE(document.Load(std::string(ORBELLE_TEST_DATA_DIR) + "/xml/" + c.file));
        EXPECT_EQ(document.ResultText().substr(0, c.result.size()), c.result);
        ExpectConsistentTable(document);
    }
}
