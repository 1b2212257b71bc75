// The record of one package relationship and its JSON form.
#pragma once

#include <optional>
#include <string>

#include "json_output.hpp"

namespace zandrel {

// One relationship of a relationship part, values unescaped; "" for a missing
// (or undecodable) Id, Type or Target; no target mode when it is missing.
struct RelationshipSummary {
    std::string id;
    std::string relationship_type;  // the full type identifier
    std::string target;             // as written, not resolved
    std::optional<std::string> target_mode;

    bool operator==(const RelationshipSummary&) const = default;
};

void to_json(Json& out, const RelationshipSummary& relationship);

}  // namespace zandrel
