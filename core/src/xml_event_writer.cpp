#include "xml_event_writer.hpp"

namespace zandrel {
namespace {

void append_escaped(std::string& out, std::string_view text) {
    std::size_t from = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char* entity;
        switch (text[i]) {
        case '&': entity = "&amp;"; break;
        case '<': entity = "&lt;"; break;
        case '>': entity = "&gt;"; break;
        case '\'': entity = "&apos;"; break;
        case '"': entity = "&quot;"; break;
        default: continue;
        }
        out.append(text.substr(from, i - from));
        out.append(entity);
        from = i + 1;
    }
    out.append(text.substr(from));
}

}  // namespace

std::string escape_xml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    append_escaped(out, text);
    return out;
}

XmlElementBuilder& XmlElementBuilder::push_attribute(std::string_view key, std::string_view value) {
    attributes_.push_back(' ');
    attributes_.append(key);
    attributes_.append("=\"");
    append_escaped(attributes_, value);
    attributes_.push_back('"');
    return *this;
}

XmlElementBuilder& XmlElementBuilder::push_raw_attribute(const XmlAttribute& attribute) {
    attributes_.push_back(' ');
    attributes_.append(attribute.key);
    attributes_.append("=\"");
    // A double-quoted raw value cannot contain '"'; a single-quoted one can,
    // and it would end the value early once re-quoted.
    std::string_view value = attribute.raw_value;
    for (std::size_t quote = value.find('"'); quote != std::string_view::npos; quote = value.find('"')) {
        attributes_.append(value.substr(0, quote));
        attributes_.append("&quot;");
        value.remove_prefix(quote + 1);
    }
    attributes_.append(value);
    attributes_.push_back('"');
    return *this;
}

void XmlEventWriter::write_event(const XmlEvent& event) {
    if (event.kind == XmlEventKind::EndElement) {
        write_end(event.name);
        return;
    }
    buffer_.append(event.raw);
}

void XmlEventWriter::write_start(const XmlElementBuilder& element) {
    buffer_.push_back('<');
    buffer_.append(element.name());
    buffer_.append(element.attribute_text());
    buffer_.push_back('>');
}

void XmlEventWriter::write_empty(const XmlElementBuilder& element) {
    buffer_.push_back('<');
    buffer_.append(element.name());
    buffer_.append(element.attribute_text());
    buffer_.append("/>");
}

void XmlEventWriter::write_rebuilt(const XmlEvent& original, const XmlElementBuilder& element) {
    if (original.kind == XmlEventKind::EmptyElement)
        write_empty(element);
    else
        write_start(element);
}

void XmlEventWriter::write_end(std::string_view name) {
    buffer_.append("</");
    buffer_.append(name);
    buffer_.push_back('>');
}

void XmlEventWriter::write_text(std::string_view text) { append_escaped(buffer_, text); }

void XmlEventWriter::write_raw(std::string_view markup) { buffer_.append(markup); }

}  // namespace zandrel
