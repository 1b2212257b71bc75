#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "text_rewrite_search.hpp"
#include "text_rewrite_shape.hpp"
#include "text_test_support.hpp"
#include "xml_shape_tree.hpp"

namespace zandrel {
namespace {

using testing::edited;
using testing::error_text;
using testing::group_shape;
using testing::picture_shape;
using testing::plain_paragraph;
using testing::text_shape;
using testing::text_slide;

std::string replaced(std::string xml, std::string_view from, std::string_view to) {
    const std::size_t at = xml.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) xml.replace(at, from.size(), to);
    return xml;
}

// ---- index schemes ----------------------------------------------------------

// Top level: S0, a picture, group G0 { S1, group G1 { S2 }, S3 }, S4. The shape
// index counts every sp (S0..S4), the group index every grpSp (G0, G1), the
// child index the direct sp children of a group, and the run index every text
// piece; the summary's index counts top-level shapes of every kind.
const std::string scheme_slide = text_slide(
    text_shape("S0", plain_paragraph({"s0"})) + picture_shape("P") +
    group_shape(text_shape("S1", plain_paragraph({"s1"})) + group_shape(text_shape("S2", plain_paragraph({"s2"}))) +
                text_shape("S3", plain_paragraph({"s3"}))) +
    text_shape("S4", plain_paragraph({"s4 &amp; more"})));

// The name of the shape whose text became "NEW".
std::string shape_named_new(const std::string& slide) {
    const std::size_t text = slide.find("<a:t>NEW");
    if (text == std::string::npos) return "";
    const std::size_t name = slide.rfind("name=\"S", text);
    return slide.substr(name + 6, 2);
}

TEST(TextIndexSchemes, ShapeGroupChildAndRunIndicesSideBySide) {
    struct Case {
        const char* label;
        Result<SlideTextEdit> edit;
        std::string shape;
    };
    const Case cases[] = {
        {"shape index 1 is the first sp inside the group", set_shape_text_at_index_in_slide(scheme_slide, 1, "NEW"), "S1"},
        {"shape index 2 reaches into the nested group", set_shape_text_at_index_in_slide(scheme_slide, 2, "NEW"), "S2"},
        {"shape index 4 skips picture and groups", set_shape_text_at_index_in_slide(scheme_slide, 4, "NEW"), "S4"},
        {"group 0 child 1 skips the nested group and its shape",
         set_group_shape_child_text_in_slide(scheme_slide, 0, 1, "NEW"), "S3"},
        {"group 1 is the nested group", set_group_shape_child_text_in_slide(scheme_slide, 1, 0, "NEW"), "S2"},
        {"run index 3 is the fourth text piece", replace_text_run_at_index_in_slide(scheme_slide, 3, "NEW"), "S3"},
        {"run index 4 is the piece before the reference", replace_text_run_at_index_in_slide(scheme_slide, 4, "NEW"), "S4"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(c.edit.ok()) << c.label << ": " << c.edit.error().display();
        EXPECT_EQ(shape_named_new(c.edit->xml), c.shape) << c.label;
        EXPECT_EQ(c.edit->count, 1u) << c.label;
    }
    // the summary's shape index 1 is the picture, its index 2 the whole group
    const auto blocks = extract_shape_blocks(scheme_slide);
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_TRUE(blocks[1].starts_with("<p:pic>"));
    EXPECT_TRUE(blocks[2].starts_with("<p:grpSp>"));

    for (const auto& missing : {set_shape_text_at_index_in_slide(scheme_slide, 5, "NEW"),
                                set_group_shape_child_text_in_slide(scheme_slide, 0, 2, "NEW"),
                                set_group_shape_child_text_in_slide(scheme_slide, 2, 0, "NEW"),
                                replace_text_run_at_index_in_slide(scheme_slide, 6, "NEW")}) {
        EXPECT_EQ(edited(missing).xml, scheme_slide);
        EXPECT_EQ(edited(missing).count, 0u);
    }
}

// ---- shape text -----------------------------------------------------------

TEST(TextShapeText, LinesBecomeParagraphsAndBodyPropertiesStay) {
    const std::string slide = text_slide(
        text_shape("S0", "<a:p><a:pPr algn=\"ctr\"/><a:r><a:t>old</a:t></a:r></a:p><a:p/>"));
    const SlideTextEdit edit = edited(set_shape_text_at_index_in_slide(slide, 0, "one\ntwo & three"));
    EXPECT_EQ(edit.count, 2u);
    EXPECT_EQ(edit.xml, replaced(slide,
                                 "<a:p><a:pPr algn=\"ctr\"/><a:r><a:t>old</a:t></a:r></a:p><a:p/>",
                                 "<a:p><a:r><a:t>one</a:t></a:r></a:p><a:p><a:r><a:t>two &amp; three</a:t></a:r></a:p>"));
}

TEST(TextShapeText, CountsAndLeavesAsTheBodyIs) {
    struct Case {
        const char* label;
        std::string shape;
        std::string text;
        std::string expected_shape;  // empty: unchanged
        std::uint64_t count;
    };
    const Case cases[] = {
        {"no paragraphs still counts 1", text_shape("S", "", "<p:txBody><a:bodyPr/></p:txBody>"), "",
         text_shape("S", "", "<p:txBody><a:bodyPr/><a:p><a:r><a:t></a:t></a:r></a:p></p:txBody>"), 1},
        {"empty text leaves one empty run", text_shape("S", plain_paragraph({"a"})), "",
         text_shape("S", "<a:p><a:r><a:t></a:t></a:r></a:p>"), 1},
        {"trailing line feed gives an empty last paragraph", text_shape("S", plain_paragraph({"a"})), "x\n",
         text_shape("S", "<a:p><a:r><a:t>x</a:t></a:r></a:p><a:p><a:r><a:t></a:t></a:r></a:p>"), 1},
        {"carriage return is no line break", text_shape("S", plain_paragraph({"a"})), "x\r",
         text_shape("S", "<a:p><a:r><a:t>x\r</a:t></a:r></a:p>"), 1},
        {"no text body", "<p:sp><p:nvSpPr/><p:spPr/></p:sp>", "x", "", 0},
        {"self-closing text body", "<p:sp><p:nvSpPr/><p:txBody/></p:sp>", "x", "", 0},
    };
    for (const Case& c : cases) {
        const std::string slide = text_slide(c.shape);
        const SlideTextEdit edit = edited(set_shape_text_at_index_in_slide(slide, 0, c.text));
        EXPECT_EQ(edit.xml, c.expected_shape.empty() ? slide : text_slide(c.expected_shape)) << c.label;
        EXPECT_EQ(edit.count, c.count) << c.label;
    }
}

TEST(TextShapeText, TruncatedBodiesFailWithTheirOwnMessages) {
    const std::string head = text_slide("").substr(0, text_slide("").find("</p:spTree>"));
    EXPECT_EQ(error_text(set_shape_text_at_index_in_slide(head + "<p:sp><p:txBody><a:bodyPr/>", 0, "x")),
              "xml text decode error: unexpected end of XML while rewriting text body");
    EXPECT_EQ(error_text(set_shape_text_at_index_in_slide(head + "<p:sp><p:txBody><a:p><a:r>", 0, "x")),
              "xml text decode error: unexpected end of XML while skipping element");
    EXPECT_EQ(error_text(set_shape_text_at_index_in_slide(head + "<p:sp><p:txBody></p:sp>", 0, "x")).substr(0, 32),
              "xml error: mismatched end tag: e");
}

// ---- paragraph text ---------------------------------------------------------

TEST(TextParagraphText, ReplacementLandsInTheFirstTextAndTheRestEmpties) {
    struct Case {
        const char* label;
        std::string paragraphs;
        std::uint64_t paragraph_index;
        std::string expected;  // empty: unchanged
        std::uint64_t count;
    };
    const Case cases[] = {
        {"runs and a break", "<a:p><a:pPr/><a:r><a:rPr b=\"1\"/><a:t>one</a:t></a:r><a:br/><a:r><a:t>two</a:t></a:r></a:p>", 0,
         "<a:p><a:pPr/><a:r><a:rPr b=\"1\"/><a:t>N\nE&amp;W</a:t></a:r><a:br/><a:r><a:t></a:t></a:r></a:p>", 2},
        {"self-closing paragraphs are not numbered", "<a:p/>" + plain_paragraph({"zero"}) + plain_paragraph({"one"}), 1,
         "<a:p/>" + plain_paragraph({"zero"}) + plain_paragraph({"N\nE&amp;W"}), 1},
        {"a reference goes with the old text", "<a:p><a:r><a:t>A &amp; B</a:t></a:r></a:p>", 0,
         "<a:p><a:r><a:t>N\nE&amp;W</a:t></a:r></a:p>", 2},
        {"text made only of a reference keeps the replacement", "<a:p><a:r><a:t>&amp;</a:t></a:r></a:p>", 0,
         "<a:p><a:r><a:t>N\nE&amp;W</a:t></a:r></a:p>", 1},
        {"no text piece", "<a:p><a:r><a:t></a:t></a:r><a:endParaRPr/></a:p>", 0, "", 0},
        {"no such paragraph", plain_paragraph({"a"}), 1, "", 0},
    };
    for (const Case& c : cases) {
        const std::string slide = text_slide(text_shape("S", c.paragraphs));
        const SlideTextEdit edit = edited(set_shape_paragraph_text_at_index_in_slide(slide, 0, c.paragraph_index, "N\nE&W"));
        EXPECT_EQ(edit.xml, c.expected.empty() ? slide : text_slide(text_shape("S", c.expected))) << c.label;
        EXPECT_EQ(edit.count, c.count) << c.label;
    }
}

// ---- appending ------------------------------------------------------------

TEST(TextAppend, ParagraphGoesLastInTheBody) {
    const std::string slide = text_slide(text_shape("S", plain_paragraph({"a"})) + "<p:sp><p:spPr/></p:sp>");
    const SlideTextEdit edit = edited(append_shape_paragraph_text_in_slide(slide, 0, "b\nc"));
    EXPECT_EQ(edit.count, 1u);
    EXPECT_EQ(edit.xml, text_slide(text_shape("S", plain_paragraph({"a"}) + "<a:p><a:r><a:t>b\nc</a:t></a:r></a:p>") +
                                   "<p:sp><p:spPr/></p:sp>"));
    const SlideTextEdit no_body = edited(append_shape_paragraph_text_in_slide(slide, 1, "b"));
    EXPECT_EQ(no_body.xml, slide);
    EXPECT_EQ(no_body.count, 0u);
}

TEST(TextAppend, RunGoesBeforeATrailingEndParagraphProperties) {
    struct Case {
        const char* label;
        std::string paragraph;
        std::string expected;
    };
    const std::string run = "<a:r><a:t>new</a:t></a:r>";
    const Case cases[] = {
        {"self-closing end properties", "<a:p><a:r><a:t>a</a:t></a:r><a:endParaRPr lang=\"en\"/></a:p>",
         "<a:p><a:r><a:t>a</a:t></a:r>" + run + "<a:endParaRPr lang=\"en\"/></a:p>"},
        {"end properties with children and spacing",
         "<a:p><a:r><a:t>a</a:t></a:r>\n <a:endParaRPr><a:latin typeface=\"X\"/></a:endParaRPr >\n</a:p>",
         "<a:p><a:r><a:t>a</a:t></a:r>\n " + run + "<a:endParaRPr><a:latin typeface=\"X\"/></a:endParaRPr >\n</a:p>"},
        {"end properties that are not last", "<a:p><a:endParaRPr/><a:r><a:t>a</a:t></a:r></a:p>",
         "<a:p><a:endParaRPr/><a:r><a:t>a</a:t></a:r>" + run + "</a:p>"},
        {"no end properties", "<a:p><a:r><a:t>a</a:t></a:r></a:p>", "<a:p><a:r><a:t>a</a:t></a:r>" + run + "</a:p>"},
    };
    for (const Case& c : cases) {
        const std::string slide = text_slide(text_shape("S", c.paragraph));
        const SlideTextEdit edit = edited(append_shape_text_run_in_slide(slide, 0, 0, "new"));
        EXPECT_EQ(edit.xml, text_slide(text_shape("S", c.expected))) << c.label;
        EXPECT_EQ(edit.count, 1u) << c.label;
    }
    // a self-closing paragraph is neither numbered nor extended
    const std::string slide = text_slide(text_shape("S", "<a:p/>" + plain_paragraph({"a"})));
    EXPECT_EQ(edited(append_shape_text_run_in_slide(slide, 0, 0, "new")).xml,
              text_slide(text_shape("S", "<a:p/><a:p><a:r><a:rPr lang=\"en-US\"/><a:t>a</a:t></a:r>" + run + "</a:p>")));
    EXPECT_EQ(edited(append_shape_text_run_in_slide(slide, 0, 1, "new")).count, 0u);
}

// ---- line breaks -------------------------------------------------------------

TEST(TextLineBreak, RunSlotsAndSelfClosingParagraphs) {
    const std::string two_runs = "<a:p><a:r><a:t>a</a:t></a:r><a:r><a:t>b</a:t></a:r><a:endParaRPr/></a:p>";
    struct Case {
        const char* label;
        std::string paragraphs;
        std::uint64_t paragraph_index;
        std::uint64_t run_slot;
        std::string expected;  // empty: the error
    };
    const Case cases[] = {
        {"slot 0 before the first run", two_runs, 0, 0,
         "<a:p><a:br/><a:r><a:t>a</a:t></a:r><a:r><a:t>b</a:t></a:r><a:endParaRPr/></a:p>"},
        {"slot 1 between the runs", two_runs, 0, 1,
         "<a:p><a:r><a:t>a</a:t></a:r><a:br/><a:r><a:t>b</a:t></a:r><a:endParaRPr/></a:p>"},
        {"slot at the run count goes before the end properties", two_runs, 0, 2,
         "<a:p><a:r><a:t>a</a:t></a:r><a:r><a:t>b</a:t></a:r><a:br/><a:endParaRPr/></a:p>"},
        {"one past the run count", two_runs, 0, 3, ""},
        {"self-closing paragraphs are numbered", "<a:p/>" + two_runs, 1, 0,
         "<a:p/><a:p><a:br/><a:r><a:t>a</a:t></a:r><a:r><a:t>b</a:t></a:r><a:endParaRPr/></a:p>"},
        {"self-closing paragraph expands under its own name",
         "<d:p xmlns:d=\"http://schemas.openxmlformats.org/drawingml/2006/main\" dir=\"x\"/>", 0, 0,
         "<d:p xmlns:d=\"http://schemas.openxmlformats.org/drawingml/2006/main\" dir=\"x\"><a:br/></d:p>"},
        {"self-closing paragraph with slot 1", "<a:p/>", 0, 1, ""},
    };
    for (const Case& c : cases) {
        const std::string slide = text_slide(text_shape("S", c.paragraphs));
        const auto result = insert_shape_paragraph_line_break_in_slide(slide, 0, c.paragraph_index, c.run_slot);
        if (c.expected.empty()) {
            EXPECT_EQ(error_text(result), "invalid input: run slot out of range") << c.label;
            continue;
        }
        EXPECT_EQ(edited(result).xml, text_slide(text_shape("S", c.expected))) << c.label;
        EXPECT_EQ(edited(result).count, 1u) << c.label;
    }
    // a paragraph that does not exist is no error
    const std::string slide = text_slide(text_shape("S", two_runs));
    EXPECT_EQ(edited(insert_shape_paragraph_line_break_in_slide(slide, 0, 1, 9)).count, 0u);
    EXPECT_EQ(edited(insert_shape_paragraph_line_break_in_slide(slide, 1, 0, 9)).count, 0u);
}

// ---- group children ---------------------------------------------------------

TEST(TextGroupChild, ParagraphIndexOnePastTheLastAppends) {
    const std::string child = text_shape("C", plain_paragraph({"a"}) + "<a:p><a:r><a:t></a:t></a:r></a:p>");
    const std::string slide = text_slide(group_shape(child));
    struct Case {
        std::uint64_t paragraph_index;
        std::string expected_paragraphs;  // empty: unchanged
        std::uint64_t count;
    };
    const Case cases[] = {
        {0, plain_paragraph({"X"}) + "<a:p><a:r><a:t></a:t></a:r></a:p>", 1},
        // an empty text element receives the text
        {1, plain_paragraph({"a"}) + "<a:p><a:r><a:t>X</a:t></a:r></a:p>", 1},
        {2, plain_paragraph({"a"}) + "<a:p><a:r><a:t></a:t></a:r></a:p><a:p><a:r><a:t>X</a:t></a:r></a:p>", 1},
        {3, "", 0},
    };
    for (const Case& c : cases) {
        const SlideTextEdit edit = edited(set_group_shape_child_paragraph_text_in_slide(slide, 0, 0, c.paragraph_index, "X"));
        EXPECT_EQ(edit.xml, c.expected_paragraphs.empty() ? slide
                                                          : text_slide(group_shape(text_shape("C", c.expected_paragraphs))))
            << c.paragraph_index;
        EXPECT_EQ(edit.count, c.count) << c.paragraph_index;
    }
}

TEST(TextGroupChild, RunIndexOnePastTheLastAppendsBeforeEndProperties) {
    const std::string paragraph =
        "<a:p><a:r><a:t>A &amp; B</a:t></a:r><a:r><a:t></a:t></a:r><a:endParaRPr/></a:p>";
    const std::string slide = text_slide(group_shape(text_shape("C", paragraph)));
    struct Case {
        std::uint64_t run_index;
        std::string expected;  // empty: unchanged
        std::uint64_t count;
    };
    const Case cases[] = {
        // the piece, the dropped reference and the dropped piece count 1 each
        {0, "<a:p><a:r><a:t>X</a:t></a:r><a:r><a:t></a:t></a:r><a:endParaRPr/></a:p>", 3},
        {1, "<a:p><a:r><a:t>A &amp; B</a:t></a:r><a:r><a:t>X</a:t></a:r><a:endParaRPr/></a:p>", 1},
        {2, "<a:p><a:r><a:t>A &amp; B</a:t></a:r><a:r><a:t></a:t></a:r><a:r><a:t>X</a:t></a:r><a:endParaRPr/></a:p>", 1},
        {3, "", 0},
    };
    for (const Case& c : cases) {
        const SlideTextEdit edit = edited(set_group_shape_child_run_text_in_slide(slide, 0, 0, 0, c.run_index, "X"));
        EXPECT_EQ(edit.xml, c.expected.empty() ? slide : text_slide(group_shape(text_shape("C", c.expected))))
            << c.run_index;
        EXPECT_EQ(edit.count, c.count) << c.run_index;
    }
}

TEST(TextGroupChild, NestedGroupIsNumberedAfterItsParent) {
    const std::string slide =
        text_slide(group_shape(group_shape(text_shape("C", plain_paragraph({"inner"}))) +
                               text_shape("D", plain_paragraph({"outer"}))) +
                   group_shape(text_shape("E", plain_paragraph({"last"}))));
    const auto text_of = [](const Result<SlideTextEdit>& edit, std::string_view name) {
        const std::string& xml = edited(edit).xml;
        const std::size_t shape = xml.find("name=\"" + std::string(name) + "\"");
        const std::size_t t = xml.find("<a:t>", shape) + 5;
        return xml.substr(t, xml.find("</a:t>", t) - t);
    };
    EXPECT_EQ(text_of(set_group_shape_child_text_in_slide(slide, 0, 0, "X"), "D"), "X");
    EXPECT_EQ(text_of(set_group_shape_child_text_in_slide(slide, 1, 0, "X"), "C"), "X");
    EXPECT_EQ(text_of(set_group_shape_child_text_in_slide(slide, 2, 0, "X"), "E"), "X");
    EXPECT_EQ(text_of(set_group_shape_child_paragraph_text_in_slide(slide, 1, 0, 0, "Y"), "C"), "Y");
    EXPECT_EQ(text_of(set_group_shape_child_run_text_in_slide(slide, 2, 0, 0, 0, "Z"), "E"), "Z");
}

// ---- caller text and malformed slides --------------------------------------

TEST(TextShapeErrors, CallerTextIsCheckedAndMalformedSlidesFail) {
    const std::string slide = text_slide(text_shape("S", plain_paragraph({"a"})));
    const std::string bad = "a\x0B";
    const std::string message = "invalid input: text contains a character that XML does not allow: U+000B";
    EXPECT_EQ(error_text(set_shape_text_at_index_in_slide(slide, 0, bad)), message);
    EXPECT_EQ(error_text(set_shape_paragraph_text_at_index_in_slide(slide, 0, 0, bad)), message);
    EXPECT_EQ(error_text(append_shape_paragraph_text_in_slide(slide, 0, bad)), message);
    EXPECT_EQ(error_text(append_shape_text_run_in_slide(slide, 0, 0, bad)), message);
    EXPECT_EQ(error_text(set_group_shape_child_text_in_slide(slide, 0, 0, bad)), message);
    EXPECT_EQ(error_text(set_group_shape_child_paragraph_text_in_slide(slide, 0, 0, 0, bad)), message);
    EXPECT_EQ(error_text(set_group_shape_child_run_text_in_slide(slide, 0, 0, 0, 0, bad)), message);
    EXPECT_EQ(error_text(replace_text_run_at_index_in_slide(slide, 0, bad)), message);

    const std::string broken = replaced(slide, "</a:t>", "</a:r>");
    EXPECT_EQ(error_text(set_shape_paragraph_text_at_index_in_slide(broken, 0, 0, "x")).substr(0, 45),
              "xml error: mismatched end tag: expected </a:t");
    EXPECT_EQ(error_text(insert_shape_paragraph_line_break_in_slide(broken, 0, 0, 0)).substr(0, 30),
              "xml error: mismatched end tag:");
}

}  // namespace
}  // namespace zandrel
