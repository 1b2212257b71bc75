// Slide-level text edits of one shape, chosen by index while the slide is
// streamed. Each takes the slide XML and returns the new XML and a count; a
// shape, group, child, paragraph or run that does not exist leaves the slide
// unchanged with a count of 0.
//
// How the indices count (0-based, document order, local names, any prefix):
//   shape index      every `sp` start tag of the slide, those inside groups
//                    included; pictures, frames, connectors and groups are
//                    not counted
//   paragraph index  the `p` start tags inside the chosen shape (self-closing
//                    paragraphs are skipped, except by the line break)
//   run slot         the `r` elements (start or self-closing) inside the
//                    chosen paragraph
//   group index      every `grpSp` start tag of the slide, nested included
//   child index      the `sp` start tags that are direct children of the
//                    chosen group
//   run index        the `r` start tags inside the chosen paragraph of a
//                    group child
//
// Runs and breaks appended at a paragraph's end go before a trailing
// `endParaRPr`. Every function checks its caller text first: InvalidInput
// "text contains a character that XML does not allow: U+...." or "text is not
// valid UTF-8 at byte {offset}". Malformed XML gives Xml with the reader's
// message; text bodies that end early give the XmlText errors of
// `rewrite_text_body_content`.
#pragma once

#include <cstdint>
#include <string_view>

#include "models.hpp"
#include "text_rewrite.hpp"

namespace zandrel {

// Replaces every paragraph of the shape's text body by one paragraph per line
// of `replacement`, keeping body properties and list styles; the count is the
// number of paragraphs replaced (at least 1). A shape without a text body, or
// with a self-closing one, counts 0.
Result<SlideTextEdit> set_shape_text_at_index_in_slide(std::string_view slide,
                                                       std::uint64_t shape_index,
                                                       std::string_view replacement);

// Makes `replacement` the text of one paragraph: it lands in the first text
// element that had text and every other text piece and reference of the
// paragraph is emptied; run properties, runs, breaks and paragraph properties
// stay. Counts 1 per text piece. A paragraph whose text is only references
// gets the replacement in place of the first one (count 1). A paragraph
// without text counts 0.
Result<SlideTextEdit> set_shape_paragraph_text_at_index_in_slide(std::string_view slide,
                                                                 std::uint64_t shape_index,
                                                                 std::uint64_t paragraph_index,
                                                                 std::string_view replacement);

// Adds <a:p> with one run of `text` (not split at line feeds) at the end of
// the shape's text body; count 1, or 0 without a text body.
Result<SlideTextEdit> append_shape_paragraph_text_in_slide(std::string_view slide,
                                                           std::uint64_t shape_index,
                                                           std::string_view text);

// Adds one run of `text` at the end of the chosen paragraph; count 1.
Result<SlideTextEdit> append_shape_text_run_in_slide(std::string_view slide,
                                                     std::uint64_t shape_index,
                                                     std::uint64_t paragraph_index,
                                                     std::string_view text);

// Writes <a:br/> before run `run_slot` of the chosen paragraph, or at its end
// when `run_slot` equals its number of runs; count 1. A self-closing
// paragraph is numbered too and, with run slot 0, becomes a start tag (its
// attributes kept), the break and an end tag of the same name. InvalidInput
// "run slot out of range" for any larger run slot.
Result<SlideTextEdit> insert_shape_paragraph_line_break_in_slide(std::string_view slide,
                                                                 std::uint64_t shape_index,
                                                                 std::uint64_t paragraph_index,
                                                                 std::uint64_t run_slot);

// As `set_shape_text_at_index_in_slide`, for a child of a group.
Result<SlideTextEdit> set_group_shape_child_text_in_slide(std::string_view slide,
                                                          std::uint64_t group_index,
                                                          std::uint64_t child_index,
                                                          std::string_view replacement);

// As `set_shape_paragraph_text_at_index_in_slide`, for a child of a group,
// and further: a text element of the paragraph that is still empty at its end
// tag receives the replacement (count 1), and a paragraph index equal to the
// child's number of paragraphs appends a new paragraph with one run of the
// replacement (count 1).
Result<SlideTextEdit> set_group_shape_child_paragraph_text_in_slide(
    std::string_view slide, std::uint64_t group_index, std::uint64_t child_index,
    std::uint64_t paragraph_index, std::string_view replacement);

// Makes `replacement` the text of one run of a group child's paragraph, as the
// paragraph setter does for a paragraph (dropped references count 1 each too;
// an empty text element of the run receives it). A run index equal to the
// paragraph's number of runs appends a run (count 1).
Result<SlideTextEdit> set_group_shape_child_run_text_in_slide(
    std::string_view slide, std::uint64_t group_index, std::uint64_t child_index,
    std::uint64_t paragraph_index, std::uint64_t run_index, std::string_view replacement);

}  // namespace zandrel
