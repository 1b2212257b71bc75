// Deleting slides together with every part that only they used, optionally
// putting the surviving slides into a new order.
//
// A part is removed when it is reachable from a deleted slide and not from
// the package root, the presentation or a surviving slide (through internal
// relationships; part names compared after ASCII case folding). References
// that kept parts hold to removed parts go too: their relationships, and the
// markup that uses them where it can go without harm (hyperlinks, slide
// lists of custom shows and of the outline view, section entries).
#pragma once

#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "models.hpp"
#include "models_relationships.hpp"
#include "models_slides.hpp"

namespace zandrel {

using TextSet = std::set<std::string, std::less<>>;

// ASCII A-Z lowered: OPC part names compare case-insensitively.
std::string fold_part_name(std::string_view name);

// TargetMode "External" in any ASCII case; anything else ("Internal", or no
// mode) points into the package.
bool is_external_relationship(const RelationshipSummary& relationship);

// The presentation with the slide-list entries whose r:id is in
// `deleted_relationship_ids` removed, and with them the custom-show entries
// using those ids and the section entries carrying their slide ids. Without
// `ordered_survivor_ids` the kept entries keep their order; with it they are
// written in that order (an id without an entry writes nothing; entries it
// does not name are dropped). Kept entries are packed at the end of the list,
// after whatever else the list holds. Errors as `find_slide_id_list`.
Result<std::string> rewrite_presentation_xml_for_slide_deletion(
    std::string_view presentation_xml, const TextSet& deleted_relationship_ids,
    const std::optional<std::vector<std::string>>& ordered_survivor_ids);

// The content-type map without the Override elements whose PartName, folded,
// is in `removed_overrides` (folded "/" + part name). Defaults stay. Xml for
// malformed XML.
Result<std::string> rewrite_content_types_for_slide_deletion(std::string_view content_types,
                                                             const TextSet& removed_overrides);

// The part without the elements that use a relationship in `relationship_ids`
// and can be dropped whole: `hlinkClick`, `hlinkHover`, `hlinkMouseOver`,
// `sld` and `sldId` (any prefix), found by their r:id. Xml for malformed XML.
Result<std::string> drop_relationship_references(std::string_view part_xml,
                                                 const TextSet& relationship_ids);

// Deletes the `targets` slides. InvalidInput errors, in the order tested:
//   "no target slide parts specified for deletion"
//   "duplicate target slide part specified for deletion: {}"
//   "target slide part {} was not found in the presentation"
//   "cannot delete all slides; presentation must contain at least one slide"
//   "presentation relationship for slide part {} was not found"
//   "ordered survivor parts count ({}) does not match surviving slides count ({})"
//   "deleted slide part {} cannot be included in ordered survivors"
//   "duplicate survivor slide part in ordered survivors: {}"
//   "survivor slide part {} was not found in the presentation" (every name
//     must be a surviving slide)
// Also: Io for the output's folder; Io / Zip for the input; Zip "file not
// found: {}" for a missing presentation part, its relationship part or the
// content-type map; Io when one of them is not UTF-8; Xml for a relationship
// part that does not parse when its part is kept, and for malformed XML in a
// part being rewritten; Io / Zip from writing. Every kept entry gets the
// 1980-01-01 timestamp and keeps its compressed bytes.
Result<SlideDeleteSummary> delete_slides(const std::string& input_path, const std::string& output_path,
                                         std::span<const std::string> targets,
                                         const std::optional<std::vector<std::string>>& ordered_survivors);

}  // namespace zandrel
