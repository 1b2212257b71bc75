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
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "models_summary.hpp"
#include "summary_table_extract.hpp"
#include "summary_text_extract.hpp"

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

// What the shape summaries of one slide text look up, found once for the
// whole text: its tables and shape elements, and where `<p:ph` starts
// (name-boundary rule),
// ":chart" occurs, and `r:embed`, `r:link` and `r:id` values are written.
// Each query on a slice of the text answers what a scan of that slice alone
// would give, so nested groups do not rescan their children. The text must
// outlive the index.
class SlideIndex {
public:
    explicit SlideIndex(std::string_view slide);

    TableCache& tables() { return tables_; }
    // `extract_shape_blocks(slice)`.
    std::vector<std::string_view> shape_blocks(std::string_view slice) const;
    // The first `p:spTree` element of the slide: the "<" of its start tag
    // and the offset just past its end tag.
    std::optional<std::pair<std::size_t, std::size_t>> shape_tree() const;
    // `element_start_tag(block, "p:ph")`.
    std::optional<std::string_view> placeholder_tag(std::string_view block) const;
    // Whether the block contains ":chart".
    bool has_chart(std::string_view block) const;
    // Every `r:embed`, `r:link` and `r:id` value in the block (the name,
    // "=" and a double quote, up to the next double quote), sorted
    // byte-wise, without duplicates.
    std::vector<std::string> relationship_ids(std::string_view block) const;

private:
    struct IdValue {
        std::size_t pattern_start = 0;
        std::size_t value_start = 0;
        std::size_t value_end = 0;  // the closing quote
    };
    std::pair<std::size_t, std::size_t> bounds(std::string_view slice) const;

    std::string_view slide_;
    TagIndex tags_;
    TableCache tables_;
    std::vector<std::size_t> charts_;
    std::vector<IdValue> ids_;  // in text order
};

// The summary of one shape element's full text ("<p:sp" ... "</p:sp>" or any
// of the other four shape elements); `context` is the parent group's, absent
// for a top-level shape.
ShapeSummary summarize_shape_block(std::string_view block,
                                   const std::optional<GroupContext>& context = std::nullopt);

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
// The same on slide text that is already UTF-8, with that text's index.
std::vector<ShapeSummary> extract_shapes(std::string_view slide_text, SlideIndex& index);

struct SlideShapesAndText {
    std::vector<ShapeSummary> shapes;
    SlideTextScan text;
};

// `extract_shapes(text.view(), index)` and `scan_slide_text(slide_bytes)`
// together, `text` being the slide bytes read as UTF-8 and `index` its
// index. Where the bytes are well-formed, one streaming pass serves the texts
// and every top-level shape whose events it reads exactly as a pass over the
// shape alone would; other shapes, and group children, get passes of their
// own.
SlideShapesAndText extract_shapes_and_text(std::string_view slide_bytes, const LossyUtf8Text& text,
                                           SlideIndex& index);

}  // namespace zandrel
