#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "byte_scan.hpp"
#include "xml_chars.hpp"
#include "xml_tag_scan.hpp"

namespace zandrel {
namespace {

constexpr auto none = std::nullopt;

// ---- find_tag_start --------------------------------------------------------

struct TagStartCase {
    std::string text;
    std::size_t start;
    std::string tag;
    std::optional<std::size_t> expected;
};

TEST(TagScanFindTagStart, AcceptsOnlyWhereTheNameEnds) {
    const TagStartCase cases[] = {
        {"<p:spPr/><p:spTree><p:sp>", 0, "p:sp", 19},
        {"<p:sp>", 0, "p:sp", 0},
        {"<p:sp/>", 0, "p:sp", 0},
        {"<p:sp\n>", 0, "p:sp", 0},
        {"<p:sp\t>", 0, "p:sp", 0},
        {"<p:sp\r>", 0, "p:sp", 0},
        {"<p:sp\v>", 0, "p:sp", 0},                   // vertical tab is Unicode White_Space
        {"<p:sp\xC2\x85>", 0, "p:sp", 0},             // next line U+0085
        {"<p:sp\xC2\xA0>", 0, "p:sp", 0},             // no-break space U+00A0
        {"<p:sp\xE3\x80\x80>", 0, "p:sp", 0},         // ideographic space U+3000
        {"<p:sp\xE2\x80\x8B>", 0, "p:sp", none},      // zero width space is not White_Space
        {"<p:sp:x>", 0, "p:sp", none},
        {"<p:spX>", 0, "p:sp", none},
        {"<p:spPr><p:sp ", 0, "p:sp", 8},
        {"abc<p:sp", 0, "p:sp", none},                // the pattern is the last text
        {"<p:sp><p:sp>", 1, "p:sp", 6},
        {"<p:sp><p:sp>", 6, "p:sp", 6},
        {"<p:sp><p:sp>", 7, "p:sp", none},
        {"<P:SP>", 0, "p:sp", none},                  // case-sensitive
        {"", 0, "p:sp", none},
    };
    for (const auto& c : cases)
        EXPECT_EQ(find_tag_start(c.text, c.start, c.tag), c.expected) << c.text << " from " << c.start;
}

// ---- find_element_end ------------------------------------------------------

struct ElementEndCase {
    std::string text;
    std::size_t start;
    std::string tag;
    std::optional<std::size_t> expected;
};

TEST(TagScanFindElementEnd, CountsDepthOfTheSameName) {
    const std::string nested = "<p:grpSp><p:grpSp><p:sp></p:sp></p:grpSp></p:grpSp>";
    const std::string lookalikes = "<p:sp><p:spPr></p:spPr><p:spTree></p:spTree></p:sp>tail";
    const ElementEndCase cases[] = {
        {nested, 0, "p:grpSp", nested.size()},
        {nested, 9, "p:grpSp", nested.size() - 10},
        {lookalikes, 0, "p:sp", lookalikes.size() - 4},
        // a nested self-closing element counts as an opening
        {"<p:sp><p:sp/></p:sp></p:sp>", 0, "p:sp", 27},
        {"<p:sp><p:sp/></p:sp>", 0, "p:sp", none},
        {"<p:sp><p:spPr/>", 0, "p:sp", none},
        {"<p:sp></p:sp >", 0, "p:sp", none},  // the closing pattern is exact
        {"<a:tbl>\n<a:tr></a:tr>\n</a:tbl>\n", 0, "a:tbl", 30},
    };
    for (const auto& c : cases)
        EXPECT_EQ(find_element_end(c.text, c.start, c.tag), c.expected) << c.text << " from " << c.start;
}

TEST(TagScanFindElementEnd, CursorsKeptAcrossElementsGiveTheSameEnds) {
    const std::string text = "<p:sp><p:sp></p:sp></p:sp><x/><p:sp></p:sp><p:sp><p:sp></p:sp>";
    auto opening = PatternCursor::opening(text, "p:sp");
    auto closing = PatternCursor::closing(text, "p:sp");
    for (std::size_t start : {0u, 6u, 30u, 43u, 49u, 0u}) {
        ASSERT_EQ(text.compare(start, 5, "<p:sp"), 0);
        EXPECT_EQ(find_element_end(opening, closing, start), find_element_end(text, start, "p:sp"))
            << "from " << start;
    }
}

TEST(TagScanPatternCursor, AnswersLikeAFreshSearchInAnyOrder) {
    const std::string text = "<a:t>x</a:t><a:tbl/><a:t/>";
    auto cursor = PatternCursor::opening(text, "a:t");
    for (std::size_t from : {0u, 1u, 13u, 20u, 21u, 5u, 0u, 26u})
        EXPECT_EQ(cursor.next_from(from), find_tag_start(text, from, "a:t")) << "from " << from;
    auto exact = PatternCursor::exact(text, "</a:t>");
    EXPECT_EQ(exact.next_from(0), 6u);
    EXPECT_EQ(exact.next_from(7), none);
    EXPECT_EQ(exact.next_from(6), 6u);
}

// ---- TagIndex --------------------------------------------------------------

// Every slice of a text full of near misses (longer names, a name at the very
// end, multi-byte spaces cut by the slice end, one name a prefix of another)
// answers as the free functions on the slice alone.
TEST(TagScanTagIndex, EverySliceAnswersAsAScanOfTheSliceAlone) {
    const std::string text =
        "<p:sp><p:spPr/><p:sp\xC2\xA0/></p:sp></p:sp ><p:spTree></p:spTree><mc:AC><p:sp\n>"
        "</p:sp><mc:ACX/></mc:AC><p:sp><p:sp/></p:sp></p:sp><p:sp\xE3\x80\x80></p:sp><p:sp";
    const std::array<std::string_view, 3> tags = {"p:sp", "p:spTree", "mc:AC"};
    TagIndex index(text, tags);
    const std::string_view view(text);
    for (std::size_t start = 0; start <= view.size(); ++start) {
        for (std::size_t end = start; end <= view.size(); ++end) {
            const std::string_view slice = view.substr(start, end - start);
            for (std::string_view tag : tags) {
                const std::string opening = "<" + std::string(tag);
                const std::string closing = "</" + std::string(tag) + ">";
                auto shifted = [&](std::optional<std::size_t> at) {
                    return at ? std::optional<std::size_t>(*at + start) : none;
                };
                for (std::size_t from = start; from <= end; ++from) {
                    auto expected = find_tag_start(slice, from - start, tag);
                    ASSERT_EQ(index.find_tag_start(tag, from, end), shifted(expected))
                        << tag << " in " << start << ".." << end << " from " << from;
                    if (expected)
                        ASSERT_EQ(index.find_element_end(tag, *expected + start, end),
                                  shifted(find_element_end(slice, *expected, tag)))
                            << tag << " in " << start << ".." << end << " at " << *expected;
                }
                auto before = [&](std::string_view pattern) {
                    auto at = slice.rfind(pattern);
                    return at == std::string_view::npos ? none : std::optional<std::size_t>(at + start);
                };
                ASSERT_EQ(index.last_opening_before(tag, start, end), before(opening)) << start << ".." << end;
                ASSERT_EQ(index.last_closing_before(tag, start, end), before(closing)) << start << ".." << end;
            }
        }
    }
    EXPECT_EQ(index.find_tag_start("p:pic", 0, view.size()), none);  // not indexed
}

// ---- start tags ------------------------------------------------------------

TEST(TagScanElementStartTag, SlicesFromTheNameToTheFirstGreaterThan) {
    EXPECT_EQ(element_start_tag("<p:spPr/><p:cNvPr id=\"4\" name=\"A\"/>", "p:cNvPr"),
              std::optional<std::string_view>("<p:cNvPr id=\"4\" name=\"A\"/>"));
    EXPECT_EQ(element_start_tag("<p:cNvPr name=\"a>b\" id=\"4\"/>", "p:cNvPr"),
              std::optional<std::string_view>("<p:cNvPr name=\"a>"));
    EXPECT_EQ(element_start_tag("<p:cNvPrX/>", "p:cNvPr"), none);
    EXPECT_EQ(element_start_tag("<p:cNvPr id=\"4\"", "p:cNvPr"), none);
}

TEST(TagScanFindStartTagEnd, SkipsQuotedValues) {
    EXPECT_EQ(find_start_tag_end("<a b=\"x>y\" c='>'>rest", 0), 16u);
    EXPECT_EQ(find_start_tag_end("x<a>", 1), 3u);
    EXPECT_EQ(find_start_tag_end("<a b=\"x>", 0), none);
    EXPECT_EQ(find_start_tag_end("<a b=\"x<c>\">", 0), none);  // no "<" inside a tag
    EXPECT_EQ(find_start_tag_end("<a <b>", 0), none);
}

// ---- insert_before ---------------------------------------------------------

TEST(TagScanInsertBefore, InsertsBeforeTheLastMarker) {
    auto result = insert_before("<a></T><b></T>", "</T>", "<x/>");
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(*result, "<a></T><b><x/></T>");
}

TEST(TagScanInsertBefore, ReplacesIllFormedUtf8) {
    // one U+FFFD per maximal ill-formed subpart, as lossy UTF-8 decoders do
    auto result = insert_before("\xFF|\xE0\x80|\xF0\x9F\x98|\xC3\xA9</T>", "</T>", "!");
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(*result, "\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD|\xC3\xA9!</T>");
}

TEST(TagScanInsertBefore, MissingMarkerIsAnXmlTextError) {
    auto result = insert_before("<Types></Type>", "</Types>", "<x/>");
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().kind, ErrorKind::XmlText);
    EXPECT_EQ(result.error().display(), "xml text decode error: expected closing marker </Types>");
}

// ---- replace_element -------------------------------------------------------

struct ReplaceCase {
    std::string text;
    std::string tag;
    std::string expected;
};

TEST(TagScanReplaceElement, ReplacesTheFirstElementOrCopies) {
    const ReplaceCase cases[] = {
        {"<r><a:b x=\"1\"/><a:b/></r>", "a:b", "<r>NEW<a:b/></r>"},
        {"<r><a:b>1<a:b>2</a:b>3</a:b></r>", "a:b", "<r>NEW3</a:b></r>"},  // no depth counting
        {"<r><a:bodyPr/><a:b/></r>", "a:b", "<r>NEW<a:b/></r>"},           // no name-boundary check
        {"<r><a:c/></r>", "a:b", "<r><a:c/></r>"},
        {"<r><a:b", "a:b", "<r><a:b"},
        {"<r><a:b>never closed", "a:b", "<r><a:b>never closed"},
    };
    for (const auto& c : cases) EXPECT_EQ(replace_element(c.text, c.tag, "NEW"), c.expected) << c.text;
}

// ---- attributes ------------------------------------------------------------

TEST(TagScanAttributeValue, FirstRawDoubleQuotedMatch) {
    EXPECT_EQ(attribute_value("<p:cNvPr id=\"7\" name=\"Title 1\"/>", "id"), std::optional<std::string_view>("7"));
    EXPECT_EQ(attribute_value("<p:sldId r:id=\"rId2\" id=\"256\"/>", "id"),
              std::optional<std::string_view>("rId2"));
    EXPECT_EQ(attribute_value("<a name=\"A &amp; B\"/>", "name"), std::optional<std::string_view>("A &amp; B"));
    EXPECT_EQ(attribute_value("<a id='7'/>", "id"), none);
    EXPECT_EQ(attribute_value("<a id=\"7", "id"), none);
    EXPECT_EQ(attribute_value("<a id=\"\"/>", "id"), std::optional<std::string_view>(""));
    EXPECT_EQ(extract_string_attribute("<a id=\"x\"/>", "id"), std::optional<std::string>("x"));
    EXPECT_EQ(extract_string_attribute("<a/>", "id"), none);
}

TEST(TagScanAttributeI64, ParsesSignedDecimalsOrGivesZero) {
    const std::pair<std::string, std::int64_t> cases[] = {
        {"<a x=\"-12\"/>", -12},
        {"<a x=\"+7\"/>", 7},
        {"<a x=\"1.5\"/>", 0},
        {"<a y=\"3\"/>", 0},
        {"<a x=\"\"/>", 0},
        {"<a x=\"-\"/>", 0},
        {"<a x=\"+-1\"/>", 0},
        {"<a x=\" 1\"/>", 0},
        {"<a x=\"9223372036854775807\"/>", INT64_MAX},
        {"<a x=\"-9223372036854775808\"/>", INT64_MIN},
        {"<a x=\"9223372036854775808\"/>", 0},
        {"<a x=\"-9223372036854775809\"/>", 0},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(attribute_i64(text, "x"), expected) << text;
}

TEST(TagScanParseU64, OptionalPlusThenDigitsWithoutOverflow) {
    const std::pair<std::string, std::optional<std::uint64_t>> cases[] = {
        {"0", 0}, {"007", 7}, {"+5", 5}, {"18446744073709551615", UINT64_MAX},
        {"18446744073709551616", none}, {"", none}, {"+", none}, {"-1", none}, {"++1", none},
        {"+-1", none}, {"1x", none}, {"x1", none},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(parse_u64_decimal(text), expected) << text;
}

TEST(TagScanXmlAttr, EscapesForDoubleQuotedValues) {
    EXPECT_EQ(xml_attr("a&b\"c<d>e'f"), "a&amp;b&quot;c&lt;d&gt;e'f");
    EXPECT_EQ(xml_attr("<"), "&lt;");  // "&" goes first, so the "&" of "&lt;" stays single
    EXPECT_EQ(xml_attr("&amp;"), "&amp;amp;");
    EXPECT_EQ(xml_attr(""), "");
}

// ---- check_xml_text --------------------------------------------------------

TEST(XmlCharsCheck, RejectsCharactersXmlDoesNotAllow) {
    using namespace std::string_literals;
    const std::pair<std::string, std::string> failures[] = {
        {"a\x0B"s, "text contains a character that XML does not allow: U+000B"},
        {"\0"s, "text contains a character that XML does not allow: U+0000"},
        {"ok\x08"s, "text contains a character that XML does not allow: U+0008"},
        {"\x0C\x0B"s, "text contains a character that XML does not allow: U+000C"},
        {"\x1F"s, "text contains a character that XML does not allow: U+001F"},
        {"\xEF\xBF\xBE"s, "text contains a character that XML does not allow: U+FFFE"},
        {"\xEF\xBF\xBF"s, "text contains a character that XML does not allow: U+FFFF"},
        {"x\xED\xA0\x80"s, "text contains a character that XML does not allow: U+D800"},
        {"\xED\xBF\xBF"s, "text contains a character that XML does not allow: U+DFFF"},
        {"\xFF"s, "text is not valid UTF-8 at byte 0"},
        {"ab\xC3"s, "text is not valid UTF-8 at byte 2"},
        {"\xC0\xAF"s, "text is not valid UTF-8 at byte 0"},          // overlong "/"
        {"\xE0\x80\xAF"s, "text is not valid UTF-8 at byte 0"},      // overlong "/"
        {"\xF4\x90\x80\x80"s, "text is not valid UTF-8 at byte 0"},  // past U+10FFFF
        {"\xED\xA0"s, "text is not valid UTF-8 at byte 0"},          // truncated surrogate
    };
    for (const auto& [text, message] : failures) {
        auto status = check_xml_text(text);
        ASSERT_FALSE(status.ok()) << message;
        EXPECT_EQ(status.error().kind, ErrorKind::InvalidInput);
        EXPECT_EQ(status.error().display(), "invalid input: " + message);
    }
}

TEST(XmlCharsCheck, AcceptsEveryXmlCharacter) {
    const std::string allowed[] = {
        "", "plain", "\t\n\r", " \x7F", "\xC2\x80\xC2\x85", "\xED\x9F\xBF", "\xEE\x80\x80",
        "\xEF\xBF\xBD", "\xEF\xBF\xBC", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF",
    };
    for (const auto& text : allowed) EXPECT_TRUE(check_xml_text(text).ok()) << text;
}

TEST(XmlCharsDecode, StepsThroughCharactersAndIllFormedSubparts) {
    struct Case {
        std::string text;
        char32_t code_point;
        std::size_t length;
        bool valid;
    };
    const Case cases[] = {
        {"A", U'A', 1, true},
        {"\xC3\xA9", 0xE9, 2, true},
        {"\xE2\x82\xAC", 0x20AC, 3, true},
        {"\xF0\x9F\x98\x80", 0x1F600, 4, true},
        {"\x80", 0, 1, false},
        {"\xC1\xBF", 0, 1, false},
        {"\xE2\x82", 0, 2, false},
        {"\xE2\x82X", 0, 2, false},
        {"\xF0\x9F\x98", 0, 3, false},
        {"\xF0\x80\x80\x80", 0, 1, false},
        {"\xF8\x88\x80\x80\x80", 0, 1, false},
    };
    for (const auto& c : cases) {
        auto step = decode_utf8_step(c.text, 0);
        EXPECT_EQ(step.valid, c.valid) << c.text;
        EXPECT_EQ(step.length, c.length) << c.text;
        if (c.valid) {
            EXPECT_EQ(step.code_point, c.code_point) << c.text;
        }
    }
}

// ---- for_each_byte ---------------------------------------------------------

// Every length around the sixteen-byte blocks, hits at every place in them.
TEST(ByteScan, FindsEveryPositionOfTheByteInOrder) {
    std::mt19937 random(7);
    for (std::size_t length = 0; length <= 70; ++length) {
        for (int round = 0; round < 20; ++round) {
            std::string text(length, 'a');
            for (char& c : text)
                if (random() % 3 == 0) c = '<';
            std::vector<std::size_t> expected;
            for (std::size_t i = 0; i < text.size(); ++i)
                if (text[i] == '<') expected.push_back(i);
            std::vector<std::size_t> found;
            for_each_byte(text, '<', [&](std::size_t at) { found.push_back(at); });
            ASSERT_EQ(found, expected) << text;
        }
    }
}

}  // namespace
}  // namespace zandrel
