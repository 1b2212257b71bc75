// Zero-copy XML pull tokenizer over an in-memory part text.
//
// Every event is a view into the input text, so the input must outlive the
// events. Nothing is expanded or validated beyond what the library relies on:
// no DTD processing, no entity expansion (a DOCTYPE is passed through raw),
// comments are not validated. References (`&amp;`, `&#x41;`) are events of
// their own and never part of a text event.
//
// Checks made while reading (all give `ZandrelError` of kind Xml, message
// ending with " at offset N", N being the byte offset of the markup's "<" or
// the reference's "&"):
//   "mismatched end tag: expected </a>, found </b> at offset N"
//   "unmatched end tag </b> at offset N"       (no element is open)
//   "missing element name at offset N"         ("<>", "</>", "< a>")
//   "invalid element name at offset N"         (a quote in a start tag name)
//   "unexpected '<' inside tag at offset N"     (N is the offset of the tag)
//   "unknown markup at offset N"               ("<!" not followed by "--",
//                                                "[CDATA[" or "DOCTYPE")
//   "invalid reference at offset N"            ("&" not followed by a name
//                                                and ";")
//   "unexpected end of input inside {what} at offset N", {what} being one of
//   "start tag", "end tag", "comment", "CDATA section", "processing
//   instruction", "document type", "markup", "reference".
// End of input with elements still open is not an error: the reader reports
// EndOfInput and callers decide (see `open_depth`). After an error the reader
// returns the same error on every further call.
//
// The reader is iterative (an explicit stack of open element names) and never
// reads outside the given text. Not thread-safe; one reader per pass.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "models.hpp"

namespace zandrel {

enum class XmlEventKind {
    StartElement,           // <name attrs>
    EndElement,             // </name>
    EmptyElement,           // <name attrs/>
    Text,                   // raw character data, never containing a reference
    CData,                  // <![CDATA[content]]>
    Comment,                // <!--content-->
    Declaration,            // <?xml ...?>; content is "xml ..."
    ProcessingInstruction,  // <?target ...?>; content is "target ..."
    DocType,                // <!DOCTYPE content>
    EntityReference,        // &name;
    CharReference,          // &#65; or &#x41;; name is "#65" or "#x41"
    EndOfInput,
};

// One raw attribute: `key="raw value"` or `key='raw value'`.
struct XmlAttribute {
    std::string_view key;
    std::string_view raw_value;  // as written, references not resolved
    char quote = '"';            // the quote character used in the input
};

// Walks the raw attribute text of a start or empty element in document order.
// Malformed entries are reported as errors (kind Xml) and iteration continues
// after them, so callers can skip them:
//   "attribute {key} has no value"             (no "=")
//   "attribute {key} value is not quoted"
//   "attribute {key} value has no closing quote"
//   "duplicate attribute {key}"                (every later occurrence)
//   "attribute without a name"                 (e.g. a stray "=")
//   "invalid attribute name {key}"             (a quote, "<" or ">" in it)
// Names are otherwise not validated, so parts in other encodings (UTF-16)
// still read to the end as odd names and text.
class XmlAttributeIterator {
public:
    explicit XmlAttributeIterator(std::string_view attribute_text) : text_(attribute_text) {}

    // The next attribute or error; nullopt once the text is exhausted.
    std::optional<Result<XmlAttribute>> next();

private:
    bool seen_before(std::string_view key);

    std::string_view text_;
    std::size_t position_ = 0;
    std::array<std::string_view, 16> seen_inline_{};
    std::size_t seen_count_ = 0;
    std::vector<std::string_view> seen_overflow_;
};

// The part of a qualified name after its last ":" (the whole name without).
// Inline: every element event of a summary pass asks for it.
inline std::string_view xml_local_name(std::string_view qualified_name) {
    for (std::size_t end = qualified_name.size(); end > 0; --end)
        if (qualified_name[end - 1] == ':') return {qualified_name.data() + end, qualified_name.size() - end};
    return qualified_name;
}

struct XmlEvent {
    XmlEventKind kind = XmlEventKind::EndOfInput;
    // The exact bytes of the event in the input (for the trimming reader, the
    // trimmed text). Writing `raw` back reproduces the input, except that an
    // end tag is written as "</name>".
    std::string_view raw;
    // Elements: the qualified name. References: the text between "&" and ";".
    std::string_view name;
    // Start and empty elements: the raw text between the name and ">" or "/>"
    // (leading whitespace included), empty when there are no attributes.
    std::string_view attributes;
    // Text, CDATA, comment, declaration, processing instruction, DOCTYPE: the
    // content between the delimiters listed at `XmlEventKind`.
    std::string_view content;
    std::size_t offset = 0;  // byte offset of `raw` in the input

    bool is_element_start() const {
        return kind == XmlEventKind::StartElement || kind == XmlEventKind::EmptyElement;
    }
    bool is_reference() const {
        return kind == XmlEventKind::EntityReference || kind == XmlEventKind::CharReference;
    }
    std::string_view local_name() const { return xml_local_name(name); }
    XmlAttributeIterator attribute_iterator() const { return XmlAttributeIterator(attributes); }
};

// Text events as written (streaming), or with leading and trailing XML
// whitespace removed from each text piece and whitespace-only pieces dropped
// (trimming). Trimming applies to every piece separately, so the spaces
// around a reference disappear. CDATA is never trimmed.
enum class XmlTextMode { Streaming, Trimming };

template <XmlTextMode Mode>
class BasicXmlReader {
public:
    explicit BasicXmlReader(std::string_view text) : text_(text) {}

    // The next event, EndOfInput (repeatedly) at the end, or an Xml error.
    Result<XmlEvent> next();

    // Elements opened and not yet closed.
    std::size_t open_depth() const { return open_names_.size(); }
    std::size_t position() const { return position_; }

private:
    Result<XmlEvent> read_markup();
    Result<XmlEvent> read_reference();
    Result<XmlEvent> read_start_tag(std::size_t start);
    Result<XmlEvent> read_end_tag(std::size_t start);
    Result<XmlEvent> read_bang(std::size_t start);
    Result<XmlEvent> read_question(std::size_t start);
    ZandrelError fail(std::string message);

    std::string_view text_;
    std::size_t position_ = 0;
    std::vector<std::string_view> open_names_;
    std::optional<ZandrelError> failure_;
};

// An event of the streaming reader as the trimming reader delivers it: a
// text piece with its leading and trailing XML whitespace removed (`raw`,
// `content` and `offset` moved in with it), none when nothing is left; any
// other event unchanged. Lets one streaming pass also serve a reader of
// trimmed text.
std::optional<XmlEvent> trim_text_event(const XmlEvent& event);

using XmlStreamReader = BasicXmlReader<XmlTextMode::Streaming>;
using XmlTrimmingReader = BasicXmlReader<XmlTextMode::Trimming>;

// Resolves the five predefined entities and character references in a raw
// attribute value or text. XmlText errors:
//   "unknown entity reference &{name};"
//   "invalid character reference &{name};"   (not a number, or not an XML
//                                            character)
//   "unterminated reference in {raw}"        ("&" without ";")
Result<std::string> unescape_xml(std::string_view raw);

// The character a reference name ("#65", "#x41") stands for, UTF-8 encoded;
// nullopt when it is not a character reference of an XML character.
std::optional<std::string> decode_char_reference(std::string_view name);

// The character of a predefined entity name ("lt", "gt", "amp", "quot",
// "apos"); nullopt for any other name.
std::optional<char> predefined_entity(std::string_view name);

}  // namespace zandrel
