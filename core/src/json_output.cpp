#include "json_output.hpp"

namespace zandrel {

std::string to_pretty_json(const Json& value) { return value.dump(2); }

void to_json(Json& out, const PartRecord& record) {
    out = Json{{"name", record.name},
               {"size", record.size},
               {"sha256", record.sha256},
               {"kind", record.kind}};
}

void to_json(Json& out, const PackageManifest& manifest) {
    out = Json{{"path", manifest.path}, {"parts", manifest.parts}};
}

}  // namespace zandrel
