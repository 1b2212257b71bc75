#include "models_relationships.hpp"

namespace zandrel {

void to_json(Json& out, const RelationshipSummary& relationship) {
    out = Json{{"id", relationship.id},
               {"relationship_type", relationship.relationship_type},
               {"target", relationship.target},
               {"target_mode", relationship.target_mode}};
}

}  // namespace zandrel
