#include "models_summary.hpp"

#include <iterator>
#include <type_traits>
#include <utility>

namespace zandrel {
namespace {

// JSON built in place: nlohmann's initializer lists copy every element once
// more, which on a deck of thousands of shapes costs as much as reading it.
// A record passed as an rvalue gives up its strings instead of copying them.

template <class T>
struct is_vector : std::false_type {};
template <class T>
struct is_vector<std::vector<T>> : std::true_type {};

template <class T>
struct is_optional : std::false_type {};
template <class T>
struct is_optional<std::optional<T>> : std::true_type {};

template <class T>
Json json_value(T&& value);

template <class Vector>
Json json_array(Vector&& items) {
    Json array(Json::value_t::array);
    auto& elements = array.get_ref<Json::array_t&>();
    elements.reserve(items.size());
    for (auto& item : items) {
        if constexpr (std::is_rvalue_reference_v<Vector&&>)
            elements.push_back(json_value(std::move(item)));
        else
            elements.push_back(json_value(item));
    }
    return array;
}

template <class T>
Json json_value(T&& value) {
    using Plain = std::remove_cvref_t<T>;
    if constexpr (is_vector<Plain>::value) {
        return json_array(std::forward<T>(value));
    } else if constexpr (is_optional<Plain>::value) {
        if (!value) return Json(nullptr);
        if constexpr (std::is_rvalue_reference_v<T&&>)
            return json_value(std::move(*value));
        else
            return json_value(*value);
    } else {
        return Json(std::forward<T>(value));
    }
}

class JsonObject {
public:
    explicit JsonObject(std::size_t fields) : json_(Json::value_t::object) {
        json_.get_ref<Json::object_t&>().reserve(fields);
    }
    template <class T>
    JsonObject& add(const char* key, T&& value) {
        json_.get_ref<Json::object_t&>().emplace_back(key, json_value(std::forward<T>(value)));
        return *this;
    }
    Json take() { return std::move(json_); }

private:
    Json json_;
};

// Member `m` of a record, moved out when the record is an rvalue.
#define ZANDREL_FIELD(record, m) std::forward<decltype(record)>(record).m

// Every key of a shape; its children are filled in place by the caller.
template <class Shape>
Json shape_fields(Shape&& shape) {
    return JsonObject(23)
        .add("id", ZANDREL_FIELD(shape, id))
        .add("name", ZANDREL_FIELD(shape, name))
        .add("kind", ZANDREL_FIELD(shape, kind))
        .add("is_placeholder", shape.is_placeholder)
        .add("placeholder_type", ZANDREL_FIELD(shape, placeholder_type))
        .add("placeholder_idx", ZANDREL_FIELD(shape, placeholder_idx))
        .add("text", ZANDREL_FIELD(shape, text))
        .add("paragraphs", ZANDREL_FIELD(shape, paragraphs))
        .add("paragraph_runs", ZANDREL_FIELD(shape, paragraph_runs))
        .add("paragraph_line_breaks", ZANDREL_FIELD(shape, paragraph_line_breaks))
        .add("paragraph_run_bold", ZANDREL_FIELD(shape, paragraph_run_bold))
        .add("paragraph_run_italic", ZANDREL_FIELD(shape, paragraph_run_italic))
        .add("paragraph_run_underline", ZANDREL_FIELD(shape, paragraph_run_underline))
        .add("paragraph_run_font_size", ZANDREL_FIELD(shape, paragraph_run_font_size))
        .add("paragraph_run_font_name", ZANDREL_FIELD(shape, paragraph_run_font_name))
        .add("tables", ZANDREL_FIELD(shape, tables))
        .add("relationship_ids", ZANDREL_FIELD(shape, relationship_ids))
        .add("has_chart", shape.has_chart)
        .add("has_picture", shape.has_picture)
        .add("has_group", shape.has_group)
        .add("transform", shape.transform)
        .add("effective_transform", shape.effective_transform)
        .add("children", Json(Json::value_t::array))
        .take();
}

// Level by level with an explicit stack, so deep nesting costs no stack.
template <class Shape>
void shape_to_json(Json& out, Shape&& root) {
    using Pointer = std::conditional_t<std::is_rvalue_reference_v<Shape&&>, ShapeSummary*, const ShapeSummary*>;
    struct Pending {
        Pointer shape;
        Json* target;
    };
    std::vector<Pending> pending{{&root, &out}};
    while (!pending.empty()) {
        Pending next = pending.back();
        pending.pop_back();
        std::size_t count = next.shape->children.size();
        if constexpr (std::is_rvalue_reference_v<Shape&&>)
            *next.target = shape_fields(std::move(*next.shape));
        else
            *next.target = shape_fields(*next.shape);
        // The children array is sized once and never resized afterwards, so
        // pointers to its elements stay valid until they are filled.
        Json& children = next.target->back();
        children.get_ref<Json::array_t&>().resize(count);
        for (std::size_t i = 0; i < count; ++i) pending.push_back({&next.shape->children[i], &children[i]});
    }
}

template <class Slide>
Json slide_json(Slide&& slide) {
    return JsonObject(13)
        .add("part", ZANDREL_FIELD(slide, part))
        .add("texts", ZANDREL_FIELD(slide, texts))
        .add("shapes", ZANDREL_FIELD(slide, shapes))
        .add("tables", ZANDREL_FIELD(slide, tables))
        .add("notes", ZANDREL_FIELD(slide, notes))
        .add("relationships", ZANDREL_FIELD(slide, relationships))
        .add("image_relationships", ZANDREL_FIELD(slide, image_relationships))
        .add("chart_relationships", ZANDREL_FIELD(slide, chart_relationships))
        .add("comment_relationships", ZANDREL_FIELD(slide, comment_relationships))
        .add("media_relationships", ZANDREL_FIELD(slide, media_relationships))
        .add("ole_relationships", ZANDREL_FIELD(slide, ole_relationships))
        .add("has_transition", slide.has_transition)
        .add("has_timing", slide.has_timing)
        .take();
}

template <class Presentation>
Json presentation_json(Presentation&& presentation) {
    return JsonObject(4)
        .add("path", ZANDREL_FIELD(presentation, path))
        .add("slide_count", presentation.slide_count)
        .add("slides", ZANDREL_FIELD(presentation, slides))
        .add("has_vba", presentation.has_vba)
        .take();
}

#undef ZANDREL_FIELD

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

void to_json(Json& out, const TransformSummary& transform) {
    out = JsonObject(4)
              .add("x", transform.x)
              .add("y", transform.y)
              .add("cx", transform.cx)
              .add("cy", transform.cy)
              .take();
}

void to_json(Json& out, const TableSummary& table) {
    out = JsonObject(3).add("rows", table.rows).add("row_count", table.row_count).add("col_count", table.col_count).take();
}

void to_json(Json& out, TableSummary&& table) {
    out = JsonObject(3)
              .add("rows", std::move(table.rows))
              .add("row_count", table.row_count)
              .add("col_count", table.col_count)
              .take();
}

void to_json(Json& out, const ShapeSummary& shape) { shape_to_json(out, shape); }
void to_json(Json& out, ShapeSummary&& shape) { shape_to_json(out, std::move(shape)); }
void to_json(Json& out, const SlideSummary& slide) { out = slide_json(slide); }
void to_json(Json& out, SlideSummary&& slide) { out = slide_json(std::move(slide)); }
void to_json(Json& out, const PresentationSummary& presentation) { out = presentation_json(presentation); }
void to_json(Json& out, PresentationSummary&& presentation) { out = presentation_json(std::move(presentation)); }

}  // namespace zandrel
