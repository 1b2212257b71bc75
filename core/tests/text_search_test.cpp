#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "text_rewrite_search.hpp"
#include "text_test_support.hpp"

namespace zandrel {
namespace {

using testing::edited;
using testing::error_text;

struct ReplaceCase {
    const char* label;
    std::string_view part;
    std::string_view search;
    std::string_view replacement;
    std::string_view expected;
    std::uint64_t count;
};

class TextSearchReplace : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(TextSearchReplace, RewritesOnlyMatchingTextPieces) {
    const ReplaceCase& c = GetParam();
    const SlideTextEdit edit = edited(replace_text_nodes(c.part, c.search, c.replacement));
    EXPECT_EQ(edit.xml, c.expected);
    EXPECT_EQ(edit.count, c.count);
}

INSTANTIATE_TEST_SUITE_P(
    TextSearch, TextSearchReplace,
    ::testing::Values(
        ReplaceCase{"word_twice_by_shorter", "<a:p><a:r><a:t>hello world hello</a:t></a:r></a:p>", "hello", "hi",
                    "<a:p><a:r><a:t>hi world hi</a:t></a:r></a:p>", 2},
        ReplaceCase{"case_sensitive", "<a:p><a:t>Hello</a:t></a:p>", "hello", "x", "<a:p><a:t>Hello</a:t></a:p>", 0},
        ReplaceCase{"never_across_runs",
                    "<a:p><a:r><a:t>Hel</a:t></a:r><a:r><a:t>lo</a:t></a:r></a:p>", "Hello", "x",
                    "<a:p><a:r><a:t>Hel</a:t></a:r><a:r><a:t>lo</a:t></a:r></a:p>", 0},
        ReplaceCase{"never_across_a_reference", "<a:t>A &amp; B</a:t>", "A & B", "x", "<a:t>A &amp; B</a:t>", 0},
        ReplaceCase{"piece_before_a_reference", "<a:t>A &amp; B</a:t>", "A", "Z", "<a:t>Z &amp; B</a:t>", 1},
        ReplaceCase{"ampersand_stored_as_character_data", "<a:t><![CDATA[a&b]]></a:t><a:t>a&#38;b</a:t>", "&", "x",
                    "<a:t><![CDATA[a&b]]></a:t><a:t>a&#38;b</a:t>", 0},
        ReplaceCase{"replacement_escaped", "<a:t>x</a:t>", "x", "<&>\"'", "<a:t>&lt;&amp;&gt;&quot;&apos;</a:t>", 1},
        ReplaceCase{"bytes_around_a_match_stay_as_read", "<a:t>a > \"b\"</a:t><a:t>c > 'd'</a:t>", "c", "e&",
                    "<a:t>a > \"b\"</a:t><a:t>e&amp; > 'd'</a:t>", 1},
        ReplaceCase{"removed_match_never_forms_a_cdata_end", "<a:t>]]x>]]x></a:t>", "x", "",
                    "<a:t>]]&gt;]]&gt;</a:t>", 2},
        ReplaceCase{"replacement_containing_search_does_not_loop", "<a:t>aba</a:t>", "a", "aa", "<a:t>aabaa</a:t>", 2},
        ReplaceCase{"non_overlapping_left_to_right", "<a:t>aaa</a:t>", "aa", "b", "<a:t>ba</a:t>", 1},
        ReplaceCase{"any_prefix", "<x:t>cat</x:t><t>cat</t>", "cat", "dog", "<x:t>dog</x:t><t>dog</t>", 2},
        ReplaceCase{"text_outside_text_elements_untouched",
                    "<p:sp><p:cNvPr name=\"cat\"/><a:tab>cat</a:tab><a:t/>cat</p:sp>", "cat", "dog",
                    "<p:sp><p:cNvPr name=\"cat\"/><a:tab>cat</a:tab><a:t/>cat</p:sp>", 0},
        ReplaceCase{"unchanged_part_keeps_end_tag_spacing", "<a:t >cat</a:t >", "dog", "x", "<a:t >cat</a:t >", 0},
        ReplaceCase{"empty_search_changes_nothing", "<a:t>cat</a:t >", "", "x", "<a:t>cat</a:t >", 0}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(TextSearchErrors, InvalidUtf8InATextElementNamesItsOffset) {
    const std::string part = "<a:p><a:t>ok \xC3\x28</a:t></a:p>";
    EXPECT_EQ(error_text(replace_text_nodes(part, "zz", "y")),
              "xml text decode error: text is not valid UTF-8 at byte 13");
    // outside text elements the bytes are not inspected
    EXPECT_EQ(edited(replace_text_nodes("<a:x>\xC3\x28</a:x>", "zz", "y")).count, 0u);
}

TEST(TextSearchErrors, MalformedPartAndCallerText) {
    EXPECT_EQ(error_text(replace_text_nodes("<a:p><a:t>x</a:p>", "x", "y")),
              "xml error: mismatched end tag: expected </a:t>, found </a:p> at offset 11");
    EXPECT_EQ(error_text(replace_text_nodes("<a:t>x</a:t>", "x", "a\x01")),
              "invalid input: text contains a character that XML does not allow: U+0001");
    EXPECT_EQ(error_text(replace_text_nodes("<a:t>x</a:t>", "\xFF", "y")),
              "invalid input: text is not valid UTF-8 at byte 0");
}

TEST(TextRunIndex, CountsTextPiecesOverTheWholeSlide) {
    // pieces: "A " (0), " B" (1), " " (2), "C" (3); the empty element has none
    const std::string slide = "<a:p><a:t>A &amp; B</a:t><a:t></a:t><a:t> </a:t></a:p><a:p><a:t>C</a:t></a:p>";
    struct Case {
        std::uint64_t index;
        std::string expected;
        std::uint64_t count;
    };
    for (const Case& c : {
             Case{0, "<a:p><a:t>X&amp; B</a:t><a:t></a:t><a:t> </a:t></a:p><a:p><a:t>C</a:t></a:p>", 1},
             Case{1, "<a:p><a:t>A &amp;X</a:t><a:t></a:t><a:t> </a:t></a:p><a:p><a:t>C</a:t></a:p>", 1},
             Case{2, "<a:p><a:t>A &amp; B</a:t><a:t></a:t><a:t>X</a:t></a:p><a:p><a:t>C</a:t></a:p>", 1},
             Case{3, "<a:p><a:t>A &amp; B</a:t><a:t></a:t><a:t> </a:t></a:p><a:p><a:t>X</a:t></a:p>", 1},
             Case{4, slide, 0},
         }) {
        const SlideTextEdit edit = edited(replace_text_run_at_index_in_slide(slide, c.index, "X"));
        EXPECT_EQ(edit.xml, c.expected) << c.index;
        EXPECT_EQ(edit.count, c.count) << c.index;
    }
    EXPECT_EQ(edited(replace_text_run_at_index_in_slide("<a:t>a</a:t>", 0, "<b>")).xml, "<a:t>&lt;b&gt;</a:t>");
}

}  // namespace
}  // namespace zandrel
