// Shape summaries: what one shape element of a slide is and holds (kind, id
// and name, placeholder data, text at paragraph and run level with run
// formatting, tables, referenced relationship ids, its transform as written
// and in slide coordinates, and a group's children).
//
// Each shape block is read by one streaming pass that fills every paragraph
// list and finds the shape's own transform; the rest is text scanning. A
// parse error ends the pass quietly and the lists hold what came before it.
// Groups are walked with an explicit stack, so nesting depth costs no stack.
// Nothing here fails.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "models_summary.hpp"
#include "summary_table_extract.hpp"

namespace zandrel {

// Where a group puts its children: its own offset and extent in slide
// coordinates, and the child offset and extent (`a:chOff`, `a:chExt`) of the
// coordinate space its children are written in.
struct GroupContext {
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::int64_t cx = 0;
    std::int64_t cy = 0;
    std::int64_t child_x = 0;
    std::int64_t child_y = 0;
    std::int64_t child_cx = 0;
    std::int64_t child_cy = 0;
};

// The summary of one shape element's full text ("<p:sp" ... "</p:sp>" or any
// of the other four shape elements); `context` is the parent group's, absent
// for a top-level shape.
ShapeSummary summarize_shape_block(std::string_view block,
                                   const std::optional<GroupContext>& context = std::nullopt);

// The same over blocks that are slices of one slide text, sharing the
// slide's table cache.
std::vector<ShapeSummary> summarize_shape_blocks(const std::vector<std::string_view>& blocks,
                                                 TableCache& tables);

// The transform the shape carries itself: `a:off` and `a:ext` of the `a:xfrm`
// in the shape's own properties element (`p:spPr`, or `p:grpSpPr` for a
// group) or, for a graphic frame, of its own `p:xfrm`; values by
// `attribute_i64`. Never a child's or an embedded picture's transform. Absent
// when the element, `a:off` or `a:ext` is missing.
std::optional<TransformSummary> extract_transform(std::string_view block);

// The transform mapped from a group's child space into slide coordinates:
// scaled by extent over child extent on each axis where the child extent is
// not 0, rounded half away from zero. Differences and sums saturate at the
// signed 64-bit range instead of overflowing, and so do scaled values.
// Unchanged without a context; absent without a transform.
std::optional<TransformSummary> effective_transform(const std::optional<TransformSummary>& transform,
                                                    const std::optional<GroupContext>& context);

// The top-level shapes of a slide's first `p:spTree`, in document order
// (alternate-content blocks skipped); empty without a complete shape tree.
// The bytes are read as UTF-8 with U+FFFD for ill-formed sequences.
std::vector<ShapeSummary> extract_shapes(std::string_view slide_bytes);
// The same on slide text that is already UTF-8, with the slide's table cache.
std::vector<ShapeSummary> extract_shapes(std::string_view slide_text, TableCache& tables);

}  // namespace zandrel
