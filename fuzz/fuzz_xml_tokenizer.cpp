// Fuzzes the pull tokenizer, the writer and the event helpers.
//
// Properties: events tile the input in order and their raw bytes are the
// input's bytes; an accepted input rewrites to itself (end tags without their
// trailing whitespace) and the rewrite is idempotent; both text modes accept
// and reject the same inputs with the same message and agree on elements;
// every rebuilt element reads back with the same name and attributes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "text_xml_helpers.hpp"
#include "xml_event_writer.hpp"
#include "xml_tokenizer.hpp"

namespace {

using namespace zandrel;

void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "property failed: %s\n", what);
    std::abort();
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

struct Pass {
    std::vector<XmlEvent> events;
    std::optional<ZandrelError> error;
};

template <XmlTextMode Mode>
Pass read_all(std::string_view text) {
    BasicXmlReader<Mode> reader(text);
    Pass pass;
    for (;;) {
        Result<XmlEvent> event = reader.next();
        if (!event) {
            pass.error = event.error();
            return pass;
        }
        if (event->kind == XmlEventKind::EndOfInput) return pass;
        pass.events.push_back(*event);
    }
}

// Attributes that read well, as (key, raw value).
std::vector<std::pair<std::string_view, std::string_view>> good_attributes(const XmlEvent& event) {
    std::vector<std::pair<std::string_view, std::string_view>> attributes;
    XmlAttributeIterator iterator = event.attribute_iterator();
    while (std::optional<Result<XmlAttribute>> item = iterator.next())
        if (*item) attributes.emplace_back((*item)->key, (*item)->raw_value);
    return attributes;
}

std::string requoted(std::string_view raw) {
    std::string out;
    for (char c : raw) {
        if (c == '"')
            out.append("&quot;");
        else
            out.push_back(c);
    }
    return out;
}

void check_rebuilt_element(const XmlEvent& event) {
    XmlEventWriter writer;
    writer.write_rebuilt(event, rewrite_event_attributes(event, {}));
    const std::string element = writer.take_buffer();
    XmlStreamReader reader(element);
    Result<XmlEvent> again = reader.next();
    require(again.ok(), "rebuilt element reads back");
    require(again->kind == event.kind && again->name == event.name, "rebuilt element keeps kind and name");
    const auto before = good_attributes(event);
    const auto after = good_attributes(*again);
    require(before.size() == after.size(), "rebuilt element keeps its good attributes");
    for (std::size_t i = 0; i < before.size(); ++i) {
        require(before[i].first == after[i].first, "rebuilt attribute keeps its key");
        require(requoted(before[i].second) == after[i].second, "rebuilt attribute keeps its raw value");
    }
    // the helpers must not crash on anything the iterator yields
    (void)extract_shape_id_from_event(event.name, event.attribute_iterator());
    (void)extract_rel_id_from_attributes(event);
    (void)extract_u64_attr(event, "id");
    (void)drawingml_attribute(event, "embed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    const Pass streaming = read_all<XmlTextMode::Streaming>(input);
    std::string expected;
    std::size_t position = 0;
    for (const XmlEvent& event : streaming.events) {
        require(event.offset == position, "streaming events tile the input");
        require(input.substr(event.offset, event.raw.size()) == event.raw, "raw bytes are the input's");
        position += event.raw.size();
        if (event.kind == XmlEventKind::EndElement) {
            const std::string_view rest = event.raw.substr(2 + event.name.size());
            require(event.raw.substr(2, event.name.size()) == event.name && rest.back() == '>',
                    "end tag holds its name");
            for (std::size_t i = 0; i + 1 < rest.size(); ++i) require(is_space(rest[i]), "end tag tail is space");
            expected.append("</").append(event.name).append(">");
        } else {
            expected.append(event.raw);
        }
        if (event.is_element_start()) check_rebuilt_element(event);
        if (event.kind == XmlEventKind::Text) (void)xml_text_content(event);
        if (event.is_reference()) (void)xml_reference_content(event);
    }

    const Pass trimming = read_all<XmlTextMode::Trimming>(input);
    require(streaming.error.has_value() == trimming.error.has_value(), "both modes accept alike");
    if (streaming.error) require(streaming.error->detail == trimming.error->detail, "both modes fail alike");
    std::size_t s = 0;
    for (const XmlEvent& event : trimming.events) {
        if (event.kind == XmlEventKind::Text) {
            require(!event.raw.empty() && !is_space(event.raw.front()) && !is_space(event.raw.back()),
                    "trimmed text has no outer space");
            while (s < streaming.events.size() && streaming.events[s].kind == XmlEventKind::Text &&
                   streaming.events[s].offset + streaming.events[s].raw.size() <= event.offset)
                ++s;
            require(s < streaming.events.size() && streaming.events[s].kind == XmlEventKind::Text,
                    "trimmed text comes from a streaming text");
            ++s;
            continue;
        }
        while (s < streaming.events.size() && streaming.events[s].kind == XmlEventKind::Text) ++s;
        require(s < streaming.events.size() && streaming.events[s].raw == event.raw &&
                    streaming.events[s].kind == event.kind,
                "both modes agree on markup");
        ++s;
    }

    Result<std::string> copy = identity_rewrite(input);
    require(copy.ok() != streaming.error.has_value(), "identity rewrite accepts what the reader accepts");
    if (copy) {
        require(position == input.size(), "accepted events cover the whole input");
        require(*copy == expected, "identity rewrite reproduces the input");
        Result<std::string> twice = identity_rewrite(*copy);
        require(twice.ok() && *twice == *copy, "identity rewrite is idempotent");
    }
    (void)has_element(input, "timing");
    return 0;
}
