#include "package_slide_order.hpp"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "package_content_types.hpp"
#include "package_reader.hpp"
#include "package_relationships.hpp"
#include "xml_tag_scan.hpp"
#include "xml_tokenizer.hpp"

namespace zandrel {
namespace {

constexpr std::string_view presentation_part = "ppt/presentation.xml";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The text between `prefix` and `suffix` when the name is exactly that.
std::optional<std::string_view> numbered_middle(std::string_view name, std::string_view prefix,
                                                std::string_view suffix) {
    if (name.size() < prefix.size() + suffix.size() || !name.starts_with(prefix) || !name.ends_with(suffix))
        return std::nullopt;
    return name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
}

bool is_numbered_part(std::string_view name, std::string_view prefix) {
    auto middle = numbered_middle(name, prefix, ".xml");
    return middle && !middle->empty() && std::all_of(middle->begin(), middle->end(), is_digit);
}

std::vector<std::string> in_natural_order(std::vector<std::string> names) {
    std::vector<std::pair<NaturalKey, std::string>> keyed;
    keyed.reserve(names.size());
    for (auto& name : names) keyed.emplace_back(natural_key(name), std::move(name));
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> sorted;
    sorted.reserve(keyed.size());
    for (auto& [key, name] : keyed) sorted.push_back(std::move(name));
    return sorted;
}

// The presentation's order when it is a permutation of the slide parts found.
bool is_consistent_order(const std::vector<std::string>& ordered, const std::vector<std::string>& found) {
    if (ordered.size() != found.size()) return false;
    std::set<std::string_view> seen;
    std::set<std::string_view> existing(found.begin(), found.end());
    for (const auto& name : ordered)
        if (!seen.insert(name).second || !existing.contains(name)) return false;
    return true;
}

}  // namespace

bool is_slide_part(std::string_view name) { return is_numbered_part(name, "ppt/slides/slide"); }

bool is_slide_layout_part(std::string_view name) { return is_numbered_part(name, "ppt/slideLayouts/slideLayout"); }

std::optional<std::uint64_t> slide_number(std::string_view name) {
    auto middle = numbered_middle(name, "ppt/slides/slide", ".xml");
    if (!middle) return std::nullopt;
    return parse_u64_decimal(*middle);
}

NaturalKey natural_key(std::string_view name) {
    NaturalKey key;
    std::size_t start = 0;
    while (start < name.size()) {
        bool digits = is_digit(name[start]);
        std::size_t end = start;
        while (end < name.size() && is_digit(name[end]) == digits) ++end;
        std::string_view run = name.substr(start, end - start);
        if (digits)
            key.emplace_back(parse_u64_decimal(run).value_or(0));
        else
            key.emplace_back(std::string(run));
        start = end;
    }
    return key;
}

Result<std::vector<std::string>> slide_relationship_ids_in_presentation(std::string_view presentation_xml) {
    std::vector<std::string> ids;
    XmlStreamReader reader(presentation_xml);
    while (true) {
        ZANDREL_TRY(XmlEvent event, reader.next());
        if (event.kind == XmlEventKind::EndOfInput) return ids;
        if (!event.is_element_start() || event.local_name() != "sldId") continue;
        auto attributes = event.attribute_iterator();
        while (auto item = attributes.next()) {
            if (!*item) continue;
            std::string_view key = item->value().key;
            if (key.size() > 2 && key.ends_with(":id"))
                ids.push_back(unescape_attribute_or_empty(item->value().raw_value));
        }
    }
}

Result<std::vector<std::string>> slide_parts(const ZipReader& archive) {
    ZANDREL_TRY(auto names, list_part_names(archive));
    std::erase_if(names, [](const std::string& name) { return !is_slide_part(name); });
    std::vector<std::string> found = in_natural_order(std::move(names));

    ZANDREL_TRY(auto presentation, read_archive_bytes(archive, presentation_part));
    if (!presentation) return found;
    if (!is_valid_utf8(*presentation)) return ZandrelError::io("stream did not contain valid UTF-8");
    ZANDREL_TRY(auto listed_ids, slide_relationship_ids_in_presentation(*presentation));
    ZANDREL_TRY(auto relationships, read_relationships(archive, presentation_part));

    std::map<std::string, std::string, std::less<>> slide_by_id;
    for (const auto& relationship : relationships)
        if (std::string_view(relationship.relationship_type).ends_with("/slide"))
            slide_by_id.insert_or_assign(relationship.id, resolve_target(presentation_part, relationship.target));
    std::vector<std::string> ordered;
    for (const auto& id : listed_ids)
        if (auto slide = slide_by_id.find(id); slide != slide_by_id.end()) ordered.push_back(slide->second);

    if (is_consistent_order(ordered, found)) return ordered;
    return found;
}

Result<std::optional<std::string>> slide_part_at_index(const ZipReader& archive, std::uint64_t index) {
    ZANDREL_TRY(auto slides, slide_parts(archive));
    if (index >= slides.size()) return std::optional<std::string>{};
    return std::optional<std::string>{std::move(slides[index])};
}

}  // namespace zandrel
