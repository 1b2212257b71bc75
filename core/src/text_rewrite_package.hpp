// Text edits on a package: search and replace over all slides or one slide,
// and setting the text of a shape, a paragraph or one text piece of a slide.
// Each writes the whole output package in the re-encode mode: edited slides
// are written anew (same compression method), every other entry keeps its
// compressed bytes, and every file entry gets the 1980-01-01 timestamp. A
// slide whose edit changed nothing is not rewritten. A count of 0 is no
// error.
//
// Everything is checked and every slide edited before the output is written,
// and the output appears at its path only once complete, so a failure leaves
// the output path as it was. Errors, in the order they are checked:
//   InvalidInput "text contains a character that XML does not allow: U+...."
//     or "text is not valid UTF-8 at byte {offset}" for caller text;
//   Io or Zip when the input cannot be opened (see `open_package`);
//   InvalidInput "slide index {i} was not found";
//   Zip or Io when a slide cannot be read; the errors of the slide-level
//     function (Xml for a malformed slide, among others);
//   the writer's errors (see `write_package`).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "models.hpp"
#include "models_text.hpp"

namespace zandrel {

// `replace_text_nodes` on every slide part of the package (each part named
// like a slide, whether the presentation lists it or not), or only on the
// slide at `slide_index` in presentation order. Notes, layouts, masters and
// other parts are never searched. An empty search replaces nothing.
Result<TextReplacementSummary> replace_slide_text_inner(const std::string& input,
                                                        const std::string& output,
                                                        std::optional<std::uint64_t> slide_index,
                                                        std::string_view search,
                                                        std::string_view replacement);

Result<TextReplacementSummary> replace_slide_text(const std::string& input,
                                                  const std::string& output,
                                                  std::string_view search,
                                                  std::string_view replacement);

Result<TextReplacementSummary> replace_slide_text_at_index(const std::string& input,
                                                           const std::string& output,
                                                           std::uint64_t slide_index,
                                                           std::string_view search,
                                                           std::string_view replacement);

// `replace_text_run_at_index_in_slide` on one slide.
Result<TextRunReplacementSummary> replace_slide_text_run_at_index(const std::string& input,
                                                                  const std::string& output,
                                                                  std::uint64_t slide_index,
                                                                  std::uint64_t run_index,
                                                                  std::string_view replacement);

// `set_shape_text_at_index_in_slide` on one slide.
Result<ShapeTextSetSummary> set_slide_shape_text_at_index(const std::string& input,
                                                          const std::string& output,
                                                          std::uint64_t slide_index,
                                                          std::uint64_t shape_index,
                                                          std::string_view replacement);

// `set_shape_paragraph_text_at_index_in_slide` on one slide.
Result<ParagraphTextSetSummary> set_slide_shape_paragraph_text_at_index(
    const std::string& input, const std::string& output, std::uint64_t slide_index,
    std::uint64_t shape_index, std::uint64_t paragraph_index, std::string_view replacement);

}  // namespace zandrel
