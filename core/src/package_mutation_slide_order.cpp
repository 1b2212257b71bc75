#include "package_mutation_slide_order.hpp"

#include <algorithm>
#include <set>

#include "package_reader.hpp"
#include "text_xml_helpers.hpp"
#include "xml_tag_scan.hpp"
#include "xml_tokenizer.hpp"

namespace zandrel {
namespace {

const ZandrelError eof_in_slide_list = ZandrelError::xml_text("unexpected EOF while reading slide id");

// The root element and its direct children, as byte ranges.
struct RootChild {
    XmlEvent start_tag;  // its start or empty element event
    std::size_t end = 0;  // one past the element
    std::size_t content_end = 0;  // "<" of its end tag
};

struct RootLayout {
    std::optional<XmlEvent> root;    // its start (or empty) element event
    std::size_t content_start = 0;   // one past the root's start tag
    std::vector<RootChild> children;
};

Result<RootLayout> walk_root_children(std::string_view xml) {
    RootLayout layout;
    XmlStreamReader reader(xml);
    std::size_t depth = 0;
    std::optional<RootChild> open_child;
    for (;;) {
        ZANDREL_TRY(XmlEvent event, reader.next());
        if (event.kind == XmlEventKind::EndOfInput) break;
        const bool start = event.kind == XmlEventKind::StartElement;
        const bool empty = event.kind == XmlEventKind::EmptyElement;
        if ((start || empty) && depth == 0 && !layout.root) {
            layout.root = event;
            layout.content_start = event.offset + event.raw.size();
        } else if ((start || empty) && depth == 1) {
            RootChild child{event, event.offset + event.raw.size(), event.offset + event.raw.size()};
            if (empty)
                layout.children.push_back(child);
            else
                open_child = child;
        }
        if (start) ++depth;
        if (event.kind == XmlEventKind::EndElement) {
            --depth;
            if (depth == 1 && open_child) {
                open_child->content_end = event.offset;
                open_child->end = event.offset + event.raw.size();
                layout.children.push_back(*open_child);
                open_child.reset();
            }
        }
    }
    return layout;
}

std::string_view prefix_of(std::string_view qualified_name) {
    const std::size_t colon = qualified_name.rfind(':');
    return colon == std::string_view::npos ? std::string_view{} : qualified_name.substr(0, colon + 1);
}

// "r:" or whichever prefix the root binds to the officeDocument relationships
// namespace (Transitional or Strict).
std::string relationship_prefix(const XmlEvent& root) {
    XmlAttributeIterator attributes = root.attribute_iterator();
    while (auto item = attributes.next()) {
        if (!*item || !(*item)->key.starts_with("xmlns:")) continue;
        const std::string_view uri = (*item)->raw_value;
        if (uri.ends_with("/officeDocument/2006/relationships") ||
            uri.ends_with("/officeDocument/relationships"))
            return std::string((*item)->key.substr(6)) + ":";
    }
    return "r:";
}

}  // namespace

std::optional<std::uint64_t> slide_id_attribute(const XmlEvent& event) {
    XmlAttributeIterator attributes = event.attribute_iterator();
    while (auto item = attributes.next()) {
        if (!*item || (*item)->key != "id") continue;
        auto value = unescape_xml((*item)->raw_value);
        if (!value) return std::nullopt;
        return parse_u64_decimal(*value);
    }
    return std::nullopt;
}

Result<std::string> read_required_part(const ZipReader& archive, std::string_view name) {
    ZANDREL_TRY(std::optional<std::string> bytes, read_archive_bytes(archive, name));
    if (!bytes) return ZandrelError::zip("file not found: " + std::string(name));
    return std::move(*bytes);
}

Result<std::string> read_required_text(const ZipReader& archive, std::string_view name) {
    ZANDREL_TRY(std::string bytes, read_required_part(archive, name));
    if (!is_valid_utf8(bytes)) return ZandrelError::io("stream did not contain valid UTF-8");
    return bytes;
}

Result<std::optional<SlideIdList>> find_slide_id_list(std::string_view xml) {
    XmlStreamReader reader(xml);
    std::optional<SlideIdList> found;
    std::size_t depth = 0;       // open elements outside the list
    std::size_t list_depth = 0;  // open elements inside the list, the list included
    for (;;) {
        ZANDREL_TRY(XmlEvent event, reader.next());
        if (event.kind == XmlEventKind::EndOfInput) break;
        const std::size_t event_end = event.offset + event.raw.size();
        if (list_depth > 0) {
            if (list_depth == 1 && event.is_element_start() && event.local_name() == "sldId") {
                SlideIdEntry entry{event.offset, event_end, extract_rel_id_from_attributes(event),
                                   slide_id_attribute(event)};
                if (event.kind == XmlEventKind::StartElement) {
                    for (std::size_t inner = 1; inner > 0;) {
                        ZANDREL_TRY(XmlEvent child, reader.next());
                        if (child.kind == XmlEventKind::EndOfInput) return eof_in_slide_list;
                        if (child.kind == XmlEventKind::StartElement) ++inner;
                        if (child.kind == XmlEventKind::EndElement) --inner;
                        entry.end = child.offset + child.raw.size();
                    }
                }
                found->entries.push_back(std::move(entry));
            } else if (event.kind == XmlEventKind::StartElement) {
                ++list_depth;
            } else if (event.kind == XmlEventKind::EndElement && --list_depth == 0) {
                found->content_end = event.offset;
                found->end = event_end;
            }
            continue;
        }
        const bool slide_list = depth == 1 && !found && event.local_name() == "sldIdLst";
        if (slide_list && event.is_element_start()) {
            found = SlideIdList{};
            found->qualified_name = std::string(event.name);
            found->start = event.offset;
            found->content_start = event_end;
            found->content_end = event_end;
            found->end = event_end;
            found->empty_element = event.kind == XmlEventKind::EmptyElement;
            if (!found->empty_element) list_depth = 1;
            continue;
        }
        if (event.kind == XmlEventKind::StartElement) ++depth;
        if (event.kind == XmlEventKind::EndElement) --depth;
    }
    if (list_depth > 0) return eof_in_slide_list;
    return found;
}

std::string apply_text_edits(std::string_view text, std::vector<TextEdit> edits) {
    std::sort(edits.begin(), edits.end(),
              [](const TextEdit& a, const TextEdit& b) { return a.start < b.start; });
    std::string out;
    out.reserve(text.size());
    std::size_t position = 0;
    for (const TextEdit& edit : edits) {
        out.append(text.substr(position, edit.start - position));
        out.append(edit.replacement);
        position = edit.end;
    }
    out.append(text.substr(position));
    return out;
}

TextEdit reorder_slide_id_entries(std::string_view xml, const SlideIdList& list,
                                  std::span<const std::size_t> order) {
    TextEdit edit{list.content_start, list.content_end, {}};
    std::size_t position = list.content_start;
    for (const SlideIdEntry& entry : list.entries) {
        edit.replacement.append(xml.substr(position, entry.start - position));
        position = entry.end;
    }
    edit.replacement.append(xml.substr(position, list.content_end - position));
    for (std::size_t index : order) {
        const SlideIdEntry& entry = list.entries[index];
        edit.replacement.append(xml.substr(entry.start, entry.end - entry.start));
    }
    return edit;
}

Result<std::uint64_t> next_slide_id(std::string_view xml) {
    std::set<std::uint64_t> used;
    XmlTrimmingReader reader(xml);
    for (;;) {
        auto event = reader.next();
        if (!event || event->kind == XmlEventKind::EndOfInput) break;
        if (!event->is_element_start() || event->local_name() != "sldId") continue;
        XmlAttributeIterator attributes = event->attribute_iterator();
        while (auto item = attributes.next()) {
            if (!*item) continue;
            const std::string_view key = (*item)->key;
            if (key != "id" && !key.ends_with(":id")) continue;
            auto value = unescape_xml((*item)->raw_value);
            if (!value) continue;
            if (auto id = parse_u64_decimal(*value)) used.insert(*id);
        }
    }
    const std::uint64_t largest = used.empty() ? min_slide_id - 1 : *used.rbegin();
    if (largest < max_slide_id) return std::max(largest + 1, min_slide_id);
    // ids past the schema's range: take the first gap from the bottom
    std::uint64_t candidate = min_slide_id;
    for (auto it = used.lower_bound(min_slide_id); it != used.end() && *it == candidate; ++it)
        ++candidate;
    if (candidate > max_slide_id)
        return ZandrelError::invalid_input("no slide id is left in 256..2147483647");
    return candidate;
}

Result<std::string> append_slide_id(std::string_view xml, std::uint64_t slide_id,
                                    std::string_view relationship_id) {
    ZANDREL_TRY(RootLayout layout, walk_root_children(xml));
    if (!layout.root || layout.root->kind == XmlEventKind::EmptyElement) {
        const std::string root_name = layout.root ? std::string(layout.root->name) : "p:presentation";
        return ZandrelError::xml_text("expected closing marker </" + root_name + ">");
    }
    const std::string_view element_prefix = prefix_of(layout.root->name);
    const std::string entry = std::string("<").append(element_prefix) + "sldId id=\"" +
                              std::to_string(slide_id) + "\" " + relationship_prefix(*layout.root) +
                              "id=\"" + xml_attr(relationship_id) + "\"/>";

    std::size_t new_list_position = layout.content_start;
    for (const RootChild& child : layout.children) {
        const XmlEvent& tag = child.start_tag;
        const std::string_view local_name = tag.local_name();
        if (local_name == "sldIdLst") {
            if (tag.kind == XmlEventKind::StartElement)
                return apply_text_edits(xml, {{child.content_end, child.content_end, entry}});
            // <p:sldIdLst/> opened up into a start tag, the entry and an end tag
            const std::string name(tag.name);
            return apply_text_edits(
                xml, {{tag.offset, child.end, "<" + name + std::string(tag.attributes) + ">" + entry + "</" + name + ">"}});
        }
        if (local_name == "sldMasterIdLst" || local_name == "notesMasterIdLst" || local_name == "handoutMasterIdLst")
            new_list_position = child.end;
    }
    const std::string list_name = std::string(element_prefix) + "sldIdLst";
    return apply_text_edits(
        xml, {{new_list_position, new_list_position,
               "<" + list_name + ">" + entry + "</" + list_name + ">"}});
}

Result<SlideOrderRewrite> reorder_slide_ids(std::string_view xml,
                                            std::span<const std::uint64_t> order) {
    ZANDREL_TRY(std::optional<SlideIdList> list, find_slide_id_list(xml));
    if (!list || list->empty_element)
        return ZandrelError::xml_text("presentation has no slide id list");
    const std::size_t count = list->entries.size();
    if (order.size() != count)
        return ZandrelError::invalid_input("slide order has " + std::to_string(order.size()) +
                                           " entries for " + std::to_string(count) + " slides");
    std::vector<bool> seen(count, false);
    std::vector<std::size_t> positions;
    bool identity = true;
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::uint64_t position = order[k];
        if (position >= count)
            return ZandrelError::invalid_input("slide order index " + std::to_string(position) +
                                               " was not found");
        if (seen[position])
            return ZandrelError::invalid_input("slide order index " + std::to_string(position) +
                                               " is duplicated");
        seen[position] = true;
        identity = identity && position == k;
        positions.push_back(static_cast<std::size_t>(position));
    }
    if (identity) return SlideOrderRewrite{std::string(xml), false};
    return SlideOrderRewrite{apply_text_edits(xml, {reorder_slide_id_entries(xml, *list, positions)}),
                             true};
}

}  // namespace zandrel
