#include "package_mutation_slide_delete.hpp"

#include <algorithm>
#include <deque>
#include <map>

#include "output_file.hpp"
#include "package_content_types.hpp"
#include "package_mutation_slide_order.hpp"
#include "package_reader.hpp"
#include "package_relationships.hpp"
#include "package_slide_order.hpp"
#include "package_writer.hpp"
#include "text_xml_helpers.hpp"
#include "xml_tokenizer.hpp"

namespace zandrel {
namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The name with "%XX" escapes decoded; targets may be written either way.
std::string percent_decoded(std::string_view name) {
    std::string decoded;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '%' && i + 2 < name.size() && hex_value(name[i + 1]) >= 0 && hex_value(name[i + 2]) >= 0) {
            decoded += static_cast<char>(hex_value(name[i + 1]) * 16 + hex_value(name[i + 2]));
            i += 2;
        } else {
            decoded += name[i];
        }
    }
    return decoded;
}

// The folded part names an internal relationship may name: as resolved, and
// percent-decoded when that differs.
std::vector<std::string> target_names(std::string_view source, const RelationshipSummary& relationship) {
    std::vector<std::string> names{fold_part_name(resolve_target(source, relationship.target))};
    std::string decoded = percent_decoded(names.front());
    if (decoded != names.front()) names.push_back(std::move(decoded));
    return names;
}

bool is_internal_link(const RelationshipSummary& relationship) {
    return !is_external_relationship(relationship) && !relationship.target.empty();
}

// The source part of a relationship part name: "" (the package) for
// _rels/.rels, else the name without its ".rels" and its last "_rels" folder.
std::string relationship_source(std::string_view rels_name) {
    if (rels_name == "_rels/.rels") return "";
    while (rels_name.ends_with(".rels")) rels_name.remove_suffix(5);
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0;;) {
        const std::size_t slash = rels_name.find('/', start);
        pieces.push_back(rels_name.substr(start, slash - start));
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
        if (*it == "_rels") {
            pieces.erase(std::next(it).base());
            break;
        }
    }
    std::string source;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) source += '/';
        source += pieces[i];
    }
    return source;
}

// Byte ranges of the elements `select(event, open_local_names)` picks, each
// with its content. Events starting inside `skip` are not offered.
template <class Select>
Result<std::vector<TextEdit>> select_elements(std::string_view xml, Select select,
                                              std::optional<std::pair<std::size_t, std::size_t>> skip = {}) {
    std::vector<TextEdit> drops;
    std::vector<std::string_view> open;
    XmlStreamReader reader(xml);
    for (;;) {
        ZANDREL_TRY(XmlEvent event, reader.next());
        if (event.kind == XmlEventKind::EndOfInput) break;
        const bool skipped = skip && event.offset >= skip->first && event.offset < skip->second;
        if (!skipped && event.is_element_start() && select(event, open)) {
            TextEdit drop{event.offset, event.offset + event.raw.size(), {}};
            for (std::size_t depth = event.kind == XmlEventKind::StartElement ? 1 : 0; depth > 0;) {
                ZANDREL_TRY(XmlEvent inner, reader.next());
                if (inner.kind == XmlEventKind::EndOfInput)
                    return ZandrelError::xml_text("unexpected end of XML while skipping element");
                if (inner.kind == XmlEventKind::StartElement) ++depth;
                if (inner.kind == XmlEventKind::EndElement) --depth;
                drop.end = inner.offset + inner.raw.size();
            }
            drops.push_back(std::move(drop));
            continue;
        }
        if (event.kind == XmlEventKind::StartElement) open.push_back(event.local_name());
        if (event.kind == XmlEventKind::EndElement && !open.empty()) open.pop_back();
    }
    return drops;
}

bool is_reference_element(std::string_view local_name) {
    return local_name == "hlinkClick" || local_name == "hlinkHover" || local_name == "hlinkMouseOver" ||
           local_name == "sld" || local_name == "sldId";
}

bool uses_relationship(const XmlEvent& event, const TextSet& relationship_ids) {
    return is_reference_element(event.local_name()) &&
           relationship_ids.contains(extract_rel_id_from_attributes(event));
}

std::optional<std::string> attribute_by_local_name(const XmlEvent& event, std::string_view local_name) {
    XmlAttributeIterator attributes = event.attribute_iterator();
    while (auto item = attributes.next()) {
        if (!*item) continue;
        const std::string_view key = (*item)->key;
        const std::size_t colon = key.rfind(':');
        if ((colon == std::string_view::npos ? key : key.substr(colon + 1)) != local_name) continue;
        auto value = unescape_xml((*item)->raw_value);
        return value ? std::optional<std::string>(std::move(*value)) : std::nullopt;
    }
    return std::nullopt;
}

// Every relationship part of the package, read strictly.
struct RelationshipGraph {
    struct Source {
        std::string rels_entry;  // the relationship part's entry name
        std::string rels_content;
        std::vector<RelationshipSummary> relationships;
        std::optional<ZandrelError> unreadable;  // the part did not parse
    };
    std::map<std::string, Source, std::less<>> sources;  // by folded source name

    std::vector<std::string> targets_of(const std::string& source) const {
        std::vector<std::string> names;
        auto found = sources.find(source);
        if (found == sources.end()) return names;
        for (const RelationshipSummary& relationship : found->second.relationships) {
            if (!is_internal_link(relationship)) continue;
            for (std::string& name : target_names(source, relationship)) names.push_back(std::move(name));
        }
        return names;
    }

    // Every part reachable from `seeds`, never entering `barrier`.
    TextSet reach(const std::vector<std::string>& seeds, const TextSet& barrier) const {
        TextSet reached;
        std::deque<std::string> queue;
        for (const std::string& seed : seeds)
            if (!barrier.contains(seed) && reached.insert(seed).second) queue.push_back(seed);
        while (!queue.empty()) {
            const std::string part = std::move(queue.front());
            queue.pop_front();
            for (std::string& next : targets_of(part))
                if (!barrier.contains(next) && reached.insert(next).second) queue.push_back(std::move(next));
        }
        return reached;
    }
};

Result<RelationshipGraph> read_relationship_graph(const ZipReader& archive) {
    RelationshipGraph graph;
    for (std::size_t i = 0; i < archive.entry_count(); ++i) {
        const std::string& name = archive.entry(i).name;
        if (!name.ends_with(".rels")) continue;
        ZANDREL_TRY(OpenedEntry opened, archive.open_entry(i));
        ZANDREL_TRY(std::string content, archive.read_entry(opened));
        RelationshipGraph::Source source{name, std::move(content), {}, std::nullopt};
        auto parsed = parse_relationships_strict(source.rels_content);
        if (parsed)
            source.relationships = std::move(parsed).value();
        else
            source.unreadable = parsed.error();
        // a later relationship part of the same source replaces an earlier one
        graph.sources.insert_or_assign(fold_part_name(relationship_source(name)), std::move(source));
    }
    return graph;
}

struct DeletionRequest {
    std::vector<std::string> survivors;            // slide parts, in slide order
    std::vector<std::string> deleted_ids;          // presentation relationship ids of the targets
    std::optional<std::vector<std::string>> ordered_survivor_ids;
};

Result<DeletionRequest> check_request(std::span<const std::string> targets, const TextSet& target_set,
                                      const std::vector<std::string>& slides,
                                      const std::optional<std::vector<std::string>>& ordered_survivors,
                                      std::string_view presentation_relationships) {
    DeletionRequest request;
    for (const std::string& slide : slides)
        if (!target_set.contains(slide)) request.survivors.push_back(slide);

    ZANDREL_TRY(auto relationships, parse_relationships_strict(presentation_relationships));
    std::map<std::string, std::string, std::less<>> slide_ids;  // folded part name -> relationship id
    for (const RelationshipSummary& relationship : relationships) {
        const std::string& type = relationship.relationship_type;
        if (type.size() < 6 || !type.ends_with("/slide")) continue;
        slide_ids.insert_or_assign(fold_part_name(resolve_target(presentation_part_name, relationship.target)),
                                   relationship.id);
    }
    for (const std::string& target : targets) {
        auto found = slide_ids.find(fold_part_name(target));
        if (found == slide_ids.end())
            return ZandrelError::invalid_input("presentation relationship for slide part " + target +
                                               " was not found");
        request.deleted_ids.push_back(found->second);
    }
    if (!ordered_survivors) return request;

    if (ordered_survivors->size() != request.survivors.size())
        return ZandrelError::invalid_input("ordered survivor parts count (" +
                                           std::to_string(ordered_survivors->size()) +
                                           ") does not match surviving slides count (" +
                                           std::to_string(request.survivors.size()) + ")");
    request.ordered_survivor_ids.emplace();
    TextSet seen;
    for (const std::string& name : *ordered_survivors) {
        if (target_set.contains(name))
            return ZandrelError::invalid_input("deleted slide part " + name +
                                               " cannot be included in ordered survivors");
        if (!seen.insert(name).second)
            return ZandrelError::invalid_input("duplicate survivor slide part in ordered survivors: " + name);
        auto found = slide_ids.find(fold_part_name(name));
        const bool survivor =
            std::find(request.survivors.begin(), request.survivors.end(), name) != request.survivors.end();
        if (!survivor || found == slide_ids.end())
            return ZandrelError::invalid_input("survivor slide part " + name +
                                               " was not found in the presentation");
        request.ordered_survivor_ids->push_back(found->second);
    }
    return request;
}

}  // namespace

bool is_external_relationship(const RelationshipSummary& relationship) {
    return relationship.target_mode && fold_part_name(*relationship.target_mode) == "external";
}

std::string fold_part_name(std::string_view name) {
    std::string folded(name);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

Result<std::string> rewrite_presentation_xml_for_slide_deletion(
    std::string_view xml, const TextSet& deleted_relationship_ids,
    const std::optional<std::vector<std::string>>& ordered_survivor_ids) {
    ZANDREL_TRY(std::optional<SlideIdList> list, find_slide_id_list(xml));
    std::vector<TextEdit> edits;
    std::set<std::uint64_t> deleted_slide_ids;
    std::optional<std::pair<std::size_t, std::size_t>> list_range;
    if (list && !list->empty_element) {
        list_range.emplace(list->start, list->end);
        std::vector<std::size_t> kept;
        std::map<std::string, std::size_t, std::less<>> kept_by_id;  // a later entry wins
        for (std::size_t i = 0; i < list->entries.size(); ++i) {
            const SlideIdEntry& entry = list->entries[i];
            if (deleted_relationship_ids.contains(entry.relationship_id)) {
                if (entry.id) deleted_slide_ids.insert(*entry.id);
                continue;
            }
            kept.push_back(i);
            kept_by_id.insert_or_assign(entry.relationship_id, i);
        }
        if (ordered_survivor_ids) {
            kept.clear();
            for (const std::string& id : *ordered_survivor_ids) {
                auto found = kept_by_id.find(id);
                if (found == kept_by_id.end()) continue;
                kept.push_back(found->second);
                kept_by_id.erase(found);
            }
        }
        edits.push_back(reorder_slide_id_entries(xml, *list, kept));
    }
    // section entries name slides by slide id, custom shows by relationship
    auto select = [&](const XmlEvent& event, const std::vector<std::string_view>& open) {
        if (event.local_name() == "sldId" &&
            std::find(open.begin(), open.end(), "sectionLst") != open.end()) {
            auto id = slide_id_attribute(event);
            return id && deleted_slide_ids.contains(*id);
        }
        return uses_relationship(event, deleted_relationship_ids);
    };
    ZANDREL_TRY(std::vector<TextEdit> drops, select_elements(xml, select, list_range));
    edits.insert(edits.end(), drops.begin(), drops.end());
    return apply_text_edits(xml, std::move(edits));
}

Result<std::string> rewrite_content_types_for_slide_deletion(std::string_view content_types,
                                                             const TextSet& removed_overrides) {
    auto select = [&](const XmlEvent& event, const std::vector<std::string_view>&) {
        if (event.local_name() != "Override") return false;
        auto part_name = attribute_by_local_name(event, "PartName");
        return part_name && removed_overrides.contains(fold_part_name(*part_name));
    };
    ZANDREL_TRY(std::vector<TextEdit> drops, select_elements(content_types, select));
    return apply_text_edits(content_types, std::move(drops));
}

Result<std::string> drop_relationship_references(std::string_view part_xml, const TextSet& relationship_ids) {
    auto select = [&](const XmlEvent& event, const std::vector<std::string_view>&) {
        return uses_relationship(event, relationship_ids);
    };
    ZANDREL_TRY(std::vector<TextEdit> drops, select_elements(part_xml, select));
    return apply_text_edits(part_xml, std::move(drops));
}

Result<SlideDeleteSummary> delete_slides(const std::string& input_path, const std::string& output_path,
                                         std::span<const std::string> targets,
                                         const std::optional<std::vector<std::string>>& ordered_survivors) {
    ZANDREL_CHECK(create_parent_directories(output_path));
    if (targets.empty()) return ZandrelError::invalid_input("no target slide parts specified for deletion");
    TextSet target_set;
    for (const std::string& target : targets)
        if (!target_set.insert(target).second)
            return ZandrelError::invalid_input("duplicate target slide part specified for deletion: " + target);

    ZANDREL_TRY(ZipReader archive, open_package(input_path));
    ZANDREL_TRY(std::vector<std::string> slides, slide_parts(archive));
    for (const std::string& target : targets)
        if (std::find(slides.begin(), slides.end(), target) == slides.end())
            return ZandrelError::invalid_input("target slide part " + target +
                                               " was not found in the presentation");
    if (target_set.size() == slides.size())
        return ZandrelError::invalid_input(
            "cannot delete all slides; presentation must contain at least one slide");
    ZANDREL_TRY(std::string presentation_relationships,
                read_required_text(archive, presentation_relationships_part_name));
    ZANDREL_TRY(DeletionRequest request, check_request(targets, target_set, slides, ordered_survivors,
                                                       presentation_relationships));

    // which parts go: reachable from a deleted slide and not from what stays
    ZANDREL_TRY(RelationshipGraph graph, read_relationship_graph(archive));
    TextSet folded_targets;
    for (const std::string& target : targets) folded_targets.insert(fold_part_name(target));
    const TextSet from_deleted = graph.reach({folded_targets.begin(), folded_targets.end()}, {});
    std::vector<std::string> kept_roots{"", std::string(presentation_part_name)};
    for (const std::string& survivor : request.survivors) kept_roots.push_back(fold_part_name(survivor));
    const TextSet from_kept = graph.reach(kept_roots, folded_targets);

    PackagePlan plan;
    plan.mode = WriteMode::Delete;
    TextSet removed;            // folded names of removed parts
    TextSet removed_overrides;  // "/" + folded name
    std::map<std::string, std::string, std::less<>> entries;  // folded name -> entry name
    for (std::size_t i = 0; i < archive.entry_count(); ++i) {
        const std::string& name = archive.entry(i).name;
        std::string folded = fold_part_name(name);
        entries.emplace(folded, name);
        if (name.ends_with(".rels") || name == content_types_part) continue;
        if (from_deleted.contains(folded) && !from_kept.contains(folded)) {
            plan.removed.insert(name);
            removed_overrides.insert(std::string("/").append(folded));
            removed.insert(std::move(folded));
        }
    }
    for (const auto& [source, part] : graph.sources) {
        if (removed.contains(source)) {
            plan.removed.insert(part.rels_entry);
            removed_overrides.insert(std::string("/").append(fold_part_name(part.rels_entry)));
            continue;
        }
        // a kept part whose relationships cannot be read may use a part about to go
        const bool kept_part = source.empty() || entries.contains(source);
        if (part.unreadable && kept_part) return *part.unreadable;
    }

    // kept parts drop their relationships to removed parts, and the markup using them
    TextSet presentation_ids(request.deleted_ids.begin(), request.deleted_ids.end());
    for (const auto& [source, part] : graph.sources) {
        if (removed.contains(source) || part.unreadable) continue;
        TextSet ids;
        for (const RelationshipSummary& relationship : part.relationships) {
            if (!is_internal_link(relationship)) continue;
            for (const std::string& name : target_names(source, relationship))
                if (removed.contains(name)) ids.insert(relationship.id);
        }
        if (source == presentation_part_name) {
            presentation_ids.insert(ids.begin(), ids.end());
            continue;
        }
        if (ids.empty()) continue;
        const std::vector<std::string> id_list(ids.begin(), ids.end());
        ZANDREL_TRY(RelationshipRemoval rels, remove_relationships_by_id(part.rels_content, id_list));
        plan.replaced.insert_or_assign(part.rels_entry, std::move(rels.content));
        auto entry = entries.find(source);
        if (entry == entries.end() || !source.ends_with(".xml")) continue;
        ZANDREL_TRY(std::string xml, read_required_text(archive, entry->second));
        ZANDREL_TRY(std::string rewritten, drop_relationship_references(xml, ids));
        if (rewritten != xml) plan.replaced.insert_or_assign(entry->second, std::move(rewritten));
    }

    ZANDREL_TRY(std::string presentation, read_required_text(archive, presentation_part_name));
    ZANDREL_TRY(std::string content_types, read_required_text(archive, content_types_part));
    ZANDREL_TRY(std::string new_presentation,
                rewrite_presentation_xml_for_slide_deletion(presentation, presentation_ids,
                                                            request.ordered_survivor_ids));
    const std::vector<std::string> presentation_id_list(presentation_ids.begin(), presentation_ids.end());
    ZANDREL_TRY(RelationshipRemoval new_relationships,
                remove_relationships_by_id(presentation_relationships, presentation_id_list));
    ZANDREL_TRY(std::string new_content_types,
                rewrite_content_types_for_slide_deletion(content_types, removed_overrides));
    plan.replaced.insert_or_assign(std::string(presentation_part_name), std::move(new_presentation));
    plan.replaced.insert_or_assign(std::string(presentation_relationships_part_name),
                                   std::move(new_relationships.content));
    plan.replaced.insert_or_assign(std::string(content_types_part), std::move(new_content_types));
    ZANDREL_TRY(PackageFacts facts, write_package(archive, output_path, plan));

    SlideDeleteSummary summary;
    summary.path = output_path;
    summary.deleted_slide_parts.assign(target_set.begin(), target_set.end());
    summary.deleted_relationship_ids = request.deleted_ids;
    std::sort(summary.deleted_relationship_ids.begin(), summary.deleted_relationship_ids.end());
    summary.survivor_count = request.survivors.size();
    summary.part_count = facts.part_count;
    summary.has_vba = facts.has_vba;
    return summary;
}

}  // namespace zandrel
