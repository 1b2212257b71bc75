// Event-level helpers shared by the streaming rewrites and the readers:
// attribute rewriting, skipping an element, ids and values out of single
// events, text of text and reference events, and `has_element`.
//
// Every attribute walk here skips malformed or duplicate attributes (see
// `XmlAttributeIterator`) and carries on.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "models.hpp"
#include "xml_event_writer.hpp"
#include "xml_tokenizer.hpp"

namespace zandrel {

using XmlAttributePatch = std::pair<std::string_view, std::string_view>;
using XmlOptionalAttributePatch = std::pair<std::string_view, std::optional<std::string_view>>;

// The element of a start or empty event with attributes set: an attribute
// whose key equals a pair's key (exact, first pair wins) gets that pair's
// value in place; pairs that matched nothing are appended in list order.
// Unchanged attributes keep their raw value. Write the result with
// `XmlEventWriter::write_rebuilt`.
XmlElementBuilder rewrite_event_attributes(const XmlEvent& event,
                                           std::span<const XmlAttributePatch> pairs);

// Like `rewrite_event_attributes`, but a pair without a value removes the
// attribute it matches, and adds nothing when it matches none.
XmlElementBuilder rewrite_event_optional_attributes(
    const XmlEvent& event, std::span<const XmlOptionalAttributePatch> pairs);

// Reads and discards events until the end tag matching the start element
// just read. Errors: XmlText "unexpected end of XML while skipping element"
// when input ends first; Xml with the reader's message on a read error.
template <XmlTextMode Mode>
Status skip_current_element(BasicXmlReader<Mode>& reader);

// The shape id of a `cNvPr` element (any prefix): the first attribute whose
// local name is `id` and whose unescaped value parses as an unsigned 64-bit
// decimal (optional leading "+"). nullopt for any other element or no such
// attribute.
std::optional<std::uint64_t> extract_shape_id_from_event(std::string_view qualified_name,
                                                         XmlAttributeIterator attributes);

// The unescaped value of the first attribute whose key is `r:id` or ends in
// ":id" and whose value unescapes; empty when there is none.
std::string extract_rel_id_from_attributes(const XmlEvent& event);

// The first attribute whose key equals `key` exactly, parsed as an unsigned
// 64-bit decimal with optional leading "+" from its raw value; nullopt when
// missing, not UTF-8, empty, not a number or overflowing.
std::optional<std::uint64_t> extract_u64_attr(const XmlEvent& event, std::string_view key);

// The raw value (no unescaping) of the first attribute whose key's local name
// equals `local_name` (so `r:embed` answers to `embed`); an empty view when
// that value is not valid UTF-8; nullopt when no attribute matches.
std::optional<std::string_view> drawingml_attribute(const XmlEvent& event,
                                                    std::string_view local_name);

// The text of a text event with CR LF and lone CR turned into LF; nullopt when
// it is empty or not valid UTF-8.
std::optional<std::string> xml_text_content(const XmlEvent& event);

// The text a reference event stands for: the character of a character
// reference, the character of a predefined entity, or else the reference
// itself ("&name;"); nullopt when the name is not valid UTF-8.
std::optional<std::string> xml_reference_content(const XmlEvent& event);

// Whether any start or empty element of `text` has the local name
// `local_name` (trimming reader); a parse error counts as false.
bool has_element(std::string_view text, std::string_view local_name);

// Streams a part through the streaming reader and the writer unchanged. The
// result equals the input except that whitespace before ">" in end tags is
// dropped. Xml error with the reader's message on malformed input.
Result<std::string> identity_rewrite(std::string_view part);

}  // namespace zandrel
