#include "summary_shape_extract.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <span>
#include <string>
#include <utility>

#include "byte_scan.hpp"
#include "summary_text_extract.hpp"
#include "xml_shape_tree.hpp"
#include "xml_tag_scan.hpp"

namespace zandrel {
namespace {

using i64_limits = std::numeric_limits<std::int64_t>;

std::int64_t saturating_add(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? i64_limits::max() : i64_limits::min();
}

std::int64_t saturating_sub(std::int64_t a, std::int64_t b) {
    std::int64_t difference = 0;
    if (!__builtin_sub_overflow(a, b, &difference)) return difference;
    return b < 0 ? i64_limits::max() : i64_limits::min();
}

// The integer nearest to `value`, halves away from zero, clamped to the
// signed 64-bit range (a plain conversion of a larger double is undefined).
// Values are finite: products of two 64-bit integers stay far below the
// largest double.
std::int64_t nearest(double value) {
    double rounded = std::round(value);
    // 2^63 is exact in a double; every double below it converts safely
    if (rounded >= 9223372036854775808.0) return i64_limits::max();
    if (rounded <= -9223372036854775808.0) return i64_limits::min();
    return static_cast<std::int64_t>(rounded);
}

// One axis of the child-to-slide mapping: position and size.
std::pair<std::int64_t, std::int64_t> map_axis(std::int64_t position, std::int64_t size, std::int64_t offset,
                                               std::int64_t extent, std::int64_t child_offset,
                                               std::int64_t child_extent) {
    std::int64_t relative = saturating_sub(position, child_offset);
    if (child_extent == 0) return {saturating_add(offset, relative), size};
    auto ext = static_cast<double>(extent);
    auto child_ext = static_cast<double>(child_extent);
    std::int64_t mapped = nearest(ext * static_cast<double>(relative) / child_ext);
    return {saturating_add(offset, mapped), nearest(static_cast<double>(size) * ext / child_ext)};
}

std::string_view shape_kind(std::string_view block) {
    if (block.starts_with("<p:sp")) return "shape";
    if (block.starts_with("<p:pic"))
        return block.find("<a:videoFile") != std::string_view::npos ? "movie" : "picture";
    if (block.starts_with("<p:graphicFrame"))
        return block.find("<p:oleObj") != std::string_view::npos ? "ole_object" : "graphic_frame";
    if (block.starts_with("<p:grpSp")) return "group";
    if (block.starts_with("<p:cxnSp")) return "connector";
    return "unknown";
}

std::optional<std::string> owned(std::optional<std::string_view> value) {
    if (!value) return std::nullopt;
    return std::string(*value);
}

std::string join_lines(const std::vector<std::string>& lines) {
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) joined.push_back('\n');
        joined += lines[i];
    }
    return joined;
}

// What the shape's own properties say about its placement, found by
// following the element nesting of the block's events: the properties
// element is a direct child of the shape element, its `a:xfrm` a direct child
// of that. A child shape's or an embedded picture's properties sit deeper and
// are never taken.
struct OwnTransform {
    std::optional<TransformSummary> transform;
    std::optional<std::string_view> child_offset_tag;  // a:chOff start tag
    std::optional<std::string_view> child_extent_tag;  // a:chExt start tag
    std::optional<std::size_t> properties_end;         // just past the properties element
};

class OwnTransformFinder {
public:
    explicit OwnTransformFinder(std::string_view kind)
        : properties_name_(kind == "group" ? "p:grpSpPr"
                           : kind == "graphic_frame" || kind == "ole_object" ? "p:xfrm"
                                                                             : "p:spPr"),
          properties_hold_offsets_(properties_name_ == "p:xfrm") {}

    void on_event(const XmlEvent& event) {
        if (stage_ == Stage::Done) return;
        std::size_t level = 0;  // 1 is the shape element itself
        switch (event.kind) {
            case XmlEventKind::StartElement: level = ++depth_; break;
            case XmlEventKind::EmptyElement: level = depth_ + 1; break;
            case XmlEventKind::EndElement: level = depth_--; break;
            default: return;
        }
        switch (stage_) {
            case Stage::Seeking: seek_properties(event, level); break;
            case Stage::InProperties: read_properties(event, level); break;
            case Stage::InTransform: read_transform(event, level); break;
            case Stage::Done: break;
        }
    }

    const OwnTransform& result() const { return result_; }

private:
    enum class Stage { Seeking, InProperties, InTransform, Done };

    void seek_properties(const XmlEvent& event, std::size_t level) {
        if (level != 2 || !event.is_element_start() || event.name != properties_name_) return;
        if (event.kind == XmlEventKind::EmptyElement) {
            finish_properties(event);
            return;
        }
        if (properties_hold_offsets_) {
            transform_level_ = 2;
            stage_ = Stage::InTransform;
        } else {
            stage_ = Stage::InProperties;
        }
    }

    void read_properties(const XmlEvent& event, std::size_t level) {
        if (level == 2 && event.kind == XmlEventKind::EndElement) {
            finish_properties(event);
        } else if (level == 3 && event.is_element_start() && event.name == "a:xfrm" && !transform_seen_) {
            // only the first a:xfrm counts; a self-closing one holds nothing
            transform_seen_ = true;
            if (event.kind == XmlEventKind::StartElement) {
                transform_level_ = 3;
                stage_ = Stage::InTransform;
            }
        }
    }

    void read_transform(const XmlEvent& event, std::size_t level) {
        if (level == transform_level_ + 1 && event.is_element_start()) {
            remember_first(event, "a:off", offset_tag_);
            remember_first(event, "a:ext", extent_tag_);
            remember_first(event, "a:chOff", result_.child_offset_tag);
            remember_first(event, "a:chExt", result_.child_extent_tag);
        } else if (level == transform_level_ && event.kind == XmlEventKind::EndElement) {
            if (offset_tag_ && extent_tag_)
                result_.transform = TransformSummary{attribute_i64(*offset_tag_, "x"), attribute_i64(*offset_tag_, "y"),
                                                     attribute_i64(*extent_tag_, "cx"),
                                                     attribute_i64(*extent_tag_, "cy")};
            if (properties_hold_offsets_)
                finish_properties(event);
            else
                stage_ = Stage::InProperties;
        }
    }

    static void remember_first(const XmlEvent& event, std::string_view name, std::optional<std::string_view>& tag) {
        if (!tag && event.name == name) tag = event.raw;
    }

    void finish_properties(const XmlEvent& event) {
        result_.properties_end = event.offset + event.raw.size();
        stage_ = Stage::Done;
    }

    std::string_view properties_name_;
    bool properties_hold_offsets_;
    Stage stage_ = Stage::Seeking;
    std::size_t depth_ = 0;
    std::size_t transform_level_ = 0;
    bool transform_seen_ = false;
    std::optional<std::string_view> offset_tag_;
    std::optional<std::string_view> extent_tag_;
    OwnTransform result_;
};

// The context a group hands its children: its place in slide coordinates
// and its child space, the child extent defaulting to its own extent.
std::optional<GroupContext> child_context(const std::optional<TransformSummary>& group_effective,
                                          const OwnTransform& own) {
    if (!group_effective) return std::nullopt;
    GroupContext context{group_effective->x, group_effective->y, group_effective->cx, group_effective->cy,
                         0, 0, group_effective->cx, group_effective->cy};
    if (own.child_offset_tag) {
        context.child_x = attribute_i64(*own.child_offset_tag, "x");
        context.child_y = attribute_i64(*own.child_offset_tag, "y");
    }
    if (own.child_extent_tag) {
        context.child_cx = attribute_i64(*own.child_extent_tag, "cx");
        context.child_cy = attribute_i64(*own.child_extent_tag, "cy");
    }
    return context;
}

// The direct children of a group: the shapes between the end of its own
// properties element and its last `</p:grpSp>`, alternate content skipped.
std::vector<std::string_view> group_child_blocks(std::string_view block, std::optional<std::size_t> properties_end,
                                                 const SlideIndex& index) {
    if (!properties_end) return {};
    std::size_t last_close = block.rfind("</p:grpSp>");
    if (last_close == std::string_view::npos) last_close = block.size();
    if (last_close <= *properties_end) return {};
    return index.shape_blocks(block.substr(*properties_end, last_close - *properties_end));
}

// One shape without its children, and what its children need.
struct ShapeLevel {
    ShapeSummary summary;
    std::vector<std::string_view> child_blocks;
    std::optional<GroupContext> child_context;
};

// What the streaming pass over a shape block collects: every paragraph
// list, and the shape's own transform.
struct ShapeBlockEvents {
    explicit ShapeBlockEvents(std::string_view block) : own(shape_kind(block)) {}
    void on_event(const XmlEvent& event) {
        paragraphs.on_event(event);
        own.on_event(event);
    }

    ParagraphListCollector paragraphs;
    OwnTransformFinder own;
};

ShapeBlockEvents read_shape_block(std::string_view block) {
    ShapeBlockEvents events(block);
    for_each_xml_event<XmlTextMode::Streaming>(block, [&](const XmlEvent& event) { events.on_event(event); });
    return events;
}

// `events` are those of the block's pass when it has been made already.
ShapeLevel summarize_shape_level(std::string_view block, const std::optional<GroupContext>& context,
                                 SlideIndex& index, std::optional<ShapeBlockEvents> events) {
    ShapeLevel level;
    ShapeSummary& shape = level.summary;
    std::string_view kind = shape_kind(block);
    shape.kind = kind;

    if (auto identity = element_start_tag(block, "p:cNvPr")) {
        shape.id = owned(attribute_value(*identity, "id"));
        shape.name = owned(attribute_value(*identity, "name"));
    }
    // searched through the whole block, so a group shows its child's placeholder
    if (auto placeholder = index.placeholder_tag(block)) {
        shape.is_placeholder = true;
        shape.placeholder_type = owned(attribute_value(*placeholder, "type"));
        shape.placeholder_idx = owned(attribute_value(*placeholder, "idx"));
    }

    if (!events) events = read_shape_block(block);
    const OwnTransformFinder& own = events->own;
    ParagraphLists lists = events->paragraphs.take();
    shape.text = join_lines(lists.paragraphs);
    shape.paragraphs = std::move(lists.paragraphs);
    shape.paragraph_runs = std::move(lists.runs);
    shape.paragraph_line_breaks = std::move(lists.line_breaks);
    shape.paragraph_run_bold = std::move(lists.bold);
    shape.paragraph_run_italic = std::move(lists.italic);
    shape.paragraph_run_underline = std::move(lists.underline);
    shape.paragraph_run_font_size = std::move(lists.font_size);
    shape.paragraph_run_font_name = std::move(lists.font_name);

    shape.tables = index.tables().extract_tables(block);
    shape.relationship_ids = index.relationship_ids(block);
    shape.has_chart = index.has_chart(block);
    shape.has_picture = kind == "picture";
    shape.has_group = kind == "group";
    shape.transform = own.result().transform;
    shape.effective_transform = effective_transform(shape.transform, context);

    if (kind == "group") {
        level.child_blocks = group_child_blocks(block, own.result().properties_end, index);
        level.child_context = child_context(shape.effective_transform, own.result());
    }
    return level;
}

// `read` holds, where it has an entry, the events already read for the
// block of the same position.
std::vector<ShapeSummary> summarize_blocks(std::span<const std::string_view> blocks,
                                           const std::optional<GroupContext>& context, SlideIndex& index,
                                           std::vector<std::optional<ShapeBlockEvents>> read = {}) {
    struct Task {
        std::string_view block;
        std::optional<GroupContext> context;
        ShapeSummary* target;
        std::optional<ShapeBlockEvents> events;
    };
    // Every vector of summaries is sized once, before pointers into it are
    // taken, and never resized after, so the pointers stay valid.
    std::vector<ShapeSummary> shapes(blocks.size());
    std::vector<Task> pending;
    for (std::size_t i = blocks.size(); i-- > 0;)
        pending.push_back({blocks[i], context, &shapes[i], i < read.size() ? std::move(read[i]) : std::nullopt});
    while (!pending.empty()) {
        Task task = std::move(pending.back());
        pending.pop_back();
        ShapeLevel level = summarize_shape_level(task.block, task.context, index, std::move(task.events));
        *task.target = std::move(level.summary);
        auto& children = task.target->children;
        children.resize(level.child_blocks.size());
        for (std::size_t i = level.child_blocks.size(); i-- > 0;)
            pending.push_back({level.child_blocks[i], level.child_context, &children[i], std::nullopt});
    }
    return shapes;
}

// The top-level shape blocks of a slide's first shape tree.
std::vector<std::string_view> top_level_blocks(std::string_view slide_text, const SlideIndex& index) {
    constexpr std::string_view tree_close = "</p:spTree>";
    auto tree = index.shape_tree();
    if (!tree) return {};
    std::size_t tag_end = slide_text.find('>', tree->first);
    if (tag_end == std::string_view::npos) return {};
    std::size_t content_start = tag_end + 1;
    std::size_t content_end = tree->second - tree_close.size();
    if (content_end < content_start) return {};
    return index.shape_blocks(slide_text.substr(content_start, content_end - content_start));
}

// One streaming pass over the whole slide for its trimmed texts, which also
// reads every top-level block that it reads exactly as a pass over the block
// alone would: from an event starting where the block starts, until an event
// ends where the block ends. A pass over the block alone fails at an event
// that runs past the block's end or closes an element opened before the
// block, so the block's events stop there too. A block whose start falls
// inside an event of the slide, or that the slide pass does not reach, is
// left without events.
std::vector<std::optional<ShapeBlockEvents>> read_slide_and_blocks(std::string_view slide,
                                                                   std::span<const std::string_view> blocks,
                                                                   SlideTextCollector& texts) {
    std::vector<std::optional<ShapeBlockEvents>> read(blocks.size());
    auto offset_of = [&](std::string_view block) { return static_cast<std::size_t>(block.data() - slide.data()); };
    XmlStreamReader reader(slide);
    std::size_t next = 0;  // the first block the pass has not come to
    std::optional<std::size_t> current;
    std::size_t current_start = 0;
    std::size_t current_end = 0;
    std::size_t base_depth = 0;
    for (;;) {
        const std::size_t depth_before = reader.open_depth();
        Result<XmlEvent> event = reader.next();
        if (!event || event->kind == XmlEventKind::EndOfInput) break;
        if (event->kind != XmlEventKind::Text)
            texts.on_event(*event);
        else if (auto trimmed = trim_text_event(*event))
            texts.on_event(*trimmed);
        if (!current) {
            while (next < blocks.size() && offset_of(blocks[next]) < event->offset) ++next;
            if (next == blocks.size() || offset_of(blocks[next]) != event->offset) continue;
            current = next;
            current_start = event->offset;
            current_end = event->offset + blocks[next].size();
            base_depth = depth_before;
            read[next].emplace(blocks[next]);
            ++next;
        }
        const std::size_t event_end = event->offset + event->raw.size();
        if (event_end > current_end || reader.open_depth() < base_depth) {
            current.reset();
            continue;
        }
        // offsets as a pass over the block counts them
        XmlEvent in_block = *event;
        in_block.offset -= current_start;
        read[*current]->on_event(in_block);
        if (event_end == current_end) current.reset();
    }
    return read;
}

}  // namespace

std::optional<TransformSummary> effective_transform(const std::optional<TransformSummary>& transform,
                                                    const std::optional<GroupContext>& context) {
    if (!transform || !context) return transform;
    auto [x, cx] = map_axis(transform->x, transform->cx, context->x, context->cx, context->child_x,
                            context->child_cx);
    auto [y, cy] = map_axis(transform->y, transform->cy, context->y, context->cy, context->child_y,
                            context->child_cy);
    return TransformSummary{x, y, cx, cy};
}

std::optional<TransformSummary> extract_transform(std::string_view block) {
    OwnTransformFinder own(shape_kind(block));
    for_each_xml_event<XmlTextMode::Streaming>(block, [&](const XmlEvent& event) { own.on_event(event); });
    return own.result().transform;
}

ShapeSummary summarize_shape_block(std::string_view block, const std::optional<GroupContext>& context) {
    SlideIndex index(block);
    std::array<std::string_view, 1> blocks{block};
    return std::move(summarize_blocks(blocks, context, index).front());
}

std::vector<ShapeSummary> extract_shapes(std::string_view slide_text, SlideIndex& index) {
    return summarize_blocks(top_level_blocks(slide_text, index), std::nullopt, index);
}

SlideShapesAndText extract_shapes_and_text(std::string_view slide_bytes, const LossyUtf8Text& text,
                                           SlideIndex& index) {
    SlideShapesAndText slide;
    if (!text.is_bytes()) {
        slide.shapes = extract_shapes(text.view(), index);
        slide.text = scan_slide_text(slide_bytes);
        return slide;
    }
    auto blocks = top_level_blocks(text.view(), index);
    SlideTextCollector texts(true);
    auto read = read_slide_and_blocks(text.view(), blocks, texts);
    slide.shapes = summarize_blocks(blocks, std::nullopt, index, std::move(read));
    slide.text = texts.take();
    return slide;
}

std::vector<ShapeSummary> extract_shapes(std::string_view slide_bytes) {
    LossyUtf8Text text(slide_bytes);
    SlideIndex index(text.view());
    return extract_shapes(text.view(), index);
}

namespace {

constexpr std::array<std::string_view, 9> slide_tags = {"p:sp",    "p:pic",    "p:graphicFrame",      "p:grpSp", "p:cxnSp",
                                                        "p:spTree", "mc:AlternateContent", "a:tbl",  "p:ph"};

}  // namespace

SlideIndex::SlideIndex(std::string_view slide) : slide_(slide), tags_(slide, slide_tags), tables_(tags_) {
    constexpr std::array<std::string_view, 3> id_names = {"embed=\"", "link=\"", "id=\""};
    // Both patterns hold a colon at a fixed place, so one sweep over the
    // colons finds them all; the byte after a colon rules most out at once
    // (every prefixed name in the markup has a colon).
    const char* data = slide.data();
    const std::size_t size = slide.size();
    for_each_byte(slide, ':', [&](std::size_t colon) {
        if (colon + 1 >= size) return;
        const char next = data[colon + 1];
        if (next != 'c' && next != 'e' && next != 'l' && next != 'i') return;
        const std::string_view after(data + colon + 1, size - colon - 1);
        if (next == 'c') {
            if (after.starts_with("chart")) charts_.push_back(colon);
            return;
        }
        if (colon == 0 || data[colon - 1] != 'r') return;
        for (std::string_view name : id_names) {
            if (!after.starts_with(name)) continue;
            std::size_t value_start = colon + 1 + name.size();
            std::size_t value_end = slide.find('"', value_start);
            if (value_end != std::string_view::npos) ids_.push_back({colon - 1, value_start, value_end});
        }
    });
}

std::pair<std::size_t, std::size_t> SlideIndex::bounds(std::string_view slice) const {
    auto start = static_cast<std::size_t>(slice.data() - slide_.data());
    return {start, start + slice.size()};
}

std::vector<std::string_view> SlideIndex::shape_blocks(std::string_view slice) const {
    auto [start, end] = bounds(slice);
    return extract_shape_blocks(tags_, start, end);
}

std::optional<std::pair<std::size_t, std::size_t>> SlideIndex::shape_tree() const {
    auto start = tags_.find_tag_start("p:spTree", 0, slide_.size());
    if (!start) return std::nullopt;
    auto end = tags_.find_element_end("p:spTree", *start, slide_.size());
    if (!end) return std::nullopt;
    return std::pair{*start, *end};
}

std::optional<std::string_view> SlideIndex::placeholder_tag(std::string_view block) const {
    auto [start, end] = bounds(block);
    auto first = tags_.find_tag_start("p:ph", start, end);
    if (!first) return std::nullopt;
    std::size_t tag_end = slide_.find('>', *first);
    if (tag_end == std::string_view::npos || tag_end >= end) return std::nullopt;
    return slide_.substr(*first, tag_end + 1 - *first);
}

bool SlideIndex::has_chart(std::string_view block) const {
    auto [start, end] = bounds(block);
    auto first = std::lower_bound(charts_.begin(), charts_.end(), start);
    return first != charts_.end() && *first + 6 <= end;
}

std::vector<std::string> SlideIndex::relationship_ids(std::string_view block) const {
    auto [start, end] = bounds(block);
    auto first = std::lower_bound(ids_.begin(), ids_.end(), start,
                                  [](const IdValue& id, std::size_t at) { return id.pattern_start < at; });
    // A value whose closing quote lies past the block is cut off there, and
    // so is every later value of its kind: a scan of the block stops both.
    std::vector<std::string_view> values;
    for (; first != ids_.end() && first->pattern_start < end; ++first)
        if (first->value_end < end)
            values.push_back(slide_.substr(first->value_start, first->value_end - first->value_start));
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    return {values.begin(), values.end()};
}

}  // namespace zandrel
