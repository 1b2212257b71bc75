// Text edits that address text pieces directly, without shapes: search and
// replace over the text elements of a part, and replacing one text piece of
// a slide by its number.
//
// A text piece is one text event inside a `t` element (any prefix): a
// reference splits a text into two pieces and is never searched or replaced
// itself; CDATA is passed through. Both functions check the caller text
// first: InvalidInput "text contains a character that XML does not allow:
// U+...." or "text is not valid UTF-8 at byte {offset}". Malformed XML gives
// Xml with the reader's message.
#pragma once

#include <cstdint>
#include <string_view>

#include "models.hpp"
#include "text_rewrite.hpp"

namespace zandrel {

// Replaces every non-overlapping occurrence of `search` (byte-exact,
// case-sensitive, left to right) in each text piece by `replacement`; the
// count is the number of occurrences. The replacement is written escaped;
// every other byte of a piece stays as read (a "]]>" that a removed
// occurrence would form gets its ">" escaped). An empty search changes
// nothing. XmlText "text is not valid UTF-8 at byte {offset}" (offset in the
// part) for a text piece that is not UTF-8.
Result<SlideTextEdit> replace_text_nodes(std::string_view part, std::string_view search,
                                         std::string_view replacement);

// Replaces text piece number `run_index` (0-based over the whole slide,
// whitespace-only pieces included) by `replacement`; count 1, or 0 when the
// slide has fewer pieces.
Result<SlideTextEdit> replace_text_run_at_index_in_slide(std::string_view slide,
                                                         std::uint64_t run_index,
                                                         std::string_view replacement);

}  // namespace zandrel
