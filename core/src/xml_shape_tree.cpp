#include "xml_shape_tree.hpp"

#include <algorithm>
#include <limits>
#include <string>
#include <utility>

namespace zandrel {
namespace {

constexpr std::array<std::string_view, 5> shape_names = {"p:sp", "p:pic", "p:graphicFrame", "p:grpSp",
                                                         "p:cxnSp"};

template <std::size_t... I>
std::array<PatternCursor, 5> make_openings(std::string_view text, std::index_sequence<I...>) {
    return {PatternCursor::opening(text, shape_names[I])...};
}

template <std::size_t... I>
std::array<PatternCursor, 5> make_closings(std::string_view text, std::index_sequence<I...>) {
    return {PatternCursor::closing(text, shape_names[I])...};
}

std::size_t shape_name_index(std::string_view name) {
    return static_cast<std::size_t>(std::find(shape_names.begin(), shape_names.end(), name) -
                                    shape_names.begin());
}

// Every `<mc:AlternateContent` and `</mc:AlternateContent>` of a slide,
// collected once, so that finding the block around a shape needs no backward
// search through the text.
class AlternateContentIndex {
public:
    explicit AlternateContentIndex(std::string_view text)
        : openings_(occurrences(text, "<mc:AlternateContent")),
          closings_(occurrences(text, "</mc:AlternateContent>")),
          block_opening_(PatternCursor::opening(text, "mc:AlternateContent")),
          block_closing_(PatternCursor::closing(text, "mc:AlternateContent")) {}

    // When the last opening before `shape_start` has no closing after it, the
    // shape sits in that block: the block's end, if it has one.
    std::optional<std::size_t> enclosing_block_end(std::size_t shape_start) {
        auto last_open = last_before(openings_, shape_start);
        if (!last_open) return std::nullopt;
        auto last_close = last_before(closings_, shape_start);
        if (last_close && *last_close > *last_open) return std::nullopt;
        // Shapes after an unterminated block all ask about the same opening.
        if (last_block_ != last_open) {
            last_block_ = last_open;
            last_block_end_ = find_element_end(block_opening_, block_closing_, *last_open);
        }
        return last_block_end_;
    }

private:
    static std::vector<std::size_t> occurrences(std::string_view text, std::string_view pattern) {
        std::vector<std::size_t> found;
        for (auto at = text.find(pattern); at != std::string_view::npos; at = text.find(pattern, at + 1))
            found.push_back(at);
        return found;
    }

    static std::optional<std::size_t> last_before(const std::vector<std::size_t>& sorted, std::size_t limit) {
        auto after = std::lower_bound(sorted.begin(), sorted.end(), limit);
        if (after == sorted.begin()) return std::nullopt;
        return *(after - 1);
    }

    std::vector<std::size_t> openings_;
    std::vector<std::size_t> closings_;
    PatternCursor block_opening_;
    PatternCursor block_closing_;
    std::optional<std::size_t> last_block_;
    std::optional<std::size_t> last_block_end_;
};

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

ShapeScanner::ShapeScanner(std::string_view text)
    : text_(text),
      openings_(make_openings(text, std::make_index_sequence<5>())),
      closings_(make_closings(text, std::make_index_sequence<5>())) {}

std::optional<ShapeStart> ShapeScanner::next_shape_start(std::size_t from) {
    std::optional<ShapeStart> first;
    for (std::size_t i = 0; i < shape_names.size(); ++i) {
        auto hit = openings_[i].next_from(from);
        if (hit && (!first || *hit < first->offset)) first = ShapeStart{*hit, shape_names[i]};
    }
    return first;
}

std::optional<std::size_t> ShapeScanner::shape_end(const ShapeStart& start) {
    std::size_t i = shape_name_index(start.name);
    if (i == shape_names.size()) return find_element_end(text_, start.offset, start.name);
    return find_element_end(openings_[i], closings_[i], start.offset);
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
    ShapeScanner scanner(slide);
    AlternateContentIndex alternate_content(slide);
    std::vector<ShapeBounds> shapes;
    std::size_t position = 0;
    while (auto start = scanner.next_shape_start(position)) {
        if (auto block_end = alternate_content.enclosing_block_end(start->offset)) {
            position = *block_end;
            continue;
        }
        auto end = scanner.shape_end(*start);
        if (!end) break;
        shapes.push_back({start->offset, *end, start->name});
        position = *end;
    }
    return shapes;
}

std::vector<std::string_view> extract_shape_blocks(std::string_view slide) {
    std::vector<std::string_view> blocks;
    for (const auto& shape : extract_shape_bounds(slide))
        blocks.push_back(slide.substr(shape.start, shape.end - shape.start));
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
