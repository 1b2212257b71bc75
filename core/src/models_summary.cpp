#include "models_summary.hpp"

#include <iterator>
#include <utility>

namespace zandrel {
namespace {

// Every key of a shape but its children, which the caller fills in place.
Json shape_fields(const ShapeSummary& shape) {
    return Json{{"id", shape.id},
                {"name", shape.name},
                {"kind", shape.kind},
                {"is_placeholder", shape.is_placeholder},
                {"placeholder_type", shape.placeholder_type},
                {"placeholder_idx", shape.placeholder_idx},
                {"text", shape.text},
                {"paragraphs", shape.paragraphs},
                {"paragraph_runs", shape.paragraph_runs},
                {"paragraph_line_breaks", shape.paragraph_line_breaks},
                {"paragraph_run_bold", shape.paragraph_run_bold},
                {"paragraph_run_italic", shape.paragraph_run_italic},
                {"paragraph_run_underline", shape.paragraph_run_underline},
                {"paragraph_run_font_size", shape.paragraph_run_font_size},
                {"paragraph_run_font_name", shape.paragraph_run_font_name},
                {"tables", shape.tables},
                {"relationship_ids", shape.relationship_ids},
                {"has_chart", shape.has_chart},
                {"has_picture", shape.has_picture},
                {"has_group", shape.has_group},
                {"transform", shape.transform},
                {"effective_transform", shape.effective_transform},
                {"children", Json::array()}};
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

void to_json(Json& out, const TransformSummary& transform) {
    out = Json{{"x", transform.x}, {"y", transform.y}, {"cx", transform.cx}, {"cy", transform.cy}};
}

void to_json(Json& out, const TableSummary& table) {
    out = Json{{"rows", table.rows}, {"row_count", table.row_count}, {"col_count", table.col_count}};
}

void to_json(Json& out, const ShapeSummary& shape) {
    struct Pending {
        const ShapeSummary* shape;
        Json* target;
    };
    std::vector<Pending> pending{{&shape, &out}};
    while (!pending.empty()) {
        Pending next = pending.back();
        pending.pop_back();
        *next.target = shape_fields(*next.shape);
        // The children array is sized once and never resized afterwards, so
        // pointers to its elements stay valid until they are filled.
        Json& children = (*next.target)["children"];
        children.get_ref<Json::array_t&>().resize(next.shape->children.size());
        for (std::size_t i = 0; i < next.shape->children.size(); ++i)
            pending.push_back({&next.shape->children[i], &children[i]});
    }
}

void to_json(Json& out, const SlideSummary& slide) {
    out = Json{{"part", slide.part},
               {"texts", slide.texts},
               {"shapes", slide.shapes},
               {"tables", slide.tables},
               {"notes", slide.notes},
               {"relationships", slide.relationships},
               {"image_relationships", slide.image_relationships},
               {"chart_relationships", slide.chart_relationships},
               {"comment_relationships", slide.comment_relationships},
               {"media_relationships", slide.media_relationships},
               {"ole_relationships", slide.ole_relationships},
               {"has_transition", slide.has_transition},
               {"has_timing", slide.has_timing}};
}

void to_json(Json& out, const PresentationSummary& presentation) {
    out = Json{{"path", presentation.path},
               {"slide_count", presentation.slide_count},
               {"slides", presentation.slides},
               {"has_vba", presentation.has_vba}};
}

}  // namespace zandrel
