#include "models_text.hpp"

namespace zandrel {

void to_json(Json& out, const TextReplacementSummary& summary) {
    out = Json{{"path", summary.path},
               {"replacements", summary.replacements},
               {"part_count", summary.part_count},
               {"has_vba", summary.has_vba}};
}

void to_json(Json& out, const TextRunReplacementSummary& summary) {
    out = Json{{"path", summary.path},
               {"slide_index", summary.slide_index},
               {"run_index", summary.run_index},
               {"replacements", summary.replacements},
               {"part_count", summary.part_count},
               {"has_vba", summary.has_vba}};
}

void to_json(Json& out, const ShapeTextSetSummary& summary) {
    out = Json{{"path", summary.path},
               {"slide_index", summary.slide_index},
               {"shape_index", summary.shape_index},
               {"replacements", summary.replacements},
               {"part_count", summary.part_count},
               {"has_vba", summary.has_vba}};
}

void to_json(Json& out, const ParagraphTextSetSummary& summary) {
    out = Json{{"path", summary.path},
               {"slide_index", summary.slide_index},
               {"shape_index", summary.shape_index},
               {"paragraph_index", summary.paragraph_index},
               {"replacements", summary.replacements},
               {"part_count", summary.part_count},
               {"has_vba", summary.has_vba}};
}

}  // namespace zandrel
