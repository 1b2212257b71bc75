#include "models_slides.hpp"

namespace zandrel {

void to_json(Json& out, const SlideAddSummary& summary) {
    out = Json{{"path", summary.path},
               {"slide_part", summary.slide_part},
               {"relationship_id", summary.relationship_id},
               {"layout_target", summary.layout_target},
               {"slide_id", summary.slide_id},
               {"slide_count", summary.slide_count},
               {"part_count", summary.part_count},
               {"has_vba", summary.has_vba}};
}

void to_json(Json& out, const SlideDeleteSummary& summary) {
    out = Json{{"path", summary.path},
               {"deleted_slide_parts", summary.deleted_slide_parts},
               {"deleted_relationship_ids", summary.deleted_relationship_ids},
               {"survivor_count", summary.survivor_count},
               {"part_count", summary.part_count},
               {"has_vba", summary.has_vba}};
}

}  // namespace zandrel
