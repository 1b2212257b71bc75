#include "xml_placeholder_builders.hpp"

#include <algorithm>
#include <set>

#include "package_reader.hpp"
#include "package_relationships.hpp"
#include "xml_tag_scan.hpp"
#include "xml_tokenizer.hpp"

namespace zandrel {
namespace {

constexpr std::string_view block_open = "<p:sp>";
constexpr std::string_view block_close = "</p:sp>";
constexpr std::string_view empty_text_body = "<p:txBody><a:bodyPr/><a:lstStyle/><a:p/></p:txBody>";

bool is_copied_placeholder(std::string_view block) {
    if (block.find("<p:ph") == std::string_view::npos) return false;
    for (std::string_view skipped : {"type=\"dt\"", "type=\"ftr\"", "type=\"sldNum\""})
        if (block.find(skipped) != std::string_view::npos) return false;
    return true;
}

// Every `tag` element of the text removed; stops at one whose end cannot be
// found, leaving it and the rest as they are.
std::string remove_elements(std::string text, std::string_view tag) {
    std::size_t position = 0;
    while (auto start = find_tag_start(text, position, tag)) {
        auto start_tag_end = find_start_tag_end(text, *start);
        if (!start_tag_end) break;
        std::optional<std::size_t> end;
        if (text[*start_tag_end - 1] == '/')
            end = *start_tag_end + 1;
        else
            end = find_element_end(text, *start, tag);
        if (!end) break;
        text.erase(*start, *end - *start);
        position = *start;
    }
    return text;
}

std::string convert_block(std::string_view block) {
    std::string converted = replace_element(block, "p:spPr", "<p:spPr/>");
    converted = replace_element(converted, "p:txBody", empty_text_body);
    for (std::string_view tag : {"a:hlinkClick", "a:hlinkHover", "p:custDataLst"})
        converted = remove_elements(std::move(converted), tag);
    return converted;
}

void add_prefix(std::string_view qualified_name, std::set<std::string, std::less<>>& prefixes) {
    const std::size_t colon = qualified_name.find(':');
    if (colon != std::string_view::npos) prefixes.emplace(qualified_name.substr(0, colon));
}

// Prefixes of the elements and attributes of one block, and those an
// mc:Ignorable attribute names; a block that does not parse adds what was
// read before the fault.
void collect_prefixes(std::string_view block, std::set<std::string, std::less<>>& prefixes) {
    XmlStreamReader reader(block);
    for (;;) {
        auto event = reader.next();
        if (!event || event->kind == XmlEventKind::EndOfInput) return;
        if (!event->is_element_start()) continue;
        add_prefix(event->name, prefixes);
        XmlAttributeIterator attributes = event->attribute_iterator();
        while (auto item = attributes.next()) {
            if (!*item) continue;
            const std::string_view key = (*item)->key;
            add_prefix(key, prefixes);
            if (!key.ends_with(":Ignorable")) continue;
            std::string_view names = (*item)->raw_value;
            while (!names.empty()) {
                const std::size_t space = std::min(names.find(' '), names.size());
                if (space > 0) prefixes.emplace(names.substr(0, space));
                names.remove_prefix(std::min(space + 1, names.size()));
            }
        }
    }
}

// The namespace declarations of the layout's root element, in order.
std::vector<std::pair<std::string, std::string>> root_namespaces(std::string_view layout_xml) {
    std::vector<std::pair<std::string, std::string>> declared;
    XmlStreamReader reader(layout_xml);
    for (;;) {
        auto event = reader.next();
        if (!event || event->kind == XmlEventKind::EndOfInput) return declared;
        if (!event->is_element_start()) continue;
        XmlAttributeIterator attributes = event->attribute_iterator();
        while (auto item = attributes.next())
            if (*item && (*item)->key.starts_with("xmlns:"))
                declared.emplace_back((*item)->key.substr(6), (*item)->raw_value);
        return declared;
    }
}

}  // namespace

std::vector<std::string> extract_placeholder_shape_blocks(std::string_view layout_xml) {
    std::vector<std::string> blocks;
    std::size_t position = 0;
    for (;;) {
        const std::size_t start = layout_xml.find(block_open, position);
        if (start == std::string_view::npos) break;
        const std::size_t close = layout_xml.find(block_close, start);
        if (close == std::string_view::npos) break;
        const std::size_t end = close + block_close.size();
        const std::string_view block = layout_xml.substr(start, end - start);
        if (is_copied_placeholder(block)) blocks.push_back(convert_block(block));
        position = end;
    }
    return blocks;
}

Result<LayoutPlaceholders> placeholder_shapes_from_layout(const ZipReader& archive,
                                                          std::string_view slide_part,
                                                          std::string_view layout_target) {
    LayoutPlaceholders result;
    ZANDREL_TRY(std::optional<std::string> layout,
                read_archive_text(archive, resolve_target(slide_part, layout_target)));
    if (!layout) return result;

    std::set<std::string, std::less<>> prefixes;
    for (const std::string& block : extract_placeholder_shape_blocks(*layout)) {
        collect_prefixes(block, prefixes);
        result.shapes += block;
    }
    for (auto& [prefix, uri] : root_namespaces(*layout)) {
        const bool template_prefix = prefix == "a" || prefix == "p" || prefix == "r";
        if (!template_prefix && prefixes.contains(prefix))
            result.namespaces.emplace_back(std::move(prefix), std::move(uri));
    }
    return result;
}

}  // namespace zandrel
