#include "text_xml_helpers.hpp"

#include <vector>

#include "package_reader.hpp"

namespace zandrel {
namespace {

// Unsigned decimal with an optional leading "+"; nullopt for anything else,
// including a lone sign, an empty text and an overflow.
std::optional<std::uint64_t> parse_u64(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

// Calls `visit` with every well-formed attribute of the event in order, until
// it returns true.
template <class Visit>
void visit_attributes(XmlAttributeIterator attributes, Visit visit) {
    while (std::optional<Result<XmlAttribute>> item = attributes.next()) {
        if (!*item) continue;
        if (visit(item->value())) return;
    }
}

}  // namespace

XmlElementBuilder rewrite_event_attributes(const XmlEvent& event,
                                           std::span<const XmlAttributePatch> pairs) {
    XmlElementBuilder element(event.name);
    std::vector<bool> seen(pairs.size(), false);
    visit_attributes(event.attribute_iterator(), [&](const XmlAttribute& attribute) {
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            if (pairs[i].first == attribute.key) {
                element.push_attribute(attribute.key, pairs[i].second);
                seen[i] = true;
                return false;
            }
        }
        element.push_raw_attribute(attribute);
        return false;
    });
    for (std::size_t i = 0; i < pairs.size(); ++i)
        if (!seen[i]) element.push_attribute(pairs[i].first, pairs[i].second);
    return element;
}

XmlElementBuilder rewrite_event_optional_attributes(
    const XmlEvent& event, std::span<const XmlOptionalAttributePatch> pairs) {
    XmlElementBuilder element(event.name);
    std::vector<bool> seen(pairs.size(), false);
    visit_attributes(event.attribute_iterator(), [&](const XmlAttribute& attribute) {
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            if (pairs[i].first == attribute.key) {
                seen[i] = true;
                if (pairs[i].second) element.push_attribute(attribute.key, *pairs[i].second);
                return false;
            }
        }
        element.push_raw_attribute(attribute);
        return false;
    });
    for (std::size_t i = 0; i < pairs.size(); ++i)
        if (!seen[i] && pairs[i].second) element.push_attribute(pairs[i].first, *pairs[i].second);
    return element;
}

template <XmlTextMode Mode>
Status skip_current_element(BasicXmlReader<Mode>& reader) {
    std::size_t depth = 1;
    for (;;) {
        ZANDREL_TRY(const XmlEvent event, reader.next());
        switch (event.kind) {
        case XmlEventKind::StartElement:
            ++depth;
            break;
        case XmlEventKind::EndElement:
            if (--depth == 0) return {};
            break;
        case XmlEventKind::EndOfInput:
            return ZandrelError::xml_text("unexpected end of XML while skipping element");
        default:
            break;
        }
    }
}

template Status skip_current_element(XmlStreamReader&);
template Status skip_current_element(XmlTrimmingReader&);

std::optional<std::uint64_t> extract_shape_id_from_event(std::string_view qualified_name,
                                                         XmlAttributeIterator attributes) {
    if (xml_local_name(qualified_name) != "cNvPr") return std::nullopt;
    std::optional<std::uint64_t> id;
    visit_attributes(attributes, [&](const XmlAttribute& attribute) {
        if (xml_local_name(attribute.key) != "id") return false;
        Result<std::string> value = unescape_xml(attribute.raw_value);
        if (value) id = parse_u64(*value);
        return id.has_value();
    });
    return id;
}

std::string extract_rel_id_from_attributes(const XmlEvent& event) {
    std::string id;
    visit_attributes(event.attribute_iterator(), [&](const XmlAttribute& attribute) {
        if (attribute.key != "r:id" && !attribute.key.ends_with(":id")) return false;
        Result<std::string> value = unescape_xml(attribute.raw_value);
        if (!value) return false;
        id = std::move(value).value();
        return true;
    });
    return id;
}

std::optional<std::uint64_t> extract_u64_attr(const XmlEvent& event, std::string_view key) {
    std::optional<std::uint64_t> result;
    visit_attributes(event.attribute_iterator(), [&](const XmlAttribute& attribute) {
        if (attribute.key != key) return false;
        if (is_valid_utf8(attribute.raw_value)) result = parse_u64(attribute.raw_value);
        return true;
    });
    return result;
}

std::optional<std::string_view> drawingml_attribute(const XmlEvent& event,
                                                    std::string_view local_name) {
    std::optional<std::string_view> result;
    visit_attributes(event.attribute_iterator(), [&](const XmlAttribute& attribute) {
        if (xml_local_name(attribute.key) != local_name) return false;
        result = is_valid_utf8(attribute.raw_value) ? attribute.raw_value : std::string_view();
        return true;
    });
    return result;
}

std::optional<std::string> xml_text_content(const XmlEvent& event) {
    const std::string_view text = event.content;
    if (text.empty() || !is_valid_utf8(text)) return std::nullopt;
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r') {
            out.push_back(text[i]);
            continue;
        }
        out.push_back('\n');
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    }
    return out;
}

std::optional<std::string> xml_reference_content(const XmlEvent& event) {
    if (std::optional<std::string> character = decode_char_reference(event.name)) return character;
    if (!is_valid_utf8(event.name)) return std::nullopt;
    if (std::optional<char> character = predefined_entity(event.name)) return std::string(1, *character);
    std::string reference;
    reference.reserve(event.name.size() + 2);
    reference.append("&").append(event.name).append(";");
    return reference;
}

bool has_element(std::string_view text, std::string_view local_name) {
    XmlTrimmingReader reader(text);
    for (;;) {
        Result<XmlEvent> event = reader.next();
        if (!event || event->kind == XmlEventKind::EndOfInput) return false;
        if (event->is_element_start() && event->local_name() == local_name) return true;
    }
}

Result<std::string> identity_rewrite(std::string_view part) {
    XmlStreamReader reader(part);
    XmlEventWriter writer(part.size());
    for (;;) {
        ZANDREL_TRY(const XmlEvent event, reader.next());
        if (event.kind == XmlEventKind::EndOfInput) break;
        writer.write_event(event);
    }
    return writer.take_buffer();
}

}  // namespace zandrel
