// Writing XML events to a growing buffer for streaming rewrites: unchanged
// events go back as their raw bytes, new markup is built from names,
// attributes and escaped text. Never indents or reformats.
//
// Appending to the buffer cannot fail other than by running out of memory,
// so the writer returns nothing.
#pragma once

#include <string>
#include <string_view>

#include "xml_tokenizer.hpp"

namespace zandrel {

// The text with "&", "<", ">", "'" and '"' replaced by the predefined
// entities amp, lt, gt, apos and quot.
std::string escape_xml(std::string_view text);

// A start or empty element made anew (or rebuilt from a read event).
class XmlElementBuilder {
public:
    explicit XmlElementBuilder(std::string_view name) : name_(name) {}

    const std::string& name() const { return name_; }
    // " key=\"value\"" per attribute, in the order they were pushed.
    const std::string& attribute_text() const { return attributes_; }

    // Appends key="value" with the value escaped by `escape_xml`.
    XmlElementBuilder& push_attribute(std::string_view key, std::string_view value);
    // Appends an attribute read from the input with its raw value unchanged.
    // It is always written in double quotes, so a '"' inside a value that
    // was single-quoted is written as "&quot;".
    XmlElementBuilder& push_raw_attribute(const XmlAttribute& attribute);

private:
    std::string name_;
    std::string attributes_;
};

class XmlEventWriter {
public:
    XmlEventWriter() = default;
    // Reserves room for about `expected_size` bytes of output.
    explicit XmlEventWriter(std::size_t expected_size) { buffer_.reserve(expected_size); }

    // An event as read: its raw bytes, except an end tag, which is written as
    // "</name>"; EndOfInput writes nothing.
    void write_event(const XmlEvent& event);
    void write_start(const XmlElementBuilder& element);  // <name attrs>
    void write_empty(const XmlElementBuilder& element);  // <name attrs/>
    // Rebuilt element written as start or empty, whichever `original` was.
    void write_rebuilt(const XmlEvent& original, const XmlElementBuilder& element);
    void write_end(std::string_view name);  // </name>
    void write_text(std::string_view text);  // escaped by `escape_xml`
    void write_raw(std::string_view markup);  // already well-formed markup

    const std::string& buffer() const { return buffer_; }
    std::string take_buffer() { return std::move(buffer_); }

private:
    std::string buffer_;
};

}  // namespace zandrel
