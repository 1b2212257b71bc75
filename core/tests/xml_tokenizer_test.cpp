// The pull tokenizer: every event kind in both text modes, the exact error
// messages, attribute iteration, unescaping, and every truncation of a sample.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "text_xml_helpers.hpp"
#include "xml_tokenizer.hpp"

namespace zandrel {
namespace {

std::string describe(const XmlEvent& event) {
    auto with = [](const char* tag, std::string_view value) {
        return std::string(tag) + "(" + std::string(value) + ")";
    };
    switch (event.kind) {
    case XmlEventKind::StartElement: return with("start", event.name) + "[" + std::string(event.attributes) + "]";
    case XmlEventKind::EmptyElement: return with("empty", event.name) + "[" + std::string(event.attributes) + "]";
    case XmlEventKind::EndElement: return with("end", event.name);
    case XmlEventKind::Text: return with("text", event.content);
    case XmlEventKind::CData: return with("cdata", event.content);
    case XmlEventKind::Comment: return with("comment", event.content);
    case XmlEventKind::Declaration: return with("decl", event.content);
    case XmlEventKind::ProcessingInstruction: return with("pi", event.content);
    case XmlEventKind::DocType: return with("doctype", event.content);
    case XmlEventKind::EntityReference: return with("entity", event.name);
    case XmlEventKind::CharReference: return with("char", event.name);
    case XmlEventKind::EndOfInput: return "eof";
    }
    return "?";
}

// Every event up to end of input, or up to and including the error, which is
// described as "error: {detail}". Also checks that each event's raw bytes lie
// where its offset says.
template <XmlTextMode Mode>
std::vector<std::string> read_all(std::string_view text) {
    BasicXmlReader<Mode> reader(text);
    std::vector<std::string> events;
    for (;;) {
        Result<XmlEvent> event = reader.next();
        if (!event) {
            EXPECT_EQ(event.error().kind, ErrorKind::Xml);
            events.push_back("error: " + event.error().detail);
            return events;
        }
        if (event->kind == XmlEventKind::EndOfInput) return events;
        EXPECT_EQ(text.substr(event->offset, event->raw.size()), event->raw);
        EXPECT_EQ(event->raw.data(), text.data() + event->offset);
        events.push_back(describe(*event));
    }
}

using namespace std::string_literals;
using namespace std::string_view_literals;

struct EventCase {
    std::string_view input;
    std::vector<std::string> streaming;
    std::vector<std::string> trimming;  // empty: same as streaming
};

TEST(XmlTokenizer, EventsOfEveryKindInBothModes) {
    const std::vector<EventCase> cases = {
        {"<a>x</a>", {"start(a)[]", "text(x)", "end(a)"}, {}},
        {"<p:sp x=\"1\" y='2'/>", {"empty(p:sp)[ x=\"1\" y='2']"}, {}},
        {"<a/>", {"empty(a)[]"}, {}},
        {"<a x=\"a>b/\">z</a>", {"start(a)[ x=\"a>b/\"]", "text(z)", "end(a)"}, {}},
        {"<a x='/'/>", {"empty(a)[ x='/']"}, {}},
        {"<a\n\tx=\"1\"\n/>", {"empty(a)[\n\tx=\"1\"\n]"}, {}},
        {"<a></a \n>", {"start(a)[]", "end(a)"}, {}},
        {"<a> <b/>\n</a>",
         {"start(a)[]", "text( )", "empty(b)[]", "text(\n)", "end(a)"},
         {"start(a)[]", "empty(b)[]", "end(a)"}},
        {"<t> a &amp; b </t>",
         {"start(t)[]", "text( a )", "entity(amp)", "text( b )", "end(t)"},
         {"start(t)[]", "text(a)", "entity(amp)", "text(b)", "end(t)"}},
        {"<t>&#65;&#x41;&lt;&custom;</t>",
         {"start(t)[]", "char(#65)", "char(#x41)", "entity(lt)", "entity(custom)", "end(t)"}, {}},
        {"<t><![CDATA[ <x>&amp; ]]></t>", {"start(t)[]", "cdata( <x>&amp; )", "end(t)"}, {}},
        {"<!-- a -- b --><a/>", {"comment( a -- b )", "empty(a)[]"}, {}},
        {"<?xml version=\"1.0\" standalone=\"yes\"?>\r\n<a/>",
         {"decl(xml version=\"1.0\" standalone=\"yes\")", "text(\r\n)", "empty(a)[]"},
         {"decl(xml version=\"1.0\" standalone=\"yes\")", "empty(a)[]"}},
        {"<?mso-application progid=\"x\"?><?xml-stylesheet a?>",
         {"pi(mso-application progid=\"x\")", "pi(xml-stylesheet a)"}, {}},
        {"<!DOCTYPE r [<!ENTITY e \"]>\"> <!ELEMENT r ANY>]><r>&e;</r>",
         {"doctype(r [<!ENTITY e \"]>\"> <!ELEMENT r ANY>])", "start(r)[]", "entity(e)", "end(r)"}, {}},
        {"<!DOCTYPE html>", {"doctype(html)"}, {}},
        {"text outside", {"text(text outside)"}, {}},
        {"<\xC3\xA9:x_1.b-c/>", {"empty(\xC3\xA9:x_1.b-c)[]"}, {}},
        {"<1a/><a=b/>", {"empty(1a)[]", "empty(a=b)[]"}, {}},
        // a part in UTF-16 reads to the end as odd names and text
        {"\xFF\xFE<\0r\0 \0v\0=\0'\0'\0>\0<\0/\0r\0>\0"sv,
         {"text(\xFF\xFE)", "start(\0r\0)[ \0v\0=\0'\0'\0]"s, "text(\0)"s, "start(\0)[/\0r\0]"s,
          "text(\0)"s},
         {}},
        // attribute text is not validated here: the iterator reports it
        {"<a/b>", {"start(a)[/b]"}, {}},
        {"a > b", {"text(a > b)"}, {}},
        {"", {}, {}},
        {"   ", {"text(   )"}, {"eof-only"}},
        // open elements at the end are reported by open_depth, not as errors
        {"<a><b>", {"start(a)[]", "start(b)[]"}, {}},
    };
    for (const EventCase& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(read_all<XmlTextMode::Streaming>(c.input), c.streaming);
        std::vector<std::string> trimming = c.trimming.empty() ? c.streaming : c.trimming;
        if (trimming == std::vector<std::string>{"eof-only"}) trimming.clear();
        EXPECT_EQ(read_all<XmlTextMode::Trimming>(c.input), trimming);
    }
}

TEST(XmlTokenizer, TrimmedTextKeepsItsOffsetIntoTheInput) {
    const std::string_view text = "<t>\n  word  </t>";
    XmlTrimmingReader reader(text);
    ASSERT_TRUE(reader.next());
    Result<XmlEvent> piece = reader.next();
    ASSERT_TRUE(piece);
    EXPECT_EQ(piece->raw, "word");
    EXPECT_EQ(piece->offset, 6u);
}

TEST(XmlTokenizer, ReportsEndOfInputWithElementsOpen) {
    XmlStreamReader reader("<a><b></b>");
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(reader.next());
    Result<XmlEvent> end = reader.next();
    ASSERT_TRUE(end);
    EXPECT_EQ(end->kind, XmlEventKind::EndOfInput);
    EXPECT_EQ(reader.open_depth(), 1u);
    Result<XmlEvent> again = reader.next();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->kind, XmlEventKind::EndOfInput);
}

struct ErrorCase {
    const char* input;
    const char* message;
};

TEST(XmlTokenizer, MalformedMarkupGivesExactMessagesInBothModes) {
    const std::vector<ErrorCase> cases = {
        {"<p:spTree><p:sp></p:spTree>",
         "mismatched end tag: expected </p:sp>, found </p:spTree> at offset 16"},
        {"<a>x</a></b>", "unmatched end tag </b> at offset 8"},
        {"</a>", "unmatched end tag </a> at offset 0"},
        {"<a></A>", "mismatched end tag: expected </a>, found </A> at offset 3"},
        {"<a></a b>", "mismatched end tag: expected </a>, found </a b> at offset 3"},
        {"<>", "missing element name at offset 0"},
        {"< a/>", "missing element name at offset 0"},
        {"<a></>", "missing element name at offset 3"},
        {"<a></ a>", "missing element name at offset 3"},
        {"<a x=\"1\" <b>", "unexpected '<' inside tag at offset 0"},
        {"<a<b>", "unexpected '<' inside tag at offset 0"},
        {"<a\"b\"/>", "invalid element name at offset 0"},
        {"<r><a'b/></r>", "invalid element name at offset 3"},
        {"<!ELEMENT a>", "unknown markup at offset 0"},
        {"<!DOCTYPEx>", "unknown markup at offset 0"},
        {"<a>&amp b</a>", "invalid reference at offset 3"},
        {"<a>&;</a>", "invalid reference at offset 3"},
        {"<a>& b</a>", "invalid reference at offset 3"},
        {"<a", "unexpected end of input inside start tag at offset 0"},
        {"<a x=\"1>", "unexpected end of input inside start tag at offset 0"},
        {"<a></a", "unexpected end of input inside end tag at offset 3"},
        {"x<!-- c ->", "unexpected end of input inside comment at offset 1"},
        {"<!-->", "unexpected end of input inside comment at offset 0"},
        {"<![CDATA[x]]", "unexpected end of input inside CDATA section at offset 0"},
        {"<?xml version='1.0'", "unexpected end of input inside processing instruction at offset 0"},
        {"<!DOCTYPE r [<!ENTITY e '>'>", "unexpected end of input inside document type at offset 0"},
        {"<a/><", "unexpected end of input inside markup at offset 4"},
        {"<![CDA", "unexpected end of input inside markup at offset 0"},
        {"<a>&am", "unexpected end of input inside reference at offset 3"},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.input);
        std::vector<std::string> streaming = read_all<XmlTextMode::Streaming>(c.input);
        ASSERT_FALSE(streaming.empty());
        EXPECT_EQ(streaming.back(), std::string("error: ") + c.message);
        std::vector<std::string> trimming = read_all<XmlTextMode::Trimming>(c.input);
        ASSERT_FALSE(trimming.empty());
        EXPECT_EQ(trimming.back(), std::string("error: ") + c.message);
    }
}

TEST(XmlTokenizer, AnErrorIsRepeatedOnEveryLaterCall) {
    XmlStreamReader reader("<a></b><c/>");
    ASSERT_TRUE(reader.next());
    for (int i = 0; i < 3; ++i) {
        Result<XmlEvent> event = reader.next();
        ASSERT_FALSE(event);
        EXPECT_EQ(event.error().detail, "mismatched end tag: expected </a>, found </b> at offset 3");
    }
}

TEST(XmlTokenizer, DeepNestingNeedsNoRecursion) {
    const std::size_t depth = 200000;
    std::string text;
    for (std::size_t i = 0; i < depth; ++i) text += "<a:b>";
    for (std::size_t i = 0; i < depth; ++i) text += "</a:b>";
    Result<std::string> copy = identity_rewrite(text);
    ASSERT_TRUE(copy);
    EXPECT_EQ(*copy, text);
}

// Every prefix of a sample with every kind of markup, each in a buffer of its
// exact size: the reader must stop with end of input or an error, keep its
// views inside the prefix, and a prefix it accepts must round-trip.
TEST(XmlTokenizer, EveryTruncationEndsCleanly) {
    const std::string sample =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<!DOCTYPE r [<!ENTITY e 'v>'>]><?pi data?>"
        "<p:sld xmlns:a=\"urn:a\" xmlns:p='urn:p'><!-- note -->"
        "<p:sp><a:t>Fish &amp; chips &#x263A; &#169;</a:t><a:off x=\"1\" y=\"2\"/>"
        "<![CDATA[raw <b> & ]]]></p:sp >\n</p:sld>";
    std::size_t accepted = 0;
    for (std::size_t cut = 0; cut <= sample.size(); ++cut) {
        SCOPED_TRACE(cut);
        auto buffer = std::make_unique<char[]>(cut);
        std::copy(sample.begin(), sample.begin() + static_cast<std::ptrdiff_t>(cut), buffer.get());
        const std::string_view prefix(buffer.get(), cut);
        for (const std::vector<std::string>& events :
             {read_all<XmlTextMode::Streaming>(prefix), read_all<XmlTextMode::Trimming>(prefix)}) {
            if (!events.empty() && events.back().starts_with("error: ")) {
                EXPECT_TRUE(events.back().starts_with("error: unexpected end of input inside "))
                    << events.back();
            }
        }
        if (Result<std::string> copy = identity_rewrite(prefix)) {
            ++accepted;
            std::string expected(prefix);
            if (const std::size_t spaced = expected.find("</p:sp >"); spaced != std::string::npos)
                expected.erase(spaced + 6, 1);
            EXPECT_EQ(*copy, expected);
        }
    }
    EXPECT_GT(accepted, 20u);  // the cuts that fall into text
}

struct AttributeCase {
    const char* text;
    std::vector<std::string> entries;  // key=value|quote, or "error: ..."
};

TEST(XmlTokenizer, AttributeIteratorReportsMalformedEntriesAndContinues) {
    const std::vector<AttributeCase> cases = {
        {"", {}},
        {" x=\"1\" r:id='rId2'", {"x=1|\"", "r:id=rId2|'"}},
        {"\n x = \"a b\"\ty=\"\"", {"x=a b|\"", "y=|\""}},
        {" a=\"1\" a=\"2\" b=\"3\"", {"a=1|\"", "error: duplicate attribute a", "b=3|\""}},
        {" a b=\"2\"", {"error: attribute a has no value", "b=2|\""}},
        {" a=1 b=\"2\"", {"error: attribute a value is not quoted", "b=2|\""}},
        {" a='x\"y' =\"v\" c='3'", {"a=x\"y|'", "error: attribute without a name", "c=3|'"}},
        {" a=\"1", {"error: attribute a value has no closing quote"}},
        {" a=", {"error: attribute a value is not quoted"}},
        {" a=\"&amp;&lt;\"", {"a=&amp;&lt;|\""}},
        {" a\"b\"=\"1\" c=\"2\"", {"error: invalid attribute name a\"b\"", "c=2|\""}},
        {" a<b='1' c='2'", {"error: invalid attribute name a<b", "c=2|'"}},
        {" 1x='1' /b", {"1x=1|'", "error: attribute /b has no value"}},
        {" x'='1'", {"error: invalid attribute name x'"}},
    };
    for (const AttributeCase& c : cases) {
        SCOPED_TRACE(c.text);
        XmlAttributeIterator attributes(c.text);
        std::vector<std::string> entries;
        while (std::optional<Result<XmlAttribute>> item = attributes.next()) {
            if (!*item) {
                EXPECT_EQ(item->error().kind, ErrorKind::Xml);
                entries.push_back("error: " + item->error().detail);
            } else {
                entries.push_back(std::string((*item)->key) + "=" + std::string((*item)->raw_value) + "|" +
                                  (*item)->quote);
            }
        }
        EXPECT_EQ(entries, c.entries);
    }
}

TEST(XmlTokenizer, DuplicateCheckCoversManyAttributes) {
    std::string text;
    for (int i = 0; i < 40; ++i) text += " k" + std::to_string(i) + "=\"v\"";
    text += " k3=\"again\" k39=\"again\"";
    XmlAttributeIterator attributes(text);
    std::vector<std::string> errors;
    int good = 0;
    while (std::optional<Result<XmlAttribute>> item = attributes.next())
        *item ? ++good : (errors.push_back(item->error().detail), 0);
    EXPECT_EQ(good, 40);
    EXPECT_EQ(errors, (std::vector<std::string>{"duplicate attribute k3", "duplicate attribute k39"}));
}

TEST(XmlTokenizer, ElementNamesAndLocalNames) {
    XmlStreamReader reader("<p:cNvPr id=\"2\"/><sp/>");
    Result<XmlEvent> first = reader.next();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->name, "p:cNvPr");
    EXPECT_EQ(first->local_name(), "cNvPr");
    EXPECT_TRUE(first->is_element_start());
    Result<XmlEvent> second = reader.next();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->local_name(), "sp");
}

struct UnescapeCase {
    const char* raw;
    const char* expected;  // or the XmlText message
    bool ok;
};

TEST(XmlTokenizer, UnescapeResolvesPredefinedEntitiesAndCharacterReferences) {
    const std::vector<UnescapeCase> cases = {
        {"plain", "plain", true},
        {"", "", true},
        {"&lt;a&gt; &amp;&amp; &quot;&apos;", "<a> && \"'", true},
        {"&#65;&#x42;&#x43;", "ABC", true},
        {"&#xe9;&#233;&#x1F600;", "\xC3\xA9\xC3\xA9\xF0\x9F\x98\x80", true},
        {"&amp;lt;", "&lt;", true},
        {"&nbsp;", "unknown entity reference &nbsp;", false},
        {"&#0;", "invalid character reference &#0;", false},
        {"&#xD800;", "invalid character reference &#xD800;", false},
        {"&#x110000;", "invalid character reference &#x110000;", false},
        {"&#99999999999999999999;", "invalid character reference &#99999999999999999999;", false},
        {"&#X41;", "invalid character reference &#X41;", false},
        {"&#;", "invalid character reference &#;", false},
        {"&#x;", "invalid character reference &#x;", false},
        {"&#12a;", "invalid character reference &#12a;", false},
        {"a & b", "unterminated reference in a & b", false},
    };
    for (const UnescapeCase& c : cases) {
        SCOPED_TRACE(c.raw);
        Result<std::string> value = unescape_xml(c.raw);
        ASSERT_EQ(value.ok(), c.ok);
        if (c.ok) {
            EXPECT_EQ(*value, c.expected);
        } else {
            EXPECT_EQ(value.error().kind, ErrorKind::XmlText);
            EXPECT_EQ(value.error().detail, c.expected);
        }
    }
}

}  // namespace
}  // namespace zandrel
