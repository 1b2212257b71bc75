#include "xml_shape_tree.hpp"

#include <algorithm>
#include <limits>
#include <span>
#include <string>

namespace zandrel {
namespace {

constexpr std::span<const std::string_view> shape_names(shape_walk_tags.data(), 5);
constexpr std::string_view alternate_content = shape_walk_tags[5];

// The first of the five shape starts at or after `from` in the slice.
std::optional<ShapeStart> next_shape_start_in(const TagIndex& index, std::size_t from, std::size_t slice_end) {
    std::optional<ShapeStart> first;
    for (std::string_view name : shape_names) {
        auto hit = index.find_tag_start(name, from, slice_end);
        if (hit && (!first || *hit < first->offset)) first = ShapeStart{*hit, name};
    }
    return first;
}

// The end of the alternate-content block a shape sits in, if it sits in one
// that has an end: the last block opening before the shape has no closing
// after it.
class AlternateContentBlocks {
public:
    AlternateContentBlocks(const TagIndex& index, std::size_t slice_start, std::size_t slice_end)
        : index_(index), slice_start_(slice_start), slice_end_(slice_end) {}

    std::optional<std::size_t> enclosing_block_end(std::size_t shape_start) {
        auto last_open = index_.last_opening_before(alternate_content, slice_start_, shape_start);
        if (!last_open) return std::nullopt;
        auto last_close = index_.last_closing_before(alternate_content, slice_start_, shape_start);
        if (last_close && *last_close > *last_open) return std::nullopt;
        // Shapes after an unterminated block all ask about the same opening.
        if (last_block_ != last_open) {
            last_block_ = last_open;
            last_block_end_ = index_.find_element_end(alternate_content, *last_open, slice_end_);
        }
        return last_block_end_;
    }

private:
    const TagIndex& index_;
    std::size_t slice_start_;
    std::size_t slice_end_;
    std::optional<std::size_t> last_block_;
    std::optional<std::size_t> last_block_end_;
};

std::vector<ShapeBounds> shape_bounds_in(const TagIndex& index, std::size_t start, std::size_t end) {
    AlternateContentBlocks alternate_content_blocks(index, start, end);
    std::vector<ShapeBounds> shapes;
    std::size_t position = start;
    while (auto shape = next_shape_start_in(index, position, end)) {
        if (auto block_end = alternate_content_blocks.enclosing_block_end(shape->offset)) {
            position = *block_end;
            continue;
        }
        auto shape_end = index.find_element_end(shape->name, shape->offset, end);
        if (!shape_end) break;
        shapes.push_back({shape->offset, *shape_end, shape->name});
        position = *shape_end;
    }
    return shapes;
}

// Where the children of a group begin: just past the group's own
// `p:grpSpPr` element, which is the first one in the group's text.
std::optional<std::size_t> group_children_start(std::string_view group) {
    auto properties = find_tag_start(group, 0, "p:grpSpPr");
    if (!properties) return std::nullopt;
    auto tag_end = find_start_tag_end(group, *properties);
    if (!tag_end) return std::nullopt;
    if (group[*tag_end - 1] == '/') return *tag_end + 1;
    constexpr std::string_view closing = "</p:grpSpPr>";
    auto close = group.find(closing, *tag_end);
    if (close == std::string_view::npos) return std::nullopt;
    return close + closing.size();
}

}  // namespace

bool is_shape_element_name(std::string_view local_name) {
    return local_name == "sp" || local_name == "pic" || local_name == "cxnSp" || local_name == "grpSp" ||
           local_name == "graphicFrame";
}

bool is_shape_tree_shape(std::string_view local_name) { return is_shape_element_name(local_name); }

ShapeScanner::ShapeScanner(std::string_view text) : index_(text, shape_names) {}

std::optional<ShapeStart> ShapeScanner::next_shape_start(std::size_t from) {
    return next_shape_start_in(index_, from, index_.text().size());
}

std::optional<std::size_t> ShapeScanner::shape_end(const ShapeStart& start) {
    if (std::find(shape_names.begin(), shape_names.end(), start.name) == shape_names.end())
        return find_element_end(index_.text(), start.offset, start.name);
    return index_.find_element_end(start.name, start.offset, index_.text().size());
}

std::optional<ShapeBounds> ShapeScanner::next_shape(std::size_t from) {
    auto start = next_shape_start(from);
    if (!start) return std::nullopt;
    auto end = shape_end(*start);
    if (!end) return std::nullopt;
    return ShapeBounds{start->offset, *end, start->name};
}

std::optional<ShapeStart> find_next_shape_start(std::string_view slide, std::size_t start) {
    return ShapeScanner(slide).next_shape_start(start);
}

std::vector<ShapeBounds> extract_shape_bounds(std::string_view slide) {
    return shape_bounds_in(TagIndex(slide, shape_walk_tags), 0, slide.size());
}

std::vector<std::string_view> extract_shape_blocks(std::string_view slide) {
    return extract_shape_blocks(TagIndex(slide, shape_walk_tags), 0, slide.size());
}

std::vector<std::string_view> extract_shape_blocks(const TagIndex& index, std::size_t start, std::size_t end) {
    std::vector<std::string_view> blocks;
    for (const auto& shape : shape_bounds_in(index, start, end))
        blocks.push_back(index.text().substr(shape.start, shape.end - shape.start));
    return blocks;
}

std::uint64_t max_cnvpr_id(std::string_view slide) {
    constexpr std::string_view pattern = "<p:cNvPr";
    std::uint64_t largest = 0;
    for (auto at = slide.find(pattern); at != std::string_view::npos; at = slide.find(pattern, at + 1)) {
        // a broken start tag holds no id worth trusting
        auto tag_end = find_start_tag_end(slide, at);
        if (!tag_end) continue;
        auto id = attribute_value(slide.substr(at, *tag_end + 1 - at), "id");
        if (!id) continue;
        if (auto value = parse_u64_decimal(*id)) largest = std::max(largest, *value);
    }
    return largest;
}

Result<std::uint64_t> next_shape_id(std::string_view slide) {
    std::uint64_t largest = max_cnvpr_id(slide);
    if (largest == std::numeric_limits<std::uint64_t>::max())
        return ZandrelError::invalid_input("no shape id is left after " + std::to_string(largest));
    return largest + 1;
}

std::vector<ShapeBounds> direct_group_children(std::string_view group) {
    std::vector<ShapeBounds> children;
    auto first = group_children_start(group);
    std::size_t last_close = group.rfind("</p:grpSp>");
    if (!first || last_close == std::string_view::npos) return children;
    ShapeScanner scanner(group);
    std::size_t position = *first;
    while (auto child = scanner.next_shape(position)) {
        if (child->start >= last_close || child->end > last_close) break;
        children.push_back(*child);
        position = child->end;
    }
    return children;
}

std::optional<ShapeBounds> direct_group_child_bounds(std::string_view group, std::size_t child_index) {
    auto children = direct_group_children(group);
    if (child_index >= children.size()) return std::nullopt;
    return children[child_index];
}

Result<ByteRange> nested_group_child_bounds(std::string_view slide, std::size_t group_index,
                                            std::size_t child_index) {
    ShapeScanner scanner(slide);
    std::optional<ShapeBounds> group;
    std::size_t groups_seen = 0;
    for (auto shape = scanner.next_shape(0); shape; shape = scanner.next_shape(shape->end)) {
        if (shape->name == "p:grpSp" && groups_seen++ == group_index) {
            group = shape;
            break;
        }
    }
    if (!group)
        return ZandrelError::invalid_input("group shape index " + std::to_string(group_index) + " was not found");
    auto child = direct_group_child_bounds(slide.substr(group->start, group->end - group->start), child_index);
    if (!child)
        return ZandrelError::invalid_input("nested group child index " + std::to_string(child_index) +
                                           " was not found");
    if (child->name != "p:grpSp")
        return ZandrelError::invalid_input("nested group child index " + std::to_string(child_index) +
                                           " is not a group shape");
    return ByteRange{group->start + child->start, group->start + child->end};
}

}  // namespace zandrel
