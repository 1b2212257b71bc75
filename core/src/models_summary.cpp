#include "models_summary.hpp"

#include <iterator>
#include <type_traits>
#include <utility>

namespace zandrel {
namespace {

// Records go straight to text: a value tree of a large deck cost as much to
// build, print and free as reading the deck.

template <class T>
struct is_vector : std::false_type {};
template <class T>
struct is_vector<std::vector<T>> : std::true_type {};

template <class T>
struct is_optional : std::false_type {};
template <class T>
struct is_optional<std::optional<T>> : std::true_type {};

void write_record(JsonTextWriter& writer, const TransformSummary& transform) {
    writer.begin_object();
    writer.key("x");
    writer.number(transform.x);
    writer.key("y");
    writer.number(transform.y);
    writer.key("cx");
    writer.number(transform.cx);
    writer.key("cy");
    writer.number(transform.cy);
    writer.end_object();
}

// Declared ahead of `write_value`, which reaches them from lists and optionals.
void write_record(JsonTextWriter& writer, const TableSummary& table);
void write_record(JsonTextWriter& writer, const RelationshipSummary& relationship);
void write_record(JsonTextWriter& writer, const ShapeSummary& root);
void write_record(JsonTextWriter& writer, const SlideSummary& slide);

template <class T>
void write_value(JsonTextWriter& writer, const T& value) {
    if constexpr (is_vector<T>::value) {
        writer.begin_array();
        for (const auto& item : value) write_value(writer, item);
        writer.end_array();
    } else if constexpr (is_optional<T>::value) {
        if (value)
            write_value(writer, *value);
        else
            writer.null();
    } else if constexpr (std::is_same_v<T, std::string>) {
        writer.string(value);
    } else if constexpr (std::is_same_v<T, bool>) {
        writer.boolean(value);
    } else if constexpr (std::is_integral_v<T>) {
        writer.number(value);
    } else {
        write_record(writer, value);
    }
}

template <class T>
void write_member(JsonTextWriter& writer, std::string_view key, const T& value) {
    writer.key(key);
    write_value(writer, value);
}

void write_record(JsonTextWriter& writer, const TableSummary& table) {
    writer.begin_object();
    write_member(writer, "rows", table.rows);
    write_member(writer, "row_count", table.row_count);
    write_member(writer, "col_count", table.col_count);
    writer.end_object();
}

void write_record(JsonTextWriter& writer, const RelationshipSummary& relationship) {
    writer.begin_object();
    write_member(writer, "id", relationship.id);
    write_member(writer, "relationship_type", relationship.relationship_type);
    write_member(writer, "target", relationship.target);
    write_member(writer, "target_mode", relationship.target_mode);
    writer.end_object();
}

// Every member of a shape up to its open "children" list.
void open_shape(JsonTextWriter& writer, const ShapeSummary& shape) {
    writer.begin_object();
    write_member(writer, "id", shape.id);
    write_member(writer, "name", shape.name);
    write_member(writer, "kind", shape.kind);
    write_member(writer, "is_placeholder", shape.is_placeholder);
    write_member(writer, "placeholder_type", shape.placeholder_type);
    write_member(writer, "placeholder_idx", shape.placeholder_idx);
    write_member(writer, "text", shape.text);
    write_member(writer, "paragraphs", shape.paragraphs);
    write_member(writer, "paragraph_runs", shape.paragraph_runs);
    write_member(writer, "paragraph_line_breaks", shape.paragraph_line_breaks);
    write_member(writer, "paragraph_run_bold", shape.paragraph_run_bold);
    write_member(writer, "paragraph_run_italic", shape.paragraph_run_italic);
    write_member(writer, "paragraph_run_underline", shape.paragraph_run_underline);
    write_member(writer, "paragraph_run_font_size", shape.paragraph_run_font_size);
    write_member(writer, "paragraph_run_font_name", shape.paragraph_run_font_name);
    write_member(writer, "tables", shape.tables);
    write_member(writer, "relationship_ids", shape.relationship_ids);
    write_member(writer, "has_chart", shape.has_chart);
    write_member(writer, "has_picture", shape.has_picture);
    write_member(writer, "has_group", shape.has_group);
    write_member(writer, "transform", shape.transform);
    write_member(writer, "effective_transform", shape.effective_transform);
    writer.key("children");
    writer.begin_array();
}

// Depth first with an explicit stack of the groups still open, so deep
// nesting costs no call stack.
void write_record(JsonTextWriter& writer, const ShapeSummary& root) {
    struct Open {
        const ShapeSummary* shape;
        std::size_t next_child;
    };
    std::vector<Open> open{{&root, 0}};
    open_shape(writer, root);
    while (!open.empty()) {
        Open& top = open.back();
        if (top.next_child < top.shape->children.size()) {
            const ShapeSummary& child = top.shape->children[top.next_child++];
            open_shape(writer, child);
            open.push_back({&child, 0});  // may move the stack: `top` is dead now
        } else {
            writer.end_array();
            writer.end_object();
            open.pop_back();
        }
    }
}

void write_record(JsonTextWriter& writer, const SlideSummary& slide) {
    writer.begin_object();
    write_member(writer, "part", slide.part);
    write_member(writer, "texts", slide.texts);
    write_member(writer, "shapes", slide.shapes);
    write_member(writer, "tables", slide.tables);
    write_member(writer, "notes", slide.notes);
    write_member(writer, "relationships", slide.relationships);
    write_member(writer, "image_relationships", slide.image_relationships);
    write_member(writer, "chart_relationships", slide.chart_relationships);
    write_member(writer, "comment_relationships", slide.comment_relationships);
    write_member(writer, "media_relationships", slide.media_relationships);
    write_member(writer, "ole_relationships", slide.ole_relationships);
    write_member(writer, "has_transition", slide.has_transition);
    write_member(writer, "has_timing", slide.has_timing);
    writer.end_object();
}

void write_record(JsonTextWriter& writer, const PresentationSummary& presentation) {
    writer.begin_object();
    write_member(writer, "path", presentation.path);
    write_member(writer, "slide_count", presentation.slide_count);
    write_member(writer, "slides", presentation.slides);
    write_member(writer, "has_vba", presentation.has_vba);
    writer.end_object();
}

// The record object and its "slides" list.
constexpr std::size_t slide_depth_in_presentation = 2;

template <class Record>
JsonText record_text(const Record& record) {
    JsonTextWriter writer;
    write_record(writer, record);
    return std::move(writer).finish();
}

}  // namespace

ShapeSummary::~ShapeSummary() {
    if (children.empty()) return;
    std::vector<ShapeSummary> pending = std::move(children);
    while (!pending.empty()) {
        ShapeSummary last = std::move(pending.back());
        pending.pop_back();
        // `last` leaves this scope childless, so its destructor returns at once
        std::move(last.children.begin(), last.children.end(), std::back_inserter(pending));
        last.children.clear();
    }
}

JsonText to_json_text(const ShapeSummary& shape) { return record_text(shape); }
JsonText to_json_text(const SlideSummary& slide) { return record_text(slide); }
JsonText to_json_text(const PresentationSummary& presentation) { return record_text(presentation); }

JsonText slide_json_text_in_presentation(const SlideSummary& slide, std::size_t expected_size) {
    JsonTextWriter writer(expected_size, slide_depth_in_presentation);
    write_record(writer, slide);
    return std::move(writer).finish();
}

JsonText to_json_text(const PresentationSummary& presentation, std::span<const JsonText> slide_texts) {
    // every slide text is copied once into a text sized for all of them
    std::size_t expected_size = 1024 + 6 * presentation.path.size();
    for (const JsonText& slide : slide_texts) expected_size += slide.text.size() + 16;
    JsonTextWriter writer(expected_size);
    writer.begin_object();
    write_member(writer, "path", presentation.path);
    write_member(writer, "slide_count", presentation.slide_count);
    writer.key("slides");
    writer.begin_array();
    for (const JsonText& slide : slide_texts) writer.value_text(slide);
    writer.end_array();
    write_member(writer, "has_vba", presentation.has_vba);
    writer.end_object();
    return std::move(writer).finish();
}

}  // namespace zandrel
