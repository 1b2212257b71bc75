// Navigation of a slide's shape tree by text scanning: which elements are
// shapes, where the next shape starts, the top-level shapes of a slide, the
// children of a group, and the id a new shape gets.
//
// Exactly five elements are shapes, searched in this order: `p:sp`, `p:pic`,
// `p:graphicFrame`, `p:grpSp`, `p:cxnSp`. Shape names returned here are views
// of static strings. Offsets are byte offsets into the text passed in.
//
// Only `nested_group_child_bounds` and `next_shape_id` fail; the walks end
// quietly at malformed or unterminated shapes and return what they found.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "models.hpp"
#include "xml_tag_scan.hpp"

namespace zandrel {

struct ShapeStart {
    std::size_t offset = 0;  // the "<" of the shape's start tag
    std::string_view name;   // qualified name, e.g. "p:grpSp"
};

// One shape element: [start, end) is its full text, start tag to end tag.
struct ShapeBounds {
    std::size_t start = 0;
    std::size_t end = 0;
    std::string_view name;
};

struct ByteRange {
    std::size_t start = 0;
    std::size_t end = 0;
};

// True for the local names `sp`, `pic`, `graphicFrame`, `grpSp`, `cxnSp`.
bool is_shape_element_name(std::string_view local_name);
// The same predicate under the name the batch engine uses.
bool is_shape_tree_shape(std::string_view local_name);

// What a shape walk looks up in a `TagIndex`: the five shape elements, then
// `mc:AlternateContent`.
inline constexpr std::array<std::string_view, 6> shape_walk_tags = {"p:sp",    "p:pic",   "p:graphicFrame",
                                                                     "p:grpSp", "p:cxnSp", "mc:AlternateContent"};

// Walks shapes through one text, indexed once, so that a walk is linear in
// the text length whatever order it asks in. Answers are those of the free
// functions below. The text must outlive the scanner.
class ShapeScanner {
public:
    explicit ShapeScanner(std::string_view text);

    // The first of the five shape starts at or after `from` (name-boundary
    // rule of `find_tag_start`).
    std::optional<ShapeStart> next_shape_start(std::size_t from);
    // Just past the end tag matching the shape at `start` (depth-counted like
    // `find_element_end`); absent when it has none.
    std::optional<std::size_t> shape_end(const ShapeStart& start);
    // The next shape start at or after `from` with its end; absent when there
    // is no further start or that shape has no end.
    std::optional<ShapeBounds> next_shape(std::size_t from);

private:
    TagIndex index_;
};

// The next shape start at or after `start`.
std::optional<ShapeStart> find_next_shape_start(std::string_view slide, std::size_t start);

// The top-level shapes of a slide in document order. After each shape the
// walk continues past its end, so a group's children are inside its bounds.
// A shape inside an `mc:AlternateContent` block (choice or fallback) is not
// listed: the walk jumps past the block. The first shape without an end tag
// ends the walk. The index in this list is a slide's shape index.
std::vector<ShapeBounds> extract_shape_bounds(std::string_view slide);
// The same shapes as slices of `slide`.
std::vector<std::string_view> extract_shape_blocks(std::string_view slide);
// `extract_shape_blocks` of the slice [start, end) of an index's text; the
// index must hold every tag of `shape_walk_tags`.
std::vector<std::string_view> extract_shape_blocks(const TagIndex& index, std::size_t start, std::size_t end);

// The largest unsigned 64-bit `id` of any `<p:cNvPr` start tag (nested ones
// included); ids that do not parse are ignored; 0 when there is none.
std::uint64_t max_cnvpr_id(std::string_view slide);

// `max_cnvpr_id` + 1, the id of a new shape. InvalidInput
// "no shape id is left after 18446744073709551615" when the slide already
// uses the largest id.
Result<std::uint64_t> next_shape_id(std::string_view slide);

// The direct children of one group shape (the group's own text), in document
// order, offsets relative to `group`. Children lie after the group's own
// `p:grpSpPr` element (self-closing or not) and before the last `</p:grpSp>`;
// the walk stops at the first shape that has no end or leaves that range.
// Empty when the group has no `p:grpSpPr` or no `</p:grpSp>`.
std::vector<ShapeBounds> direct_group_children(std::string_view group);
// Child `child_index` (from 0) of `direct_group_children`.
std::optional<ShapeBounds> direct_group_child_bounds(std::string_view group, std::size_t child_index);

// The group that is child `child_index` of top-level group `group_index`
// (top-level shapes counted by a walk that, unlike `extract_shape_bounds`,
// does not skip alternate content; only `p:grpSp` shapes count), as offsets
// into `slide`. InvalidInput errors:
//   "group shape index {group_index} was not found"
//   "nested group child index {child_index} was not found"
//   "nested group child index {child_index} is not a group shape"
Result<ByteRange> nested_group_child_bounds(std::string_view slide, std::size_t group_index,
                                            std::size_t child_index);

}  // namespace zandrel
