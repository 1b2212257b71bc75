// The text lists of the summaries: paragraph texts, run texts, line-break
// positions and run formatting from one pass, and the trimmed text elements
// of a whole part with the transition and timing probes.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "summary_text_extract.hpp"

namespace zandrel {
namespace {

using Strings = std::vector<std::string>;
using Breaks = std::vector<std::vector<std::uint64_t>>;
using Flags = std::vector<std::vector<std::optional<bool>>>;
using Sizes = std::vector<std::vector<std::optional<std::int64_t>>>;
using Names = std::vector<std::vector<std::optional<std::string>>>;

ParagraphLists lists_of(std::string_view xml) {
    ParagraphListCollector collector;
    for_each_xml_event<XmlTextMode::Streaming>(xml, [&](const XmlEvent& event) { collector.on_event(event); });
    return collector.take();
}

std::string body(std::string_view paragraphs) {
    return "<p:txBody><a:bodyPr/>" + std::string(paragraphs) + "</p:txBody>";
}

TEST(SummaryTextTest, RunTextsKeepTheirSpacesAndJoinIntoTheParagraph) {
    auto lists = lists_of(body("<a:p><a:r><a:t>Hello </a:t></a:r><a:r><a:t>world</a:t></a:r></a:p>"));
    EXPECT_EQ(lists.paragraphs, (Strings{"Hello world"}));
    EXPECT_EQ(lists.runs, (std::vector<Strings>{{"Hello ", "world"}}));
    EXPECT_EQ(lists.line_breaks, (Breaks{{}}));
}

TEST(SummaryTextTest, LineBreaksBecomeVerticalTabsAndCountTextBearingRunsBeforeThem) {
    auto lists = lists_of(body("<a:p><a:br/><a:r><a:t>A</a:t></a:r><a:br><a:rPr/></a:br>"
                               "<a:r><a:t>B</a:t></a:r><a:r><a:t>C</a:t></a:r><a:br/></a:p>"));
    EXPECT_EQ(lists.paragraphs, (Strings{"\vA\vBC\v"}));
    EXPECT_EQ(lists.line_breaks, (Breaks{{0, 1, 3}}));
    EXPECT_EQ(lists.runs, (std::vector<Strings>{{"A", "B", "C"}}));
}

TEST(SummaryTextTest, SelfClosingParagraphGivesEmptyEntriesInEveryList) {
    auto lists = lists_of(body("<a:p/><a:p><a:r><a:t>x</a:t></a:r></a:p>"));
    EXPECT_EQ(lists.paragraphs, (Strings{"", "x"}));
    EXPECT_EQ(lists.runs, (std::vector<Strings>{{}, {"x"}}));
    EXPECT_EQ(lists.line_breaks, (Breaks{{}, {}}));
    EXPECT_EQ(lists.bold, (Flags{{}, {std::nullopt}}));
    EXPECT_EQ(lists.font_size, (Sizes{{}, {std::nullopt}}));
    EXPECT_EQ(lists.font_name, (Names{{}, {std::nullopt}}));
}

// The empty paragraph is listed when it closes, ahead of the open paragraph
// around it, which keeps the runs it had before.
TEST(SummaryTextTest, SelfClosingParagraphInsideAnOpenOneIsListedFirst) {
    auto lists = lists_of(body("<a:p><a:r><a:rPr b=\"1\"/><a:t>x</a:t></a:r><a:p/>"
                               "<a:r><a:rPr b=\"0\"/><a:t>y</a:t></a:r></a:p>"));
    EXPECT_EQ(lists.paragraphs, (Strings{"", "xy"}));
    EXPECT_EQ(lists.runs, (std::vector<Strings>{{}, {"x", "y"}}));
    EXPECT_EQ(lists.line_breaks, (Breaks{{}, {}}));
    EXPECT_EQ(lists.bold, (Flags{{}, {true, false}}));
}

TEST(SummaryTextTest, RunsWithoutTextContentAreNotCounted) {
    auto lists = lists_of(body("<a:p><a:r><a:rPr b=\"1\"/><a:t/></a:r><a:r><a:rPr i=\"1\"/><a:t></a:t></a:r>"
                               "<a:br/><a:r><a:rPr u=\"sng\"/><a:t>x</a:t></a:r></a:p>"));
    EXPECT_EQ(lists.line_breaks, (Breaks{{0}}));
    EXPECT_EQ(lists.runs, (std::vector<Strings>{{"x"}}));
    EXPECT_EQ(lists.bold, (Flags{{std::nullopt}}));
    EXPECT_EQ(lists.italic, (Flags{{std::nullopt}}));
    EXPECT_EQ(lists.underline, (Flags{{true}}));
}

TEST(SummaryTextTest, RunFormattingValuesConvertAsTheirAttributesSay) {
    struct Case {
        std::string run_properties;
        std::optional<bool> bold;
        std::optional<bool> italic;
        std::optional<bool> underline;
        std::optional<std::int64_t> size;
        std::optional<std::string> font;
    };
    const std::vector<Case> cases = {
        {"<a:rPr b=\"1\" i=\"true\" u=\"sng\" sz=\"1800\"><a:latin typeface=\"Arial\"/></a:rPr>", true, true, true,
         1800, "Arial"},
        {"<a:rPr b=\"false\" i=\"off\" u=\"none\" sz=\"-5\"/>", false, false, false, -5, std::nullopt},
        {"<a:rPr b=\"on\" i=\"0\" u=\"\" sz=\"+7\"/>", true, false, true, 7, std::nullopt},
        {"<a:rPr b=\"yes\" i=\"TRUE\" sz=\"12pt\"/>", std::nullopt, std::nullopt, std::nullopt, std::nullopt,
         std::nullopt},
        {"<a:rPr sz=\"99999999999999999999\"><a:latin typeface=\"A&amp;B\"/></a:rPr>", std::nullopt, std::nullopt,
         std::nullopt, std::nullopt, "A&amp;B"},
        {"", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.run_properties);
        auto lists = lists_of(body("<a:p><a:r>" + c.run_properties + "<a:t>x</a:t></a:r></a:p>"));
        EXPECT_EQ(lists.bold, (Flags{{c.bold}}));
        EXPECT_EQ(lists.italic, (Flags{{c.italic}}));
        EXPECT_EQ(lists.underline, (Flags{{c.underline}}));
        EXPECT_EQ(lists.font_size, (Sizes{{c.size}}));
        EXPECT_EQ(lists.font_name, (Names{{c.font}}));
    }
}

TEST(SummaryTextTest, EachRunForgetsThePreviousRunsFormatting) {
    auto lists = lists_of(body("<a:p><a:r><a:rPr b=\"1\" sz=\"2000\"/><a:t>a</a:t></a:r><a:r><a:t>b</a:t></a:r></a:p>"
                               "<a:p><a:r><a:t>c</a:t></a:r></a:p>"));
    EXPECT_EQ(lists.bold, (Flags{{true, std::nullopt}, {std::nullopt}}));
    EXPECT_EQ(lists.font_size, (Sizes{{2000, std::nullopt}, {std::nullopt}}));
}

TEST(SummaryTextTest, FieldTextCountsForTextsButNotForRunLists) {
    auto lists = lists_of(body("<a:p><a:r><a:rPr b=\"1\"/><a:t>Page </a:t></a:r>"
                               "<a:fld id=\"{1}\" type=\"slidenum\"><a:rPr b=\"0\"/><a:t>7</a:t></a:fld>"
                               "<a:br/><a:r><a:t>end</a:t></a:r></a:p>"));
    EXPECT_EQ(lists.paragraphs, (Strings{"Page 7\vend"}));
    EXPECT_EQ(lists.runs, (std::vector<Strings>{{"Page ", "7", "end"}}));
    EXPECT_EQ(lists.line_breaks, (Breaks{{1}}));
    EXPECT_EQ(lists.bold, (Flags{{true, std::nullopt}}));
}

TEST(SummaryTextTest, ReferencesAreDecodedAndUnknownEntitiesKeptAsWritten) {
    auto lists = lists_of(body("<a:p><a:r><a:t>a &amp; b&#x41;&#66;&nbsp;\r\nz</a:t></a:r></a:p>"));
    EXPECT_EQ(lists.paragraphs, (Strings{"a & bAB&nbsp;\nz"}));
    EXPECT_EQ(lists.runs, (std::vector<Strings>{{"a & bAB&nbsp;\nz"}}));
}

TEST(SummaryTextTest, CdataSectionsAreTextPieces) {
    auto lists = lists_of(body("<a:p><a:r><a:rPr b=\"1\"/><a:t><![CDATA[A & <B>]]></a:t></a:r><a:br/>"
                               "<a:r><a:t><![CDATA[]]></a:t></a:r><a:r><a:t>x<![CDATA[ y\r\n]]></a:t></a:r></a:p>"));
    EXPECT_EQ(lists.paragraphs, (Strings{"A & <B>\vx y\n"}));
    EXPECT_EQ(lists.runs, (std::vector<Strings>{{"A & <B>", "x y\n"}}));
    EXPECT_EQ(lists.line_breaks, (Breaks{{1}}));
    EXPECT_EQ(lists.bold, (Flags{{true, std::nullopt}}));
    EXPECT_EQ(extract_text_runs("<a:t> <![CDATA[ kept as written ]]> </a:t>"), (Strings{" kept as written "}));
}

TEST(SummaryTextTest, AReferenceAloneMakesARunTextBearing) {
    auto lists = lists_of(body("<a:p><a:r><a:rPr b=\"1\"/><a:t>&amp;</a:t></a:r><a:br/></a:p>"));
    EXPECT_EQ(lists.line_breaks, (Breaks{{1}}));
    EXPECT_EQ(lists.bold, (Flags{{true}}));
}

TEST(SummaryTextTest, ParseErrorKeepsWhatCameBefore) {
    auto lists = lists_of(body("<a:p><a:r><a:t>one</a:t></a:r></a:p><a:p><a:r><a:t>two</a:b></a:r></a:p>"));
    EXPECT_EQ(lists.paragraphs, (Strings{"one"}));
    EXPECT_EQ(lists.runs, (std::vector<Strings>{{"one"}}));
    EXPECT_EQ(lists.bold, (Flags{{std::nullopt}}));
}

TEST(SummaryTextTest, StandaloneExtractorsAgreeWithTheCollector) {
    std::string xml = body("<a:p><a:r><a:rPr lang=\"en&amp;US\" b=\"1\"/><a:t>x</a:t></a:r><a:br/>"
                           "<a:r><a:t>y</a:t></a:r></a:p><a:p/>");
    EXPECT_EQ(extract_paragraph_texts(xml), (Strings{"x\vy", ""}));
    EXPECT_EQ(extract_paragraph_run_text_attribute(xml, "lang"), (Names{{"en&amp;US", std::nullopt}, {}}));
    EXPECT_EQ(extract_paragraph_run_text_attribute(xml, "b"), (Names{{"1", std::nullopt}, {}}));
}

TEST(SummaryTextTest, TextRunsAreTrimmedPieceByPiece) {
    struct Case {
        std::string xml;
        Strings texts;
    };
    const std::vector<Case> cases = {
        {"<a:t>  padded  </a:t>", {"padded"}},
        {"<a:t>   </a:t><a:t/><a:t></a:t>", {}},
        {"<a:t>Salt &amp; pepper</a:t>", {"Salt&pepper"}},
        {"<r><t>plain</t><x:t>other</x:t><a:tt>not a text</a:tt></r>", {"plain", "other"}},
        {"<a:t>&#x41; </a:t><a:t>&bogus;</a:t>", {"A", "&bogus;"}},
        {"<a:t>kept</a:t><a:t>cut", {"kept"}},
        {"<a:t>kept</a:t><a:t>broken</a:p><a:t>never</a:t>", {"kept"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.xml);
        EXPECT_EQ(extract_text_runs("<root>" + c.xml + "</root>"), c.texts);
    }
}

TEST(SummaryTextTest, TextPiecesThatAreNotUtf8AreDropped) {
    EXPECT_EQ(extract_text_runs("<a:t>ok</a:t><a:t>bad\xff</a:t><a:t>x\xffy &amp; z</a:t>"), (Strings{"ok", "&z"}));
}

TEST(SummaryTextTest, SlideScanProbesTransitionAndTimingUpToAParseError) {
    auto both = scan_slide_text("<p:sld><a:t>Hi</a:t><mc:Choice><p:transition spd=\"slow\"/></mc:Choice>"
                                "<p:timing><p:tnLst/></p:timing></p:sld>");
    EXPECT_EQ(both.texts, (Strings{"Hi"}));
    EXPECT_TRUE(both.has_transition);
    EXPECT_TRUE(both.has_timing);

    auto transition_only = scan_slide_text("<p:sld><p:transition/><p:timingX/></p:sld>");
    EXPECT_TRUE(transition_only.has_transition);
    EXPECT_FALSE(transition_only.has_timing);

    auto broken = scan_slide_text("<p:sld><a:t>Hi</a:t></p:x><p:transition/><p:timing/></p:sld>");
    EXPECT_EQ(broken.texts, (Strings{"Hi"}));
    EXPECT_FALSE(broken.has_transition);
    EXPECT_FALSE(broken.has_timing);
}

}  // namespace
}  // namespace zandrel
