// The event writer and the event-level helpers, plus the identity rewrite of
// every XML part of the corpus.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "text_xml_helpers.hpp"
#include "xml_event_writer.hpp"
#include "xml_tokenizer.hpp"
#include "zip_reader.hpp"

namespace zandrel {
namespace {

// The first start or empty element of `xml`; the text must outlive it.
XmlEvent first_element(std::string_view xml) {
    XmlStreamReader reader(xml);
    for (;;) {
        Result<XmlEvent> event = reader.next();
        if (!event) {
            ADD_FAILURE() << event.error().detail;
            return {};
        }
        if (event->is_element_start() || event->kind == XmlEventKind::EndOfInput) return *event;
    }
}

std::string rebuilt(std::string_view xml, const XmlElementBuilder& element) {
    XmlEventWriter writer;
    writer.write_rebuilt(first_element(xml), element);
    return writer.take_buffer();
}

TEST(XmlEvents, IdentityRewriteKeepsEveryEventKindByteForByte) {
    const std::string part =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<!DOCTYPE r [<!ENTITY e 'v'>]><?mso-application progid=\"x\"?>"
        "<p:sld xmlns:a='urn:a'\n   xmlns:p=\"urn:p\"><!-- c -- c -->"
        "<a:t xml:space=\"preserve\"> Fish &amp; chips&#x263A;&e; </a:t>"
        "<a:off x = '1' y=\"&quot;2&quot;\" /><![CDATA[ <raw> ]]>\n\t</p:sld>";
    Result<std::string> copy = identity_rewrite(part);
    ASSERT_TRUE(copy);
    EXPECT_EQ(*copy, part);
}

TEST(XmlEvents, EndTagsAreWrittenWithoutTheirTrailingWhitespace) {
    Result<std::string> copy = identity_rewrite("<a><b></b\n\t ></a >");
    ASSERT_TRUE(copy);
    EXPECT_EQ(*copy, "<a><b></b></a>");
}

TEST(XmlEvents, IdentityRewriteReportsReadErrorsAsXml) {
    Result<std::string> copy = identity_rewrite("<p:sp><a:t>x</p:sp>");
    ASSERT_FALSE(copy);
    EXPECT_EQ(copy.error().kind, ErrorKind::Xml);
    EXPECT_EQ(copy.error().detail, "mismatched end tag: expected </a:t>, found </p:sp> at offset 12");
}

TEST(XmlEvents, AReferenceSplitsTextIntoThreeEventsThatWriteBackUnchanged) {
    const std::string_view text = "<a:t>fish &amp; chips</a:t>";
    XmlStreamReader reader(text);
    XmlEventWriter writer;
    std::vector<XmlEventKind> kinds;
    for (;;) {
        Result<XmlEvent> event = reader.next();
        ASSERT_TRUE(event);
        if (event->kind == XmlEventKind::EndOfInput) break;
        kinds.push_back(event->kind);
        writer.write_event(*event);
    }
    EXPECT_EQ(kinds, (std::vector<XmlEventKind>{XmlEventKind::StartElement, XmlEventKind::Text,
                                                 XmlEventKind::EntityReference, XmlEventKind::Text,
                                                 XmlEventKind::EndElement}));
    EXPECT_EQ(writer.buffer(), text);
}

TEST(XmlEvents, NewTextAndAttributesAreEscapedWithTheFiveEntities) {
    EXPECT_EQ(escape_xml("a&b<c>d'e\"f"), "a&amp;b&lt;c&gt;d&apos;e&quot;f");
    EXPECT_EQ(escape_xml("&amp;"), "&amp;amp;");
    EXPECT_EQ(escape_xml("plain \xC3\xA9"), "plain \xC3\xA9");

    XmlEventWriter writer;
    XmlElementBuilder run("a:rPr");
    run.push_attribute("lang", "en-US").push_attribute("alt", "<\"x\" & 'y'>");
    writer.write_start(run);
    writer.write_text("1 < 2 & 3");
    writer.write_end("a:rPr");
    writer.write_empty(XmlElementBuilder("a:br"));
    writer.write_raw("<a:endParaRPr/>");
    EXPECT_EQ(writer.buffer(),
              "<a:rPr lang=\"en-US\" alt=\"&lt;&quot;x&quot; &amp; &apos;y&apos;&gt;\">"
              "1 &lt; 2 &amp; 3</a:rPr><a:br/><a:endParaRPr/>");
}

// A single-quoted value may hold a double quote; written again in double
// quotes it must become &quot; or the attribute would end early.
TEST(XmlEvents, SingleQuotedValueWithDoubleQuoteStaysWellFormedWhenRequoted) {
    const std::string_view input = "<a:hlinkClick tooltip='say \"hi\" &amp; go' r:id=\"rId1\"/>";
    const XmlAttributePatch pairs[] = {{"r:id", "rId9"}};
    const std::string output = rebuilt(input, rewrite_event_attributes(first_element(input), pairs));
    EXPECT_EQ(output, "<a:hlinkClick tooltip=\"say &quot;hi&quot; &amp; go\" r:id=\"rId9\"/>");

    const XmlEvent reread = first_element(output);
    XmlAttributeIterator attributes = reread.attribute_iterator();
    std::optional<Result<XmlAttribute>> tooltip = attributes.next();
    ASSERT_TRUE(tooltip && *tooltip);
    Result<std::string> value = unescape_xml((*tooltip)->raw_value);
    ASSERT_TRUE(value);
    EXPECT_EQ(*value, "say \"hi\" & go");
}

// Fuzz finding: a quote inside an attribute name made the attribute walk
// pair quotes differently from the tag scanner, so the rebuilt element got
// an attribute named "Type<" and no longer read back.
TEST(XmlEvents, RebuiltElementReadsBackWhenAnAttributeNameHoldsAQuote) {
    const std::vector<std::string_view> inputs = {
        "<R a\"</ b<=\"x c=\"1\"/>",
        std::string_view("<?xml veUTF-8\" st\x01\0\0\0\0\0\0\0=\"yes\"?>\r\n<Relationship TargideId18\"</ "
                         "Type<=\"![CDATA[s\x9Ehemas%.opumentt=\"presProationsh pIi____________________d__"
                         "\"Iamp _=rIh11\"\x17rId1\" Type=\"ml\"/></RelFtion",
                         181),
    };
    const std::vector<std::string_view> expected = {"<R c=\"1\"/>", "<Relationship Type=\"ml\"/>"};
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        SCOPED_TRACE(i);
        const XmlEvent event = first_element(inputs[i]);
        const std::string output = rebuilt(inputs[i], rewrite_event_attributes(event, {}));
        EXPECT_EQ(output, expected[i]);
        EXPECT_TRUE(identity_rewrite(output));
    }
}

TEST(XmlEvents, RewriteAttributesReplacesInPlaceAndAppendsTheRest) {
    struct Case {
        const char* input;
        std::vector<XmlAttributePatch> pairs;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"<a:off y=\"5\"/>", {{"x", "10"}, {"y", "20"}}, "<a:off y=\"20\" x=\"10\"/>"},
        {"<a:ext cx=\"1\" cy=\"2\">", {{"cx", "3"}}, "<a:ext cx=\"3\" cy=\"2\">"},
        // untouched values stay raw: no second escaping of their references
        {"<Relationship Id='rId1' Target=\"a&amp;b.xml\" Type=\"t\"/>",
         {{"Id", "rId2"}},
         "<Relationship Id=\"rId2\" Target=\"a&amp;b.xml\" Type=\"t\"/>"},
        {"<x a=\"1\"/>", {{"b", "<&>"}}, "<x a=\"1\" b=\"&lt;&amp;&gt;\"/>"},
        // the first matching pair wins; a duplicate input attribute is dropped
        {"<x a=\"1\" a=\"2\" c=\"3\"/>", {{"a", "first"}, {"a", "second"}},
         "<x a=\"first\" c=\"3\" a=\"second\"/>"},
        // keys compare qualified: r:id is not id
        {"<p:sldId id=\"256\" r:id=\"rId2\"/>", {{"id", "300"}}, "<p:sldId id=\"300\" r:id=\"rId2\"/>"},
        {"<x bad a=\"1\"/>", {}, "<x a=\"1\"/>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(rebuilt(c.input, rewrite_event_attributes(first_element(c.input), c.pairs)), c.expected);
    }
}

TEST(XmlEvents, RewriteOptionalAttributesSetsAndRemoves) {
    struct Case {
        const char* input;
        std::vector<XmlOptionalAttributePatch> pairs;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"<a:rPr lang=\"en\" b=\"1\" i=\"1\">", {{"b", std::nullopt}}, "<a:rPr lang=\"en\" i=\"1\">"},
        {"<a:rPr lang=\"en\"/>", {{"b", std::nullopt}}, "<a:rPr lang=\"en\"/>"},
        {"<a:rPr b=\"0\" lang=\"en\"/>", {{"sz", "2400"}, {"b", "1"}, {"u", std::nullopt}},
         "<a:rPr b=\"1\" lang=\"en\" sz=\"2400\"/>"},
        {"<a:tc hMerge='1' gridSpan=\"2\">", {{"gridSpan", std::nullopt}, {"hMerge", std::nullopt}},
         "<a:tc>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(rebuilt(c.input, rewrite_event_optional_attributes(first_element(c.input), c.pairs)),
                  c.expected);
    }
}

template <class Reader>
void expect_skip_resumes_after_element() {
    Reader reader("<p:sp><p:txBody><a:p><a:t>x</a:t><a:br/></a:p></p:txBody></p:sp><next/>");
    ASSERT_TRUE(reader.next());
    Result<XmlEvent> body = reader.next();
    ASSERT_TRUE(body);
    ASSERT_EQ(body->name, "p:txBody");
    ASSERT_TRUE(skip_current_element(reader));
    Result<XmlEvent> after = reader.next();
    ASSERT_TRUE(after);
    EXPECT_EQ(after->kind, XmlEventKind::EndElement);
    EXPECT_EQ(after->name, "p:sp");
}

TEST(XmlEvents, SkipCurrentElementResumesAfterTheMatchingEndTag) {
    expect_skip_resumes_after_element<XmlStreamReader>();
    expect_skip_resumes_after_element<XmlTrimmingReader>();
}

TEST(XmlEvents, SkipCurrentElementFailures) {
    XmlStreamReader truncated("<p:sp><a:p><a:t>x</a:t>");
    ASSERT_TRUE(truncated.next());
    Status cut = skip_current_element(truncated);
    ASSERT_FALSE(cut);
    EXPECT_EQ(cut.error().kind, ErrorKind::XmlText);
    EXPECT_EQ(cut.error().display(), "xml text decode error: unexpected end of XML while skipping element");

    XmlTrimmingReader broken("<p:sp><a:p></a:t></p:sp>");
    ASSERT_TRUE(broken.next());
    Status bad = skip_current_element(broken);
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().kind, ErrorKind::Xml);
    EXPECT_EQ(bad.error().detail, "mismatched end tag: expected </a:p>, found </a:t> at offset 11");
}

TEST(XmlEvents, ShapeIdFromEvent) {
    struct Case {
        const char* input;
        std::optional<std::uint64_t> id;
    };
    const std::vector<Case> cases = {
        {"<p:cNvPr id=\"4\" name=\"Title 3\"/>", 4},
        {"<cNvPr name=\"x\" id='+17'/>", 17},
        {"<p:cNvPr id=\"&#52;2\"/>", 42},
        {"<p:cNvPr id=\"abc\" name=\"x\"/>", std::nullopt},
        {"<p:cNvPr x:id=\"abc\" id=\"7\"/>", 7},
        {"<p:cNvPr id=\"-1\"/>", std::nullopt},
        {"<p:cNvPr id=\"18446744073709551616\"/>", std::nullopt},
        {"<p:cNvPr name=\"x\"/>", std::nullopt},
        {"<a:off id=\"3\"/>", std::nullopt},
        {"<p:cNvPrX id=\"3\"/>", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        const XmlEvent event = first_element(c.input);
        EXPECT_EQ(extract_shape_id_from_event(event.name, event.attribute_iterator()), c.id);
    }
}

TEST(XmlEvents, RelIdFromAttributes) {
    struct Case {
        const char* input;
        const char* id;
    };
    const std::vector<Case> cases = {
        {"<p:sldId id=\"256\" r:id=\"rId2\"/>", "rId2"},
        {"<p:sldId id=\"256\" rel:id='r&amp;3'/>", "r&3"},
        {"<p:sldId x:id=\"&bad;\" r:id=\"rId5\"/>", "rId5"},
        {"<p:sldId id=\"256\"/>", ""},
        {"<p:sldId rid=\"rId1\"/>", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(extract_rel_id_from_attributes(first_element(c.input)), c.id);
    }
}

TEST(XmlEvents, U64AttributeFromEvent) {
    struct Case {
        const char* input;
        const char* key;
        std::optional<std::uint64_t> value;
    };
    const std::vector<Case> cases = {
        {"<a:gridCol w=\"3048000\"/>", "w", 3048000},
        {"<a:tr h='+370840'>", "h", 370840},
        {"<a:tr h=\"18446744073709551615\">", "h", UINT64_MAX},
        {"<a:tr h=\"18446744073709551616\">", "h", std::nullopt},
        {"<a:tr h=\"-1\">", "h", std::nullopt},
        {"<a:tr h=\"+\">", "h", std::nullopt},
        {"<a:tr h=\"\">", "h", std::nullopt},
        {"<a:tr h=\"1.5\">", "h", std::nullopt},
        {"<a:tr h=\"&#49;\">", "h", std::nullopt},  // the raw value is parsed, not unescaped
        {"<a:tr x:h=\"5\">", "h", std::nullopt},
        {"<a:tr h=\"\xFF\">", "h", std::nullopt},
        {"<a:tr h=\"1\" h=\"2\">", "h", 1},
        {"<a:tr h=\"x\" h=\"2\">", "h", std::nullopt},  // the later duplicate is skipped
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(extract_u64_attr(first_element(c.input), c.key), c.value);
    }
}

TEST(XmlEvents, DrawingmlAttributeMatchesLocalNamesAndKeepsRawValues) {
    struct Case {
        const char* input;
        const char* name;
        std::optional<std::string_view> value;
    };
    const std::vector<Case> cases = {
        {"<a:blip r:embed=\"rId3\" cstate=\"print\"/>", "embed", "rId3"},
        {"<a:blip cstate=\"print\"/>", "embed", std::nullopt},
        {"<a:hlinkClick r:id=\"\" tooltip=\"a &amp; b\"/>", "tooltip", "a &amp; b"},
        {"<a:blip r:embed=\"\xC3\x28\"/>", "embed", ""},
        {"<a:blip embed=\"plain\" r:embed=\"second\"/>", "embed", "plain"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(drawingml_attribute(first_element(c.input), c.name), c.value);
    }
}

XmlEvent event_of(XmlEventKind kind, std::string_view name_or_content) {
    XmlEvent event;
    event.kind = kind;
    event.name = name_or_content;
    event.content = name_or_content;
    return event;
}

TEST(XmlEvents, TextContentNormalisesLineEnds) {
    EXPECT_EQ(xml_text_content(event_of(XmlEventKind::Text, "a\r\nb\rc\n\r\nd\r")), "a\nb\nc\n\nd\n");
    EXPECT_EQ(xml_text_content(event_of(XmlEventKind::Text, "caf\xC3\xA9")), "caf\xC3\xA9");
    EXPECT_EQ(xml_text_content(event_of(XmlEventKind::Text, "")), std::nullopt);
    EXPECT_EQ(xml_text_content(event_of(XmlEventKind::Text, "bad \xED\xA0\x80")), std::nullopt);
}

TEST(XmlEvents, ReferenceContent) {
    struct Case {
        const char* name;
        std::optional<std::string> text;
    };
    const std::vector<Case> cases = {
        {"#x41", "A"}, {"#65", "A"}, {"#x263A", "\xE2\x98\xBA"}, {"amp", "&"}, {"lt", "<"},
        {"gt", ">"}, {"quot", "\""}, {"apos", "'"}, {"nbsp", "&nbsp;"}, {"#xZZ", "&#xZZ;"},
        {"#0", "&#0;"}, {"\xFF", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(xml_reference_content(event_of(XmlEventKind::EntityReference, c.name)), c.text);
    }
}

TEST(XmlEvents, HasElementComparesLocalNamesAndTreatsErrorsAsAbsent) {
    const std::string_view slide = "<p:sld><p:cSld/><p:transition spd=\"slow\"/></p:sld>";
    EXPECT_TRUE(has_element(slide, "transition"));
    EXPECT_TRUE(has_element(slide, "sld"));
    EXPECT_FALSE(has_element(slide, "timing"));
    EXPECT_FALSE(has_element(slide, "p:transition"));
    EXPECT_FALSE(has_element("<p:sld><p:transitions/></p:sld>", "transition"));
    EXPECT_FALSE(has_element("<p:sld>transition<!--<p:timing/>--></p:sld>", "timing"));
    EXPECT_TRUE(has_element("<p:sld><p:timing>", "timing"));
    // a parse error before the element hides it
    EXPECT_FALSE(has_element("<p:sld></p:x><p:timing/></p:sld>", "timing"));
    EXPECT_FALSE(has_element("", "timing"));
}

// ---- corpus -----------------------------------------------------------------

struct CorpusPart {
    std::string deck;
    std::string name;
    std::string text;
    bool malformed;  // from the folder of broken decks
};

// Every part whose name ends in ".xml" or ".rels" of every readable deck.
std::vector<CorpusPart> corpus_xml_parts() {
    std::vector<CorpusPart> parts;
    namespace fs = std::filesystem;
    for (const fs::directory_entry& file : fs::recursive_directory_iterator(ZANDREL_CORPUS_DIR)) {
        const std::string extension = file.path().extension().string();
        if (extension != ".pptx" && extension != ".pptm" && extension != ".potx") continue;
        Result<ZipReader> zip = ZipReader::open(file.path().string());
        if (!zip) continue;  // the malformed folder holds archives that do not open
        for (std::size_t i = 0; i < zip->entry_count(); ++i) {
            const std::string& name = zip->entry(i).name;
            if (!name.ends_with(".xml") && !name.ends_with(".rels")) continue;
            Result<OpenedEntry> opened = zip->open_entry(i);
            if (!opened) continue;
            Result<std::string> text = zip->read_entry(*opened);
            if (!text) continue;
            parts.push_back({file.path().filename().string(), name, std::move(text).value(),
                             file.path().parent_path().filename() == "malformed"});
        }
    }
    return parts;
}

// Independent of the tokenizer: drops whitespace between an end tag's name
// and its ">" wherever "</" starts a tag.
std::string without_end_tag_whitespace(std::string_view text) {
    std::string out;
    std::size_t p = 0;
    while (p < text.size()) {
        const std::size_t open = text.find("</", p);
        if (open == std::string_view::npos) break;
        const std::size_t close = text.find('>', open);
        if (close == std::string_view::npos) break;
        std::size_t name_end = close;
        while (name_end > open && std::string_view(" \t\r\n").find(text[name_end - 1]) != std::string_view::npos)
            --name_end;
        out.append(text.substr(p, name_end - p));
        out.push_back('>');
        p = close + 1;
    }
    out.append(text.substr(p));
    return out;
}

bool corpus_available() { return std::filesystem::is_directory(ZANDREL_CORPUS_DIR); }

TEST(XmlEvents, CorpusIdentityRewriteReproducesEveryXmlPart) {
    if (!corpus_available()) GTEST_SKIP() << "corpus folder " << ZANDREL_CORPUS_DIR << " is absent";
    const std::vector<CorpusPart> parts = corpus_xml_parts();
    ASSERT_GT(parts.size(), 1000u);
    std::size_t identical = 0;
    std::size_t normalised = 0;
    std::size_t rejected = 0;
    for (const CorpusPart& part : parts) {
        SCOPED_TRACE(part.deck + " " + part.name);
        Result<std::string> copy = identity_rewrite(part.text);
        if (!copy && part.malformed) {
            EXPECT_EQ(copy.error().kind, ErrorKind::Xml);
            ++rejected;
            continue;
        }
        ASSERT_TRUE(copy) << copy.error().detail;
        if (*copy == part.text) {
            ++identical;
            continue;
        }
        ++normalised;
        EXPECT_EQ(*copy, without_end_tag_whitespace(part.text));
    }
    std::cout << parts.size() << " parts: " << identical << " identical, " << normalised
              << " with end-tag whitespace dropped, " << rejected << " broken parts rejected\n";
}

// The decoded text (text pieces, references and CDATA, with XML whitespace
// removed) and the element sequence must not depend on the text mode.
template <XmlTextMode Mode>
std::pair<std::string, std::string> text_and_elements(std::string_view xml) {
    BasicXmlReader<Mode> reader(xml);
    std::string text;
    std::string elements;
    for (;;) {
        Result<XmlEvent> event = reader.next();
        if (!event) {
            ADD_FAILURE() << event.error().detail;
            break;
        }
        if (event->kind == XmlEventKind::EndOfInput) break;
        std::optional<std::string> piece;
        if (event->kind == XmlEventKind::Text) piece = xml_text_content(*event);
        if (event->is_reference()) piece = xml_reference_content(*event);
        if (event->kind == XmlEventKind::CData) piece = std::string(event->content);
        if (piece)
            for (char c : *piece)
                if (c != ' ' && c != '\t' && c != '\n' && c != '\r') text.push_back(c);
        if (event->is_element_start() || event->kind == XmlEventKind::EndElement)
            elements.append(event->raw).push_back('|');
    }
    return {text, elements};
}

TEST(XmlEvents, CorpusTrimmingAndStreamingReadersAgreeOnText) {
    if (!corpus_available()) GTEST_SKIP() << "corpus folder " << ZANDREL_CORPUS_DIR << " is absent";
    std::size_t with_text = 0;
    for (const CorpusPart& part : corpus_xml_parts()) {
        SCOPED_TRACE(part.deck + " " + part.name);
        if (part.malformed && !identity_rewrite(part.text)) continue;
        const auto streaming = text_and_elements<XmlTextMode::Streaming>(part.text);
        const auto trimming = text_and_elements<XmlTextMode::Trimming>(part.text);
        EXPECT_EQ(streaming.first, trimming.first);
        EXPECT_EQ(streaming.second, trimming.second);
        if (!streaming.first.empty()) ++with_text;
    }
    EXPECT_GT(with_text, 500u);
}

}  // namespace
}  // namespace zandrel
