#include "package_relationships.hpp"

#include <algorithm>
#include <limits>

#include "package_reader.hpp"
#include "xml_event_writer.hpp"
#include "xml_tag_scan.hpp"

namespace zandrel {
namespace {

RelationshipSummary read_relationship(const XmlEvent& event) {
    RelationshipSummary relationship;
    auto attributes = event.attribute_iterator();
    while (auto item = attributes.next()) {
        if (!*item) continue;
        std::string_view name = local_name_of(item->value().key);
        if (name == "Id")
            relationship.id = unescape_attribute_or_empty(item->value().raw_value);
        else if (name == "Type")
            relationship.relationship_type = unescape_attribute_or_empty(item->value().raw_value);
        else if (name == "Target")
            relationship.target = unescape_attribute_or_empty(item->value().raw_value);
        else if (name == "TargetMode")
            relationship.target_mode = unescape_attribute_or_empty(item->value().raw_value);
    }
    return relationship;
}

bool is_relationship(const XmlEvent& event) {
    return event.is_element_start() && event.local_name() == "Relationship";
}

enum class Strictness { Lenient, Strict };

// The relationships in document order. Leniently, a fault ends the walk and
// keeps what came before it.
Result<std::vector<RelationshipSummary>> collect_relationships(std::string_view content, Strictness strictness) {
    std::vector<RelationshipSummary> relationships;
    XmlTrimmingReader reader(content);
    while (true) {
        auto event = reader.next();
        if (!event) {
            if (strictness == Strictness::Strict) return event.error();
            return relationships;
        }
        if (event->kind == XmlEventKind::EndOfInput) {
            if (strictness == Strictness::Strict && reader.open_depth() > 0)
                return ZandrelError::xml("relationship part ends inside an element");
            return relationships;
        }
        if (is_relationship(*event)) relationships.push_back(read_relationship(*event));
    }
}

std::vector<RelationshipSummary> sorted(std::vector<RelationshipSummary> relationships) {
    std::stable_sort(relationships.begin(), relationships.end(),
                     [](const RelationshipSummary& a, const RelationshipSummary& b) {
                         if (a.id != b.id) return a.id < b.id;
                         return a.target < b.target;
                     });
    return relationships;
}

std::vector<std::string_view> split_path(std::string_view path) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (true) {
        std::size_t slash = path.find('/', start);
        pieces.push_back(path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
        if (slash == std::string_view::npos) return pieces;
        start = slash + 1;
    }
}

std::string join_path(std::span<const std::string_view> pieces) {
    std::string path;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) path.push_back('/');
        path.append(pieces[i]);
    }
    return path;
}

std::string relationship_element(std::string_view id, std::string_view type, std::string_view target) {
    std::string element = "<Relationship Id=\"";
    element.append(id);
    element.append("\" Type=\"");
    element.append(type);
    element.append("\" Target=\"");
    element.append(target);
    element.append("\"/>");
    return element;
}

}  // namespace

std::string relationship_part_name(std::string_view source_part) {
    std::size_t slash = source_part.rfind('/');
    if (slash == std::string_view::npos) return "_rels/" + std::string(source_part) + ".rels";
    return std::string(source_part.substr(0, slash)) + "/_rels/" + std::string(source_part.substr(slash + 1)) +
           ".rels";
}

std::vector<RelationshipSummary> parse_relationships_in_document_order(std::string_view content) {
    return std::move(collect_relationships(content, Strictness::Lenient)).value();
}

std::vector<RelationshipSummary> parse_relationships(std::string_view content) {
    return sorted(parse_relationships_in_document_order(content));
}

Result<std::vector<RelationshipSummary>> parse_relationships_strict(std::string_view content) {
    return collect_relationships(content, Strictness::Strict);
}

Result<std::vector<RelationshipSummary>> read_relationships_in_document_order(const ZipReader& archive,
                                                                              std::string_view source_part) {
    auto index = archive.find(relationship_part_name(source_part));
    if (!index) return std::vector<RelationshipSummary>{};
    auto opened = archive.open_entry(*index);
    if (!opened) return std::vector<RelationshipSummary>{};
    ZANDREL_TRY(std::string content, archive.read_entry(*opened));
    return parse_relationships_in_document_order(content);
}

Result<std::vector<RelationshipSummary>> read_relationships(const ZipReader& archive, std::string_view source_part) {
    ZANDREL_TRY(auto relationships, read_relationships_in_document_order(archive, source_part));
    return sorted(std::move(relationships));
}

Result<std::vector<RelationshipSummary>> read_relationships_strict(const ZipReader& archive,
                                                                   std::string_view source_part) {
    ZANDREL_TRY(auto content, read_archive_bytes(archive, relationship_part_name(source_part)));
    if (!content) return std::vector<RelationshipSummary>{};
    return parse_relationships_strict(*content);
}

std::string resolve_target(std::string_view source_part, std::string_view target) {
    if (target.starts_with('/')) return std::string(target.substr(1));
    auto pieces = split_path(source_part);
    pieces.pop_back();
    for (std::string_view piece : split_path(target)) {
        if (piece.empty() || piece == ".") continue;
        if (piece == "..") {
            if (!pieces.empty()) pieces.pop_back();
            continue;
        }
        pieces.push_back(piece);
    }
    return join_path(pieces);
}

std::string make_relative_target(std::string_view source_part, std::string_view target_part) {
    auto source = split_path(source_part);
    auto target = split_path(target_part);
    std::size_t source_folders = source.size() - 1;
    std::size_t target_folders = target.size() - 1;
    std::size_t common = 0;
    while (common < source_folders && common < target_folders && source[common] == target[common]) ++common;
    std::vector<std::string_view> pieces(source_folders - common, "..");
    pieces.insert(pieces.end(), target.begin() + static_cast<std::ptrdiff_t>(common), target.end());
    return join_path(pieces);
}

Result<std::string> next_relationship_id(std::string_view content) {
    ZANDREL_TRY(auto relationships, parse_relationships_strict(content));
    std::optional<std::uint64_t> largest;
    for (const auto& relationship : relationships) {
        std::string_view id = relationship.id;
        if (!id.starts_with("rId")) continue;
        auto number = parse_u64_decimal(id.substr(3));
        if (number && (!largest || *number > *largest)) largest = number;
    }
    if (!largest) return std::string("rId1");
    if (*largest == std::numeric_limits<std::uint64_t>::max())
        return ZandrelError::invalid_input("no relationship id is left after rId" + std::to_string(*largest));
    return "rId" + std::to_string(*largest + 1);
}

std::string relationship_id(const XmlEvent& event) { return read_relationship(event).id; }

Result<std::string> add_relationship(std::string_view text, std::string_view id, std::string_view type,
                                     std::string_view target) {
    constexpr std::string_view closing = "</Relationships>";
    std::size_t at = text.rfind(closing);
    if (at == std::string_view::npos)
        return ZandrelError::invalid_input("relationships part is missing </Relationships>");
    std::string out(text.substr(0, at));
    out.append(relationship_element(xml_attr(id), xml_attr(type), xml_attr(target)));
    out.append(text.substr(at));
    return out;
}

Result<std::string> append_relationship(std::string_view text, std::string_view id, std::string_view type,
                                        std::string_view target) {
    return insert_before(text, "</Relationships>", relationship_element(id, type, target));
}

Result<RelationshipRemoval> remove_relationships_by_id(std::string_view content, std::span<const std::string> ids) {
    if (ids.empty()) return RelationshipRemoval{std::string(content), 0};
    auto selected = [&](const XmlEvent& event) {
        if (!is_relationship(event)) return false;
        std::string id = relationship_id(event);
        return std::find(ids.begin(), ids.end(), id) != ids.end();
    };
    XmlStreamReader reader(content);
    XmlEventWriter writer(content.size());
    std::size_t removed = 0;
    while (true) {
        ZANDREL_TRY(XmlEvent event, reader.next());
        if (event.kind == XmlEventKind::EndOfInput) break;
        if (!selected(event)) {
            writer.write_event(event);
            continue;
        }
        ++removed;
        if (event.kind == XmlEventKind::EmptyElement) continue;
        // drop everything up to the matching end tag
        for (std::size_t depth = 1; depth > 0;) {
            ZANDREL_TRY(XmlEvent inner, reader.next());
            if (inner.kind == XmlEventKind::EndOfInput)
                return ZandrelError::xml_text("unexpected EOF while removing relationship");
            if (inner.kind == XmlEventKind::StartElement) ++depth;
            if (inner.kind == XmlEventKind::EndElement) --depth;
        }
    }
    return RelationshipRemoval{writer.take_buffer(), removed};
}

std::vector<RelationshipSummary> relationships_by_type(std::span<const RelationshipSummary> relationships,
                                                       std::span<const std::string_view> type_suffixes) {
    std::vector<RelationshipSummary> matching;
    for (const auto& relationship : relationships) {
        bool wanted = std::any_of(type_suffixes.begin(), type_suffixes.end(), [&](std::string_view suffix) {
            return std::string_view(relationship.relationship_type).ends_with(suffix);
        });
        if (wanted) matching.push_back(relationship);
    }
    return matching;
}

std::string empty_relationships_xml() {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<Relationships xmlns=\"" +
           std::string(package_relationships_namespace) + "\"></Relationships>\n";
}

}  // namespace zandrel
