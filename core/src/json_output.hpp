// JSON serialisation of result records: keys in declaration order, absent
// optionals as null, two-space pretty printing without a final line feed.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "models.hpp"

namespace zandrel {

using Json = nlohmann::ordered_json;

// Pretty-printed text of a JSON value; throws nlohmann's type_error for text
// that is not valid UTF-8 (the binding turns it into a RuntimeError).
std::string to_pretty_json(const Json& value);

NLOHMANN_JSON_SERIALIZE_ENUM(PartKind, {
    {PartKind::Xml, "xml"},
    {PartKind::Relationships, "relationships"},
    {PartKind::Media, "media"},
    {PartKind::Embedding, "embedding"},
    {PartKind::Vba, "vba"},
    {PartKind::Binary, "binary"},
})

void to_json(Json& out, const PartRecord& record);
void to_json(Json& out, const PackageManifest& manifest);

}  // namespace zandrel

namespace nlohmann {

// std::optional as the value or null.
template <class T>
struct adl_serializer<std::optional<T>> {
    template <class BasicJson>
    static void to_json(BasicJson& out, const std::optional<T>& value) {
        if (value)
            out = *value;
        else
            out = nullptr;
    }
};

}  // namespace nlohmann
